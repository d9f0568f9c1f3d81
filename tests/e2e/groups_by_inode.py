"""groups_by_inode.py <ours|peer> <listing>: the duplicate groups of a NUL-ended listing, as
sets of files by device and inode, one group a line, sorted, for two tools to be compared.

A listing is records ended by NUL, and an empty record ends a group: `quillsum --duplicates
-z` writes `ID  NAME` records, `jdupes -0` bare names. A group of the peer may hold several
names of one file (jdupes adds a hard link of a member to its set); as a set of files it is
one, and a set of fewer than two files is no group. A group of ours must name each file
once, and hold two files at least: anything else is reported and the exit status is 1."""
import os
import sys

kind, listing = sys.argv[1], sys.argv[2]
with open(listing, "rb") as f:
    records = f.read().split(b"\0")
if records[-1] != b"":
    sys.exit(f"{listing}: the last record is not ended by NUL")
records.pop()
if records and records[-1] != b"":
    sys.exit(f"{listing}: the last group is not ended by an empty record")

groups, names, bad = set(), [], []
for record in records:
    if record:
        names.append(record[82:] if kind == "ours" else record)
        continue
    files = {(s.st_dev, s.st_ino) for s in (os.stat(n) for n in names)}
    if kind == "ours" and (len(files) != len(names) or len(files) < 2):
        bad.append(b" | ".join(names).decode(errors="replace"))
    if len(files) >= 2:
        groups.add(" ".join(sorted(f"{d}:{i}" for d, i in files)))
    names = []
for line in sorted(groups):
    print(line)
for group in bad:
    print(f"a group of ours names a file twice or stands alone: {group}", file=sys.stderr)
sys.exit(1 if bad else 0)
