#!/usr/bin/env bash
# Prints how many jobs a build or a test run takes: QOVRIN_JOBS when set, so
# that a run beside other work can take fewer, else one per processor.
set -euo pipefail
jobs=${QOVRIN_JOBS:-$(nproc)}
if ! [[ $jobs =~ ^[1-9][0-9]*$ ]]; then
  echo "QOVRIN_JOBS must be a whole number of 1 or more, not '$jobs'" >&2
  exit 2
fi
echo "$jobs"
