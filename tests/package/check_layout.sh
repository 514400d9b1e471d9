#!/usr/bin/env bash
# Checks what a Linux user installs: exactly lib/saori/trilox.so, the link
# lib/saori/trilox.dll -> trilox.so that hosts load by the script's name, with
# the three trilox_saori_* functions, LICENSE and the script authors' guides.
#   check_layout.sh DIR                   an installed tree
#   check_layout.sh --tarball FILE TOP    a release holding one folder, TOP
set -u
fail() { echo "$*"; exit 1; }

if [ "$1" = --tarball ]; then
  tarball=$2 top=$3
  tops=$(tar -tzf "$tarball" | cut -d/ -f1 | sort -u) || fail "cannot read $tarball"
  [ "$tops" = "$top" ] || fail "$tarball: top folders are: $tops"
  unpacked=$(mktemp -d)
  trap 'rm -rf "$unpacked"' EXIT
  tar -xzf "$tarball" -C "$unpacked" || fail "cannot unpack $tarball"
  dir=$unpacked/$top
else
  dir=$1
fi

files=$(cd "$dir" && find . ! -type d | sort | tr '\n' ' ')
[ "$files" = "./lib/saori/trilox.dll ./lib/saori/trilox.so ./share/doc/trilox/LICENSE ./share/doc/trilox/script-authors.ja.txt ./share/doc/trilox/script-authors.txt " ] ||
  fail "$dir holds: $files"
[ -f "$dir/lib/saori/trilox.so" ] && [ ! -L "$dir/lib/saori/trilox.so" ] || fail "trilox.so is not a file"
[ "$(readlink "$dir/lib/saori/trilox.dll")" = trilox.so ] || fail "trilox.dll is not a relative link to trilox.so"
[ -s "$dir/share/doc/trilox/script-authors.txt" ] || fail "the script authors' text is empty"
names=$(nm -D --defined-only "$dir/lib/saori/trilox.dll" | awk '$3 ~ /^trilox_saori_/ {print $3}' | sort | tr '\n' ' ')
[ "$names" = "trilox_saori_load trilox_saori_request trilox_saori_unload " ] || fail "trilox.dll exports: $names"
echo "$dir: as it should be"
