#!/usr/bin/env bash
# Fails when a file under src/ includes a header of its own layer's peers or
# of a layer above it. The layers, lowest first:
#   platform < kvbase < schedule, dmi, dmisp < config < engine < worker < service
# dmisp, the DMI provider, may use only the binding header of dmi.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A level=([platform]=0 [kvbase]=1 [schedule]=2 [dmi]=2 [dmisp]=2
                  [config]=3 [engine]=4 [worker]=5 [service]=6)
bad=0
while IFS= read -r file; do
  from=${file#src/}; from=${from%%/*}
  [ -n "${level[$from]:-}" ] || { echo "$file: folder $from has no layer"; bad=1; continue; }
  while IFS= read -r header; do
    to=${header%%/*}
    [ "$to" = "$from" ] && continue
    [ -n "${level[$to]:-}" ] || continue
    if [ "$from" = dmisp ] && [ "$header" = dmi/dmi_interface.h ]; then continue; fi
    if [ "${level[$to]}" -ge "${level[$from]}" ]; then
      echo "$file includes $header: $to is not below $from"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find src -name '*.h' -o -name '*.cc' | sort)
[ "$bad" -eq 0 ] && echo "layers: every include goes down"
exit "$bad"
