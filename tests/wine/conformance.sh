#!/usr/bin/env bash
# conformance.sh WORKDIR CONFORMANCE_EXE [GTEST ARGS...]
# Runs the conformance checks under Wine in a fresh prefix WORKDIR/prefix: every check with Wine
# reporting Windows 98 Second Edition, then the version checks with Windows 95.
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
wine_enter "$1" "$0" "$@"

work=$1 exe=$2
shift 2
wine_fresh_prefix "$work/prefix"

status=0
wine_set_version win98   # Wine's win98 is 4.10 build 2222, Second Edition
wine_run "$exe" --windows=win98se "$@" || status=1
wine_set_version win95
wine_run "$exe" --windows=win95 --gtest_filter='Version.*' "$@" || status=1
exit $status
