"""Writes a stand-in data file with N probes of realistic size (about 270 bytes each as the
stand-in lists them); every second probe is custom and carries a query. With "import", writes an
import file of N custom probes instead (without the ids and the system flag a server gives)."""
import json
import sys

LEVELS = ["Server", "Database", "Schema", "Table"]
PLATFORMS = ["Any", "Linux", "Windows"]
METRICS = ["Cache Hit Ratio", "Active Sessions", "Log Space Used", "Blocked Waits",
           "Replication Lag", "Deadlocks", "Fragmentation", "Free Space"]


def probe(i):
    metric = METRICS[i % len(METRICS)]
    level = LEVELS[i % len(LEVELS)]
    record = {
        "id": i + 1,
        "name": f"{metric} {i}",
        "internal_name": f"{metric.lower().replace(' ', '_')}_{i}",
        "level": level,
        "platform": PLATFORMS[i % len(PLATFORMS)],
        "enabled": i % 7 != 0,
        "interval": 60 * (1 + i % 10),
        "lifetime": 180,
        "discard_history": False,
        "is_system_probe": i % 2 == 0,
        "description": f"The {metric.lower()} per {level.lower()}.",
    }
    if i % 2:
        record["sql"] = f"SELECT value FROM counters WHERE id = {i}"
    return record


def write(count, path):
    with open(path, "w") as out:
        json.dump({"next_id": count + 1, "probes": [probe(i) for i in range(count)],
                   "alert_templates": []}, out, separators=(",", ":"))


def write_import(count, path):
    probes = [probe(i) for i in range(count)]
    for record in probes:
        del record["id"], record["is_system_probe"]
    with open(path, "w") as out:
        json.dump({"version": "11.0", "probes": probes}, out, separators=(",", ":"))


if __name__ == "__main__":
    (write_import if sys.argv[3:] == ["import"] else write)(int(sys.argv[1]), sys.argv[2])
