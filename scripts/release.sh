#!/usr/bin/env bash
# Makes a release of this tree and checks it:
#   scripts/release.sh [--out DIR] [--no-check]
#   scripts/release.sh --check-reproducible     builds it twice and compares
# writes to build/release (or DIR) trilox-VERSION-win32.zip (the DLL for
# 32-bit hosts), trilox-VERSION-win64.zip (the same for 64-bit hosts),
# trilox-VERSION-linux-x86_64.tar.gz and SHA256SUMS. VERSION is the CMake
# project version.
#
# Each release is built in a clean copy of the tree (its tracked files and
# the untracked ones git does not ignore) in a directory of its own. The
# packages do not depend on where or when that is: no build paths and no
# link times in the binaries, every file dated at the last commit, owners
# and modes fixed. The same commit gives the same bytes.
set -eu
cd "$(dirname "$0")/.."
source_tree=$PWD
out=$source_tree/build/release check=yes twice=no
while [ $# -gt 0 ]; do
  case $1 in
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --no-check) check=no; shift ;;
    --check-reproducible) twice=yes; shift ;;
    *) sed -n '2,4s/^# //p' "$0" >&2; exit 2 ;;
  esac
done

scripts/setup.sh
git rev-parse --git-dir >/dev/null 2>&1 || { echo "release: $source_tree is not a git checkout" >&2; exit 1; }
[ -z "$(git status --porcelain)" ] ||
  echo "release: the tree has changes that are not committed; this release is not one of $(git rev-parse --short HEAD)"
epoch=$(git log -1 --format=%ct)
work=$(mktemp -d /tmp/trilox-release.XXXXXX)
trap 'rm -rf "$work"' EXIT

# release WORKDIR PACKAGES_DIR: builds the packages from a fresh copy.
release() {
  local tree=$1/trilox stage=$1/stage packages=$2
  mkdir -p "$tree" "$stage" "$packages"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
    tar --null -T - -cf - | tar -xf - -C "$tree"

  (cd "$tree" && cmake --preset native -DCMAKE_BUILD_TYPE=Release -DTRILOX_TESTS=OFF >/dev/null &&
   cmake --preset win32 -DTRILOX_TESTS=OFF >/dev/null && cmake --preset win64 -DTRILOX_TESTS=OFF >/dev/null)
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$tree/build/native/CMakeCache.txt")
  local build name
  for build in native win32 win64; do
    cmake --build "$tree/build/$build" -j "$(nproc)" --target trilox saori >/dev/null
  done
  cmake --install "$tree/build/native" --prefix "$stage/linux/trilox-$version-linux-x86_64" --strip >/dev/null
  cmake --install "$tree/build/win32" --prefix "$stage/win32" >/dev/null
  cmake --install "$tree/build/win64" --prefix "$stage/win64" >/dev/null

  find "$stage" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
  chmod 755 "$stage"/linux/*/lib/saori/trilox.so
  find "$stage" -exec touch -h -d "@$epoch" {} +
  for name in win32 win64; do
    (cd "$stage/$name" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
     TZ=UTC zip -X -q "$packages/trilox-$version-$name.zip" -@)
  done
  tar -C "$stage/linux" --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner --format=gnu \
      -cf - "trilox-$version-linux-x86_64" | gzip -9n >"$packages/trilox-$version-linux-x86_64.tar.gz"
  (cd "$packages" && sha256sum trilox-* >SHA256SUMS)
  saori=$tree/build/native/saori  # for the checks: the release's own host
}

rm -rf "$out"
release "$work/first" "$out"
echo "release: trilox $version in $out"
(cd "$out" && ls -l --time-style=+ trilox-* | awk '{print "  " $NF ": " $5 " bytes"}')

if [ $twice = yes ]; then
  release "$work/second" "$work/second/packages"
  if cmp -s "$out/SHA256SUMS" "$work/second/packages/SHA256SUMS"; then
    echo "release: reproducible: two builds in two clean trees give identical sums"
    sed 's/^/  /' "$out/SHA256SUMS"
  else
    echo "release: NOT reproducible: the sums of two builds differ" >&2
    diff "$out/SHA256SUMS" "$work/second/packages/SHA256SUMS" >&2
    exit 1
  fi
fi

if [ $check = yes ]; then
  tests/package/check_release.sh "$out" "$version" "$saori"
fi
