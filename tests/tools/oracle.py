"""What a differential test does when the independent assembler it compares
with is missing: skip (exit 77) when run by hand, fail when the run demands
every oracle (QOVRIN_REQUIRE_ORACLES=1, as CI sets it), so that a fault the
comparison would catch cannot pass unseen."""

import os
import sys

SKIPPED = 77


def missing(what):
    if os.environ.get("QOVRIN_REQUIRE_ORACLES") == "1":
        print(f"error: {what} is required for this comparison (scripts/deps.sh installs it)", file=sys.stderr)
        return 1
    print(f"skipped: {what} is not installed (scripts/deps.sh installs it)")
    return SKIPPED
