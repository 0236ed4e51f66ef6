#!/usr/bin/env bash
# fixtools.sh WORKDIR CFGSYSFIX.EXE DISPFIX.EXE
# The fix-up tools as real Windows programs under Wine (reporting Windows 98 Second Edition, with
# a Japanese locale) in a fresh prefix WORKDIR/prefix: the registry keys they read and delete are
# made with Wine's reg, and CONFIG.SYS, read and written through the program's own text streams
# (platform/runtime, on Wine's Win32 files), must come out with the bytes that our platform's
# streams give (fixtools/tests).
set -uo pipefail
source "$(dirname "$0")/wine_env.sh"
wine_enter "$1" "$0" "$@"

work=$(realpath "$1") cfgsysfix=$2 dispfix=$3
wine_fresh_prefix "$work/prefix" || exit 1
wine_set_version win98

reg() { "$WINE" reg "$@" >/dev/null 2>&1; }
has_key() { reg query "$1"; }
no_key() { ! reg query "$1"; }
exit_code_is() {  # exit_code_is CODE PROGRAM
  wine_run "$2"
  [ "$?" = "$1" ]
}

drive_c=$(wine_unix_path 'C:\')
kit=$(wine_unix_path 'C:\KIT')
mkdir -p "$kit"
cp "$cfgsysfix" "$kit/CFGSYSFIX.EXE"
cp "$dispfix" "$kit/DISPFIX.EXE"

# The text-mode cases: an LF-only line, a lone CR, a line of 300 characters (two pieces, the
# first with the keyword), a comment, and a Ctrl-Z with text after it.
long=$(printf 'X%.0s' $(seq 288))
printf 'DEVICE=C:\\WINDOWS\\HIMEM.SYS\ndos=high,umb\rA\r\nDOS=HIGH,UMB%s\r\n\tREM DOS=HIGH,UMB\r\nFILES=40\r\n\032DOS=HIGH,UMB\r\n' \
  "$long" >"$work/config.in"
printf 'DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\nREM dos=high,umb\rA\r\nREM DOS=HIGH,UMB%s\r\n\tREM DOS=HIGH,UMB\r\nFILES=40\r\n' \
  "$long" >"$work/config.out"

config_is() { cmp -s "$drive_c/config.sys" "$work/$1"; }
no_temp_files() { [ -z "$(find "$drive_c" -maxdepth 1 -iname 'zyx*.tmp' -print -quit)" ]; }
board='HKLM\Enum\Root\*PNP0C01\0000'
device='HKLM\Enum\PCI\VEN_1013&DEV_00D6&SUBSYS_00000000&REV_00\BUS_00&DEV_02&FUNC_00'

echo "--- cfgsysfix"
cp "$work/config.in" "$drive_c/config.sys"
check "no system board key: exit code 0" exit_code_is 0 'C:\KIT\CFGSYSFIX.EXE'
check "  (CONFIG.SYS untouched)" config_is config.in
reg add "$board" /v ComputerName /d 'kvo qt-51 z' /f
reg add "$device" /v Class /d DISPLAY /f
check "legacy machine: exit code 1" exit_code_is 1 'C:\KIT\CFGSYSFIX.EXE'
check "  (CONFIG.SYS untouched)" config_is config.in
reg add "$board" /v ComputerName /d 'XY-100' /f
check "other machine with the device: exit code 1" exit_code_is 1 'C:\KIT\CFGSYSFIX.EXE'
check "  CONFIG.SYS comes out byte for byte as expected" config_is config.out
check "  no temporary file is left" no_temp_files
check "a second run: exit code 1" exit_code_is 1 'C:\KIT\CFGSYSFIX.EXE'
check "  CONFIG.SYS is unchanged" config_is config.out
reg delete 'HKLM\Enum\PCI' /f
cp "$work/config.in" "$drive_c/config.sys"
check "device absent: exit code 1" exit_code_is 1 'C:\KIT\CFGSYSFIX.EXE'
check "  (CONFIG.SYS untouched)" config_is config.in
check "  (no temporary file)" no_temp_files

echo "--- dispfix"
display='HKLM\Enum\Root\DISPLAY\0000'
adapter='HKLM\Enum\PCI\VEN_102B&DEV_0519'
reg add "$display" /v HardwareID /d 'PCI\VEN_102B&DEV_0519,*PNP0900' /f
reg add "$display\LogConfig" /v 0000 /t REG_BINARY /d 0102 /f
reg add "$adapter\BUS_01&DEV_00&FUNC_00" /v Class /d DISPLAY /f
check "identifier in a list: exit code 1" exit_code_is 1 'C:\KIT\DISPFIX.EXE'
check "  (the display key stays)" has_key "$display"
check "  (the adapter key stays)" has_key "$adapter"
reg add "$display" /v HardwareID /d 'pci\ven_102b&dev_0519' /f
check "the identifier in lower case: exit code 1" exit_code_is 1 'C:\KIT\DISPFIX.EXE'
check "  the display key is gone" no_key "$display"
check "  the adapter key is gone" no_key "$adapter"
check "  the other display keys stay" has_key 'HKLM\Enum\Root\DISPLAY'
check "a second run: exit code 1" exit_code_is 1 'C:\KIT\DISPFIX.EXE'

wine_finish
