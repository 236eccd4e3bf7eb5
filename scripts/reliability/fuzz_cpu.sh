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
used=0 # CPU seconds of the rounds so far (user + system, from /usr/bin/time)
round=0
while [ "$used" -lt $((minutes * 60)) ]; do
    round=$((round + 1))
    log="build-fuzz/fuzz-$target-$round.log"
    if ! /usr/bin/time -f "%U %S" -o "$log.cpu" "build-fuzz/tests/kalder_fuzz_$target" -max_total_time=300 -max_len=65536 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1; then
        echo "round $round: a finding, see $log and $findings/" >&2
        exit 1
    fi
    used=$((used + $(awk '{ print int($1 + $2) }' "$log.cpu")))
    echo "round $round: $(grep -o 'Done [0-9]* runs' "$log" | tail -1), corpus $(ls "$corpus" | wc -l) files, CPU $used s"
done
echo "$target: $used CPU seconds, no finding"
