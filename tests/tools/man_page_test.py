#!/usr/bin/env python3
"""A manual page and its program's --help name the same options.

Usage: man_page_test.py MANPAGE PROGRAM
Compares the long options (--name) both texts mention and the short-long pairs (-o, --output)
of the option lines; fails naming what one has and the other lacks."""

import re
import subprocess
import sys


def options(text):
    longs = set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", text))
    pairs = set(re.findall(r"(?m)^\s*(-[A-Za-z])\s*,\s+(--[a-z][a-z-]*)", text))
    return longs, pairs


def man_text(path):
    text = open(path, encoding="utf-8").read()
    text = re.sub(r"\\f[BIRP]", "", text).replace("\\-", "-")
    # ".BR -o ", " --output" and ".B --version" lines become "-o, --output" / "--version".
    lines = []
    for line in text.splitlines():
        m = re.match(r'^\.B[RI]?\s+(.*)$', line)
        if m:
            line = m.group(1).replace('", "', ", ").replace('"', "")
        lines.append(line)
    return "\n".join(lines)


def main(man, program):
    help_text = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=30)
    if help_text.returncode != 0:
        print(f"{program} --help exited with {help_text.returncode}", file=sys.stderr)
        return 1
    help_longs, help_pairs = options(help_text.stdout)
    man_longs, man_pairs = options(man_text(man))
    problems = []
    for what, mine, theirs in (("long options", help_longs, man_longs), ("option pairs", help_pairs, man_pairs)):
        if mine - theirs:
            problems.append(f"{man} lacks the {what} {sorted(mine - theirs)} of --help")
        if theirs - mine:
            problems.append(f"{man} has {what} {sorted(theirs - mine)} that --help does not")
    if not help_longs:
        problems.append(f"{program} --help names no option")
    for p in problems:
        print(p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
