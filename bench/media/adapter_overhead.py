#!/usr/bin/env python3
"""Time of the encoder adapter against Debian's ffmpeg run directly with the same modern options.

For each clip it times a probe ("-i CLIP") and a conversion to an intermediate (the engine's
"-i CLIP -sameq -f mpeg -y OUT" command): through the adapter, and by running /usr/bin/ffmpeg
with exactly the arguments the adapter chose (read from its trace). Runs alternate between the
two so that load on the machine hits both alike; the best (lowest) time of each is reported,
since other work on the machine only ever adds time.

Usage: bench/media/adapter_overhead.py [--adapter BUILD/program/ffmpeg] [--runs 9] [--samples DIR]
"""
import argparse
import os
import resource
import shlex
import statistics
import subprocess
import sys
import tempfile
import time

REAL = "/usr/bin/ffmpeg"


def cpu_of_children():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def timed(cmd, env=None):
    """Wall time and CPU time (the adapter and the ffmpeg it waits for, or ffmpeg alone)."""
    cpu = cpu_of_children()
    start = time.perf_counter()
    # Output goes through a pipe, as when the engine runs the encoder.
    subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
    return time.perf_counter() - start, cpu_of_children() - cpu


def make_clips(folder):
    recipes = {
        "short-flv1-mp3.flv": "-f lavfi -i testsrc=s=160x120:r=25:d=3 -f lavfi -i sine=r=44100:d=3 -c:v flv -c:a libmp3lame",
        "medium-h264-aac.mp4": "-f lavfi -i testsrc=s=320x240:r=30000/1001:d=10 -f lavfi -i sine=r=48000:d=10 "
                               "-c:v libx264 -pix_fmt yuv420p -c:a aac",
        "long-h264-aac.mp4": "-f lavfi -i testsrc=s=640x360:r=25:d=30 -f lavfi -i sine=r=44100:d=30 "
                             "-c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac",
        "silent-mpeg4-15fps.avi": "-f lavfi -i testsrc=s=160x120:r=15:d=5 -c:v mpeg4",
    }
    clips = []
    for name, recipe in recipes.items():
        path = os.path.join(folder, name)
        subprocess.run([REAL, "-hide_banner", "-nostdin", "-y", "-loglevel", "error"] + shlex.split(recipe) + [path],
                       check=True)
        clips.append(path)
    return clips


def direct_args(adapter, args, env):
    """The real encoder's arguments for the adapter's last (successful) attempt, and the
    adapter's own processor time in that run (without the encoder's)."""
    trace_env = dict(env, QUILMER_ADAPTER_TRACE="1")
    proc = subprocess.run([adapter] + args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=trace_env, text=True)
    lines = [l for l in proc.stderr.splitlines() if l.startswith("adapter runs: ")]
    own = [float(l.split(":")[1]) for l in proc.stderr.splitlines() if l.startswith("adapter cpu ms: ")]
    return shlex.split(lines[-1][len("adapter runs: "):]), len(lines), own[0] if own else float("nan")


def compare(label, adapter, args, runs, env):
    direct, attempts, own_ms = direct_args(adapter, args, env)
    times = {"a": [], "d": []}
    cpus = {"a": [], "d": []}
    for i in range(runs):
        order = [("a", [adapter] + args), ("d", direct)]
        if i % 2:
            order.reverse()
        for kind, cmd in order:
            t, c = timed(cmd, env)
            times[kind].append(t)
            cpus[kind].append(c)
    a, d = min(times["a"]), min(times["d"])
    ca, cd = min(cpus["a"]), min(cpus["d"])
    note = f"   adapter itself {own_ms:4.1f} ms cpu" + ("" if attempts == 1 else f" ({attempts} real runs)")
    print(f"{label:<40} wall {a * 1000:7.0f} / {d * 1000:7.0f} ms {100 * (a - d) / d:+6.1f} %   "
          f"cpu {ca * 1000:7.0f} / {cd * 1000:7.0f} ms {100 * (ca - cd) / cd:+6.1f} %{note}")
    return a, d, ca, cd


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--adapter", default=os.path.join(here, "..", "..", "build", "program", "ffmpeg"))
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--samples", default=os.path.join(here, "..", "..", "..", "shared", "media-samples"))
    opts = parser.parse_args()
    adapter = os.path.abspath(opts.adapter)
    if not os.access(adapter, os.X_OK):
        sys.exit(f"no adapter at {adapter}; build the project first or pass --adapter")
    env = dict(os.environ)
    with tempfile.TemporaryDirectory(prefix="quilmer-bench-") as folder:
        clips = make_clips(folder)
        for name in ("flv-vp6f-mp3-grampa.flv", "mov-apple-h264-aac.mov"):
            sample = os.path.join(opts.samples, name)
            if os.path.exists(sample):
                clips.append(sample)
        print("best of %d runs each; adapter / direct, overhead in percent" % opts.runs)
        # The adapter's own cost, free of the encoder's noise: the adapter around an encoder that
        # does nothing (/bin/true), against that encoder run directly.
        quiet = dict(env, QUILMER_REAL_FFMPEG="/bin/true")
        around = [timed([adapter, "-i", clips[0]], quiet) for _ in range(60)]
        bare = [timed(["/bin/true"], env) for _ in range(60)]
        fixed_wall = statistics.median(t for t, _ in around) - statistics.median(t for t, _ in bare)
        fixed_cpu = statistics.median(c for _, c in around) - statistics.median(c for _, c in bare)
        print(f"adapter's own cost per run (median of 60): wall {fixed_wall * 1000:.1f} ms, cpu {fixed_cpu * 1000:.1f} ms")
        totals = [0.0] * 4
        for clip in clips:
            name = os.path.basename(clip)
            # As in a join, the probe comes first; the adapter remembers what it found.
            compare(f"probe   {name}", adapter, ["-i", clip], opts.runs, env)
            out = os.path.join(folder, "out.qjv")
            result = compare(f"convert {name}", adapter, ["-i", clip, "-sameq", "-f", "mpeg", "-y", out], opts.runs, env)
            totals = [t + r for t, r in zip(totals, result)]
        a, d, ca, cd = totals
        print(f"{'all conversions':<40} wall {a * 1000:7.0f} / {d * 1000:7.0f} ms {100 * (a - d) / d:+6.1f} %   "
              f"cpu {ca * 1000:7.0f} / {cd * 1000:7.0f} ms {100 * (ca - cd) / cd:+6.1f} %")


if __name__ == "__main__":
    main()
