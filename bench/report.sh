#!/usr/bin/env bash
# Runs the benchmarks and prints each target as a ratio against its baseline
# from the same run. Usage: bench/report.sh [bin folder] (default build/native/bin)
set -euo pipefail
bin=${1:-$(cd "$(dirname "$0")/.." && pwd)/build/native/bin}
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

"$bin/command_runner_bench" --benchmark_format=json --benchmark_min_time=2 \
  > "$tmp/runner.json"
python3 - "$tmp/runner.json" <<'PY'
import json, sys
runs = {b["name"]: b["real_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]}
bare = runs["BM_BareSpawnAndWait/real_time"]
ours = runs["BM_RunCommandAndWait/real_time"]
print(f"RunCommandAndWait / bare posix_spawn+waitpid of the same program: {ours / bare:.2f} (target <= 1.3)")
PY
# Prints its own ratios against one parse of the file.
"$bin/kvbase_bench" --benchmark_min_time=0.5 | tail -4
"$bin/engine_bench" idle
"$bin/engine_bench" storm
# Prints its own ratios: the service's DmiSetValue processes against the same
# sets made in-process, and one DmiSetValue against its floor.
# Repeated and interleaved: the disk's sync time drifts over a run.
"$bin/setter_bench" --benchmark_min_time=0.2 --benchmark_repetitions=9 \
  --benchmark_enable_random_interleaving=true | tail -3
