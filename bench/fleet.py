#!/usr/bin/env python3
"""Scale benchmark: many live channels in one qrmhost process (`qrmhost fleet`) over loopback.

Senders: vantrel-camsim processes with pre-encoded pictures, each stream paced at its rate (two
channels per simulator: stream 0 and stream 1 of VX-S10). After a warm-up, over a measured
window, it reports:
  - delivery: pictures the fleet received / pictures the channels' rate promises in the window
    (the simulators do not burst to catch up, so a client that falls behind shows here);
  - client CPU per picture (qrmhost's user + system time) against the single-stream figure of
    bench/live_vs_peers.py's qrmhost round on pictures of the same size, measured in this run;
  - RSS and threads of the qrmhost process, per channel.
With --scan it raises the channel count by --step until delivery drops below 99.9 %.

Usage: bench/fleet.py [--build DIR] [--channels N] [--fps F] [--picture WxH] [--quality Q]
                      [--warmup S] [--seconds S] [--scan] [--step N] [--max N] [--json]
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import live_vs_peers  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
DELIVERY_GOAL = 0.999


def process_cpu(pid):
    """User + system seconds of a running process."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def process_status(pid):
    with open(f"/proc/{pid}/status") as status:
        fields = dict(line.split(":", 1) for line in status if ":" in line)
    return int(fields["VmRSS"].split()[0]), int(fields["Threads"])


class Fleet:
    """One qrmhost fleet run; a reader thread keeps the latest health line of every channel."""

    def __init__(self, build, config_path, seconds):
        self.process = subprocess.Popen(
            [os.path.join(build, "bin", "qrmhost"), "--log-level", "3", "fleet", "--config", config_path,
             "--seconds", str(seconds), "--health-every", "1"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.lock = threading.Lock()
        self.latest = {}
        self.summaries = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            item = json.loads(line)
            with self.lock:
                if item["kind"] == "health":
                    self.latest[(item["camera"], item["stream"])] = item
                elif item["kind"] == "summary":
                    self.summaries.append(item)

    def frames(self):
        with self.lock:
            return sum(item["frames"] for item in self.latest.values()), len(self.latest)

    def failures(self):
        with self.lock:
            return sum(item["failures"] + item["dropped_parts"] for item in self.latest.values())

    def wait(self):
        self.process.wait(timeout=120)


def start_senders(build, channels, picture, quality):
    senders = []
    for _ in range((channels + 1) // 2):
        senders.append(live_vs_peers.start_camsim(build, picture, quality, "--pre-encoded"))
    return senders


def fleet_config(senders, channels, fps):
    config = []
    for index, (_, port) in enumerate(senders):
        streams = [0, 1] if 2 * index + 1 < channels else [0]
        config.append({"camera": f"http://127.0.0.1:{port}/", "model": "VX-S10",
                       "live": [{"channel": 0, "stream": s, "settings": {"fps": fps}} for s in streams]})
    return config


def measure_fleet(args, channels):
    senders = start_senders(args.build, channels, args.picture, args.quality)
    try:
        with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as config:
            json.dump(fleet_config(senders, channels, args.fps), config)
        fleet = Fleet(args.build, config.name, args.warmup + args.seconds + 2)
        time.sleep(args.warmup)
        frames_before, seen = fleet.frames()
        cpu_before, started = process_cpu(fleet.process.pid), time.monotonic()
        time.sleep(args.seconds)
        frames_after, seen = fleet.frames()
        cpu_after, ended = process_cpu(fleet.process.pid), time.monotonic()
        rss_kib, threads = process_status(fleet.process.pid)
        failures = fleet.failures()
        fleet.wait()
        os.unlink(config.name)
    finally:
        for process, _ in senders:
            process.send_signal(signal.SIGTERM)
        for process, _ in senders:
            process.wait(timeout=30)
    window = ended - started
    delivered = frames_after - frames_before
    promised = channels * args.fps * window
    return {"channels": channels, "channels_seen": seen, "window_s": round(window, 2), "delivered": delivered,
            "promised": round(promised), "delivery": delivered / promised if promised else 0.0,
            "cpu_s": round(cpu_after - cpu_before, 3),
            "cpu_ms_per_picture": 1000 * (cpu_after - cpu_before) / delivered if delivered else float("inf"),
            "failures_and_drops": failures, "rss_mib": round(rss_kib / 1024, 1),
            "rss_kib_per_channel": round(rss_kib / channels), "threads": threads,
            "threads_per_channel": round(threads / channels, 2)}


def single_stream(args):
    """CPU per picture of one unthrottled stream of the same pictures (live_vs_peers' qrmhost round).

    The fleet is measured over a window after its start; so is this figure: the CPU of a short
    and of a long round differ by the cost of the pictures between them, without the start-up
    (loading the module, reading the repository, connecting). Best of three rounds each."""
    camsim, port = live_vs_peers.start_camsim(args.build, args.picture, args.quality)
    try:
        short = min((live_vs_peers.qrmhost_round(args.build, port, 1000) for _ in range(3)), key=lambda r: r["cpu"])
        long = min((live_vs_peers.qrmhost_round(args.build, port, 6000) for _ in range(3)), key=lambda r: r["cpu"])
    finally:
        camsim.send_signal(signal.SIGTERM)
        camsim.wait(timeout=30)
    pictures = long["pictures"] - short["pictures"]
    return {"pictures": pictures, "cpu_ms_per_picture": 1000 * (long["cpu"] - short["cpu"]) / pictures,
            "picture_bytes": (long["bytes"] - short["bytes"]) / pictures}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--channels", type=int, default=100)
    parser.add_argument("--fps", type=int, default=25)
    parser.add_argument("--picture", default="1920x1080")
    parser.add_argument("--quality", type=int, default=40, help="JPEG quality (40: about 200 KB at 1080p)")
    parser.add_argument("--warmup", type=float, default=8)
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--scan", action="store_true")
    parser.add_argument("--step", type=int, default=20)
    parser.add_argument("--max", type=int, default=400)
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    if args.channels < 1 or args.fps < 1 or args.seconds <= 0 or args.warmup < 0:
        parser.error("--channels, --fps and --seconds must be positive")

    single = single_stream(args)
    runs = [measure_fleet(args, args.channels)]
    while args.scan and runs[-1]["delivery"] >= DELIVERY_GOAL and runs[-1]["channels"] + args.step <= args.max:
        runs.append(measure_fleet(args, runs[-1]["channels"] + args.step))
    for run in runs:
        run["cpu_vs_single_stream"] = run["cpu_ms_per_picture"] / single["cpu_ms_per_picture"]
    if args.json:
        print(json.dumps({"single_stream": single, "fleet": runs}, indent=1))
        return
    print(f"single stream: {single['picture_bytes'] / 1000:.0f} KB pictures, "
          f"{single['cpu_ms_per_picture']:.3f} ms CPU per picture")
    print(f"{'channels':>8} {'delivery':>9} {'ms CPU/pic':>10} {'vs single':>9} {'RSS MiB':>8} "
          f"{'KiB/ch':>7} {'threads':>7} {'fail+drop':>9}")
    for run in runs:
        print(f"{run['channels']:8} {100 * run['delivery']:8.2f}% {run['cpu_ms_per_picture']:10.3f} "
              f"{run['cpu_vs_single_stream']:9.2f} {run['rss_mib']:8.1f} {run['rss_kib_per_channel']:7} "
              f"{run['threads']:7} {run['failures_and_drops']:9}")
    print(f"goals: delivery >= {100 * DELIVERY_GOAL:.1f} %, CPU per picture <= 1.2 x the single stream")


if __name__ == "__main__":
    main()
