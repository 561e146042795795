#!/usr/bin/env python3
"""Runs one quilmer-join on a terminal, timestamps every redraw of its progress line and scores the
time-left estimates it showed against the time that really remained.

Usage: timeleft.py PROGRAM_FOLDER METHOD SET_NAME OUTPUT CLIP...
Prints one table row: method, set, format, wall time, when the first estimate came, how many
estimates were scored, their median and worst error. With TIMELEFT_STAGES=1 it also prints how
long each stage of the join took (the figures the estimator's priors come from).
"""
import os
import pty
import re
import select
import statistics
import subprocess
import sys
import time

# With TIMELEFT_RECORD=DIR every encoder run goes through a wrapper that timestamps its start, its
# progress (one-pass joins report positions on stdout) and its end, and
# DIR/<method>-<set>-<format>.trace keeps the clips, those times and the wall time, for
# timeleft_replay to replay on a manual clock.
WRAPPER = """#!/usr/bin/env python3
import os, re, subprocess, sys, threading, time
log = open(os.environ["TIMELEFT_LOG"], "a")
lock = threading.Lock()
def note(text):
    with lock:
        log.write(text)
        log.flush()
note("run %.3f\\n" % time.monotonic())
proc = subprocess.Popen(["/usr/bin/ffmpeg"] + sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
def stats():
    # A classic join's encodes report on stderr ("time=00:01:02.50"), redrawn with a carriage return.
    for chunk in iter(lambda: os.read(proc.stderr.fileno(), 4096), b""):
        sys.stderr.buffer.write(chunk)
        sys.stderr.flush()
        for m in re.finditer(rb"time=(\\d+):(\\d\\d):(\\d\\d(?:\\.\\d+)?)", chunk):
            us = int((int(m.group(1)) * 3600 + int(m.group(2)) * 60 + float(m.group(3))) * 1e6)
            note("done %.3f %d\\n" % (time.monotonic(), us))
reader = threading.Thread(target=stats)
reader.start()
for line in proc.stdout:
    sys.stdout.buffer.write(line)
    sys.stdout.flush()
    if line.startswith(b"out_time_us="):
        note("done %.3f %s\\n" % (time.monotonic(), line.split(b"=")[1].decode().strip()))
code = proc.wait()
reader.join()
note("exit %.3f\\n" % time.monotonic())
sys.exit(code)
"""


def probe(clip):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "stream=codec_name,width,height,avg_frame_rate:format=duration", "-of",
                          "default=nw=1", clip], capture_output=True, text=True).stdout
    f = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    num, _, den = f.get("avg_frame_rate", "0/1").partition("/")
    fps = float(num) / float(den or 1) if float(den or 1) else 0
    return "clip %s %s %s %s %.3f" % (f.get("duration", "0"), f.get("codec_name", "none"),
                                      f.get("width", "0"), f.get("height", "0"), fps)

LEFT = re.compile(r"about (\d+):(\d\d)(?::(\d\d))? left")
STAGE = re.compile(r"\d+%\s+(.*?)\s+\d+:\d\d(?::\d\d)? elapsed")
FLOOR = 2.0     # seconds: the line is redrawn once a second and shows whole seconds
AFTER = 0.10    # only estimates given after this share of the join's wall time count
SAMPLE = 0.5    # seconds between two looks at the screen


def seconds_of(match):
    a, b, c = match.group(1), match.group(2), match.group(3)
    return int(a) * 3600 + int(b) * 60 + int(c) if c else int(a) * 60 + int(b)


def run(program, method, output, clips, env=None):
    master, slave = pty.openpty()
    start = time.monotonic()
    proc = subprocess.Popen([os.path.join(program, "quilmer-join"), "--method", method, "-o", output] + clips,
                            stdout=subprocess.DEVNULL, stderr=slave, stdin=subprocess.DEVNULL, env=env)
    os.close(slave)
    # The joiner redraws its line as "\r<text>": a text is complete only when the next "\r" comes,
    # but it was drawn when its own bytes came, which is the time it is held to.
    lines, pending, pending_at = [], b"", 0.0
    while True:
        ready, _, _ = select.select([master], [], [], 0.5)
        if not ready:
            if proc.poll() is not None:
                break
            continue
        try:
            data = os.read(master, 4096)
        except OSError:
            break
        if not data:
            break
        now = time.monotonic() - start
        if not pending:
            pending_at = now
        pending += data
        parts = re.split(rb"[\r\n]", pending)
        pending = parts.pop()
        for i, part in enumerate(parts):
            if part.strip():
                lines.append((pending_at if i == 0 else now, part.decode("utf-8", "replace")))
        pending_at = now
    if pending.strip():
        lines.append((pending_at, pending.decode("utf-8", "replace")))
    code = proc.wait()
    end = time.monotonic() - start
    os.close(master)
    return code, end, lines, start


def main():
    program, method, set_name, output = sys.argv[1:5]
    clips = sys.argv[5:]
    fmt = output.rsplit(".", 1)[-1]
    record, env, log = os.environ.get("TIMELEFT_RECORD"), None, None
    record = os.path.abspath(record) if record else None  # the joiner runs the wrapper from elsewhere
    if record:
        os.makedirs(record, exist_ok=True)
        wrapper = os.path.join(record, "ffmpeg-wrapper.py")
        with open(wrapper, "w") as f:
            f.write(WRAPPER)
        os.chmod(wrapper, 0o755)
        log = os.path.join(record, "progress.log")
        open(log, "w").close()
        env = dict(os.environ, QUILMER_REAL_FFMPEG=wrapper, TIMELEFT_LOG=log)
    code, wall, lines, start = run(program, method, output, clips, env)
    if record and code == 0:
        with open(os.path.join(record, f"{method}-{set_name}-{fmt}.trace"), "w") as f:
            f.write(f"format {fmt}\nwall {wall:.3f}\n")
            for clip in clips:
                f.write(probe(clip) + "\n")
            for entry in open(log).read().split("\n"):
                parts = entry.split()
                if parts:
                    parts[1] = "%.3f" % (float(parts[1]) - start)
                    f.write(" ".join(parts) + "\n")
    if code != 0:
        tail = [text for _, text in lines[-3:]]
        print(f"{method:8} {set_name:6} {fmt:5} FAILED (exit {code}): {' | '.join(tail)}")
        return
    errors, first = [], None
    stages, last_stage = [], None
    shown = []  # (time, seconds left or None) for every redraw
    for t, text in lines:
        stage = STAGE.search(text)
        if stage and stage.group(1) != last_stage:
            last_stage = stage.group(1)
            stages.append((t, last_stage))
        m = LEFT.search(text)
        if m and first is None:
            first = t
        if STAGE.search(text) or m:
            shown.append((t, seconds_of(m) if m else None))
    # What the screen showed every SAMPLE seconds from 10 % of the wall time on, so that moments
    # with many redraws (the bar moving fast) weigh no more than others. Each figure is held to the
    # time that remained when it was drawn: the line stands for a second between two redraws.
    t, i, current, drawn = AFTER * wall, 0, None, 0.0
    while t < wall:
        while i < len(shown) and shown[i][0] <= t:
            drawn, current = shown[i]
            i += 1
        if current is not None:
            actual = wall - drawn
            errors.append(abs(current - actual) / max(actual, FLOOR))
        if os.environ.get("TIMELEFT_TRACE"):
            print(f"    {t:6.1f} s  shown {current}  really {wall - drawn:.1f}")
        t += SAMPLE
    if errors:
        med, worst = statistics.median(errors) * 100, max(errors) * 100
        first_pct = 100 * first / wall
        print(f"{method:8} {set_name:6} {fmt:5} {wall:7.1f} {first_pct:6.0f}% {len(errors):5d} {med:7.0f}% {worst:7.0f}%")
    else:
        print(f"{method:8} {set_name:6} {fmt:5} {wall:7.1f}       -     0       -        -")
    if os.environ.get("TIMELEFT_STAGES"):
        # Stage boundaries; "converting clip k" stages are summed.
        spans = {}
        for (t, name), nxt in zip(stages, stages[1:] + [(wall, "end")]):
            key = re.sub(r"clip \d+ of \d+", "clips", name)
            spans[key] = spans.get(key, 0.0) + nxt[0] - t
        head = stages[0][0] if stages else wall
        print("    stages: start %.1f s, " % head + ", ".join(f"{k} {v:.1f} s" for k, v in spans.items()))


if __name__ == "__main__":
    main()
