#!/usr/bin/env bash
# Builds schedExe and runs it in the foreground on a demo agent laid out under
# build/demo: a registry file, a tarn.dat with profiles due in the next
# minutes, the agent's DmiSetValue with the DMI provider and the agent's
# tables, and stand-ins for its other programs. Every command the service
# sends is journalled; shows the journal as it grows, and the DMI tables
# after the first firing, until Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD

packages=(cmake g++ libgtest-dev libgmock-dev googletest libbenchmark-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake --preset native >/dev/null
cmake --build --preset native
bin=$root/build/native/bin

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/KVClient" "$demo/Dats"
for p in DmiSetValue dmitables dmiapi32.dll WDMI2API.DLL dmiprov.dll wactivate kvcmd; do
  cp "$bin/$p" "$demo/KVClient/"
done
cp "$bin/kvcmd" "$demo/kvcmd"
journal=$demo/agent-journal.log
: > "$journal"

cat > "$demo/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix]
"TTX Path"="$demo"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix\\ZIZ2UDE]
"DatsPath"="$demo/Dats"
REG

# Three user events: one in a minute (one time), one every hour at the next
# minute but one, one daily in three minutes.
at() { date -d "+$1 minutes" "+$2"; }
{
  printf '[TARN Event Categories]\nNumber of Categories=2\nEventCat1=System Alarms\nEventCat2=User Alarms\n\n'
  printf '[EventCat2 List]\nNumber of Cat2 Events=3\nChanged=True\nCat2:1=Backup reminder\nCat2:2=Hourly check\nCat2:3=Daily report\n'
  for i in 4 5 6 7 8 9 10 11 12; do printf 'Cat2:%d=Unused\n' "$i"; done
  printf '\n[Scheduler Profiles]\nNumber of Profiles=3\n\n'
  profile() {  # slot name frequency minutes-ahead
    printf '[Scheduler Profile %d]\nName=%s\nFrequency=%s\nYear=%s\nMonth=%s\nDayOfMonth=%s\nDayOfWeek=%s\nHour=%s\nMinute=%s\nState=Add\n\n' \
      "$1" "$2" "$3" "$(at "$4" %Y)" "$(at "$4" %B)" "$(at "$4" %-d)" "$(at "$4" %A)" \
      "$(at "$4" %-H)" "$(at "$4" %-M)"
    printf '[Event Cat2:%d]\nDescription=%s\nEvent Mode=Normal\nEvent Status=False\nUser Changable=True\nNumber of Responses=0\n\n' "$1" "$2"
  }
  profile 1 "Backup reminder" "One Time" 1
  profile 2 "Hourly check" "Hourly" 2
  profile 3 "Daily report" "Daily" 3
} > "$demo/Dats/tarn.dat"

export SCHEDEXE_REGISTRY=$demo/registry.reg
export AGENT_JOURNAL=$journal
echo "demo agent: $demo"
echo "data file:  $demo/Dats/tarn.dat"
# The agent's DMI tables, in the store of its client folder.
dmitables=$demo/KVClient/dmitables
echo "DMI tables: component $("$dmitables" install "$root/data/agent-tables.dmd") in $demo/KVClient/dmi-store.dat"
tables() {
  for group in "Scheduler Profile Table" "Event Cat2 Table"; do
    echo; echo "== $group"
    "$dmitables" rows "CORVANEX|Events, Alarms & Responses Creation||CORVANEX|$group|"
  done
}

cd "$demo"
"$bin/schedExe" /d &
service=$!
tail -n +1 -f "$journal" &
tailer=$!
# The first firing marks its row in DMI before it starts wactivate.
( until grep -q wactivate "$journal"; do sleep 1; done; tables ) &
shower=$!
stop() { kill "$service" "$tailer" "$shower" 2>/dev/null || true; wait 2>/dev/null || true; }
trap 'stop; exit 0' INT TERM
echo "schedExe runs (pid $service); the agent journal follows. Ctrl-C stops."
wait "$service" || true
stop
