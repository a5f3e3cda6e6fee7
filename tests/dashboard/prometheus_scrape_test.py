#!/usr/bin/env python3
"""A real Prometheus server scrapes a station flashing simulated receivers.

The station watches three receivers of gpsfwsim on ptys, with its dashboard on a free loopback
port behind a token. Debian's prometheus scrapes its /metrics every second with that token as
a bearer token. Once the station has ended every unit, the completed count that Prometheus
holds, asked through its own query API, must come to the station's own count, and the image
it names must be the station's. The station guide's example queries must be accepted.

Usage: prometheus_scrape_test.py BIN_DIR GUIDE
  BIN_DIR holds gpsfwstation, gpsfwsim and gpsfwimg; GUIDE is docs/station.md, whose
  ```promql blocks are the example queries.
"""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

RECEIVERS = 3
TOKEN = "metrics-test-token-0123456789"
# Generous on a loaded two-core machine: the updates take seconds each, a missed wake-up ~17 s.
UNITS_BOUND = 180
SCRAPE_BOUND = 60


def fail(why):
    print("FAIL: " + why, file=sys.stderr)
    sys.exit(1)


def wait_for(what, seconds, check):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        got = check()
        if got:
            return got
        time.sleep(0.5)
    fail(f"{what} within {seconds} s")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get_json(url, token=None):
    request = urllib.request.Request(url)
    if token:
        request.add_header("Authorization", "Bearer " + token)
    try:
        with urllib.request.urlopen(request, timeout=5) as reply:
            return json.load(reply)
    except (OSError, ValueError):
        return None


class Children:
    """Every process the test starts, ended at the end whatever happened."""

    def __init__(self, work):
        self.work = work
        self.started = []

    def start(self, name, argv):
        out = open(os.path.join(self.work, name + ".out"), "wb")
        child = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT,
                                 stdin=subprocess.DEVNULL, start_new_session=True)
        child.out = out.name
        self.started.append(child)
        return child

    def end_all(self):
        for child in reversed(self.started):
            if child.poll() is None:
                os.killpg(child.pid, signal.SIGTERM)
        for child in reversed(self.started):
            try:
                child.wait(timeout=15)
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()


def read(path):
    with open(path, errors="replace") as f:
        return f.read()


def make_image(bin_dir, work):
    parts = os.path.join(work, "parts")
    image = os.path.join(work, "fw.bin")
    subprocess.run([os.path.join(bin_dir, "gpsfwimg"), "sample", "--pfld-size", "4096",
                    "--fw-size", "32768", "--sfld-size", "2048", "--out-dir", parts],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run([os.path.join(bin_dir, "gpsfwimg"), "build", "--pfld",
                    os.path.join(parts, "PFLD.bin"), "--fw", os.path.join(parts, "FW.bin"),
                    "--sfld", os.path.join(parts, "SFLD.srec"), "-o", image],
                   check=True, stdout=subprocess.DEVNULL)
    return image


def start_station(children, bin_dir, work, image):
    # The receivers' application listens at 4800, the rate of the loader's first wake-up.
    sims = children.start("sim", [
        os.path.join(bin_dir, "gpsfwsim"), "--count", str(RECEIVERS), "--link",
        os.path.join(work, "gps%d"), "--expect", image, "--time-limit", "300",
        "--power-on-baud", "4800"])
    links = [os.path.join(work, f"gps{k}") for k in range(RECEIVERS)]
    wait_for("gpsfwsim to publish its receivers",
             20, lambda: sims.poll() is None and all(map(os.path.exists, links)))
    station = children.start("station", [
        os.path.join(bin_dir, "gpsfwstation"), "-i", image, "--plain", "--watch", "--ports",
        os.path.join(work, "gps*"), "--log-dir", os.path.join(work, "logs"), "--http",
        "127.0.0.1:0", "--http-token", TOKEN])

    def dashboard_port():
        if station.poll() is not None:
            fail("gpsfwstation ended early:\n" + read(station.out))
        found = re.search(r"dashboard at http://127\.0\.0\.1:(\d+)/", read(station.out))
        return int(found.group(1)) if found else None

    return wait_for("the station to say its dashboard's address", 30, dashboard_port)


def start_prometheus(children, work, station_port):
    server = shutil.which("prometheus") or shutil.which("prometheus", path="/usr/bin")
    if server is None:
        fail("prometheus not installed (Debian's package prometheus; scripts/install-deps.sh)")
    port = free_port()
    config = os.path.join(work, "prometheus.yml")
    with open(config, "w") as f:
        f.write(f"""global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: gpsfwstation
    authorization:
      type: Bearer
      credentials: {TOKEN}
    static_configs:
      - targets: ["127.0.0.1:{station_port}"]
""")
    children.start("prometheus", [
        server, "--config.file=" + config, "--web.listen-address=127.0.0.1:%d" % port,
        "--storage.tsdb.path=" + os.path.join(work, "tsdb")])
    return f"http://127.0.0.1:{port}"


def ask(prometheus, promql):
    return get_json(prometheus + "/api/v1/query?" + urllib.parse.urlencode({"query": promql}))


def query(prometheus, promql):
    """The value of a PromQL query's first sample, or None while it has none."""
    answer = ask(prometheus, promql)
    if not answer or answer.get("status") != "success" or not answer["data"]["result"]:
        return None
    return answer["data"]["result"][0]


def station_when_done(station_port):
    """The station's state once every receiver's update has ended."""
    url = f"http://127.0.0.1:{station_port}/api/state"

    def done():
        state = get_json(url, TOKEN)
        if not state:
            return None
        totals = state["totals"]
        ended = totals["completed"] + totals["failed"]
        return state if ended == RECEIVERS and totals["running"] == 0 else None

    return wait_for(f"the station to end its {RECEIVERS} updates", UNITS_BOUND, done)


def check_guide_queries(prometheus, guide):
    queries = re.findall(r"```promql\n(.*?)```", read(guide), re.DOTALL)
    if len(queries) < 3:
        fail(f"{guide}: {len(queries)} example queries (```promql blocks), 3 expected")
    for promql in queries:
        answer = ask(prometheus, promql)
        if not answer or answer.get("status") != "success":
            fail(f"{guide}: Prometheus refuses the example query\n{promql}\n{answer}")


def run(bin_dir, guide, work):
    children = Children(work)
    try:
        image = make_image(bin_dir, work)
        station_port = start_station(children, bin_dir, work, image)
        prometheus = start_prometheus(children, work, station_port)
        state = station_when_done(station_port)
        completed = state["totals"]["completed"]
        if completed < 1:
            fail("no update completed, nothing to compare:\n" + json.dumps(state, indent=1))
        held = {}

        def agrees():
            held["completed"] = query(
                prometheus, 'sum(gpsfwstation_updates_ended_total{result="completed"})')
            held["image"] = query(prometheus, "gpsfwstation_image_info")
            return (held["completed"] is not None and held["image"] is not None and
                    int(float(held["completed"]["value"][1])) == completed)

        deadline = time.monotonic() + SCRAPE_BOUND
        while not agrees():
            if time.monotonic() > deadline:
                targets = get_json(prometheus + "/api/v1/targets")
                fail(f"Prometheus holds {held} after {SCRAPE_BOUND} s, the station completed "
                     f"{completed}; its targets: {json.dumps(targets)}")
            time.sleep(1)
        if held["image"]["metric"].get("sha256") != state["image"]["sha256"]:
            fail(f"the image Prometheus holds {held['image']} is not the station's "
                 f"{state['image']['sha256']}")
        check_guide_queries(prometheus, guide)
        print(f"Prometheus holds the station's {completed} completed update(s) "
              f"of {RECEIVERS} and its image; the guide's queries are accepted")
    except BaseException:
        for child in children.started:
            print(f"--- {child.out}:\n{read(child.out)[-3000:]}", file=sys.stderr)
        raise
    finally:
        children.end_all()


def main():
    if len(sys.argv) != 3:
        fail(__doc__)
    work = tempfile.mkdtemp(prefix="gpsfw-prometheus-")
    try:
        run(sys.argv[1], sys.argv[2], work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
