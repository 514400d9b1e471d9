#!/usr/bin/env bash
# Checks a built trilox.dll: the six entry points with _load, _unload and
# _request at ordinals 1 to 3 (the plain names at the same addresses), and
# imports from Windows system DLLs only.
set -u
dll=$1 objdump=$2
dump=$("$objdump" -p "$dll") || { echo "cannot read $dll"; exit 1; }
fail() { echo "$dll: $*"; exit 1; }

# "[   0] +base[   1] 14b0 Export RVA": ordinal and address of each export.
rva_of_ordinal() { awk -v o="$1" '$0 ~ /\+base\[/ { gsub(/[][+a-z]/, " "); if ($2 == o) print $3 }' <<<"$dump"; }
# "[   0] _load": position in the name table; the ordinal table maps it.
name_table=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^\s*\[ *[0-9]+\]')
names=$(awk '{print $NF}' <<<"$name_table" | sort | tr '\n' ' ')
[ "$names" = "_load _request _unload load request unload " ] || fail "exports are: $names"
ordinal_of() { awk -v n="$1" '$NF == n { gsub(/[][]/, " "); print $1 + 1 }' <<<"$name_table"; }
[ "$(ordinal_of _load)" = 1 ] || fail "_load is not ordinal 1"
[ "$(ordinal_of _unload)" = 2 ] || fail "_unload is not ordinal 2"
[ "$(ordinal_of _request)" = 3 ] || fail "_request is not ordinal 3"
for name in load unload request; do
  [ "$(rva_of_ordinal "$(ordinal_of $name)")" = "$(rva_of_ordinal "$(ordinal_of _$name)")" ] ||
    fail "$name is not the same function as _$name"
done

imports=$(grep -oE 'DLL Name: .*' <<<"$dump" | cut -d' ' -f3 | tr 'A-Z' 'a-z' | sort -u)
for import in $imports; do
  case $import in
    kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ntdll.dll|ws2_32.dll|api-ms-win-*) ;;
    *) fail "imports $import, which is not a Windows system DLL" ;;
  esac
done
echo "$dll: exports and imports as they should be"
