#!/usr/bin/env bash
# Installs what a step needs, when it is missing. Safe to run again.
#   scripts/setup.sh demo   the native toolchain: what scripts/demo.sh needs
#   scripts/setup.sh        everything building, testing and releasing need:
#                           also the test libraries, the mingw-w64 cross
#                           compilers, Wine, QEMU's i386 emulator (for 32-bit
#                           Wine where the kernel cannot run i386 code), zip
#                           and the PE reader that checks the shipped DLLs
set -u

native=(cmake g++ make)
if [ "${1:-}" = demo ]; then
  wanted=("${native[@]}") tools=(cmake g++)
else
  wanted=("${native[@]}" python3 libgtest-dev libbenchmark-dev zip unzip clang libclang-rt-14-dev valgrind
          python3-pefile g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 qemu-user)
  tools=(cmake g++ i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ /usr/lib/wine/wine64 qemu-i386)
fi

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]}" == *:i386* ]]; then
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
fi
# The i386 index can be mid-sync at the mirror: judge by the install below.
apt-get update -q || echo "setup: apt-get update reported an error; trying the install anyway"
if ! apt-get install -y -q --no-install-recommends -t bookworm "${missing[@]}"; then
  echo "setup: FAILED to install ${missing[*]}: trilox cannot be built and tested here" >&2
  exit 1
fi
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || { echo "setup: FAILED: $tool is not usable after the install" >&2; exit 1; }
done
