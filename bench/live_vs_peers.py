#!/usr/bin/env python3
"""End-to-end live-video benchmark: qrmhost with the module against two peers on the same stream.

The simulator pushes pre-encoded 1080p pictures (about 600 KB each) as fast as a client reads,
over loopback. Three clients read the same stream, one after another:
  - qrmhost live   (the module: multipart cutting, picture checks, host buffers, frame lines)
  - curl           (the floor: only reading the bytes)
  - ffmpeg mpjpeg  (what an integrator would otherwise use: demuxing the parts, -c copy)
For each it reports pictures per second and CPU seconds (user + system) per 1000 pictures of the
client process, and the ratios of qrmhost's CPU to each peer's.

Usage: bench/live_vs_peers.py [--build DIR] [--pictures N] [--rounds R] [--json]
"""
import argparse
import json
import os
import resource
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def start_camsim(build, picture="1920x1080", quality=95, pacing="--unthrottled"):
    """A simulator with pre-encoded pictures; `pacing` "--unthrottled" (as fast as the client
    reads) or "--pre-encoded" (each stream at its rate). Returns (process, port)."""
    camsim = subprocess.Popen(
        [os.path.join(build, "bin", "vantrel-camsim"), "--port", "0", pacing, "--picture", picture,
         "--quality", str(quality)],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = camsim.stdout.readline()
    port = json.loads(line)["http_port"]
    return camsim, port


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def measure(command, timeout):
    """Runs `command`; returns (wall seconds, CPU seconds of the child, its stdout).

    The child is reaped before the second look at RUSAGE_CHILDREN, so the difference is its own
    user and system time (the simulator is not our child's child and does not count)."""
    before = children_cpu()
    started = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        out, _ = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        out, _ = process.communicate()
    wall = time.monotonic() - started
    return wall, children_cpu() - before, out.decode(errors="replace")


def qrmhost_round(build, port, pictures):
    command = [os.path.join(build, "bin", "qrmhost"), "--log-level", "3", "--camera", f"http://127.0.0.1:{port}/",
               "--model", "VX-S10", "live", "--channel", "0", "--stream", "1", "--frames", str(pictures)]
    wall, cpu, out = measure(command, 600)
    summary = json.loads(out.strip().splitlines()[-1])
    if summary.get("kind") != "summary":
        raise RuntimeError("qrmhost ended without a summary")
    return {"pictures": summary["frames"], "bytes": summary["bytes"], "wall": wall, "cpu": cpu}


def curl_round(port, seconds, picture_bytes):
    command = ["curl", "-s", "-o", "/dev/null", "--max-time", str(seconds), "-w", "%{size_download}",
               f"http://127.0.0.1:{port}/control/faststream.jpg?stream=full&fps=0"]
    wall, cpu, out = measure(command, seconds + 30)
    downloaded = float(out.strip() or 0)
    return {"pictures": downloaded / picture_bytes, "bytes": downloaded, "wall": wall, "cpu": cpu}


def ffmpeg_round(port, pictures):
    command = ["ffmpeg", "-nostdin", "-loglevel", "error", "-f", "mpjpeg", "-i",
               f"http://127.0.0.1:{port}/control/faststream.jpg?stream=full&fps=0", "-c", "copy",
               "-frames:v", str(pictures), "-f", "null", "-"]
    wall, cpu, _ = measure(command, 600)
    return {"pictures": pictures, "wall": wall, "cpu": cpu}


def per_thousand(result):
    return 1000.0 * result["cpu"] / result["pictures"] if result["pictures"] else float("inf")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"), help="build folder (default: build)")
    parser.add_argument("--pictures", type=int, default=1500, help="pictures per client and round")
    parser.add_argument("--rounds", type=int, default=3, help="rounds; the best of each client counts")
    parser.add_argument("--json", action="store_true", help="print one JSON object instead of a table")
    args = parser.parse_args()
    for tool in ("curl", "ffmpeg"):
        if not shutil.which(tool):
            sys.exit(f"live_vs_peers: {tool} is missing (scripts/bootstrap installs it)")

    camsim, port = start_camsim(args.build)
    try:
        best = {}
        for round_number in range(args.rounds):
            print(f"round {round_number + 1}/{args.rounds}", file=sys.stderr)
            module = qrmhost_round(args.build, port, args.pictures)
            picture_bytes = module["bytes"] / module["pictures"]
            seconds = max(2, int(module["wall"] + 0.5))
            results = {"qrmhost": module, "curl": curl_round(port, seconds, picture_bytes),
                       "ffmpeg": ffmpeg_round(port, args.pictures)}
            for name, result in results.items():
                result["cpu_per_1000"] = per_thousand(result)
                result["pictures_per_second"] = result["pictures"] / result["wall"]
                if name not in best or result["cpu_per_1000"] < best[name]["cpu_per_1000"]:
                    best[name] = result
    finally:
        camsim.send_signal(signal.SIGTERM)
        camsim.wait(timeout=10)

    ratios = {"qrmhost_vs_curl": best["qrmhost"]["cpu_per_1000"] / best["curl"]["cpu_per_1000"],
              "qrmhost_vs_ffmpeg": best["qrmhost"]["cpu_per_1000"] / best["ffmpeg"]["cpu_per_1000"]}
    if args.json:
        print(json.dumps({"clients": best, "ratios": ratios}, indent=1))
        return
    print(f"{'client':10} {'pictures/s':>11} {'CPU s/1000 pictures':>20}")
    for name, result in best.items():
        print(f"{name:10} {result['pictures_per_second']:11.1f} {result['cpu_per_1000']:20.3f}")
    print(f"CPU per picture: qrmhost/curl = {ratios['qrmhost_vs_curl']:.2f} (goal <= 1.5), "
          f"qrmhost/ffmpeg = {ratios['qrmhost_vs_ffmpeg']:.2f} (goal <= 0.33)")


if __name__ == "__main__":
    main()
