#!/usr/bin/env python3
"""The program scan of scripts/check-programs.py: what it must find, what it must let pass."""

import importlib.util
import os
import sys
import tempfile
import textwrap
import unittest

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
spec = importlib.util.spec_from_file_location("check_programs", os.path.join(SOURCE, "scripts", "check-programs.py"))
check = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check)


def shell(text):
    return sorted({name for _, name in check.ShellScan(textwrap.dedent(text), {"clip"}).run()})


def cpp(text):
    return sorted({name for _, name in check.scan_cpp(textwrap.dedent(text))})


class ShellScanTest(unittest.TestCase):
    def test_commands_behind_wrappers_substitutions_and_operators_are_found(self):
        found = shell(
            """
            set -euo pipefail
            here=$(cd "$(dirname "$0")" && pwd)
            FOO=1 env -u LANG LC_ALL=C unzip -q a.zip
            exec xvfb-run -a -s "-screen 0 1x1x24" ctest -j2
            timeout -k 5 10 nginx -c x || echo "nginx failed; see (log)"
            x=`basename a` ; tar -xf a.tar | gzip -d > out 2>&1
            command -v xwininfo > /dev/null
            if [ -n "$x" ]; then sudo apt-get install -y zip; fi
            """
        )
        self.assertEqual(
            found,
            ["apt-get", "basename", "ctest", "dirname", "gzip", "nginx", "pwd", "sudo", "tar", "timeout", "unzip"]
            + ["xvfb-run", "xwininfo"],
        )

    def test_quotes_case_patterns_here_documents_arrays_and_functions_are_not_commands(self):
        found = shell(
            """
            packages=(
              # a comment
              cmake ninja-build
            )
            echo "No display (neither DISPLAY nor WAYLAND) set; joining | instead"
            case "$1" in
              start|stop) sed -n 1p x ;;
              ''|*[!0-9]*) echo bad ;;
            esac
            python3 - "$a" <<'PY'
            import os
            os.walk(folder)
            PY
            clip "a b" 3
            for ((i = 0; i < 3; i++)); do (( i > 1 )) && true; done
            "$nginx_bin" -p x; ./local-script.sh; "$here/other.sh"
            """
        )
        self.assertEqual(found, ["python3", "sed"])


class CppScanTest(unittest.TestCase):
    def test_command_strings_argument_vectors_and_absolute_paths_are_found(self):
        found = cpp(
            r"""
            ASSERT_EQ(Shell("unzip -q -o '" + package + "'"), 0);
            std::string make = "openssl req -x509 && chmod 600 " + key;
            if (std::system(make.c_str()) != 0) return;
            std::string tree = Capture("xwininfo -root -tree 2>/dev/null | grep -c x");
            process_.Start({"nginx", "-e", log});
            auto r = RunProgram({"ffprobe", "-v", "error"});
            argv.insert(argv.begin(), {"timeout", "-k", "5"});
            posix_spawnp(&pid, "python3", &actions, nullptr, args.data(), environ);
            if (!HaveProgram("setpriv")) return;
            const std::string kReal = "/usr/bin/ffmpeg";
            return L"/bin/sh -c \"" + body + L"\"";
            """
        )
        self.assertEqual(
            found,
            ["chmod", "ffmpeg", "ffprobe", "grep", "nginx", "openssl", "python3", "setpriv", "sh", "timeout", "unzip", "xwininfo"],
        )

    def test_tables_of_names_are_not_programs(self):
        found = cpp(
            r"""
            static const std::map<std::string, std::string> kNames = {{"de", "German"}, {"fr", "French"}};
            for (const char* d : {"data", "prog/lib", "www"}) make(d);
            std::vector<std::string> formats = {"flv", "mp4"};
            Log(L"Join failed: " + why);
            """
        )
        self.assertEqual(found, [])


class ListCheckTest(unittest.TestCase):
    def tree(self, listed, installed, source):
        root = tempfile.mkdtemp(prefix="check-programs-")
        self.addCleanup(lambda: __import__("shutil").rmtree(root))
        os.makedirs(os.path.join(root, "scripts"))
        os.makedirs(os.path.join(root, "tests"))
        with open(os.path.join(root, "scripts", "programs.list"), "w") as f:
            f.write("@base coreutils\n" + listed)
        with open(os.path.join(root, "scripts", "install-deps.sh"), "w") as f:
            f.write("packages=(\n  " + installed + "\n)\n")
        with open(os.path.join(root, "tests", "a_test.cpp"), "w") as f:
            f.write(source)
        return root

    def run_check(self, root):
        stderr = sys.stderr
        sys.stderr = open(os.devnull, "w")
        try:
            return check.main(["check-programs.py", root])
        finally:
            sys.stderr.close()
            sys.stderr = stderr

    def test_a_program_off_the_list_or_a_package_not_installed_fails(self):
        source = 'int main() { return Shell("unzip -q a.zip"); }\n'
        self.assertEqual(self.run_check(self.tree("", "zip", source)), 1)
        self.assertEqual(self.run_check(self.tree("unzip unzip tests\n", "zip", source)), 1)
        self.assertEqual(self.run_check(self.tree("unzip unzip tests\n", "zip unzip", source)), 0)
        self.assertEqual(self.run_check(self.tree("unzip coreutils tests\n", "", source)), 0)


if __name__ == "__main__":
    unittest.main()
