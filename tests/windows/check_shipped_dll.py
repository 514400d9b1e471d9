"""Checks a shipped trilox.dll: its size, its imports (KERNEL32.dll and
msvcrt.dll only, and only kernel32 functions of the allowed list), no link
time, and the version resource Explorer shows, which it prints.

  check_shipped_dll.py DLL VERSION COPYRIGHT KERNEL32_LIST [MAX_BYTES]
"""
import os
import sys

import pefile

dll, version, copyright_line, kernel32_list = sys.argv[1:5]
max_bytes = int(sys.argv[5]) if len(sys.argv) > 5 else None
problems = []

size = os.path.getsize(dll)
print(f"{dll}: {size} bytes")
if max_bytes is not None and size > max_bytes:
    problems.append(f"{size} bytes, more than {max_bytes}")

pe = pefile.PE(dll)
if pe.FILE_HEADER.TimeDateStamp != 0:
    problems.append("the header carries a link time")

with open(kernel32_list) as listed:
    allowed = {line.strip() for line in listed if line.strip() and not line.startswith("#")}
for entry in pe.DIRECTORY_ENTRY_IMPORT:
    name = entry.dll.decode().lower()
    functions = {i.name.decode() if i.name else f"#{i.ordinal}" for i in entry.imports}
    if name == "kernel32.dll":
        problems += [f"imports {f} from kernel32, not in {kernel32_list}" for f in sorted(functions - allowed)]
    elif name != "msvcrt.dll":
        problems.append(f"imports {entry.dll.decode()}")

fields = {}
for info in getattr(pe, "FileInfo", []):
    for block in info:
        for table in getattr(block, "StringTable", []):
            fields.update({k.decode(): v.decode() for k, v in table.entries.items()})
for key, value in sorted(fields.items()):
    print(f"  {key}: {value}")
expected = {"FileVersion": version, "ProductVersion": version, "OriginalFilename": "trilox.dll",
            "ProductName": "trilox", "LegalCopyright": copyright_line}
problems += [f"{key} is {fields.get(key)!r}, not {value!r}" for key, value in expected.items()
             if fields.get(key) != value]
if not fields.get("FileDescription"):
    problems.append("no FileDescription")
fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
numbers = [int(n) for n in version.split(".")] + [0]
if not fixed or (fixed.FileVersionMS, fixed.FileVersionLS) != (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]):
    problems.append("the fixed file version is not " + version)

for problem in problems:
    print(f"{dll}: {problem}")
sys.exit(1 if problems else 0)
