#!/usr/bin/env bash
# Installs the native toolchain if it is missing (nothing else), builds the
# native module and shows two host processes coordinating through one named
# mutex.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh demo
# A build of its own, without the tests and what they need.
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DTRILOX_TESTS=OFF >/dev/null
cmake --build build/demo -j "$(nproc)" --target trilox saori >/dev/null

saori=build/demo/saori module=build/demo/trilox.so
export TRILOX_NAMESPACE_DIR=$(mktemp -d)
trap 'rm -rf "$TRILOX_NAMESPACE_DIR"' EXIT

echo "== $saori $module version"
"$saori" "$module" version | sed 's/\r$//'

# Two long-running hosts of the module, each holding its mutexes on its
# own thread, driven one command line at a time.
coproc FIRST { exec "$saori" "$module" repl; }
coproc SECOND { exec "$saori" "$module" repl; }

ask() {  # ask FIRST|SECOND COMMAND ARG: send, then print the raw response
  local -n host=$1
  printf '\n[%s process] %s\n' "$1" "${*:2}"
  echo "${*:2}" >&"${host[1]}"
  while IFS= read -r line <&"${host[0]}"; do
    printf '    %s\n' "${line%$'\r'}"
    [ "$line" = $'\r' ] && break
  done
}

ask FIRST Create demo-mutex
ask FIRST Lock demo-mutex
ask SECOND isLocked demo-mutex    # 1: the first process holds it
ask SECOND Lock demo-mutex        # 0: not taken
ask SECOND Wait demo-mutex 500    # 0 after half a second: still held
ask FIRST Unlock demo-mutex
ask SECOND Lock demo-mutex        # 1: now the second process has it
ask FIRST isLocked demo-mutex     # 1
ask SECOND Unlock demo-mutex
ask FIRST Delete demo-mutex       # 1: the first process created it
ask SECOND isLocked demo-mutex    # 500: no such mutex any more
