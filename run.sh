#!/usr/bin/env bash
# Builds Vosselmar.exe with mingw-w64 and starts it: under Wine on Linux, directly on Windows.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup-machine.sh
ensure_packages

say "Building Vosselmar.exe (mingw-w64, release)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
if [ ! -f build/mingw/Vosselmar.exe ]; then
  say "The program is not built yet: only its core exists so far."
  exit 0
fi
say "Starting build/mingw/Vosselmar.exe under Wine (its settings live beside it in build/mingw)"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
exec wine build/mingw/Vosselmar.exe
