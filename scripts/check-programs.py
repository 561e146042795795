#!/usr/bin/env python3
"""Checks that every outside program the project runs is on scripts/programs.list and that the
install script installs the package the list names for it.

Usage: scripts/check-programs.py [SOURCE_DIR]      (default: the folder above this script)
       scripts/check-programs.py --list-packages   the packages the list names, one a line
       scripts/check-programs.py --list-programs   the programs on the list with their packages

What is scanned, and how far it sees (a practical scan, not a parser):
- Shell (scripts/*.sh, .ci/run, bench/ and tests/ *.sh): the command word of every simple command,
  quotes, $( ), case patterns, functions and here-documents understood; the command after the
  wrappers env, exec, sudo, timeout, chroot and xvfb-run, and the name after `command -v`. Not
  seen: a command held in a variable ("$nginx_bin"), the body of a trap or of `bash -c '...'`.
- C++ (every .cpp/.h outside the build folders): the first word of each string handed to
  system(), popen(), Shell() or Capture() (directly, or through a variable assigned a literal in
  the same file), and of each command joined with | && || ; inside such a string; the first
  element of a brace-list argument vector ({"nginx", ...}); the name given to posix_spawnp() and
  HaveProgram(); every literal path "/usr/bin/X", "/bin/X", "/usr/sbin/X". Not seen: a program
  name built at run time from pieces.
- Python (every .py): the first element of a subprocess list and the first word of os.system().
- CMake: COMMAND words that are not ${...}, and find_program names.
Names the scan finds that are no outside program (the project's own programs, names only looked
for) are listed in programs.list as @notrun with the reason.
"""

import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP_DIRS = {".git", "node_modules"}
NAME = re.compile(r"^[A-Za-z0-9_][A-Za-z0-9_.+-]*$")

SHELL_WORDS = set(
    """if then else elif fi case esac for while until do done in function select time { } ! [[ ]]
    echo printf cd exit return set shift local export read source . true false trap eval exec wait
    kill test [ command type hash ulimit umask unset break continue declare readonly let getopts
    pushd popd alias mapfile : builtin compgen complete shopt""".split()
)


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


# ---------------------------------------------------------------------------------------------
# The list


def read_list(path):
    """{program: package}, base packages, {name: reason} of names that are not run."""
    programs, base, notrun = {}, set(), {}
    for number, raw in enumerate(read(path).splitlines(), 1):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        words = line.split()
        if words[0] == "@base":
            base.update(words[1:])
        elif words[0] == "@notrun":
            reason = raw.split("#", 1)[1].strip() if "#" in raw else ""
            if len(words) != 2 or not reason:
                sys.exit(f"{path}:{number}: @notrun NAME  # reason")
            notrun[words[1]] = reason
        elif len(words) >= 3:
            programs[words[0]] = words[1]
        else:
            sys.exit(f"{path}:{number}: expected PROGRAM PACKAGE WHO-RUNS-IT")
    return programs, base, notrun


def install_script_packages(path):
    """The words of the packages=( ... ) array of scripts/install-deps.sh."""
    text = read(path)
    match = re.search(r"^packages=\((.*?)^\)", text, re.S | re.M)
    if not match:
        sys.exit(f"{path}: no packages=( ... ) array")
    words = set()
    for line in match.group(1).splitlines():
        words.update(line.split("#", 1)[0].split())
    return words


# ---------------------------------------------------------------------------------------------
# Shell


class ShellScan:
    """Collects the command words of a shell script."""

    def __init__(self, text, functions):
        self.text = text
        self.functions = functions
        self.found = []  # (line, name)
        self.case_patterns = []  # one flag per open case: expecting a pattern

    def run(self):
        self.i = 0
        self.line = 1
        self.heredocs = []
        self.code(top=True)
        return self.found

    def peek(self, k=0):
        j = self.i + k
        return self.text[j] if j < len(self.text) else ""

    def advance(self):
        c = self.text[self.i]
        self.i += 1
        if c == "\n":
            self.line += 1
        return c

    def end_segment(self, words, boundary):
        expecting = self.case_patterns and self.case_patterns[-1]
        if expecting and boundary in (")", "|"):
            if boundary == ")":
                self.case_patterns[-1] = False
            return
        if not words:
            return
        if words[0][1] == "case":
            self.case_patterns.append(True)
            return
        if words[0][1] == "esac":
            if self.case_patterns:
                self.case_patterns.pop()
            return
        if words[0][1] in ("for", "select"):
            return
        self.command_of(words)

    def command_of(self, words):
        k = 0
        while k < len(words):
            line, w = words[k]
            if w == ">":
                k += 2  # a redirection and its target
                continue
            if re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", w):
                k += 1
                continue
            if w == "sudo":
                self.add(line, w)
            if w in ("exec", "sudo", "time", "!", "then", "do", "else", "elif", "if", "while", "until", "{"):
                k += 1
                continue
            if w == "env":
                k += 1
                while k < len(words) and (words[k][1].startswith("-") or "=" in words[k][1]):
                    k += 2 if words[k][1] == "-u" else 1
                continue
            if w == "command" and k + 1 < len(words) and words[k + 1][1] == "-v":
                rest = words[k + 2 :]
                for j, (line2, name) in enumerate(rest):
                    if name != ">" and (j == 0 or rest[j - 1][1] != ">"):
                        self.add(line2, name)
                return
            self.add(line, w)
            if w == "timeout":
                k += 1
                while k < len(words) and words[k][1].startswith("-"):
                    k += 2 if words[k][1] in ("-k", "-s", "--kill-after", "--signal") else 1
                k += 1  # the duration
                continue
            if w == "chroot":
                k += 2
                continue
            if w == "xvfb-run":
                k += 1
                while k < len(words) and words[k][1].startswith("-"):
                    k += 2 if words[k][1] in ("-s", "-n", "-e", "-f", "-p", "--server-args") else 1
                continue
            return

    def add(self, line, word):
        if "$" in word or "`" in word:
            return
        name = os.path.basename(word) if word.startswith("/") else word
        if word.startswith(".") or "/" in word and not word.startswith("/"):
            return  # a path of the project's own
        if not NAME.match(name) or name in SHELL_WORDS or name in self.functions:
            return
        self.found.append((line, name))

    def code(self, top=False, closer=None):
        """Reads code until closer (")" of a $( ), "`") or the end; returns at the closer."""
        words, word, word_line, quoted = [], None, self.line, False

        def flush():
            nonlocal word, quoted
            if word is not None:
                words.append((word_line, word))
            word, quoted = None, False

        def grow(s):
            nonlocal word, word_line
            if word is None:
                word, word_line = "", self.line
            word += s

        while self.i < len(self.text):
            c = self.peek()
            if c == "\\" and self.peek(1) == "\n":
                self.advance(), self.advance()
                continue
            if c == "\\":
                self.advance()
                grow(self.advance() if self.i < len(self.text) else "")
                continue
            if c == "#" and word is None:
                while self.i < len(self.text) and self.peek() != "\n":
                    self.advance()
                continue
            if c == "'":
                self.advance()
                start = self.i
                while self.i < len(self.text) and self.peek() != "'":
                    self.advance()
                grow(self.text[start : self.i])
                self.advance() if self.i < len(self.text) else None
                continue
            if c == '"':
                self.advance()
                grow(self.double_quoted())
                continue
            if c == "(" and (self.peek(1) == "(" and word is None or word is not None and word.endswith("=")):
                # (( arithmetic )) or an array assignment name=( words ): no commands inside.
                self.skip_balanced("(", ")", 1, 1)
                grow("$a")
                continue
            if c == "$" and self.peek(1) == "(" and self.peek(2) == "(":
                self.skip_balanced("(", ")", 3, 2)
                grow("$n")
                continue
            if c == "$" and self.peek(1) == "(":
                self.advance(), self.advance()
                self.code(closer=")")
                grow("$x")
                continue
            if c == "$" and self.peek(1) == "{":
                self.skip_balanced("{", "}", 2, 1)
                grow("$v")
                continue
            if c == "`":
                self.advance()
                if closer == "`":
                    flush()
                    self.end_segment(words, "`")
                    return
                self.code(closer="`")
                grow("$x")
                continue
            if c == "<" and self.peek(1) == "<" and self.peek(2) != "<":
                self.advance(), self.advance()
                strip = self.peek() == "-"
                if strip:
                    self.advance()
                m = re.match(r"\s*(['\"]?)([A-Za-z0-9_]+)\1", self.text[self.i :])
                if m:
                    self.heredocs.append((m.group(2), strip))
                    for _ in range(m.end()):
                        self.advance()
                continue
            if c in " \t":
                self.advance()
                flush()
                continue
            if c == "\n":
                self.advance()
                flush()
                self.end_segment(words, "\n")
                words = []
                self.skip_heredocs()
                continue
            if c == ")" and closer == ")":
                self.advance()
                flush()
                self.end_segment(words, ")")
                return
            if c == ";" and self.peek(1) == ";":
                self.advance(), self.advance()
                flush()
                self.end_segment(words, ";;")
                words = []
                if self.case_patterns:
                    self.case_patterns[-1] = True
                continue
            if c in ";&|(){}" and not (c in "{}" and word is not None):
                self.advance()
                if c in "&|" and self.peek() == c:
                    self.advance()
                if c == "&" and self.peek() == ">":
                    grow("&")  # &> redirection, no boundary
                    continue
                if c == "|" and word is None and words and words[-1][1].endswith(">"):
                    continue  # >| redirection
                flush()
                self.end_segment(words, c)
                words = []
                continue
            if c in "<>" and (word is None or word.isdigit()):
                # A redirection: its target is the next word, never a command.
                self.advance()
                while self.peek() in "<>&":
                    self.advance()
                word = None
                grow(">")
                flush()
                continue
            grow(self.advance())
        flush()
        self.end_segment(words, "")

    def double_quoted(self):
        out = ""
        while self.i < len(self.text):
            c = self.peek()
            if c == "\\":
                self.advance()
                out += self.advance() if self.i < len(self.text) else ""
            elif c == '"':
                self.advance()
                return out
            elif c == "$" and self.peek(1) == "(" and self.peek(2) != "(":
                self.advance(), self.advance()
                saved = self.case_patterns
                self.case_patterns = []
                self.code(closer=")")
                self.case_patterns = saved
                out += "$x"
            elif c == "$" and self.peek(1) == "{":
                self.skip_balanced("{", "}", 2, 1)
                out += "$v"
            elif c == "`":
                self.advance()
                self.code(closer="`")
                out += "$x"
            else:
                out += self.advance()
        return out

    def skip_balanced(self, opener, closer, skip, depth):
        for _ in range(skip):
            self.advance()
        while self.i < len(self.text) and depth:
            c = self.advance()
            depth += (c == opener) - (c == closer)

    def skip_heredocs(self):
        while self.heredocs:
            tag, strip = self.heredocs.pop(0)
            while self.i < len(self.text):
                end = self.text.find("\n", self.i)
                end = len(self.text) if end < 0 else end
                line = self.text[self.i : end]
                while self.i < min(end + 1, len(self.text)):
                    self.advance()
                if (line.lstrip("\t") if strip else line) == tag:
                    break


def shell_functions(texts):
    names = set()
    for text in texts:
        names.update(re.findall(r"^\s*(?:function\s+)?([A-Za-z_][\w-]*)\s*\(\)", text, re.M))
    return names


# ---------------------------------------------------------------------------------------------
# C++, Python, CMake

LITERAL = r'(?:L|u8)?"((?:[^"\\\n]|\\.)*)"'
SHELL_CALL = re.compile(r"\b(?:std::system|system|popen|Shell|Capture)\s*\(\s*")


def words_of_command_string(text):
    """The command words of a shell command line held in a C++ string."""
    text = text.replace('\\"', '"')
    return [name for _, name in ShellScan(text, set()).run()]


def first_literal_after(text, at):
    """The literal that starts a string expression at position at, or None."""
    m = re.compile(r"\s*\(*\s*(?:std::string\s*\(\s*|std::wstring\s*\(\s*)?" + LITERAL).match(text, at)
    return m.group(1) if m else None


def scan_cpp(text):
    found = []  # (line, name)

    def line_of(pos):
        return text.count("\n", 0, pos) + 1

    def command_string(pos, literal):
        for name in words_of_command_string(literal + " "):
            found.append((line_of(pos), name))

    variables = set()
    for m in SHELL_CALL.finditer(text):
        literal = first_literal_after(text, m.end())
        if literal is not None:
            command_string(m.start(), literal)
            continue
        var = re.match(r"\(*\s*([A-Za-z_]\w*)\s*(?:\.c_str\(\))?\s*\)", text[m.end() :])
        if var:
            variables.add(var.group(1))
    for var in variables:
        for m in re.finditer(r"\b" + re.escape(var) + r"\s*(?:\+?=)\s*", text):
            literal = first_literal_after(text, m.end())
            if literal is not None:
                command_string(m.start(), literal)
    argv = r"(?:\b(?:Start|Run\w*|Spawn\w*|Exec\w*)\s*\(|\b(?:args|argv|command|cmd)\w*\s*=|\binsert\s*\([^;{]*,)"
    for m in re.finditer(argv + r"\s*\{\s*" + LITERAL + r"\s*,", text):
        found.append((line_of(m.start()), m.group(1)))
    for m in re.finditer(r"\b(?:posix_spawnp\s*\([^;]*?,\s*|HaveProgram\s*\(\s*)" + LITERAL, text):
        found.append((line_of(m.start()), m.group(1)))
    for m in re.finditer(r'(?:L|u8)?"(/(?:usr/)?s?bin/[A-Za-z0-9_.+-]+)[ "]', text):
        found.append((line_of(m.start()), os.path.basename(m.group(1))))
    return [(line, name) for line, name in found if NAME.match(name)]


def scan_python(text):
    found = []
    for m in re.finditer(r"\bsubprocess\.\w+\(\s*\[\s*[\"']([^\"']+)[\"']", text):
        found.append((text.count("\n", 0, m.start()) + 1, os.path.basename(m.group(1))))
    for m in re.finditer(r"\bos\.system\(\s*[\"']([^\"' ]+)", text):
        found.append((text.count("\n", 0, m.start()) + 1, os.path.basename(m.group(1))))
    for m in re.finditer(r"^\w+\s*=\s*[\"'](/(?:usr/)?s?bin/[\w.+-]+)[\"']", text, re.M):
        found.append((text.count("\n", 0, m.start()) + 1, os.path.basename(m.group(1))))
    return found


def scan_cmake(text):
    found = []
    for m in re.finditer(r"\bCOMMAND\s+([^\s)]+)", text):
        word = m.group(1)
        if not word.startswith("$") and NAME.match(os.path.basename(word)):
            found.append((text.count("\n", 0, m.start()) + 1, os.path.basename(word)))
    for m in re.finditer(r"\bfind_program\s*\(\s*\w+\s+(?:NAMES\s+)?([\w.+-]+)", text):
        found.append((text.count("\n", 0, m.start()) + 1, m.group(1)))
    return found


# ---------------------------------------------------------------------------------------------


def project_files(root):
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        dirs[:] = sorted(
            d for d in dirs if d not in SKIP_DIRS and not (rel == "." and (d.startswith("build") or d == "out"))
        )
        for name in sorted(files):
            yield os.path.join(folder, name)


def scan(root):
    """[(file, line, name)] of every program the project's files run."""
    shell, others = [], []
    for path in project_files(root):
        rel = os.path.relpath(path, root)
        if rel.endswith(".sh") or rel == ".ci/run":
            shell.append(path)
        elif rel.endswith((".cpp", ".h", ".cc", ".hpp")):
            others.append((path, scan_cpp))
        elif rel.endswith(".py"):
            others.append((path, scan_python))
        elif os.path.basename(rel) == "CMakeLists.txt" or rel.endswith(".cmake"):
            others.append((path, scan_cmake))
    texts = {path: read(path) for path in shell}
    functions = shell_functions(texts.values())
    found = []
    for path in shell:
        found += [(path, line, name) for line, name in ShellScan(texts[path], functions).run()]
    for path, scanner in others:
        found += [(path, line, name) for line, name in scanner(read(path))]
    return [(os.path.relpath(p, root), line, name) for p, line, name in found]


def main(argv):
    root = os.path.dirname(HERE)
    args = argv[1:]
    list_path = os.path.join(HERE, "programs.list")
    if args and args[0] in ("--list-packages", "--list-programs"):
        programs, base, _ = read_list(list_path)
        if args[0] == "--list-packages":
            print("\n".join(sorted(set(programs.values()))))
        else:
            print("\n".join(f"{p} {programs[p]}" for p in sorted(programs)))
        return 0
    if args:
        root = os.path.abspath(args[0])
        list_path = os.path.join(root, "scripts", "programs.list")
    programs, base, notrun = read_list(list_path)
    installed = install_script_packages(os.path.join(root, "scripts", "install-deps.sh"))
    problems = []
    for program, package in sorted(programs.items()):
        if package not in installed and package not in base:
            problems.append(
                f"scripts/programs.list: {program} comes from {package}, which scripts/install-deps.sh "
                "does not install (nor is it part of the minimal base)"
            )
    seen = set()
    for rel, line, name in scan(root):
        if name in programs or name in notrun or (rel, name) in seen:
            continue
        seen.add((rel, name))
        problems.append(f"{rel}:{line}: runs '{name}', which is not on scripts/programs.list")
    for p in problems:
        print(p, file=sys.stderr)
    if problems:
        print(f"check-programs: {len(problems)} problem(s)", file=sys.stderr)
        return 1
    print(f"check-programs: {len(programs)} programs listed, every one installed by scripts/install-deps.sh")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
