# Shared by the Wine test scripts (sourced): one fresh Wine prefix per run, the Windows version it
# reports, and running 64-bit Windows programs in it with a Japanese locale.
#
# Wine gives programs code page 932, keyboard type 7 and Japanese texts only with LC_ALL (not
# just LANG) set to a Japanese locale that glibc has generated.

WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
export LC_ALL=ja_JP.UTF-8
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

# wine_enter WORKDIR SCRIPT [ARGS...]: called first by each script with its own path and
# arguments.  It makes WORKDIR, and runs the script again in the right setting:
#   - not as the Unix root user, who passes the permission bits in which Wine keeps the
#     read-only attribute: as "nobody", when that user can reach WORKDIR and the script;
#   - on a display of its own, under xvfb-run -a (programs that show windows need one; a
#     wineserver started without a display would keep serving without one).
wine_enter() {
  local work=$1
  shift
  mkdir -p "$work"
  if [ "$(id -u)" = 0 ] && [ -z "${KIT_WINE_USER:-}" ]; then
    chown -R nobody:nogroup "$work"
    if setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c 'test -w "$1" && test -r "$2"' sh "$work" "$1"; then
      exec setpriv --reuid=nobody --regid=nogroup --clear-groups env KIT_WINE_USER=nobody HOME="$work" "$@"
    fi
    echo "wine_env.sh: nobody cannot reach $work; Wine runs as root (read-only files stay writable)" >&2
  fi
  if [ -z "${KIT_WINE_DISPLAY:-}" ]; then
    exec env KIT_WINE_USER="${KIT_WINE_USER:-$(id -un)}" KIT_WINE_DISPLAY=xvfb xvfb-run -a "$@"
  fi
}

# wine_fresh_prefix DIR: removes DIR and makes a new prefix there (WINEPREFIX is set to it).
wine_fresh_prefix() {
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "wine_env.sh: the ja_JP.UTF-8 locale is not generated (scripts/install-deps does it)" >&2
    return 1
  fi
  export WINEPREFIX
  WINEPREFIX=$(realpath -m "$1")  # Wine takes absolute prefix paths only
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  "$WINE" wineboot -i >"$WINEPREFIX.wineboot.log" 2>&1 || true
  "$WINESERVER" -w
  # wineboot's server exits with it; the next program starts one under this display.
  [ -d "$WINEPREFIX/drive_c/windows" ] || {
    echo "wine_env.sh: wineboot made no prefix in $WINEPREFIX:" >&2
    cat "$WINEPREFIX.wineboot.log" >&2
    return 1
  }
}

# wine_set_version NAME: the Windows version the prefix reports (win95, win98, winxp, ...).
wine_set_version() {
  "$WINE" reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1
  "$WINESERVER" -w
}

# wine_run PROGRAM [ARGS...]: runs a 64-bit Windows program in the prefix; its console output has
# its CR LF line ends made LF.
wine_run() {
  "$WINE" "$@" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# wine_unix_path WINPATH: where a C: path of the prefix lies on this disk.
wine_unix_path() {
  local p=${1#[Cc]:}
  echo "$WINEPREFIX/drive_c${p//\\//}"
}

# check DESCRIPTION COMMAND [ARGS...]: one check of a script, counted; wine_finish ends the
# script with the count of failed checks as its outcome.
failures=0
check() {
  if "${@:2}"; then
    echo "ok    $1"
  else
    echo "FAIL  $1"
    failures=$((failures + 1))
  fi
}

wine_finish() {
  "$WINESERVER" -k 2>/dev/null
  echo "--- $failures failed"
  ((failures == 0))
}
