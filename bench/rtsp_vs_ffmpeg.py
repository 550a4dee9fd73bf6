#!/usr/bin/env python3
"""H.264 over RTSP: CPU per frame of qrmhost live against ffmpeg on the same server and stream.

The simulator (VX-H30) serves a live 1080p H.264 stream at 25 frames per second over RTSP
(GStreamer's RTSP server, TCP interleaved). Two clients play it, one after another, in each round:
  - qrmhost live   (the module: RTSP client, depacketising, access units, host buffers, frame lines)
  - ffmpeg         (-rtsp_transport tcp -c copy -f null: demuxing only)
Both read the same number of frames; the stream is paced by the server, so the comparison is CPU
seconds (user + system of the client process) per 1000 frames. The goal: qrmhost <= 0.5 x ffmpeg.

Usage: bench/rtsp_vs_ffmpeg.py [--build DIR] [--frames N] [--rounds R] [--json]
"""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from live_vs_peers import ROOT, measure  # noqa: E402  (one way of measuring for every benchmark)


def start_camsim(build):
    camsim = subprocess.Popen(
        [os.path.join(build, "bin", "vantrel-camsim"), "--port", "0", "--model", "VX-H30", "--picture", "1920x1080"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    ports = json.loads(camsim.stdout.readline())
    return camsim, ports["http_port"], ports["rtsp_port"]


def qrmhost_round(build, http_port, rtsp_port, frames):
    command = [os.path.join(build, "bin", "qrmhost"), "--log-level", "3", "--camera",
               f"http://127.0.0.1:{http_port}/?rtsp_port={rtsp_port}", "--model", "VX-H30", "live", "--channel", "0",
               "--stream", "0", "--frames", str(frames)]
    wall, cpu, out = measure(command, 600)
    summary = json.loads(out.strip().splitlines()[-1])
    if summary.get("kind") != "summary":
        raise RuntimeError("qrmhost ended without a summary")
    return {"frames": summary["frames"], "wall": wall, "cpu": cpu}


def ffmpeg_round(rtsp_port, frames):
    command = ["ffmpeg", "-nostdin", "-loglevel", "error", "-rtsp_transport", "tcp", "-i",
               f"rtsp://127.0.0.1:{rtsp_port}/vantrel.h264", "-c", "copy", "-frames:v", str(frames), "-f", "null", "-"]
    wall, cpu, _ = measure(command, 600)
    return {"frames": frames, "wall": wall, "cpu": cpu}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"), help="build folder (default: build)")
    parser.add_argument("--frames", type=int, default=250, help="frames per client and round (25 per second)")
    parser.add_argument("--rounds", type=int, default=2, help="rounds; the best of each client counts")
    parser.add_argument("--json", action="store_true", help="print one JSON object instead of a table")
    args = parser.parse_args()
    if not shutil.which("ffmpeg"):
        sys.exit("rtsp_vs_ffmpeg: ffmpeg is missing (scripts/bootstrap installs it)")

    camsim, http_port, rtsp_port = start_camsim(args.build)
    try:
        best = {}
        for round_number in range(args.rounds):
            print(f"round {round_number + 1}/{args.rounds}", file=sys.stderr)
            results = {"qrmhost": qrmhost_round(args.build, http_port, rtsp_port, args.frames),
                       "ffmpeg": ffmpeg_round(rtsp_port, args.frames)}
            for name, result in results.items():
                result["cpu_per_1000"] = 1000.0 * result["cpu"] / max(1, result["frames"])
                if name not in best or result["cpu_per_1000"] < best[name]["cpu_per_1000"]:
                    best[name] = result
    finally:
        camsim.send_signal(signal.SIGTERM)
        camsim.wait(timeout=10)

    ratio = best["qrmhost"]["cpu_per_1000"] / best["ffmpeg"]["cpu_per_1000"]
    if args.json:
        print(json.dumps({"clients": best, "qrmhost_vs_ffmpeg": ratio}, indent=1))
        return
    print(f"{'client':10} {'frames':>7} {'CPU s/1000 frames':>18}")
    for name, result in best.items():
        print(f"{name:10} {result['frames']:7d} {result['cpu_per_1000']:18.3f}")
    print(f"CPU per frame: qrmhost/ffmpeg = {ratio:.2f} (goal <= 0.5)")


if __name__ == "__main__":
    main()
