#!/usr/bin/env bash
# Fuzzes one file reader (project or store) until it has had MINUTES of CPU time
# (default 60), in rounds of five minutes that share one corpus, and stops at the first
# finding. Builds the fuzz targets first (clang, libFuzzer, ASan, UBSan: build-fuzz).
#   scripts/reliability/fuzz_cpu.sh project 60
# Prints each round's runs and the CPU seconds so far; exit status 1 on a finding (its
# input is kept in build-fuzz/findings-TARGET/).
set -euo pipefail
cd "$(dirname "$0")/../.."
target="${1:?project or store}"
minutes="${2:-60}"
FUZZ_SECONDS=1 ./kalder test --fuzz >/dev/null 2>&1 || { echo "the fuzz build failed: ./kalder test --fuzz" >&2; exit 2; }
corpus="build-fuzz/corpus-$target"
findings="build-fuzz/findings-$target"
mkdir -p "$corpus" "$findings"
cpu_seconds() { # CPU time of this shell's finished children, in whole seconds
    times | tail -1 | awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/); print int(u[1] * 60 + u[2] + s[1] * 60 + s[2]) }'
}
base="$(cpu_seconds)" # the build's own
fuzzed() { echo $(($(cpu_seconds) - base)); }
round=0
while [ "$(fuzzed)" -lt $((minutes * 60)) ]; do
    round=$((round + 1))
    log="build-fuzz/fuzz-$target-$round.log"
    if ! "build-fuzz/tests/kalder_fuzz_$target" -max_total_time=300 -max_len=65536 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1; then
        echo "round $round: a finding, see $log and $findings/" >&2
        exit 1
    fi
    echo "round $round: $(grep -o 'Done [0-9]* runs' "$log" | tail -1), corpus $(ls "$corpus" | wc -l) files, CPU $(fuzzed) s"
done
echo "$target: $(fuzzed) CPU seconds, no finding"
