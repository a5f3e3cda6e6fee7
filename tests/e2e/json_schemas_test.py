#!/usr/bin/python3
"""Every JSON document the programs print is checked against its schema in docs/schema/.

The documents come from real runs: an update of a simulated receiver through a station with
a report, a record and its dashboard, a direct update with --events and --state, --check,
--list-ports, --show-state, the record's history and the dashboard of `serve`. A key renamed in a program and not in its schema (or
the other way round) fails here.

Usage: json_schemas_test.py BIN_DIR SOURCE_DIR [dashboard]
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.request

import jsonschema

BIN, SOURCE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
# A station built without a web server has no dashboard to fetch.
DASHBOARD = sys.argv[3:] == ["dashboard"]
SCHEMAS = os.path.join(SOURCE, "docs", "schema")
failures = []


def load_schemas():
    schemas = {}
    for name in os.listdir(SCHEMAS):
        with open(os.path.join(SCHEMAS, name), encoding="utf-8") as f:
            schemas[name] = json.load(f)
    return schemas


# Debian 12's jsonschema (4.10) resolves "$ref" through a store keyed by "$id".
SCHEMA_FILES = load_schemas()
STORE = {schema["$id"]: schema for schema in SCHEMA_FILES.values()}


def check(schema_name, document, what):
    schema = SCHEMA_FILES[schema_name]
    jsonschema.Draft202012Validator.check_schema(schema)
    resolver = jsonschema.RefResolver(schema["$id"], schema, store=STORE)
    validator = jsonschema.Draft202012Validator(schema, resolver=resolver)
    errors = sorted(validator.iter_errors(document), key=lambda e: list(e.absolute_path))
    for error in errors:
        failures.append(f"{what} against {schema_name}: {error.message} at "
                        f"{'/'.join(map(str, error.absolute_path)) or 'the top'}")
    print(f"{what}: {'valid' if not errors else f'{len(errors)} error(s)'}")


def run(args, **kw):
    result = subprocess.run(args, capture_output=True, timeout=120, **kw)
    if result.returncode != 0:
        sys.exit(f"{' '.join(args)} ended with {result.returncode}:\n"
                 f"{result.stdout.decode(errors='replace')}{result.stderr.decode(errors='replace')}")
    return result.stdout.decode("utf-8")


def start_receivers(work, image, count):
    pattern = os.path.join(work, "gps%d")
    sim = subprocess.Popen([f"{BIN}/gpsfwsim", "--link", pattern, "--count", str(count),
                            "--expect", image, "--time-limit", "300", "--report",
                            os.path.join(work, "sim-report.json")],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    links = [pattern % i for i in range(count)]
    deadline = time.monotonic() + 30
    while not all(os.path.exists(link) for link in links):
        if time.monotonic() > deadline or sim.poll() is not None:
            sim.kill()
            sys.exit("gpsfwsim did not publish its ports")
        time.sleep(0.1)
    return sim, links


# Straight to the loopback dashboard, whatever proxy the environment names.
OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def fetch(url):
    with OPENER.open(url, timeout=10) as answer:
        return json.loads(answer.read().decode("utf-8"))


def dashboard_url(process):
    """The address the program says its dashboard is at (it chose a free port)."""
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        line = process.stderr.readline().decode(errors="replace")
        if not line and process.poll() is not None:
            break
        if "dashboard at " in line:
            return line.split("dashboard at ", 1)[1].strip()
    process.kill()
    sys.exit("no dashboard address on standard error")


def watch_dashboard(args, cwd, until_rows=None):
    """Every distinct /api/state, /api/history and /api/stations the dashboard answers while the program runs
    (a station: until it ends; serve: until its history has `until_rows` rows, then stopped)."""
    process = subprocess.Popen(args, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seen = {"state": [], "history": [], "stations": []}
    try:
        url = dashboard_url(process)
        deadline = time.monotonic() + 120
        while process.poll() is None and time.monotonic() < deadline:
            try:
                for name in seen:
                    document = fetch(f"{url}api/{name}")
                    if document not in seen[name]:
                        seen[name].append(document)
            except (OSError, ValueError):
                continue  # the station ended between two requests
            if until_rows is not None and len(seen["history"][-1]["rows"]) >= until_rows:
                break
            time.sleep(0.05)
    finally:
        process.terminate()
        process.wait(timeout=30)
        process.stderr.close()
    seen["status"] = process.returncode
    if not seen["state"] or not seen["history"]:
        failures.append(f"{args[0]}: no dashboard document was fetched")
    return seen


def check_dashboard(seen, what):
    for number, state in enumerate(seen["state"], 1):
        check("dashboard-state.schema.json", state, f"{what}: /api/state {number}")
    for number, history in enumerate(seen["history"], 1):
        check("dashboard-history.schema.json", history, f"{what}: /api/history {number}")
    for number, stations in enumerate(seen["stations"], 1):
        check("dashboard-stations.schema.json", stations, f"{what}: /api/stations {number}")


def check_station_dashboards(dashboard, record, work):
    check_dashboard(dashboard, "the station's dashboard")
    if not any(u["result"] == "running" for d in dashboard["state"] for u in d["units"]):
        failures.append("the station's dashboard never showed its unit running")
    served = watch_dashboard([f"{BIN}/gpsfwstation", "serve", "--db", record, "--http",
                              "127.0.0.1:0"], work, until_rows=1)
    check_dashboard(served, "serve's dashboard")
    if not any(d["stations"] for d in served["stations"]):
        failures.append("serve's /api/stations never listed the station that wrote the record")


def main():
    with tempfile.TemporaryDirectory(prefix="gpsfw-schemas-") as work:
        parts = os.path.join(work, "parts")
        image = os.path.join(work, "fw.bin")
        run([f"{BIN}/gpsfwimg", "sample", "--pfld-size", "4096", "--fw-size", "8192",
             "--sfld-size", "1024", "--out-dir", parts])
        run([f"{BIN}/gpsfwimg", "build", "--pfld", f"{parts}/PFLD.bin", "--fw", f"{parts}/FW.bin",
             "--sfld", f"{parts}/SFLD.srec", "-o", image])

        check("check-report.schema.json",
              json.loads(run([f"{BIN}/gpsfwload", "--check", "--json", "-i", image])),
              "--check --json")
        check("port-list.schema.json",
              json.loads(run([f"{BIN}/gpsfwload", "--list-ports", "--json"])),
              "--list-ports --json")

        sim, links = start_receivers(work, image, 2)
        try:
            events = os.path.join(work, "events.jsonl")
            state = os.path.join(work, "state")
            run([f"{BIN}/gpsfwload", "-q", "-i", image, "-p", links[0], "-l",
                 os.path.join(work, "direct.log"), "--events", events, "--state", state])
            with open(events, encoding="utf-8") as f:
                lines = [line for line in f if line.strip()]
            for number, line in enumerate(lines, 1):
                check("events.schema.json", json.loads(line), f"--events line {number}")
            check("state.schema.json",
                  json.loads(run([f"{BIN}/gpsfwload", "--show-state", state, "--json"])),
                  "--show-state --json")

            report = os.path.join(work, "report.json")
            record = os.path.join(work, "record.db")
            station = [f"{BIN}/gpsfwstation", "-i", image, "--plain", "--log-dir", work,
                       "--report", report, "--db", record, links[1]]
            if DASHBOARD:
                dashboard = watch_dashboard(station + ["--http", "127.0.0.1:0"], work)
                if dashboard["status"] != 0:
                    sys.exit(f"the station ended with {dashboard['status']}")
            else:
                run(station, cwd=work)
        finally:
            # The simulator writes its report as it ends on SIGTERM.
            sim.terminate()
            try:
                sim.wait(timeout=30)
            except subprocess.TimeoutExpired:
                sim.kill()
                sim.wait()
        with open(os.path.join(work, "sim-report.json"), encoding="utf-8") as f:
            check("sim-report.schema.json", json.load(f), "gpsfwsim --report")
        with open(report, encoding="utf-8") as f:
            check("station-report.schema.json", json.load(f), "station --report")
        history = json.loads(run([f"{BIN}/gpsfwstation", "history", "--db", record, "--json"]))
        check("history.schema.json", history, "history --json")
        unit = json.loads(run([f"{BIN}/gpsfwstation", "history", "--db", record, "--unit",
                               history[0]["id"], "--json"]))
        check("history-row.schema.json", unit, "history --unit --json")
        if DASHBOARD:
            check_station_dashboards(dashboard, record, work)

    if failures:
        print("\n".join(failures), file=sys.stderr)
        sys.exit(1)


main()
