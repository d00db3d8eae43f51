#!/usr/bin/env bash
# Runs the benchmarks and prints each target as a ratio against its baseline
# from the same run.
set -euo pipefail
bin=${1:-$(cd "$(dirname "$0")/.." && pwd)/build/native/bin}
ratio() {  # json baseline candidate
  python3 - "$@" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
t = {b["name"]: b["real_time"] for b in data["benchmarks"] if b.get("run_type") != "aggregate"}
base, cand = t[sys.argv[2]], t[sys.argv[3]]
print(f"{sys.argv[3]} / {sys.argv[2]} = {cand / base:.2f}")
PY
}
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
"$bin/command_runner_bench" --benchmark_format=json --benchmark_repetitions=1 \
  --benchmark_min_time=2 > "$tmp/runner.json" 2>/dev/null
ratio "$tmp/runner.json" BM_BareSpawnAndWait/real_time BM_RunCommandAndWait/real_time
if [ -x "$bin/kvbase_bench" ]; then
  "$bin/kvbase_bench" --benchmark_format=json > "$tmp/kv.json" 2>/dev/null
  python3 - "$tmp/kv.json" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
for b in data["benchmarks"]:
    print(f'{b["name"]}: {b["real_time"]:.0f} {b["time_unit"]}')
PY
fi
