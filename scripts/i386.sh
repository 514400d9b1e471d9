#!/usr/bin/env bash
# Runs CMD where every 32-bit x86 program goes through QEMU's i386 user-mode
# emulator, for machines whose kernel cannot execute i386 code:
#
#   scripts/i386.sh CMD [ARG...]        as in: scripts/i386.sh /usr/lib/wine/wine prog.exe
#
# CMD runs in new user, mount and pid namespaces. There the script mounts a
# binfmt_misc of its own (Linux 6.7 or later) and registers qemu-i386 for
# i386 ELF programs, so Wine's loader, its re-executions and the further
# processes it starts all run; nothing changes outside. Every process left
# in the namespace (wineserver, Wine's services) ends when CMD ends, so a
# program that must outlive it, such as a wineserver saving a new prefix,
# has to be waited for within CMD.
#
# The 32-bit programs get the library built in build/native/tools/qemu-i386
# preloaded, which gives signal handlers the fault numbers QEMU leaves out.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
qemu=/usr/bin/qemu-i386
fail() { echo "i386: $*" >&2; exit 125; }

[ $# -gt 0 ] || { echo "usage: scripts/i386.sh CMD [ARG...]" >&2; exit 2; }
[ -x "$qemu" ] || fail "$qemu is missing (package qemu-user, which scripts/setup.sh installs)"
unshare --user --map-root-user true 2>/dev/null ||
  fail "this kernel does not let this user make a user namespace, so binfmt_misc cannot be set up for $qemu"

preload=$root/build/native/tools/qemu-i386
if [ -f "$preload/lib/i386-linux-gnu/libfault_numbers.so" ]; then
  # The loader expands $LIB: the library for 32-bit programs, an empty one
  # for the 64-bit ones (qemu-i386 itself, wineserver).
  export LD_PRELOAD="$preload/\$LIB/libfault_numbers.so${LD_PRELOAD:+ $LD_PRELOAD}"
else
  echo "i386: $preload holds no libfault_numbers.so (built with build/native):" \
    "faults in 32-bit programs will look like illegal instructions" >&2
fi
# A 2 GiB guest address space: without it QEMU turns each of Wine's searches
# for free address space into tens of thousands of mmap calls, 40 s a start.
export QEMU_RESERVED_VA=0x7fff0000

# The usual i386 ELF magic and mask: class 32-bit, little-endian, machine 3.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
inside='
binfmt=/proc/sys/fs/binfmt_misc
mount -t binfmt_misc binfmt_misc "$binfmt" ||
  { echo "i386: cannot mount binfmt_misc in a user namespace (Linux 6.7 or later can)" >&2; exit 125; }
# F: the emulator is opened now, so the programs find it whatever their root.
printf ":i386:M::%s:%s:%s:F" "$I386_MAGIC" "$I386_MASK" "$I386_QEMU" >"$binfmt/register" ||
  { echo "i386: cannot register $I386_QEMU with binfmt_misc" >&2; exit 125; }
unset I386_MAGIC I386_MASK I386_QEMU
# Not exec: CMD is not to be the namespace init, which ignores signals.
"$@"
exit $?
'
# --kill-child: a killed script (a test timeout) takes the namespace with it.
I386_MAGIC=$magic I386_MASK=$mask I386_QEMU=$qemu \
  exec unshare --user --map-root-user --mount --pid --fork --mount-proc --kill-child \
  bash -c "$inside" i386 "$@"
