#!/usr/bin/env bash
# The provider's libraries as the program that loads them gets them: they
# need the C library and dmiprov.dll only, so no C++ runtime comes into the
# program with them, the two load the one provider, and each exports its
# entry points and nothing else.
# Usage: provider_libraries.sh BIN-FOLDER [OBJDUMP of the Windows build]
set -uo pipefail
export LC_ALL=C
bin=$1 objdump=${2:-}
if [ -n "$objdump" ]; then
  allowed='KERNEL32\.dll|ADVAPI32\.dll|msvcrt\.dll|dmiprov\.dll'
else
  allowed='libc\.so\.6|ld-linux-x86-64\.so\.2|dmiprov\.dll'
fi
bad=0
check() {  # file, then the names it exports
  local name=$1 needs exports
  local file=$bin/$name
  shift
  if [ -n "$objdump" ]; then
    needs=$("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p')
    exports=$("$objdump" -p "$file" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s\+\[.*\] //p')
  else
    needs=$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    exports=$(readelf --dyn-syms -W "$file" |
              awk '$7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") {print $8}')
  fi
  local extra
  extra=$(grep -Evx "$allowed" <<<"$needs")
  [ -z "$extra" ] || { echo "$name needs: $(xargs <<<"$extra")"; bad=1; }
  # One provider in the process: the two libraries hold none of their own.
  [ "$name" = dmiprov.dll ] || grep -qx 'dmiprov\.dll' <<<"$needs" ||
    { echo "$name does not load dmiprov.dll"; bad=1; }
  [ "$(sort <<<"$exports" | xargs)" = "$*" ] || { echo "$name exports: $(xargs <<<"$exports")"; bad=1; }
}
check dmiapi32.dll DmiIndicate DmiInvoke
check WDMI2API.DLL DmiListLanguages DmiRegister DmiUnregister
check dmiprov.dll DmiProviderIndicate DmiProviderInvoke DmiProviderListLanguages \
  DmiProviderRegister DmiProviderUnregister
exit $bad
