#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: unit and
# platform tests, the conformance scenarios natively and under Wine, then the
# reliability checks (sanitizers, fuzzing, stress, faults, leaks).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --test-dir build/native --output-on-failure --no-tests=error -j "$(nproc)"
scripts/reliability.sh
