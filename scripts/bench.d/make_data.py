"""Writes a stand-in data file with N probes of realistic size (about 270 bytes each as the
stand-in lists them); every second probe is custom and carries a query. With "import", writes an
import file of N custom probes instead (without the ids and the system flag a server gives).
--templates K adds K alert templates, every tenth a system one, each custom one reading a custom
probe and every third a system probe too. --changed changes every custom item (the same names
with other values), for a target that an import overwrites item by item."""
import argparse
import json

LEVELS = ["Server", "Database", "Schema", "Table"]
PLATFORMS = ["Any", "Linux", "Windows"]
METRICS = ["Cache Hit Ratio", "Active Sessions", "Log Space Used", "Blocked Waits",
           "Replication Lag", "Deadlocks", "Fragmentation", "Free Space"]
OPERATORS = [">", "<", ">="]


def probe(i, changed=False):
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
        if changed:
            record["interval"] += 30
    return record


def alert_template(j, probes, changed=False):
    """Template j of a file with `probes` probes; its id follows theirs."""
    system = j % 10 == 0
    custom_probe = probe((2 * j + 1) % probes)["name"]
    dependencies = [probe((2 * j) % probes)["name"]] if system else [custom_probe]
    if not system and j % 3 == 0:
        dependencies.append(probe((2 * j + 2) % probes)["name"])
    threshold = 50 + j % 40 + (5 if changed and not system else 0)
    return {
        "id": probes + j + 1,
        "name": f"Alert {j} on {dependencies[0]}",
        "description": f"Alert when {dependencies[0].lower()} passes its threshold.",
        "is_system_template": system,
        "object_type": LEVELS[j % len(LEVELS)],
        "is_auto_create": system,
        "probe_dependency_list": dependencies,
        "default_check_frequency": 1 + j % 15,
        "default_history_retention": 30,
        "info_sql": None if j % 4 else f"SELECT detail FROM counters WHERE id = {j}",
        "operator": OPERATORS[j % len(OPERATORS)],
        "low_threshold_value": str(threshold),
        "medium_threshold_value": str(threshold + 10),
        "high_threshold_value": None if j % 5 == 0 else str(threshold + 20),
    }


def write(count, path, templates, changed):
    with open(path, "w") as out:
        json.dump({"next_id": count + templates + 1,
                   "probes": [probe(i, changed) for i in range(count)],
                   "alert_templates": [alert_template(j, count, changed)
                                       for j in range(templates)]},
                  out, separators=(",", ":"))


def write_import(count, path):
    probes = [probe(i) for i in range(count)]
    for record in probes:
        del record["id"], record["is_system_probe"]
    with open(path, "w") as out:
        json.dump({"version": "11.0", "probes": probes}, out, separators=(",", ":"))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("probes", type=int)
    parser.add_argument("path")
    parser.add_argument("kind", nargs="?", choices=["import"])
    parser.add_argument("--templates", type=int, default=0)
    parser.add_argument("--changed", action="store_true")
    args = parser.parse_args()
    if args.kind == "import":
        write_import(args.probes, args.path)
    else:
        write(args.probes, args.path, args.templates, args.changed)
