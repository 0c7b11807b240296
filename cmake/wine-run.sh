#!/bin/sh
# Runs a Windows test program under Wine, quietly, in the prefix named by
# WINEPREFIX (the build sets one up for its tests).
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
