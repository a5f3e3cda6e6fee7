#!/usr/bin/env python3
"""What a hostile or crowded dashboard costs a station that is flashing.

Runs the real gpsfwstation on simulated receivers (gpsfwsim on ptys) three times with the same
image and receivers: alone, under a header flood (FLOODERS connections at once, each sending
FLOOD_MB megabytes of header without end, connecting again whenever the station refuses one), and under a crowd (the 64 event streams the client
bound allows, then EXCESS connections more, then one more once a stream has gone). Prints the
station's peak resident memory, its own CPU time, the updates' mean duration against the run
alone, how fast each flooder and each connection of the excess was refused, and how fast the
late one was served. The flooders themselves run on the same machine: on two cores, their own
CPU time can slow the simulated receivers and loaders, which the station's CPU time tells apart.

  bench/dashboard_flood.py [--bin build/bin] [--receivers 4] [--flooders 16] [--flood-mb 100]
                           [--excess 32] [--flood-after 8]

Loopback only. A measurement, not a test: nothing here fails on a figure.
"""
import argparse
import json
import os
import shutil
import socket
import statistics
import subprocess
import tempfile
import threading
import time

TOKEN = "bench-token-0123456789"


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return -1


def wait_for(what, seconds, probe):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if probe():
            return
        time.sleep(0.05)
    raise SystemExit(f"timed out waiting for {what}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_image(bin_dir, work):
    parts = os.path.join(work, "parts")
    subprocess.run([os.path.join(bin_dir, "gpsfwimg"), "sample", "--pfld-size", "4096",
                    "--fw-size", "131072", "--sfld-size", "2048", "--out-dir", parts],
                   check=True, stdout=subprocess.DEVNULL)
    image = os.path.join(work, "fw.bin")
    subprocess.run([os.path.join(bin_dir, "gpsfwimg"), "build", "--pfld",
                    os.path.join(parts, "PFLD.bin"), "--fw", os.path.join(parts, "FW.bin"),
                    "--sfld", os.path.join(parts, "SFLD.srec"), "-o", image],
                   check=True, stdout=subprocess.DEVNULL)
    return image


def flood_connection(port, left):
    """One connection's header without end; (seconds, bytes taken, status or error)."""
    start = time.monotonic()
    sent = 0
    status = b""
    note = ""
    s = socket.create_connection(("127.0.0.1", port), timeout=30)
    try:
        s.sendall(b"GET /api/state HTTP/1.1\r\nHost: x\r\nX-Flood: ")
        chunk = b"f" * 65536
        while sent < left:
            s.sendall(chunk)
            sent += len(chunk)
    except OSError as error:
        note = type(error).__name__
    try:
        status = s.recv(64)
    except OSError:
        pass
    s.close()
    return time.monotonic() - start, sent, status[:12].decode(errors="replace") or note


def flood_one(port, megabytes, result):
    """Sends `megabytes` of header, connecting again each time the station refuses one."""
    sent = 0
    while sent < megabytes << 20:
        seconds, taken, status = flood_connection(port, (megabytes << 20) - sent)
        sent += max(taken, 1)
        result.append((seconds, taken, status))


def crowd(port, excess):
    streams = []
    for _ in range(64):
        s = socket.create_connection(("127.0.0.1", port), timeout=10)
        s.sendall(f"GET /events?token={TOKEN} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
        s.recv(4096)
        streams.append(s)
    waits = []

    def one():
        start = time.monotonic()
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
                s.sendall(f"GET /api/state?token={TOKEN} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
                got = s.recv(64)
        except OSError:
            got = b"closed"
        waits.append((time.monotonic() - start, got[:12].decode(errors="replace")))

    threads = [threading.Thread(target=one) for _ in range(excess)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    streams.pop().close()
    start = time.monotonic()
    served = False
    while not served and time.monotonic() - start < 30:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
                s.sendall(f"GET /api/state?token={TOKEN} HTTP/1.1\r\nHost: x\r\n"
                          "Connection: close\r\n\r\n".encode())
                served = s.recv(64).startswith(b"HTTP/1.1 200")
        except OSError:
            pass
    late = time.monotonic() - start
    for s in streams:
        s.close()
    return waits, late if served else None


def run(args, image, work, name, load):
    folder = os.path.join(work, name)
    os.makedirs(folder)
    sim = subprocess.Popen([os.path.join(args.bin, "gpsfwsim"), "--count", str(args.receivers),
                            "--link", os.path.join(folder, "gps%d"), "--expect", image,
                            "--time-limit", "600", "--power-on-baud", "4800"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for("the receivers", 10, lambda: all(
        os.path.exists(os.path.join(folder, f"gps{k}")) for k in range(args.receivers)))
    port = free_port()
    report = os.path.join(folder, "summary.json")
    station = subprocess.Popen(
        [os.path.join(args.bin, "gpsfwstation"), "-i", image, "--plain", "--log-dir",
         os.path.join(folder, "logs"), "--report", report, "--http", f"127.0.0.1:{port}",
         "--http-token", TOKEN, "--ports", os.path.join(folder, "gps*")],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def answers():
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            return False

    wait_for("the station's dashboard", 10, answers)
    outcome = load(port, station.pid) if load else None
    station.wait(timeout=600)
    sim.terminate()
    sim.wait()
    with open(report) as f:
        summary = json.load(f)
    durations = [p["duration"] for p in summary["ports"]]
    totals = dict(summary["totals"], station_cpu_s=round(summary["cpu_seconds"], 2),
                  each_s=[round(d, 1) for d in durations])
    return statistics.mean(durations), totals, outcome


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", default="build/bin")
    parser.add_argument("--receivers", type=int, default=4)
    parser.add_argument("--flooders", type=int, default=16)
    parser.add_argument("--flood-mb", type=int, default=100)
    parser.add_argument("--excess", type=int, default=32)
    parser.add_argument("--flood-after", type=float, default=8.0,
                        help="seconds after the station started (default 8: programming)")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="gpsfw-dashboard-bench-")
    try:
        image = make_image(args.bin, work)
        peaks = {}
        cost = {}

        def watched(load):
            def with_peak(port, pid):
                outcome = load(port)
                peaks[load.__name__] = peak_rss_kib(pid)
                return outcome
            return with_peak

        def header_flood(port):
            # Into the programming phase: a receiver's first wake-up is timed to the
            # millisecond, and a flooder that takes the CPU just then costs that unit a second
            # wake-up (some 17 s), which is the flooder's cost, not the station's.
            time.sleep(args.flood_after)
            before = os.times()
            started = time.monotonic()
            result = []
            threads = [threading.Thread(target=flood_one, args=(port, args.flood_mb, result))
                       for _ in range(args.flooders)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            after = os.times()
            cost["flood_s"] = time.monotonic() - started
            cost["flooders_cpu_s"] = (after.user - before.user) + (after.system - before.system)
            return result

        def crowded(port):
            return crowd(port, args.excess)

        alone, totals, _ = run(args, image, work, "alone", None)
        print(f"alone: mean update {alone:.2f} s, {totals}")
        flooded, totals, floods = run(args, image, work, "flood", watched(header_flood))
        print(f"flood: mean update {flooded:.2f} s ({flooded / alone:.3f} x alone), {totals}")
        print(f"  station's peak resident memory {peaks['header_flood'] / 1024:.1f} MiB")
        print(f"  the flood lasted {cost['flood_s']:.1f} s; the flooders themselves used "
              f"{cost['flooders_cpu_s']:.1f} s of CPU on this machine")
        slowest = max(seconds for seconds, _, _ in floods)
        print(f"  {args.flooders} flooders sent {args.flood_mb} MiB each over {len(floods)} "
              f"connections: {sorted({status for _, _, status in floods})}, "
              f"slowest refusal {slowest:.3f} s")
        crowded_mean, totals, (waits, late) = run(args, image, work, "crowd",
                                                  watched(crowded))
        print(f"crowd: mean update {crowded_mean:.2f} s ({crowded_mean / alone:.3f} x alone), "
              f"{totals}")
        print(f"  station's peak resident memory {peaks['crowded'] / 1024:.1f} MiB")
        slowest = max(w for w, _ in waits)
        kinds = sorted({s for _, s in waits})
        print(f"  {len(waits)} beyond the bound: slowest refusal {slowest:.3f} s ({kinds})")
        print(f"  the next client served after a stream went: "
              f"{'never' if late is None else f'{late:.3f} s'}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
