"""Runs two builds of korv-cli through the same commands on the bench's large data and says
whether everything they show is the same: standard output, standard error and exit status of the
lists (each category), the exports (to standard output and to files), the diffs (a file with new,
changed, unchanged, duplicated and missing items, the switches, a file of another major version),
the imports with their backups and the state they leave on the server, and migrate with its dry
run and its record directory. Imports and migrations go to fresh stand-ins loaded with the same
data, one stand-in program for both builds; the port of a stand-in is the only thing masked.
Usage: compare_outputs.py BEFORE_KORV_CLI AFTER_KORV_CLI STANDIN [PROBES]
Exits 0 when all is the same, 1 at the first difference (which it prints)."""
import copy
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from bench import USER, Bench  # noqa: E402
from make_data import alert_template, probe  # noqa: E402

TEMPLATES = 1000
COMMAND_TIME_LIMIT = 300  # seconds; a build that hangs shows as "timed out"
PORT = re.compile(rb"127\.0\.0\.1:[0-9]+")
# Migrating sends again only what changes, so the verdicts and the summary of a real migrate may
# differ by design, its backups hold only what it overwrites, and its preview shows the probes that
# the probe step puts in place as kept by the template step; its exports and the state it leaves
# must not differ.
BY_DESIGN = {"migrate: stdout", "migrate --dry-run: stdout", "migrate: backup-probes.json",
             "migrate: backup-alert-templates.json"}


# Outputs that came later: a build before them has none.
NEWER = {"migrate: result.json"}


def by_design(name):
    """Outputs that may differ on purpose: migrate's, and the diffs' tables, which came to show
    the values of a changed field and a line of counts."""
    return name in BY_DESIGN or (name.startswith("diff-") and name.endswith(": stdout"))


def odd_probes(first_id):
    """Probes whose names and members need escaping or the whole range of JSON numbers."""
    names = ["Ünïcödé ✓ probe", "Emoji 😀 probe", "Tab\tand\nnewline", "Quote \" and back\\slash",
             "Control \u0001\u001f char", "Slash / and \u2028 separator"]
    records = []
    for k, name in enumerate(names):
        record = dict(probe(2 * k + 1), id=first_id + k, name=name, is_system_probe=k % 3 == 0)
        record["extra"] = {"nested": [1, 2.5, -3, 18446744073709551615, 1e-7, None, True],
                           "big": 12345678901234567890, "negative": -9223372036854775808,
                           "float": 0.1, "exponent": 1.5e300, "text": name}
        records.append(record)
    return records


def source_records(probes):
    return ([probe(i) for i in range(probes)] + odd_probes(probes + TEMPLATES + 1),
            [alert_template(j, probes) for j in range(TEMPLATES)])


def carried(template, by_name):
    return [by_name[name] for name in template["probe_dependency_list"]
            if not by_name[name]["is_system_probe"]]


def write_json(path, document):
    with open(path, "w") as out:
        json.dump(document, out, separators=(",", ":"), ensure_ascii=False)


def make_files(tmp, probes):
    """Writes the source's data file, a target's data file that differs from it in every way a
    comparison tells apart, and the diff and import files; returns their paths by name."""
    all_probes, templates = source_records(probes)
    paths = {name: os.path.join(tmp, name + ".json") for name in
             ("source", "target", "probe-file", "template-file", "other-version")}
    next_id = probes + TEMPLATES + 1 + len(odd_probes(0))
    write_json(paths["source"], {"next_id": next_id, "probes": all_probes,
                                 "alert_templates": templates})

    # The target: some custom items changed, some missing, some of its own.
    target_probes, target_templates = copy.deepcopy(all_probes), copy.deepcopy(templates)
    for record in target_probes[1::6]:
        record["interval"] += 30
    for record in target_templates[1::7]:
        if not record["is_system_template"]:
            record["operator"] = "<="
    target_probes = [r for r in target_probes if r["id"] % 20 != 10]
    target_templates = [r for r in target_templates if r["id"] % 11 != 5 or r["is_system_template"]]
    for k in range(300):
        target_probes.append(dict(probe(probes + 2 * k + 1), id=next_id + k))
    write_json(paths["target"], {"next_id": next_id + 300, "probes": target_probes,
                                 "alert_templates": target_templates})

    # The files of the diffs and imports: exports of the source, some items changed, some left
    # out, some new, one name twice.
    custom = [r for r in all_probes if not r["is_system_probe"]]
    items = copy.deepcopy(custom)
    for record in items[::5]:
        record["lifetime"] = 90
    for record in items[2::9]:
        record.pop("description")
    items = [r for r in items if r["id"] % 13 != 3]
    items += [dict(probe(probes + 2 * k + 1), id=0) for k in range(200)]
    items.append(dict(items[0], interval=15))
    write_json(paths["probe-file"], {"probes": items, "version": "11.0"})
    write_json(paths["other-version"], {"probes": items[:10], "version": "12.0"})

    by_name = {r["name"]: r for r in all_probes}
    exported = []
    for template in templates:
        if template["is_system_template"]:
            continue
        record = dict(copy.deepcopy(template),
                      custom_probes=copy.deepcopy(carried(template, by_name)))
        if record["id"] % 4 == 0:
            record["default_history_retention"] = 60
        if record["id"] % 6 == 1:
            record["custom_probes"][0]["enabled"] = not record["custom_probes"][0]["enabled"]
        exported.append(record)
    exported = [r for r in exported if r["id"] % 17 != 2]
    exported.append(dict(exported[0], name="A template of the file only"))
    write_json(paths["template-file"], {"alert_templates": exported, "version": "11.0"})
    return paths


class Runner:
    """Runs one build through every case and keeps what each showed."""

    def __init__(self, bench, korv, paths):
        self.bench, self.korv, self.paths = bench, korv, paths
        self.seen = {}

    def run(self, case, args):
        try:
            done = subprocess.run([self.korv] + args, capture_output=True, env=self.bench.env,
                                  timeout=COMMAND_TIME_LIMIT)
        except subprocess.TimeoutExpired as expired:
            done = subprocess.CompletedProcess(args, "timed out", expired.stdout or b"",
                                               expired.stderr or b"")
        self.seen[case + ": stdout"] = PORT.sub(b"127.0.0.1:PORT", done.stdout)
        self.seen[case + ": stderr"] = PORT.sub(b"127.0.0.1:PORT", done.stderr)
        self.seen[case + ": status"] = str(done.returncode).encode()

    def keep(self, case, path):
        """Keeps a file the case wrote, and removes it for the other build."""
        name = f"{case}: {os.path.basename(path)}"
        if os.path.isdir(path):
            for entry in sorted(os.listdir(path)):
                self.keep(case, os.path.join(path, entry))
            shutil.rmtree(path)
        elif os.path.exists(path):
            with open(path, "rb") as kept:
                self.seen[name] = kept.read()
            os.remove(path)
        else:
            self.seen[name] = b"(missing)"

    def server(self, data_name):
        """A fresh stand-in loaded with a copy of a data file; returns its data file and its
        arguments of korv-cli."""
        live = self.bench.path("live.json")
        shutil.copyfile(self.paths[data_name], live)
        _, port = self.bench.start_standin(live, tls=False)
        return live, port

    def reading_cases(self, port, probes):
        base = ["-p", f"http://127.0.0.1:{port}/", "-u", USER]
        for category in ("all", "custom", "system"):
            self.run(f"list-probes -c {category}", base + ["list-probes", "-c", category])
            self.run(f"list-alert-templates -c {category}",
                     base + ["list-alert-templates", "-c", category])
        out = self.bench.path("out.json")
        for command, ids in (("export-probes", ["2", "4", "6", "1000"]),
                             ("export-alert-templates",
                              [str(probes + j + 1) for j in (1, 4, 19)])):
            self.run(command, base + [command])
            self.run(command + " -i", base + [command, "-i", *ids])
            self.run(command + " -o", base + [command, "-o", out])
            self.keep(command + " -o", out)
        for command, file, switches in (
                ("diff-probes", "probe-file", [[], ["--ignore-existing"]]),
                ("diff-alert-templates", "template-file",
                 [[], ["--ignore-existing"], ["--ignore-existing-probes"]]),
                ("diff-probes", "other-version", [[]])):
            for switch in switches:
                self.run(f"{command} {file} {' '.join(switch)}",
                         base + [command, "-i", self.paths[file], *switch])

    def changing_cases(self):
        backup = self.bench.path("backup.json")
        for command, file, switch in (
                ("import-probes", "probe-file", ["--backup", backup]),
                ("import-probes", "probe-file", ["--ignore-existing"]),
                ("import-alert-templates", "template-file", ["--backup", backup]),
                ("import-alert-templates", "template-file", ["--ignore-existing-probes"]),
                ("import-alert-templates", "template-file", ["--ignore-existing"])):
            case = f"{command} {switch[0]}"
            live, port = self.server("target")
            self.run(case, ["-p", f"http://127.0.0.1:{port}/", "-u", USER, command,
                            "-i", self.paths[file], *switch])
            self.stop_servers()
            self.keep(case, backup)
            self.keep(case + " server state", live)
        source = self.server("source")[1]
        record = self.bench.path("record")
        for case, switch in (("migrate --dry-run", ["--dry-run"]), ("migrate", [])):
            live, target = self.server("target")
            config = self.bench.write_config(source, target)
            self.run(case, ["--config", config, "migrate", "--from", "old", "--to", "new",
                            "--dir", record, *switch])
            self.bench.stop(self.bench.children.pop())
            self.keep(case, record)
            self.keep(case + " server state", live)
        self.stop_servers()

    def stop_servers(self):
        while self.bench.children:
            self.bench.stop(self.bench.children.pop())


def first_difference(before, after):
    for name in before:
        if before[name] == after.get(name):
            continue
        old, new = before[name].split(b"\n"), after.get(name, b"(not seen)").split(b"\n")
        line = next((i for i, (a, b) in enumerate(zip(old, new)) if a != b),
                    min(len(old), len(new)))
        shown = lambda lines: lines[line][:300] if line < len(lines) else b"(end)"
        return (f"{name}, line {line + 1}:\n  before: {shown(old)!r}\n"
                f"  after:  {shown(new)!r}")
    return None


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    before_cli, after_cli, standin = (os.path.abspath(a) for a in sys.argv[1:4])
    probes = int(sys.argv[4]) if len(sys.argv) == 5 else 100000
    tmp = tempfile.mkdtemp(prefix="korv-compare.")
    bench = Bench(tmp, tmp)
    bench.standin = standin
    try:
        paths = make_files(tmp, probes)
        seen = []
        for korv in (before_cli, after_cli):
            runner = Runner(bench, korv, paths)
            _, port = runner.server("source")
            runner.reading_cases(port, probes)
            runner.stop_servers()
            runner.changing_cases()
            seen.append(runner.seen)
        before, after = seen
        print(f"{len(before)} outputs of {len({n.split(': ')[0] for n in before})} cases "
              f"compared on {probes} probes and {TEMPLATES} alert templates")
        judged = {n: v for n, v in before.items() if not by_design(n)}
        difference = first_difference(judged, after)
        for name in sorted(n for n in before if by_design(n)):
            same = before.get(name) == after.get(name)
            print(f"{name}: {'identical' if same else 'differs'} (may differ by design)")
        if difference:
            print("first difference: " + difference)
            sys.exit(1)
        missing = set(after) - set(before) - NEWER
        if missing:
            print("only after: " + ", ".join(sorted(missing)))
            sys.exit(1)
        print("identical")
    finally:
        bench.cleanup()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
