"""Checks the Japanese script authors' guide against the English one: UTF-8
with a byte-order mark and CR LF line ends, as Notepad on Japanese Windows
reads it, and a command table naming the same commands, in the same order,
with the same statuses.

  check_guides.py ENGLISH JAPANESE
"""
import re
import sys


def table(text):
    """The commands and statuses of the table under its ruler, the first line
    of dashed columns."""
    lines = text.splitlines()
    start = next(i for i, line in enumerate(lines) if re.match(r"-+ +-+", line))
    rows = []
    for line in lines[start + 1:]:
        if not line.strip():
            break
        rows.append(line)
    commands = [row.split()[0] for row in rows if not row[0].isspace()]
    statuses = set(re.findall(r"(?<!\d)[2-5]\d\d(?!\d)", "\n".join(rows)))
    return commands, statuses


english_path, japanese_path = sys.argv[1:3]
with open(english_path, encoding="utf-8") as file:
    english = file.read()
with open(japanese_path, "rb") as file:
    raw = file.read()
problems = []
if not raw.startswith(b"\xef\xbb\xbf"):
    problems.append("no UTF-8 byte-order mark")
if raw.count(b"\n") != raw.count(b"\r\n") or raw.count(b"\r") != raw.count(b"\r\n"):
    problems.append("line ends other than CR LF")
japanese = raw.decode("utf-8-sig").replace("\r\n", "\n")

english_table, japanese_table = table(english), table(japanese)
if not english_table[0]:
    problems.append(f"{english_path}: no command table")
if japanese_table[0] != english_table[0]:
    problems.append(f"the commands are {japanese_table[0]}, in English {english_table[0]}")
if japanese_table[1] != english_table[1]:
    problems.append(f"the statuses are {sorted(japanese_table[1])}, in English {sorted(english_table[1])}")
for problem in problems:
    print(f"{japanese_path}: {problem}")
sys.exit(1 if problems else 0)
