#!/usr/bin/env python3
"""Viewer benchmark of `qrmhost serve`: live channels shown to 0 to N viewers each over loopback.

Senders: vantrel-camsim processes with pre-encoded pictures, each stream paced at its rate (two
channels per simulator). For each viewer count V, one serve run: V-1 fast viewers per channel
(curl, reading as fast as they can) and one slow viewer on the first channel that reads one
picture a second. Over a measured window after a warm-up it reports:
  - qrmhost's CPU per received picture with no viewer (the floor), and the CPU each viewer
    picture adds: (CPU with viewers - CPU without) / pictures written to viewers; goal: at most a
    quarter of the CPU per received picture (a picture is shared by its viewers, never copied);
  - the fast viewers' share of the pictures: 1 - (pictures dropped for viewers, from the
    server's own count, less the slow viewer's) / (pictures received x fast viewers); goal 99.9 %.

Usage: bench/serve.py [--build DIR] [--channels N] [--viewers V,V,...] [--fps F] [--picture WxH]
                      [--quality Q] [--warmup S] [--seconds S] [--json]
"""
import argparse
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fleet  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FAST_GOAL = 0.999
CPU_GOAL = 0.25


def metric_sums(url):
    """Sum over the channels of each vantrel_* sample of /metrics."""
    sums = {}
    for line in urllib.request.urlopen(url + "metrics").read().decode().splitlines():
        match = re.match(r"(vantrel_\w+)\{[^}]*\} (\S+)$", line)
        if match:
            sums[match.group(1)] = sums.get(match.group(1), 0.0) + float(match.group(2))
    return sums


class SlowViewer(threading.Thread):
    """Reads one picture a second from a live stream, counting them."""

    def __init__(self, url):
        super().__init__(daemon=True)
        self.url, self.pictures, self.stop = url, 0, threading.Event()

    def run(self):
        host, port = re.match(r"http://([^:/]+):(\d+)", self.url).groups()
        path = self.url[self.url.index("/", len("http://")):]
        with socket.create_connection((host, int(port))) as connection:
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
            connection.sendall(f"GET {path} HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())
            stream = connection.makefile("rb")
            while stream.readline() not in (b"\r\n", b""):
                pass  # the answer's head
            while not self.stop.is_set():
                length = 0
                for line in iter(stream.readline, b"\r\n"):
                    if line.lower().startswith(b"content-length:"):
                        length = int(line.split(b":")[1])
                stream.read(length + 2)
                self.pictures += 1
                self.stop.wait(1.0)


def run_serve(args, senders, viewers):
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as config:
        json.dump(fleet.fleet_config(senders, args.channels, args.fps), config)
    serve = subprocess.Popen(
        [os.path.join(args.build, "bin", "qrmhost"), "--log-level", "3", "serve", "--config", config.name,
         "--listen", "127.0.0.1:0", "--health-every", "1"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    url = json.loads(serve.stdout.readline())["url"]
    threading.Thread(target=lambda: [None for _ in serve.stdout], daemon=True).start()
    ids = [channel["id"] for channel in json.load(urllib.request.urlopen(url + "api/channels"))]
    curls, slow = [], None
    try:
        if viewers > 0:
            slow = SlowViewer(url + f"api/channels/{ids[0]}/live.mjpeg")
            slow.start()
            for channel in ids:
                for _ in range(viewers - (1 if channel == ids[0] else 0)):
                    curls.append(subprocess.Popen(["curl", "-s", "-N", "-o", "/dev/null",
                                                   url + f"api/channels/{channel}/live.mjpeg"]))
        time.sleep(args.warmup)
        before, cpu_before, slow_before = metric_sums(url), fleet.process_cpu(serve.pid), slow.pictures if slow else 0
        started = time.monotonic()
        time.sleep(args.seconds)
        after, cpu_after, slow_after = metric_sums(url), fleet.process_cpu(serve.pid), slow.pictures if slow else 0
        window = time.monotonic() - started
    finally:
        for curl in curls:
            curl.terminate()
        if slow:
            slow.stop.set()
        serve.send_signal(signal.SIGINT)
        serve.wait(timeout=60)
        os.unlink(config.name)
    received = after["vantrel_frames_total"] - before["vantrel_frames_total"]
    dropped = after["vantrel_viewer_dropped_pictures_total"] - before["vantrel_viewer_dropped_pictures_total"]
    received_first = received / len(ids)  # the slow viewer's channel, as the others
    slow_dropped = max(0.0, received_first - (slow_after - slow_before)) if viewers > 0 else 0.0
    fast = len(curls)
    fast_dropped = max(0.0, dropped - slow_dropped)
    written = received * fast - fast_dropped + (slow_after - slow_before)
    return {"viewers_per_channel": viewers, "fast_viewers": fast, "window_s": round(window, 2),
            "received": int(received), "promised": round(len(ids) * args.fps * window),
            "cpu_s": round(cpu_after - cpu_before, 3), "viewer_pictures": int(written),
            "fast_share": 1 - fast_dropped / (received * fast) if fast else 1.0}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--channels", type=int, default=4)
    parser.add_argument("--viewers", default="1,4,16,32", help="viewers per channel, one run each")
    parser.add_argument("--fps", type=int, default=25)
    parser.add_argument("--picture", default="1920x1080")
    parser.add_argument("--quality", type=int, default=40, help="JPEG quality (40: about 200 KB at 1080p)")
    parser.add_argument("--warmup", type=float, default=5)
    parser.add_argument("--seconds", type=float, default=15)
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    counts = [int(v) for v in args.viewers.split(",")]
    if args.channels < 1 or args.fps < 1 or args.seconds <= 0 or min(counts) < 1 or max(counts) > 32:
        parser.error("--channels and --fps must be positive, viewers from 1 to 32")
    senders = fleet.start_senders(args.build, args.channels, args.picture, args.quality)
    try:
        floor = run_serve(args, senders, 0)
        runs = [run_serve(args, senders, v) for v in counts]
    finally:
        for process, _ in senders:
            process.send_signal(signal.SIGTERM)
        for process, _ in senders:
            process.wait(timeout=30)
    per_received = floor["cpu_s"] / floor["received"]
    for run in runs:
        run["cpu_vs_floor"] = (run["cpu_s"] / run["window_s"] * floor["window_s"] - floor["cpu_s"]) / max(
            1, run["viewer_pictures"]) / per_received
    if args.json:
        print(json.dumps({"floor": floor, "runs": runs}, indent=1))
        return
    print(f"no viewer: {floor['received']} pictures received ({floor['promised']} promised), "
          f"{1000 * per_received:.3f} ms CPU per received picture")
    print(f"{'viewers/ch':>10} {'received':>9} {'viewer pics':>11} {'added CPU/viewer pic':>21} {'fast share':>11}")
    for run in runs:
        print(f"{run['viewers_per_channel']:10} {run['received']:9} {run['viewer_pictures']:11} "
              f"{run['cpu_vs_floor']:20.3f}x {100 * run['fast_share']:10.2f}%")
    print(f"goals: added CPU per viewer picture <= {CPU_GOAL} x the CPU per received picture, "
          f"fast viewers >= {100 * FAST_GOAL:.1f} % of the pictures")


if __name__ == "__main__":
    main()
