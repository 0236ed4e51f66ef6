#!/usr/bin/env bash
# acceptance.sh WORKDIR DRUPDATE.EXE KITUI.EXE
# The update program as a real Windows program under Wine, in a fresh prefix WORKDIR/prefix with
# a Japanese locale: C:\KIT holds DRUPDATE.EXE and its script, kitui plays the kit launcher and
# the user who reads and closes the closing message.
set -uo pipefail
source "$(dirname "$0")/wine_env.sh"
wine_enter "$1" "$0" "$@"

work=$(realpath "$1") drupdate=$2 kitui=$3
wine_fresh_prefix "$work/prefix" || exit 1

LAUNCHER='KVO Unity Pack for Windows(R) 98 Second Edition'
TITLE='KVO ユニティパック for Windows(R) 98 Second Edition'
MESSAGE='更新処理が終了しました。コンピュータを再起動してください。'
SETUP_LINE='再起動後、Windows(R) 98 Second Edition のセットアップをおこなってください。'

# Copies a driver in pass 0, deletes and renames in the SYSTEM folder, copies a tool from the
# kit's own folder into a folder the line names (created while the script is read).
SCRIPT='[Command]
0=1,NEWDRV.VXD,DRIVERS,11,0
1=2,OLDDRV.VXD,,11
2=4,OLDNAME.DLL,NEWNAME.DLL,11
3=1,TOOL.EXE,*,!C:\KIT\TOOLS'

ui() { wine_run "$kitui" "$@"; }

# exists NAME DIR: a file of that name, in any letter case, stands in DIR.
exists() { [ -n "$(find "$2" -maxdepth 1 -iname "$1" -print -quit 2>/dev/null)" ]; }
missing() { ! exists "$@"; }

# ends_within SECONDS PID: the process ends within SECONDS (and is killed otherwise).
ends_within() {
  local deadline=$((SECONDS + $1))
  while kill -0 "$2" 2>/dev/null; do
    if ((SECONDS >= deadline)); then
      kill "$2" 2>/dev/null
      return 1
    fi
    sleep 0.2
  done
  wait "$2"
}

# make_kit SCRIPT: C:\KIT with the program, its script (CR LF lines) and the files it works on,
# a SYSTEM folder as Windows 9x has one, and the C:\OPTIONS folder without which the program
# takes no "!" destination folder.
make_kit() {
  kit=$(wine_unix_path 'C:\KIT')
  system=$(wine_unix_path 'C:\windows\SYSTEM')
  rm -rf "$kit" "$system"
  mkdir -p "$kit/DRIVERS" "$system" "$(wine_unix_path 'C:\OPTIONS')"
  cp "$drupdate" "$kit/DRUPDATE.EXE"
  printf '%s\n' "$1" | sed 's/$/\r/' >"$kit/DRUPDATE.INI"
  echo "new driver" >"$kit/DRIVERS/NEWDRV.VXD"
  echo "tool" >"$kit/TOOL.EXE"
  echo "old driver" >"$system/OLDDRV.VXD"
  echo "old library" >"$system/OLDNAME.DLL"
}

# start_update: starts C:\KIT\DRUPDATE.EXE in the background (pid in $update).
start_update() {
  (cd "$kit" && wine_run 'C:\KIT\DRUPDATE.EXE') &
  update=$!
}

message_is() {  # message_is TEXT: the closing message box shows exactly TEXT (\n for a line break)
  local texts
  texts=$(ui texts "$TITLE")
  grep -qxF "Static	$1" <<<"$texts" || { echo "      message box texts:" && sed 's/^/        /' <<<"$texts"; return 1; }
}

echo "--- Windows 98 Second Edition (Wine win98), ja_JP"
wine_set_version win98
make_kit "$SCRIPT"
ui launcher "$LAUNCHER" 120 >"$work/launcher.out" &
launcher=$!
check "the launcher stand-in shows its window" ui wait "$LAUNCHER" 30
start_update
check "the closing message box appears" ui wait "$TITLE" 60
check "its text is the one-line message" message_is "$MESSAGE"
check "the launcher stand-in ends" ends_within 10 "$launcher"
check "the launcher reports it hidden" grep -qx hidden "$work/launcher.out"
check "the driver was copied into SYSTEM" exists NEWDRV.VXD "$system"
check "the old driver was deleted" missing OLDDRV.VXD "$system"
check "the library was renamed" exists NEWNAME.DLL "$system"
check "  (its old name is gone)" missing OLDNAME.DLL "$system"
check "the tool was copied into C:\\KIT\\TOOLS" exists TOOL.EXE "$kit/TOOLS"

echo "--- a second copy while the first shows its message"
rm -f "$system"/[Nn][Ee][Ww][Dd][Rr][Vv].[Vv][Xx][Dd]
start_time=$SECONDS
(cd "$kit" && wine_run 'C:\KIT\DRUPDATE.EXE') &
second=$!
check "the second copy ends at once" ends_within 30 "$second"
echo "      (it took $((SECONDS - start_time)) s)"
check "it showed no message box" [ "$(ui count "$TITLE")" = 1 ]
check "it ran no command" missing NEWDRV.VXD "$system"

check "pressing OK closes the message" ui press "$TITLE" OK
check "the message box is gone" ui gone "$TITLE" 20
check "the first copy ends" ends_within 20 "$update"

echo "--- Windows 95 (Wine win95), ja_JP"
wine_set_version win95
make_kit "$SCRIPT"
start_update
check "the closing message box appears" ui wait "$TITLE" 60
check "its text asks for the Second Edition setup on a second line" message_is "$MESSAGE\\n$SETUP_LINE"
check "pressing OK closes the message" ui press "$TITLE" OK
check "the program ends" ends_within 20 "$update"

echo "--- Windows XP (Wine winxp), script for OS kinds 2 and 128"
wine_set_version winxp
make_kit "[General]
Target=130
$SCRIPT"
start_update
check "the program ends without a message" ends_within 30 "$update"
check "no message box is left" [ "$(ui count "$TITLE")" = 0 ]
check "no command ran" missing NEWDRV.VXD "$system"
check "  (nothing deleted)" exists OLDDRV.VXD "$system"

wine_finish
