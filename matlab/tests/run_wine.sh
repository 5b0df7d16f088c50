#!/usr/bin/env bash
# Runs the Windows load test in one Wine process: headless, quiet, in a Wine
# prefix of its own (created on first use; Wine accepts root when the prefix
# belongs to root), then stops that prefix's wineserver so nothing lingers.
#
# Usage: run_wine.sh WINE64 WINESERVER PREFIX HOST_EXE MODULE
set -euo pipefail
wine=$1 wineserver=$2 prefix=$3 host=$4 module=$5

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
unset WAYLAND_DISPLAY
mkdir -p "$prefix"
status=0
# Wine maps / to drive Z:.
"$wine" "$host" "Z:${module//\//\\}" || status=$?
"$wineserver" -k 2>/dev/null || true
exit "$status"
