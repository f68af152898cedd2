#!/usr/bin/env python3
"""Runs the shell examples of the README's command-line section, in order, in
a fresh folder, and fails on the first command that fails.

Usage: run_examples.py README TREMORA_PROGRAM SOURCE_DIR

The folder holds build/bin/tremora (a link to the built program) and tests/
(a link to the repository's tests, for the Kp file); HOME points into it, so
that the metadata cache is made there too. The Kp service is answered by a
local server, named in TREMORA_KP_URL, from tests/data/kp/Kp_ap_nowcast.txt
(GFZ's own figures), so the examples run without a network.
"""
import datetime
import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import urllib.parse

SECTION = "## The command-line program"


def example_script(readme_text):
    """The sh blocks of the command-line section, joined in order."""
    start = readme_text.index(SECTION)
    end = readme_text.find("\n## ", start + len(SECTION))
    section = readme_text[start:end if end >= 0 else None]
    blocks = re.findall(r"^```sh\n(.*?)^```", section, re.S | re.M)
    if not blocks:
        sys.exit("no sh example in the README section " + SECTION)
    return "\n".join(blocks)


def kp_intervals(nowcast_file):
    """(start as UTC text, Kp, status) of each three-hour interval of a file
    in the Kp_ap_since_1932.txt layout; missing values (D = -1) are left out."""
    rows = []
    with open(nowcast_file, encoding="ascii") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            year, month, day, hour, *_, kp, _ap, flag = line.split()
            if flag == "-1":
                continue
            when = datetime.datetime(int(year), int(month), int(day), int(float(hour)))
            rows.append((when, float(kp), "def" if flag == "1" else "pre"))
    return rows


def kp_server(nowcast_file):
    """A local stand-in for the GFZ Kp service: /app/json/?start=..&end=..
    answers the intervals that start in the range, as the service does."""
    intervals = kp_intervals(nowcast_file)

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            query = urllib.parse.parse_qs(urllib.parse.urlparse(self.path).query)
            bound = lambda name: datetime.datetime.strptime(query[name][0], "%Y-%m-%dT%H:%M:%SZ")
            chosen = [r for r in intervals if bound("start") <= r[0] <= bound("end")]
            body = json.dumps({
                "meta": {"source": "GFZ Potsdam", "license": "CC BY 4.0"},
                "datetime": [r[0].strftime("%Y-%m-%dT%H:%M:%SZ") for r in chosen],
                "Kp": [r[1] for r in chosen],
                "status": [r[2] for r in chosen],
            }).encode()
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    readme, program, source = sys.argv[1:4]
    with open(readme, encoding="utf-8") as f:
        script = example_script(f.read())
    folder = tempfile.mkdtemp(prefix="tremora-readme-")
    server = kp_server(os.path.join(source, "tests", "data", "kp", "Kp_ap_nowcast.txt"))
    try:
        os.makedirs(os.path.join(folder, "build", "bin"))
        os.symlink(os.path.abspath(program), os.path.join(folder, "build", "bin", "tremora"))
        os.symlink(os.path.join(os.path.abspath(source), "tests"), os.path.join(folder, "tests"))
        env = dict(os.environ, HOME=folder, TREMORA_KP_URL="http://127.0.0.1:%d" % server.server_address[1])
        prologue = ("set -euo pipefail -x\n"
                    "trap '{ status=$?; set +x; } 2>/dev/null; "
                    "echo \"README example failed with status $status: $BASH_COMMAND\" >&2' ERR\n")
        result = subprocess.run(["bash", "-c", prologue + script], cwd=folder, env=env)
        return result.returncode
    finally:
        server.shutdown()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
