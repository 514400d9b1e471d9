#!/usr/bin/env bash
# Builds the native module and the Windows builds: build/native, build/win32
# (the shipped 32-bit trilox.dll and its zip) and build/win64 (the same
# sources for 64-bit Windows, whose scenario runs are quick and tell a fault
# of the code from one of the 32-bit build).
set -eu
cd "$(dirname "$0")/.."

# Wine runs the conformance scenarios on both Windows builds: the 32-bit one
# directly where the kernel runs i386 code, else under QEMU's i386 emulator.
wine_builds="win64=/usr/lib/wine/wine64"
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine_builds="$wine_builds;win32=/usr/lib/wine/wine"
else
  echo "build: this kernel cannot execute 32-bit x86 code: the 32-bit trilox.dll"
  echo "build: runs its scenarios under Wine through QEMU's i386 emulator (scripts/i386.sh)."
  wine_builds="$wine_builds;win32=$PWD/scripts/i386.sh /usr/lib/wine/wine"
fi

cmake --preset native -DTRILOX_WINE_BUILDS="$wine_builds" >/dev/null
cmake --preset win32 >/dev/null
cmake --preset win64 >/dev/null
for preset in native win32 win64; do
  cmake --build --preset "$preset" -j "$(nproc)"
done
cmake --build build/win32 --target package >/dev/null
