#!/usr/bin/env bash
# korvex.sh WORKDIR KORVEX.SYS KORVEX.INF KORVEX_INSTALL.EXE KORVEX_CLIENT.EXE
# The button driver (x86-64 build) under Wine's own HID class driver, in a fresh prefix
# WORKDIR/prefix: our installer creates the root-enumerated device ROOT\KORVEX and installs the
# driver from KORVEX.INF through SetupAPI; our HID client then checks what an application sees
# through the class driver: attributes, the capabilities parsed from the report descriptor, the
# string block, the pace of output reports, a cancelled read and a read ended by removing the
# device (Wine's SetupAPI cannot disable one).  This system has no Windows 9x keyboard driver
# to filter, so no key event ever arrives.
set -uo pipefail
source "$(dirname "$0")/wine_env.sh"
wine_enter "$1" "$0" "$@"

work=$(realpath "$1") driver=$2 inf=$3 installer=$4 client=$5
wine_fresh_prefix "$work/prefix" || exit 1

setup=$(wine_unix_path 'C:\KORVEX')
mkdir -p "$setup"
cp "$driver" "$setup/KORVEX.SYS"
cp "$inf" "$setup/KORVEX.INF"
cp "$installer" "$setup/korvex_install.exe"
cp "$client" "$setup/korvex_client.exe"

installer='C:\KORVEX\korvex_install.exe'
client() { wine_run 'C:\KORVEX\korvex_client.exe' "$@"; }
installed_driver=$(wine_unix_path 'C:\windows\system32\drivers\KORVEX.SYS')

check "the installer registers the device and installs the driver" wine_run "$installer" install 'C:\KORVEX\KORVEX.INF' 'ROOT\KORVEX'
check "  the driver file is copied to the drivers folder" cmp -s "$driver" "$installed_driver"
check "  the class driver starts the device: the HID client finds it" client wait 20

# Each client command prints its findings and returns the number of checks that failed.
for command in attributes caps strings writes cancel; do
  echo "--- $command"
  check "$command" client "$command"
done
echo "--- remove"
check "remove" client remove "$installer"

wine_finish
