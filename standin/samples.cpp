#include "samples.h"

#include <string>
#include <vector>

namespace korv::standin {
namespace {

using nlohmann::json;

json probe(const std::string& name, const std::string& internalName, const std::string& level,
           const std::string& platform, bool enabled, unsigned interval, unsigned lifetime,
           bool system, const std::string& description) {
  return json{{"name", name},
              {"internal_name", internalName},
              {"level", level},
              {"platform", platform},
              {"enabled", enabled},
              {"interval", interval},
              {"lifetime", lifetime},
              {"discard_history", false},
              {"is_system_probe", system},
              {"description", description}};
}

json customProbe(const std::string& name, const std::string& internalName, const std::string& level,
                 unsigned interval, const std::string& description, const std::string& sql) {
  json record = probe(name, internalName, level, "Any", true, interval, 90, false, description);
  record["sql"] = sql;
  return record;
}

// Thresholds are texts; an empty text stands for "no value" (null).
json alertTemplate(const std::string& name, const std::string& objectType,
                   const std::vector<std::string>& dependencies, unsigned frequency,
                   const std::string& op, const std::string& low, const std::string& medium,
                   const std::string& high, bool system, const std::string& description,
                   const std::string& infoSql = {}) {
  auto threshold = [](const std::string& value) {
    return value.empty() ? json(nullptr) : json(value);
  };
  return json{{"name", name},
              {"description", description},
              {"is_system_template", system},
              {"object_type", objectType},
              {"is_auto_create", system},
              {"probe_dependency_list", dependencies},
              {"default_check_frequency", frequency},
              {"default_history_retention", 30},
              {"info_sql", infoSql.empty() ? json(nullptr) : json(infoSql)},
              {"operator", op},
              {"low_threshold_value", threshold(low)},
              {"medium_threshold_value", threshold(medium)},
              {"high_threshold_value", threshold(high)}};
}

}  // namespace

SampleSet sampleRecords(bool withCustomSamples) {
  SampleSet set;
  auto& probes = set.probes;
  probes.push_back(probe("CPU Usage", "cpu_usage", "Server", "Linux", true, 60, 90, true,
                         "Share of processor time used by the database server."));
  probes.push_back(probe("Memory Usage", "memory_usage", "Server", "Linux", true, 60, 90, true,
                         "Resident memory of the database server processes."));
  probes.push_back(probe("Disk Space", "disk_space", "Server", "Any", true, 300, 180, true,
                         "Free space on the volumes holding data and logs."));
  probes.push_back(probe("Session Count", "session_count", "Server", "Any", true, 60, 30, true,
                         "Open client sessions by state."));
  probes.push_back(probe("Replication Lag", "replication_lag", "Server", "Any", true, 60, 30, true,
                         "Seconds each replica is behind the primary."));
  probes.push_back(probe("Database Size", "database_size", "Database", "Any", true, 3600, 365, true,
                         "Size on disk of each database."));
  probes.push_back(probe("Lock Waits", "lock_waits", "Database", "Any", true, 60, 30, true,
                         "Sessions waiting for a lock and for how long."));
  probes.push_back(probe("Buffer Cache Hit Ratio", "buffer_cache_hit_ratio", "Database", "Any",
                         true, 300, 90, true, "Share of page reads served from memory."));
  probes.push_back(probe("Long Running Queries", "long_running_queries", "Database", "Any", true,
                         60, 30, true, "Statements running for longer than a minute."));
  probes.push_back(probe("Index Usage", "index_usage", "Schema", "Any", false, 86400, 365, true,
                         "Scans per index; off by default since it is costly."));

  auto& templates = set.alertTemplates;
  templates.push_back(alertTemplate("High CPU Usage", "Server", {"CPU Usage"}, 5, ">", "70", "85",
                                    "95", true, "Processor busy for several checks in a row."));
  templates.push_back(alertTemplate("Low Disk Space", "Server", {"Disk Space"}, 15, "<", "20", "10",
                                    "5", true, "Free space below a share of the volume."));
  templates.push_back(alertTemplate("Too Many Sessions", "Server", {"Session Count"}, 5, ">", "200",
                                    "400", "500", true,
                                    "Sessions close to the configured maximum."));
  templates.push_back(alertTemplate(
      "Replication Lag Too High", "Server", {"Replication Lag"}, 1, ">", "60", "300", "900", true,
      "A replica is falling behind.",
      "SELECT replica_name, lag_seconds FROM korv_replicas ORDER BY lag_seconds DESC"));
  templates.push_back(alertTemplate("Lock Waits Detected", "Database", {"Lock Waits"}, 5, ">", "",
                                    "5", "20", true, "Sessions waiting on locks."));
  templates.push_back(alertTemplate("Poor Buffer Cache Hit Ratio", "Database",
                                    {"Buffer Cache Hit Ratio"}, 15, "<", "95", "90", "80", true,
                                    "Too many reads go to disk."));
  templates.push_back(alertTemplate(
      "Query Running Too Long", "Database", {"Long Running Queries"}, 5, ">", "300", "900", "3600",
      true, "A statement has run for too long.",
      "SELECT session_id, started_at, query_text FROM korv_running_queries ORDER BY started_at"));

  if (!withCustomSamples) {
    return set;
  }
  probes.push_back(
      customProbe("Orders Queue Depth", "orders_queue_depth", "Database", 60,
                  "Orders waiting to be picked up by the fulfilment workers.",
                  "SELECT count(*) AS queued FROM shop.orders WHERE state = 'queued'"));
  probes.push_back(customProbe(
      "Nightly Batch Duration", "nightly_batch_duration", "Database", 3600,
      "Run time of the last nightly settlement batch.",
      "SELECT extract(epoch FROM finished_at - started_at) AS seconds FROM ops.batch_runs "
      "ORDER BY started_at DESC LIMIT 1"));
  probes.push_back(customProbe("Stale Invoices", "stale_invoices", "Schema", 86400,
                               "Invoices left unpaid for more than 60 days.",
                               "SELECT count(*) AS stale FROM billing.invoices WHERE paid_at IS "
                               "NULL AND issued_at < now() - interval '60 days'"));
  templates.push_back(alertTemplate("Orders Backlog", "Database", {"Orders Queue Depth"}, 5, ">",
                                    "100", "500", "1000", false,
                                    "The fulfilment workers are not keeping up."));
  templates.push_back(alertTemplate(
      "Nightly Batch Overrun", "Database", {"Nightly Batch Duration", "Session Count"}, 60, ">",
      "3600", "7200", "10800", false, "The nightly batch runs into business hours.",
      "SELECT started_at, finished_at FROM ops.batch_runs ORDER BY "
      "started_at DESC LIMIT 7"));
  templates.push_back(alertTemplate("Session Surge", "Server", {"Session Count"}, 1, ">", "300",
                                    "450", "", false, "Sudden rise in client sessions."));
  return set;
}

}  // namespace korv::standin
