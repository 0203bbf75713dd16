"""The driver of scripts/bench: starts stand-ins and delay proxies, times korv-cli against curl
and python, follows a stand-in's memory over repeated imports, and prints the tables, a summary
line and, last, the ratios of the large configuration.
Usage: bench.py BUILD_DIR [large|standin|migrate], where large runs only the last table, standin
only the stand-in's memory and migrate only the migrate table."""
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from delay_proxy import DelayProxy  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
USER, PASSWORD, TOKEN = "bench", "bench-password", "bench-token"
EXCHANGE_PROBES = 100  # the list in the login-list-logout comparison
EXCHANGE_RUNS = 11
LIST_SIZES = [(1000, 7), (10000, 7), (100000, 5)]  # probes, runs
LARGE_PROBES, LARGE_RUNS = 100000, 5  # the list, export and import of a large configuration
STANDIN_PROBES, STANDIN_IMPORTS = 50000, 100  # the import repeated into one stand-in
STANDIN_CHECKPOINTS = (1, 10, 100)  # imports after which its memory is shown
MIGRATE_PROBES, MIGRATE_TEMPLATES, MIGRATE_RUNS = 100000, 1000, 5  # the migrate table
# What python does with each document, the measure of the CPU time of a run.
PYTHON_ROUND_TRIP = "import json,sys; sys.stdout.write(json.dumps(json.load(sys.stdin)))"
ONE_WAY_DELAY = 0.010  # seconds: a round-trip time of 20 ms


class Bench:
    def __init__(self, build, tmp):
        self.korv = os.path.join(build, "korv-cli")
        self.standin = os.path.join(build, "korv-standin")
        self.tmp = tmp
        self.children = []
        self.proxies = []
        home = os.path.join(tmp, "home")
        os.mkdir(home)
        self.env = dict(os.environ, HOME=home, KORV_API_PASSWORD=PASSWORD)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def cleanup(self):
        for proxy in self.proxies:
            proxy.stop()
        for child in self.children:
            self.stop(child)

    @staticmethod
    def stop(child):
        if child.poll() is None:
            child.terminate()
            child.wait()

    def make_data(self, probes, kind="data", options=()):
        """Writes a data file (an import file for kind "import"); options go to make_data.py."""
        path = self.path(f"{kind}-{probes}.json")
        subprocess.run([sys.executable, os.path.join(HERE, "make_data.py"), str(probes), path]
                       + (["import"] if kind == "import" else []) + list(options), check=True)
        return path

    def make_certificate(self):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", self.path("key.pem"), "-out", self.path("cert.pem")],
                       check=True, stderr=subprocess.DEVNULL)

    def start_standin(self, data, tls, log="standin.log"):
        """Starts a stand-in and returns it with its port; it logs each request to the file log
        in the temporary directory."""
        args = [self.standin, "--port", "0", "--data", data, "--user", f"{USER}:{PASSWORD}",
                "--fixed-token", TOKEN]
        if tls:
            args += ["--tls-cert", self.path("cert.pem"), "--tls-key", self.path("key.pem")]
        with open(self.path(log), "ab") as stderr:
            child = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=stderr, text=True)
        self.children.append(child)
        url = child.stdout.readline().strip()
        if not url:
            sys.exit("bench: the stand-in did not start:\n" + open(self.path(log)).read())
        return child, int(url.rstrip("/").rsplit(":", 1)[1])

    def proxy(self, port, delay):
        proxy = DelayProxy(port, delay)
        self.proxies.append(proxy)
        return proxy

    def run(self, args, stdin=None, statuses=(0,)):
        """Runs a program to its end, which must come with one of the exit statuses given;
        returns its wall time and its CPU time (user and system) in seconds, and its peak RSS in
        MB."""
        with open(self.path("stderr"), "w+") as err:
            start = time.perf_counter()
            child = subprocess.Popen(args, stdin=stdin, stdout=subprocess.DEVNULL, stderr=err,
                                     env=self.env)
            try:
                _, status, usage = os.wait4(child.pid, 0)
            except BaseException:
                child.kill()
                child.wait()
                raise
            elapsed = time.perf_counter() - start
            child.returncode = os.waitstatus_to_exitcode(status)
            if child.returncode not in statuses:
                err.seek(0)
                sys.exit(f"bench: {' '.join(args)} ended with {child.returncode}:\n{err.read()}")
        return elapsed, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024

    def korv_args(self, port, tls, command=("list-probes", "-c", "all")):
        scheme = "https" if tls else "http"
        return ([self.korv, "-p", f"{scheme}://127.0.0.1:{port}/", "-u", USER]
                + (["-i"] if tls else []) + list(command))

    @staticmethod
    def curl_args(port, tls):
        base = f"{'https' if tls else 'http'}://127.0.0.1:{port}/"
        common = ["-s", "-S", "-f", "-o", "/dev/null"] + (["-k"] if tls else [])
        login = json.dumps({"username": USER, "password": PASSWORD})
        token = f"X-Auth-Token: {TOKEN}"
        return (["curl", *common, "-X", "POST", "-H", "Content-Type: application/json",
                 "-d", login, base + "api/token/",
                 "--next", *common, "-H", token, base + "api/v11/probe/",
                 "--next", *common, "-X", "DELETE", "-H", token, base + "api/token/"])

    def connections_per_run(self, proxy, args, runs):
        before = proxy.connections
        for _ in range(runs):
            self.run(args)
        return (proxy.connections - before) / runs

    def exchanges(self, data, tls):
        """Times korv-cli and curl, direct and through the delay proxy; returns one row each.
        Connections are counted over three untimed runs (which also warm up) through a proxy:
        one without delay for the direct route."""
        standin, port = self.start_standin(data, tls)
        passthrough, delayed = self.proxy(port, 0.0), self.proxy(port, ONE_WAY_DELAY)
        clients = {"korv": self.korv_args, "curl": self.curl_args}
        rows = []
        for route, timed_port, counter in (("direct", port, passthrough),
                                           ("+20ms RTT", delayed.port, delayed)):
            row = {"name": f"{'tls' if tls else 'plain'} {route}"}
            for name, args in clients.items():
                row[name + "_conns"] = self.connections_per_run(counter, args(counter.port, tls), 3)
            times = {name: [] for name in clients}
            for _ in range(EXCHANGE_RUNS):
                for name, args in clients.items():
                    times[name].append(self.run(args(timed_port, tls))[0])
            row.update({name: statistics.median(samples) for name, samples in times.items()})
            rows.append(row)
        for proxy in (passthrough, delayed):
            proxy.stop()
        self.stop(standin)
        return rows

    def listing(self, probes, runs):
        data = self.make_data(probes)
        standin, port = self.start_standin(data, tls=False)
        body = self.path("body.json")
        subprocess.run(["curl", "-s", "-S", "-f", "-o", body, "-H", f"X-Auth-Token: {TOKEN}",
                        f"http://127.0.0.1:{port}/api/v11/probe/"], check=True)
        korv, python = [], []
        parse = [sys.executable, "-c", "import json,sys; json.load(sys.stdin)"]
        self.run(self.korv_args(port, False))  # warm-up
        for _ in range(runs):
            korv.append(self.run(self.korv_args(port, False)))
            with open(body, "rb") as stdin:
                python.append(self.run(parse, stdin=stdin))
        self.stop(standin)
        size = os.path.getsize(body) / 1e6
        os.remove(body)
        os.remove(data)
        median = lambda samples, i: statistics.median(s[i] for s in samples)
        return dict(probes=probes, body=size, korv=median(korv, 0), python=median(python, 0),
                    korv_cpu=median(korv, 1), python_cpu=median(python, 1),
                    korv_rss=median(korv, 2), python_rss=median(python, 2))


    def large(self):
        """Times the list, the export of all custom probes and the import of that export into a
        second stand-in (overwriting) on LARGE_PROBES probes, each against curl moving the same
        answer (wall time) and python's json.load + json.dumps of the same document (CPU time);
        returns one row each."""
        data = self.make_data(LARGE_PROBES)
        source, source_port = self.start_standin(data, tls=False)
        target_data = self.path("target.json")
        shutil.copyfile(data, target_data)
        target, target_port = self.start_standin(target_data, tls=False)
        exported = self.path("exported.json")
        self.run(self.korv_args(source_port, False, ["export-probes", "-o", exported, "-w"]))
        # The import request korv-cli sends: the file's members and the switch. Written by a
        # child, so that this process stays small: a child forked from it would count its
        # pages in its own peak memory.
        subprocess.run([sys.executable, "-c",
                        "import json,sys; json.dump(dict(json.load(open(sys.argv[1])), "
                        "skip_overwrite=False), open(sys.argv[2], 'w'), separators=(',', ':'))",
                        exported, self.path("import-body.json")], check=True)
        base = lambda port: f"http://127.0.0.1:{port}/api/v11/probe/"
        token = ["-H", f"X-Auth-Token: {TOKEN}", "-H", "Content-Type: application/json"]
        curl = ["curl", "-s", "-S", "-f", "-o", self.path("answer.json"), *token]
        cases = [
            ("list", self.korv_args(source_port, False),
             curl + [base(source_port)], "answer.json"),
            ("export", self.korv_args(source_port, False,
                                      ["export-probes", "-o", self.path("again.json"), "-w"]),
             curl + ["-d", '{"probes":[]}', base(source_port) + "custom/export/"], "answer.json"),
            ("import", self.korv_args(target_port, False, ["import-probes", "-i", exported]),
             curl + ["--data-binary", "@" + self.path("import-body.json"),
                     base(target_port) + "custom/import/"],
             "exported.json"),
        ]
        python = [sys.executable, "-c", PYTHON_ROUND_TRIP]
        rows = []
        for name, korv_args, curl_args, document in cases:
            self.run(korv_args)  # warm-up; the first import creates what later ones overwrite
            korv, curled, parsed = [], [], []
            for _ in range(LARGE_RUNS):
                korv.append(self.run(korv_args))
                curled.append(self.run(curl_args))
                with open(self.path(document), "rb") as stdin:
                    parsed.append(self.run(python, stdin=stdin))
            median = lambda samples, i: statistics.median(s[i] for s in samples)
            rows.append(dict(name=name, size=os.path.getsize(self.path(document)) / 1e6,
                             korv=median(korv, 0), curl=median(curled, 0),
                             korv_cpu=median(korv, 1), python_cpu=median(parsed, 1),
                             korv_rss=median(korv, 2)))
        for child in (source, target):
            self.stop(child)
        for name in (data, target_data, exported, self.path("again.json"),
                     self.path("answer.json"), self.path("import-body.json")):
            os.remove(name)
        return rows

    def standin_memory(self):
        """Imports a file of STANDIN_PROBES custom probes STANDIN_IMPORTS times into one stand-in
        (created, then overwritten) with korv-cli; returns a row at each checkpoint with the
        stand-in's peak and current resident memory in MB and the size of its data file."""
        document = self.make_data(STANDIN_PROBES, "import")
        data = self.path("standin-memory.json")
        standin, port = self.start_standin(data, tls=False)
        args = self.korv_args(port, False, ["import-probes", "-i", document])
        rows, elapsed = [], 0.0
        for count in range(1, STANDIN_IMPORTS + 1):
            elapsed += self.run(args)[0]
            if count in STANDIN_CHECKPOINTS:
                with open(f"/proc/{standin.pid}/status") as status:
                    figures = dict(line.split(":", 1) for line in status)
                mb = lambda name: int(figures[name].split()[0]) * 1024 / 1e6  # given in KiB
                rows.append(dict(imports=count, peak=mb("VmHWM"), now=mb("VmRSS"),
                                 data=os.path.getsize(data) / 1e6, seconds=elapsed / count))
        self.stop(standin)
        size = os.path.getsize(document) / 1e6
        os.remove(document)
        os.remove(data)
        return size, rows

    def write_config(self, source_port, target_port):
        """The configuration file that names the source "old" and the target "new"."""
        path = self.path("config.toml")
        with open(path, "w") as out:
            for name, port in (("old", source_port), ("new", target_port)):
                out.write(f'[servers.{name}]\nurl = "http://127.0.0.1:{port}/"\n'
                          f'user = "{USER}"\n')
        os.chmod(path, 0o600)
        return path

    def requests_logged(self, log, settle=True):
        """The requests that a stand-in logging to the file log has answered so far; with
        settle, once it has logged the release of a token last: it logs a request after its
        answer has gone out, so its line may come after the client has ended."""
        deadline = time.monotonic() + 10
        while True:
            with open(self.path(log)) as lines:
                requests = [line for line in lines if line.startswith("korv-standin: ")]
            released = requests and requests[-1].startswith("korv-standin: DELETE /api/token/")
            if not settle or released or time.monotonic() > deadline:
                return len(requests)
            time.sleep(0.01)

    def migrate(self):
        """Times korv-cli migrate (and its dry run) from a stand-in with MIGRATE_PROBES probes
        and MIGRATE_TEMPLATES alert templates to one that holds the same custom items with other
        values, so that every item is overwritten, against raw_migrate.py sending the same
        requests; each full run starts from a fresh target. Before that, an untimed round
        through counting proxies (which also warms up) counts the requests and connections of
        each run and of both imports with --backup. Returns the rows, the sizes of the source's
        export documents in bytes and the request counts of the two imports."""
        options = ["--templates", str(MIGRATE_TEMPLATES)]
        source_data = self.make_data(MIGRATE_PROBES, "source", options)
        target_start = self.make_data(MIGRATE_PROBES, "target", options + ["--changed"])
        target_data = self.path("target-live.json")
        source, source_port = self.start_standin(source_data, tls=False, log="source.log")
        target = None

        def fresh_target(start=target_start):
            nonlocal target
            if target is not None:
                self.stop(target)
            shutil.copyfile(start, target_data)
            target, port = self.start_standin(target_data, tls=False, log="target.log")
            return port

        def record():
            directory = self.path("record")
            shutil.rmtree(directory, ignore_errors=True)
            os.mkdir(directory)
            return directory

        def korv(source_port, target_port, dry_run):
            config = self.write_config(source_port, target_port)
            return ([self.korv, "--config", config, "migrate", "--from", "old", "--to", "new",
                     "--dir", record()] + (["--dry-run"] if dry_run else []))

        def raw(source_port, target_port, dry_run):
            return ([sys.executable, os.path.join(HERE, "raw_migrate.py"),
                     f"http://127.0.0.1:{source_port}/", f"http://127.0.0.1:{target_port}/",
                     USER, PASSWORD, record()] + (["--dry-run"] if dry_run else []))

        # korv-cli's dry run ends with status 3: the import would change the target. The last
        # case migrates onto a target that holds the source's items already, which needs no
        # fresh target: it is shown, not judged.
        cases = (("migrate", False, (0,)), ("dry run", True, (3,)), ("same items", False, (0,)))
        counted = {}
        for name, dry_run, statuses in cases[:2]:
            target_port = fresh_target()
            proxies = self.proxy(source_port, 0.0), self.proxy(target_port, 0.0)
            logs = ("source.log", "target.log")
            before = [self.requests_logged(log, settle=False) for log in logs]
            self.run(korv(proxies[0].port, proxies[1].port, dry_run), statuses=statuses)
            counted[name] = ([self.requests_logged(log) - b for log, b in zip(logs, before)],
                             [proxy.connections for proxy in proxies])
            for proxy in proxies:
                proxy.stop()
        exported = {key: os.path.getsize(os.path.join(self.path("record"), key + ".json"))
                    for key in ("probes", "alert-templates")}
        backup_requests = []
        for command, file in (("import-probes", "probes.json"),
                              ("import-alert-templates", "alert-templates.json")):
            shutil.copyfile(os.path.join(self.path("record"), file), self.path("file.json"))
            target_port = fresh_target()
            before = self.requests_logged("target.log", settle=False)
            self.run(self.korv_args(target_port, False,
                                    [command, "-i", self.path("file.json"),
                                     "--backup", self.path("backup.json")]))
            backup_requests.append(self.requests_logged("target.log") - before)
            os.remove(self.path("backup.json"))

        rows = []
        for name, dry_run, statuses in cases:
            times = {"korv": [], "raw": []}
            once = dry_run or name == "same items"
            if once:
                target_port = fresh_target(source_data if name == "same items" else target_start)
            for _ in range(MIGRATE_RUNS):
                for client, args in (("korv", korv), ("raw", raw)):
                    if not once:
                        target_port = fresh_target()
                    times[client].append(self.run(args(source_port, target_port, dry_run),
                                                  statuses=statuses if client == "korv" else (0,)))
            median = lambda client, i: statistics.median(s[i] for s in times[client])
            rows.append(dict(name=name, korv=median("korv", 0), raw=median("raw", 0),
                             korv_cpu=median("korv", 1), korv_rss=median("korv", 2),
                             counted=counted.get(name)))
        for child in (source, target):
            self.stop(child)
        for name in (source_data, target_start, target_data, self.path("file.json")):
            os.remove(name)
        shutil.rmtree(self.path("record"))
        return rows, exported, backup_requests


def main():
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))
    tmp = tempfile.mkdtemp(prefix="korv-bench.")
    bench = Bench(sys.argv[1], tmp)
    try:
        only = sys.argv[2] if len(sys.argv) > 2 else None
        if only not in (None, "large", "standin", "migrate"):
            sys.exit(f"bench: unknown table {only!r}: give large, standin or migrate, or nothing")
        if only is None:
            report(bench)
        if only in (None, "standin"):
            report_standin(bench)
        if only in (None, "migrate"):
            report_migrate(bench)
        if only in (None, "large"):
            report_large(bench)
    except KeyboardInterrupt:
        sys.exit(130)
    finally:
        bench.cleanup()
        shutil.rmtree(tmp, ignore_errors=True)


def report(bench):
    print(f"load average {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores at the start")
    bench.make_certificate()
    small = bench.make_data(EXCHANGE_PROBES)
    rows = bench.exchanges(small, tls=False) + bench.exchanges(small, tls=True)
    print(f"\nlogin, list of {EXCHANGE_PROBES} probes, logout: korv-cli list-probes against curl "
          f"--next (median of {EXCHANGE_RUNS} runs; connections counted by the proxy)")
    print(f"{'route':<16}{'korv-cli':>10}{'curl':>10}{'korv/curl':>11}"
          f"{'korv conns':>12}{'curl conns':>12}")
    for row in rows:
        print(f"{row['name']:<16}{row['korv'] * 1e3:>8.1f}ms{row['curl'] * 1e3:>8.1f}ms"
              f"{row['korv'] / row['curl']:>11.2f}{row['korv_conns']:>12.2f}"
              f"{row['curl_conns']:>12.2f}")

    print("\nkorv-cli list-probes -c all > /dev/null (plain, direct) against python3 json.load "
          f"of the same body (medians of {', '.join(str(runs) for _, runs in LIST_SIZES)} runs; "
          "CPU is user + system time)")
    print(f"{'probes':>7}{'body':>8}{'korv-cli':>10}{'python':>9}{'korv/py':>8}"
          f"{'korv CPU':>10}{'py CPU':>9}{'korv RSS':>10}{'py RSS':>8}{'korv RSS/body':>14}")
    lists = [bench.listing(probes, runs) for probes, runs in LIST_SIZES]
    ms = lambda seconds, width: f"{seconds * 1e3:>{width - 2}.0f}ms"
    for row in lists:
        print(f"{row['probes']:>7}{row['body']:>6.1f}MB{ms(row['korv'], 10)}{ms(row['python'], 9)}"
              f"{row['korv'] / row['python']:>8.2f}{ms(row['korv_cpu'], 10)}"
              f"{ms(row['python_cpu'], 9)}{row['korv_rss']:>8.0f}MB{row['python_rss']:>6.0f}MB"
              f"{row['korv_rss'] / row['body']:>14.2f}")
    print(f"\nload average {os.getloadavg()[0]:.2f} at the end")
    ratio = {row["name"]: row["korv"] / row["curl"] for row in rows}
    big = lists[-1]
    conns = max(row["korv_conns"] for row in rows)
    print(f"summary: tls+delay korv/curl={ratio['tls +20ms RTT']:.2f}, "
          f"plain+delay korv/curl={ratio['plain +20ms RTT']:.2f}, korv conns/run={conns:.2f}, "
          f"list100k korv/python time={big['korv'] / big['python']:.2f} "
          f"memory/body={big['korv_rss'] / big['body']:.2f}")


def report_standin(bench):
    size, rows = bench.standin_memory()
    print(f"\nkorv-standin's memory over {STANDIN_IMPORTS} imports of one file of {STANDIN_PROBES} "
          f"custom probes ({size:.1f}MB) with korv-cli, the first creating them, the others "
          f"overwriting; peak and current resident memory against the stand-in's data file")
    print(f"{'imports':>7}{'data file':>11}{'peak RSS':>10}{'RSS':>8}{'peak/data':>11}"
          f"{'RSS/data':>10}{'per import':>12}")
    for row in rows:
        print(f"{row['imports']:>7}{row['data']:>9.1f}MB{row['peak']:>8.0f}MB{row['now']:>6.0f}MB"
              f"{row['peak'] / row['data']:>11.2f}{row['now'] / row['data']:>10.2f}"
              f"{row['seconds'] * 1e3:>10.0f}ms")


def report_migrate(bench):
    load = os.getloadavg()[0]
    rows, exported, backup_requests = bench.migrate()
    documents = sum(exported.values()) / 1e6
    print(f"\nmigrate of {MIGRATE_PROBES} probes (half custom) and {MIGRATE_TEMPLATES} alert "
          f"templates (a tenth system ones) onto a target that holds the same custom items with "
          f"other values, so that every one is overwritten: korv-cli migrate against "
          f"raw_migrate.py sending the same requests over one connection per server (wall, "
          f"medians of {MIGRATE_RUNS} runs, a fresh target for each full run); the source's "
          f"export documents: {exported['probes'] / 1e6:.1f}MB of probes, "
          f"{exported['alert-templates'] / 1e6:.1f}MB of alert templates. \"same items\" "
          f"migrates onto a target that holds the source's items already (shown, not judged); "
          f"load average {load:.2f} on {os.cpu_count()} cores at the start, "
          f"{os.getloadavg()[0]:.2f} at the end")
    print(f"{'case':<12}{'korv-cli':>10}{'raw':>9}{'korv/raw':>9}{'korv CPU':>10}"
          f"{'korv RSS':>10}{'RSS/docs':>9}{'requests':>10}{'conns':>7}")
    ms = lambda seconds, width: f"{seconds * 1e3:>{width - 2}.0f}ms"
    both = lambda pair: f"{pair[0]}+{pair[1]}"
    for row in rows:
        requests, conns = row["counted"] or (("", ""), ("", ""))
        print(f"{row['name']:<12}{ms(row['korv'], 10)}{ms(row['raw'], 9)}"
              f"{row['korv'] / row['raw']:>9.2f}{ms(row['korv_cpu'], 10)}"
              f"{row['korv_rss']:>8.0f}MB{row['korv_rss'] / documents:>9.2f}"
              f"{both(requests):>10}{both(conns):>7}")
    print("requests and connections: to the source + to the target, counted by the stand-ins "
          f"and by proxies; raw_migrate.py sends 4+6 and 4+4 over 1+1; import-probes --backup "
          f"sent {backup_requests[0]}, import-alert-templates --backup {backup_requests[1]}")
    by = {row["name"]: row for row in rows}
    total = lambda name: sum(by[name]["counted"][0])
    print(f"goal: migrate wall korv/raw={by['migrate']['korv'] / by['migrate']['raw']:.2f} "
          f"(<= 1.3), memory/documents={by['migrate']['korv_rss'] / documents:.2f} (<= 4), "
          f"dry run wall korv/raw={by['dry run']['korv'] / by['dry run']['raw']:.2f} (<= 1.2), "
          f"requests migrate={total('migrate')} (10) dry run={total('dry run')} (8) "
          f"import --backup={'/'.join(map(str, backup_requests))} (4)")


def report_large(bench):
    ms = lambda seconds, width: f"{seconds * 1e3:>{width - 2}.0f}ms"
    print(f"\n{LARGE_PROBES} probes, half custom: korv-cli against curl moving the same answer "
          f"(wall) and python3 json.load + json.dumps of the same document (CPU), medians of "
          f"{LARGE_RUNS} runs; the import goes into a second stand-in, overwriting")
    print(f"{'run':<8}{'document':>10}{'korv-cli':>10}{'curl':>9}{'korv/curl':>10}"
          f"{'korv CPU':>10}{'py CPU':>9}{'CPU/py':>8}{'korv RSS':>10}{'RSS/doc':>8}")
    large = bench.large()
    for row in large:
        print(f"{row['name']:<8}{row['size']:>8.1f}MB{ms(row['korv'], 10)}{ms(row['curl'], 9)}"
              f"{row['korv'] / row['curl']:>10.2f}{ms(row['korv_cpu'], 10)}"
              f"{ms(row['python_cpu'], 9)}{row['korv_cpu'] / row['python_cpu']:>8.2f}"
              f"{row['korv_rss']:>8.0f}MB{row['korv_rss'] / row['size']:>8.2f}")
    by = {row["name"]: row for row in large}
    cpu = lambda name: by[name]["korv_cpu"] / by[name]["python_cpu"]
    rss = lambda name: by[name]["korv_rss"] / by[name]["size"]
    print(f"goal: list wall korv/curl={by['list']['korv'] / by['list']['curl']:.2f} (<= 2.5), "
          f"CPU korv/python list={cpu('list'):.2f} export={cpu('export'):.2f} "
          f"import={cpu('import'):.2f} (<= 0.33), memory/document list={rss('list'):.2f} "
          f"export={rss('export'):.2f} import={rss('import'):.2f} (<= 2.5)")


if __name__ == "__main__":
    main()
