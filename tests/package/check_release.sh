#!/usr/bin/env bash
# Checks the packages scripts/release.sh wrote to DIR, reporting every fault:
# their sums; the Linux tarball's layout, its stripped trilox.so of at most
# 256 KiB; the DLLs (tests/windows/check_shipped_dll.py), the 32-bit one of
# at most 256 KiB; LICENSE and both script authors' guides in every package,
# LICENSE the very text the packaged module's `license` writes, the guides
# alike (check_guides.py).
#   check_release.sh DIR VERSION SAORI    (SAORI: a saori host to run the module)
set -u
dir=$1 version=$2 saori=$3
here=$(cd "$(dirname "$0")" && pwd) source_tree=$(cd "$(dirname "$0")/../.." && pwd)
max_bytes=262144
faults=0
fault() { echo "FAULT: $*"; faults=$((faults + 1)); }

(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fault "SHA256SUMS does not match the packages"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
linux=trilox-$version-linux-x86_64
"$here/check_layout.sh" --tarball "$dir/$linux.tar.gz" "$linux" || fault "the Linux tarball's layout"
tar -xzf "$dir/$linux.tar.gz" -C "$unpacked" || fault "cannot unpack $linux.tar.gz"
module=$unpacked/$linux/lib/saori/trilox.so
echo "$module: $(stat -c %s "$module") bytes"
[ "$(stat -c %s "$module")" -le $max_bytes ] || fault "trilox.so is larger than $max_bytes bytes"
readelf -S "$module" | grep -q '\.symtab' && fault "trilox.so is not stripped"

# The licence as the packaged module writes it, into the directory it is loaded from.
TRILOX_NAMESPACE_DIR=$unpacked SAORI_FALLBACK_PATH=${module%/*} \
  "$saori" --linux-host trilox.dll call license >/dev/null || fault "the packaged module does not write its licence"
written=${module%/*}/trilox_license.txt

kernel32=$source_tree/tests/windows/xp_kernel32.txt
copyright=$(grep -m1 '^Copyright' "$written")
for name in win32 win64; do
  mkdir "$unpacked/$name"
  unzip -q "$dir/trilox-$version-$name.zip" -d "$unpacked/$name" || fault "cannot unpack the $name zip"
  files=$(cd "$unpacked/$name" && find . | sort | tr '\n' ' ')
  [ "$files" = ". ./LICENSE ./script-authors.ja.txt ./script-authors.txt ./trilox.dll " ] ||
    fault "the $name zip holds: $files"
  limit=() && [ $name = win32 ] && limit=($max_bytes)
  /usr/bin/python3 "$here/../windows/check_shipped_dll.py" "$unpacked/$name/trilox.dll" "$version" "$copyright" \
    "$kernel32" "${limit[@]}" || fault "the $name DLL"
done

for docs in "$unpacked/win32" "$unpacked/win64" "$unpacked/$linux/share/doc/trilox"; do
  cmp -s "$docs/LICENSE" "$written" || fault "${docs#$unpacked/}/LICENSE is not what license writes"
  /usr/bin/python3 "$here/check_guides.py" "$docs/script-authors.txt" "$docs/script-authors.ja.txt" ||
    fault "the guides in ${docs#$unpacked/}"
done

[ $faults -eq 0 ] && echo "$dir: the packages are as they should be"
exit $((faults > 0))
