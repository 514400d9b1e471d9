#!/usr/bin/env bash
# Installs what is missing, builds the native module and shows two host
# processes coordinating through one named mutex.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target trilox saori >/dev/null

saori=build/native/saori module=build/native/trilox.so
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
