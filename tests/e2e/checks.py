"""One line per check, and an exit code that says whether all passed.

Used by check_win32.py and run_e2e.py: each check prints "PASS name" or
"FAIL name: detail"; the script ends with exit code 1 when any check failed
(or when no check ran at all).
"""
import sys


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, name, ok, detail=""):
        """Records one check; returns ok so that callers can skip what depends on it."""
        if ok:
            self.passed += 1
            print("PASS %s" % name, flush=True)
        else:
            self.failed += 1
            print("FAIL %s: %s" % (name, detail), flush=True)
        return bool(ok)

    def equal(self, name, actual, expected):
        return self.check(name, actual == expected, "got %r, expected %r" % (actual, expected))

    def finish(self):
        """Prints the summary and exits: 0 only when checks ran and none failed."""
        total = self.passed + self.failed
        print("%d of %d checks passed" % (self.passed, total), flush=True)
        sys.exit(0 if total and not self.failed else 1)
