#!/usr/bin/env bash
# talmorix.sh WORKDIR TALMORIX.EXE KITUI.EXE
# The shutdown program as a real Windows program under Wine (reporting Windows 98 Second Edition,
# Japanese locale) in a fresh prefix WORKDIR/prefix, as C:\windows\TALMORIX.EXE.  kitui plays the
# user (reads the dialogs, presses their buttons, chooses menu commands) and an observer: a
# window of another program that records the end-session messages a shutdown sends it.
# The screenshots of the README are taken on the way, into WORKDIR/screenshots:
#   cp WORKDIR/screenshots/*.png docs/
set -uo pipefail
source "$(dirname "$0")/wine_env.sh"
wine_enter "$1" "$0" "$@"

work=$(realpath "$1") talmorix=$2 kitui=$3
wine_fresh_prefix "$work/prefix" || exit 1
wine_set_version win98
shots=$work/screenshots
rm -rf "$shots" && mkdir -p "$shots"

# The dialogs' font "ＭＳ Ｐゴシック" and the Japanese menu and caption font "MS UI Gothic" are
# drawn with the IPA P Gothic of Debian's fonts-ipafont-gothic.  Without a window manager on the
# X server, Wine draws the title bars itself.
"$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /d 'IPAPGothic' /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /d 'IPAPGothic' /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
"$WINESERVER" -w

ui() { wine_run "$kitui" "$@"; }
windows=$(wine_unix_path 'C:\windows')
cp "$talmorix" "$windows/TALMORIX.EXE"

QUERY='Windows の終了'
MAIN='TALMORIX.EXE'

# ends_within SECONDS PID: the process ends within SECONDS (and is killed otherwise); the status
# is the process's.
ends_within() {
  local deadline=$((SECONDS + $1))
  while kill -0 "$2" 2>/dev/null; do
    if ((SECONDS >= deadline)); then
      kill "$2" 2>/dev/null
      return 124
    fi
    sleep 0.2
  done
  wait "$2"
}
exits_with_0() { ends_within "$1" "$2"; }
running() { kill -0 "$1" 2>/dev/null; }

# eventually SECONDS COMMAND...: COMMAND succeeds within SECONDS.
eventually() {
  local deadline=$((SECONDS + $1))
  until "${@:2}"; do
    ((SECONDS >= deadline)) && return 1
    sleep 0.2
  done
}

# start_talmorix [ARGS]: C:\windows\TALMORIX.EXE in the background (pid in $program).
start_talmorix() {
  (cd "$windows" && wine_run 'C:\windows\TALMORIX.EXE' "$@") &
  program=$!
}

# start_observer NAME: a window of another program titled NAME; its records go to $observed.
start_observer() {
  observed=$work/$1.out
  ui observer "$1" 300 >"$observed" &
  observer=$!
  ui wait "$1" 30 || echo "      (the observer $1 did not show up)"
}

# after_session_end: a session end ends every program of the prefix, and Wine may still be
# sweeping them when the next one starts; wait until the prefix is idle (no program of the
# script is left running at this point).
after_session_end() {
  running "$observer" && return
  "$WINESERVER" -w
}
queried() { grep -q '^WM_QUERYENDSESSION' "$observed"; }
not_queried() { ! queried; }

# set_poweroff LINE...: SYSTEM.INI's section [PowerOff] holds exactly these lines (none: absent).
set_poweroff() {
  tr -d '\r' <"$windows/system.ini" | awk '/^\[/ { skip = tolower($0) == "[poweroff]" } !skip' >"$work/system.ini"
  if (($#)); then printf '[PowerOff]\n' >>"$work/system.ini" && printf '%s\n' "$@" >>"$work/system.ini"; fi
  sed 's/$/\r/' "$work/system.ini" >"$windows/system.ini"
}
poweroff_section() {
  tr -d '\r' <"$windows/system.ini" | awk '/^\[/ { on = tolower($0) == "[poweroff]"; next } on && NF' | sort
}
# poweroff_is LINE...: the section holds exactly these lines, in any order.
poweroff_is() { [ "$(poweroff_section)" = "$(printf '%s\n' "$@" | sort)" ]; }
# saved_as LINE...: the section comes to hold exactly these lines (shown when it does not).
saved_as() {
  eventually 10 poweroff_is "$@" && return
  echo "      [PowerOff] now:" && poweroff_section | sed 's/^/        /'
  return 1
}

# controls_are LINE...: the dialog's controls, "id<TAB>class<TAB>text" in order.
controls_are() {
  local actual
  actual=$(ui controls "$QUERY")
  [ "$actual" = "$(printf '%s\n' "$@")" ] || { echo "      controls:" && sed 's/^/        /' <<<"$actual"; return 1; }
}

# shoot NAME TITLE [WIDTH HEIGHT]: a PNG of the window titled TITLE (or of WIDTH x HEIGHT pixels
# from its top left corner).
shoot() {
  local x y w h
  read -r x y w h < <(ui rect "$2") || return 1
  sleep 1  # let it paint
  import -window root -crop "${3:-$w}x${4:-$h}+$x+$y" +repage "$shots/$1.png"
}

TAB=$'\t'
DIALOG_1000=("-1${TAB}Static${TAB}Windows を終了します。" "-1${TAB}Static${TAB}よろしいですか？" "1100${TAB}Static${TAB}"
             "1${TAB}Button${TAB}OK" "2${TAB}Button${TAB}キャンセル")
DIALOG_1001=("-1${TAB}Static${TAB}Windows を終了します。"
             "-1${TAB}Static${TAB}編集中のファイルが存在し、内容を保存したい場合は[いいえ]ボタンを押してください。"
             "-1${TAB}Static${TAB}Windows を終了したくない場合は[キャンセル]ボタンを押してください。"
             "1100${TAB}Static${TAB}" "1${TAB}Button${TAB}はい" "7${TAB}Button${TAB}いいえ" "2${TAB}Button${TAB}キャンセル")

echo "--- setup: the settings window with its menu open (screenshot)"
set_poweroff
start_talmorix setup
check "the settings window appears" ui wait "$MAIN" 30
ui openmenu "$MAIN" s
shoot talmorix-settings-menu "$MAIN" 300 250
check "Escape closes the menu (twice: the pop-up, then the menu bar)" ui key "$MAIN" ESC
ui key "$MAIN" ESC
sleep 1
ui menu "$MAIN" 109
check "Exit (109) ends the program with 0" exits_with_0 30 "$program"

echo "--- plain start, no [PowerOff] section: the query dialog 1000"
start_observer Observer1
start_talmorix
check "the query dialog appears" ui wait "$QUERY" 30
check "it shows the texts and buttons of dialog 1000" controls_are "${DIALOG_1000[@]}"
shoot talmorix-dialog-1000 "$QUERY"
check "キャンセル (id 2) is pressed" ui click "$QUERY" 2
check "the program ends with 0" exits_with_0 30 "$program"
sleep 1
check "no shutdown was asked: the observer got no WM_QUERYENDSESSION" not_queried
check "  (and it still runs)" running "$observer"

echo "--- plain start again: Escape cancels"
start_talmorix
check "the query dialog appears" ui wait "$QUERY" 30
check "Escape is pressed" ui key "$QUERY" ESC
check "the program ends with 0" exits_with_0 30 "$program"
sleep 1
check "no shutdown was asked" not_queried

echo "--- plain start again: OK"
start_talmorix
check "the query dialog appears" ui wait "$QUERY" 30
check "OK (id 1) is pressed" ui click "$QUERY" 1
check "the program ends with 0" exits_with_0 30 "$program"
check "the observer got WM_QUERYENDSESSION (a shutdown, not a log-off)" \
  eventually 10 grep -qx 'WM_QUERYENDSESSION lParam=0x00000000' "$observed"
check "  and WM_ENDSESSION, then ended" ends_within 20 "$observer"
after_session_end

echo "--- FORCE set in SYSTEM.INI: the query dialog 1001"
set_poweroff 'UserSet=Yes' 'FORCE=Yes'
start_observer Observer2
start_talmorix
check "the query dialog appears" ui wait "$QUERY" 30
check "it shows the texts and buttons of dialog 1001" controls_are "${DIALOG_1001[@]}"
shoot talmorix-dialog-1001 "$QUERY"
check "いいえ (id 7) is pressed" ui click "$QUERY" 7
check "the program ends with 0" exits_with_0 30 "$program"
check "the observer was asked: a shutdown without EWX_FORCE" eventually 10 queried
check "  (it ended after the session did)" ends_within 20 "$observer"
after_session_end
check "the settings file still holds FORCE" poweroff_is 'UserSet=Yes' 'FORCE=Yes'

start_observer Observer3
start_talmorix
check "the query dialog 1001 appears again" ui wait "$QUERY" 30
check "はい (id 1) is pressed" ui click "$QUERY" 1
check "the program ends with 0" exits_with_0 30 "$program"
check "the forced shutdown ends the observer without asking it" ends_within 20 "$observer"
check "  (no WM_QUERYENDSESSION)" not_queried
after_session_end

echo "--- the query off and a delay: no dialog; a log-off"
set_poweroff 'Wait=1500' 'QueryUser=No' 'UserSet=Yes' 'LOGOFF=Yes' 'SHUTDOWN=No' 'REBOOT=No' 'FORCE=No' 'POWEROFF=No'
start_observer Observer4
start_talmorix
check "the program ends with 0" exits_with_0 60 "$program"
check "it showed no dialog" [ "$(ui count "$QUERY")" = 0 ]
# (Wine asks with the same lParam 0 for a log-off as for a shutdown, where Windows sets
# ENDSESSION_LOGOFF: only the question itself is checked.)
check "the observer was asked to end the session" eventually 10 queried

echo "--- Wait=0: the query comes while the main window is being made"
set_poweroff 'Wait=0'
start_observer Observer5
start_talmorix
check "the query dialog appears" ui wait "$QUERY" 30
check "キャンセル (id 2) is pressed" ui click "$QUERY" 2
check "the program ends with 0" exits_with_0 30 "$program"
sleep 1
check "no shutdown was asked" not_queried
start_talmorix
check "the query dialog appears again" ui wait "$QUERY" 30
check "OK (id 1) is pressed" ui click "$QUERY" 1
check "the program ends with 0" exits_with_0 30 "$program"
check "the observer was asked" eventually 10 queried

echo "--- setup: the settings window, its menu and Save"
set_poweroff 'Wait=2500' 'QueryUser=no'
start_observer Observer6
start_talmorix setup
first=$program
check "the settings window appears" ui wait "$MAIN" 30
# Query back on (102), EWX_FORCE on (106): the word 13; Save (101).
for id in 102 106 101; do ui menu "$MAIN" $id; done
check "Save: DefMood=No, the delay kept" saved_as 'Wait=2500' 'DefMood=No'
# EWX_LOGOFF (103), EWX_POWEROFF (107), query off (102): the word 8; Save.
for id in 103 107 102 101; do ui menu "$MAIN" $id; done
check "Save: the word 8 bit by bit, the query off" saved_as 'Wait=2500' 'QueryUser=No' 'UserSet=Yes' \
  'LOGOFF=No' 'SHUTDOWN=No' 'REBOOT=No' 'FORCE=No' 'POWEROFF=Yes'
# EWX_LOGOFF again: the word 0; Save.
for id in 103 101; do ui menu "$MAIN" $id; done
check "Save: the log-off word 0" saved_as 'Wait=2500' 'QueryUser=No' 'UserSet=Yes' \
  'LOGOFF=Yes' 'SHUTDOWN=No' 'REBOOT=No' 'FORCE=No' 'POWEROFF=No'
# Default (100); Save: nothing but the delay.
for id in 100 101; do ui menu "$MAIN" $id; done
check "Save after Default: only the delay is left" saved_as 'Wait=2500'
check "the settings window asked for no shutdown" not_queried

echo "--- a plain start while the settings window is up"
start_talmorix
check "the second start ends with 0" exits_with_0 30 "$program"
check "it hid the settings window" eventually 10 [ "$(ui visible "$MAIN")" = hidden ]
check "it showed no query dialog" [ "$(ui count "$QUERY")" = 0 ]
sleep 1
check "no shutdown was asked" not_queried
check "the first instance still runs" running "$first"
start_talmorix SETUP
check "a setup start (in capitals) ends with 0" exits_with_0 30 "$program"
check "  and shows the hidden window again" eventually 10 [ "$(ui visible "$MAIN")" = visible ]
check "Escape hides the settings window" ui key "$MAIN" ESC
check "  (hidden)" eventually 10 [ "$(ui visible "$MAIN")" = hidden ]
ui menu "$MAIN" 109
check "Exit (109), chosen while hidden, ends the first instance with 0" exits_with_0 30 "$first"
check "still no shutdown was asked" not_queried

for shot in talmorix-dialog-1000 talmorix-dialog-1001 talmorix-settings-menu; do
  check "screenshot $shot.png taken" [ -s "$shots/$shot.png" ]
done
wine_finish
