"""The requests of a migration, scripted with raw HTTP: the yardstick of the bench's migrate row.
On one connection per server: a login, the exports of the custom probes and alert templates and
a release on the source; a login, the same exports (the target's state, kept as its backup) and,
unless --dry-run, the imports of the source's exports (overwriting) and a release on the target.
The answers of the exports are written to DIR as they came, and the import bodies are spliced
from the export answers, so the script spends next to nothing beyond the transfers.
Usage: raw_migrate.py SOURCE_URL TARGET_URL USER PASSWORD DIR [--dry-run]"""
import http.client
import json
import os
import sys
from urllib.parse import urlsplit

API = "/api/v11"
KINDS = (("probes", "/probe/custom/", '"skip_overwrite":false,'),
         ("alert_templates", "/alert/custom/",
          '"skip_overwrite":false,"skip_overwrite_probe":true,'))


class Server:
    def __init__(self, url, user, password):
        parts = urlsplit(url)
        self.connection = http.client.HTTPConnection(parts.hostname, parts.port)
        answer = self.request("POST", "/api/token/", json.dumps(
            {"username": user, "password": password}).encode(), expect=201)
        self.token = answer.getheader("X-Subject-Token")
        answer.read()

    def request(self, method, path, body=None, expect=200):
        headers = {"Content-Type": "application/json"}
        if getattr(self, "token", None):
            headers["X-Auth-Token"] = self.token
        self.connection.request(method, path, body=body, headers=headers)
        answer = self.connection.getresponse()
        if answer.status != expect:
            sys.exit(f"raw_migrate: {method} {path}: HTTP {answer.status}: {answer.read()[:200]}")
        return answer

    def call(self, method, path, body=None, expect=200):
        return self.request(method, path, body, expect).read()

    def export_all(self, key, path):
        return self.call("POST", API + path + "export/", ('{"%s":[]}' % key).encode())

    def release(self):
        self.call("DELETE", "/api/token/", expect=204)
        self.connection.close()


def main():
    source_url, target_url, user, password, directory = sys.argv[1:6]
    dry_run = sys.argv[6:] == ["--dry-run"]
    source = Server(source_url, user, password)
    exports = [source.export_all(key, path) for key, path, _ in KINDS]
    source.release()
    target = Server(target_url, user, password)
    for (key, path, _), exported in zip(KINDS, exports):
        with open(os.path.join(directory, key + ".json"), "wb") as out:
            out.write(exported)
        with open(os.path.join(directory, "backup-" + key + ".json"), "wb") as out:
            out.write(target.export_all(key, path))
    if not dry_run:
        for (key, path, switches), exported in zip(KINDS, exports):
            target.call("POST", API + path + "import/", b"{" + switches.encode() + exported[1:])
    target.release()


if __name__ == "__main__":
    main()
