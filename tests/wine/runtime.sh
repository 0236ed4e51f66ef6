#!/bin/sh
# The programs' runtime under Wine: the runtime check program (runtime_check/main.cpp), from a
# folder whose name has a blank and a double-byte character; it exits with 0 once everything it
# checks holds, else with the number of the first failed check.
#   runtime.sh WORKDIR RUNTIME_CHECK.EXE
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_env.sh"
wine_enter "$1" "$0" "$@"
work=$(realpath "$1")
program=$(realpath "$2")
wine_fresh_prefix "$work/prefix"

# The program under a folder whose name has a blank and a double-byte character.
folder="$WINEPREFIX/drive_c/実行 check"
mkdir -p "$folder" "$WINEPREFIX/drive_c/work"
cp "$program" "$folder/CHECK.EXE"

status=0
export KIT_WORK_FOLDER='C:\work'
unset KIT_EXPECTED_ARGUMENTS
"$WINE" "C:\\実行 check\\CHECK.EXE" >/dev/null 2>&1 || status=$?
"$WINESERVER" -w || true
if [ "$status" = 0 ]; then
  echo "runtime check: passed"
else
  echo "runtime check: failed with exit code $status" >&2
  exit 1
fi
