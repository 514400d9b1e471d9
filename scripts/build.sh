#!/usr/bin/env bash
# Builds the native module and the Windows builds: build/native, build/win32
# (the shipped 32-bit trilox.dll and its zip) and build/win64 (the same
# sources for Wine on machines that cannot run 32-bit code).
set -eu
cd "$(dirname "$0")/.."

# Wine runs the conformance scenarios on every Windows build this machine
# can execute: 64-bit always, 32-bit where the kernel runs i386 code.
wine_builds="win64=/usr/lib/wine/wine64"
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine_builds="$wine_builds;win32=/usr/lib/wine/wine"
else
  echo "build: this machine cannot execute 32-bit x86 code, so Wine cannot run the"
  echo "build: 32-bit trilox.dll here; its exports and imports are checked, and the"
  echo "build: scenarios run under Wine on the 64-bit build of the same sources."
fi

cmake --preset native -DTRILOX_WINE_BUILDS="$wine_builds" >/dev/null
cmake --preset win32 >/dev/null
cmake --preset win64 >/dev/null
for preset in native win32 win64; do
  cmake --build --preset "$preset" -j "$(nproc)"
done
cmake --build build/win32 --target package >/dev/null
