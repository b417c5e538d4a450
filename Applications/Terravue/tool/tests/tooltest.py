"""What the tool's script tests share: the tool under test (the first argument), running it and
exiftool, counting checks and the closing summary."""

import subprocess
import sys

TOOL = sys.argv[1]
SKIPPED = 77  # ctest's skip code, for a machine without exiftool
_failures = []
_checks = 0


def run(*args, timeout=120):
    """Runs the tool; the finished process with its text output."""
    return subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=timeout)


def exiftool(*args):
    """exiftool's standard output for these arguments; a failure of exiftool itself raises."""
    return subprocess.run(["exiftool", *args], capture_output=True, text=True, check=True).stdout


def check(condition, what):
    """Counts one check; a failed one is printed at once and fails the test at the end."""
    global _checks
    _checks += 1
    if not condition:
        _failures.append(what)
        print("FAIL:", what)


def failed():
    return bool(_failures)


def finish():
    """Prints the summary; the exit code for the test."""
    print(f"{_checks - len(_failures)} passed, {len(_failures)} failed")
    return 1 if _failures else 0
