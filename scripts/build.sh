#!/usr/bin/env bash
# Builds the native module and the Windows builds: build/native, build/win32
# (the 32-bit trilox.dll, the bytes a release ships) and build/win64 (the same
# sources for 64-bit Windows, whose scenario runs are quick and tell a fault
# of the code from one of the 32-bit build).
set -eu
cd "$(dirname "$0")/.."

# Wine runs the conformance scenarios on both Windows builds: the 32-bit one
# directly where the kernel runs i386 code, else under QEMU's i386 emulator
# (also where TRILOX_I386=qemu asks for it, as on machines that refuse i386).
wine_builds="win64=/usr/lib/wine/wine64"
if [ "${TRILOX_I386:-}" != qemu ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine_builds="$wine_builds;win32=/usr/lib/wine/wine"
else
  echo "build: the 32-bit trilox.dll runs its scenarios under Wine through QEMU's"
  echo "build: i386 emulator (scripts/i386.sh): this kernel cannot execute i386 code or"
  echo "build: TRILOX_I386=qemu is set."
  wine_builds="$wine_builds;win32=$PWD/scripts/i386.sh /usr/lib/wine/wine"
fi

cmake --preset native -DTRILOX_WINE_BUILDS="$wine_builds" >/dev/null
cmake --preset win32 >/dev/null
cmake --preset win64 >/dev/null
for preset in native win32 win64; do
  cmake --build --preset "$preset" -j "$(nproc)"
done
