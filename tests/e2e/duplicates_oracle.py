"""What quillsum --duplicates must print, from jdupes's groups, sha256sum's digests and the
walk order, never from our own code.

  duplicates_oracle.py groups <ours|peer> <listing>
      The groups of a NUL-ended listing as sets of files by device and inode, one group a
      line, sorted, for two tools to be compared. Records end in NUL and an empty record
      ends a group: `quillsum --duplicates -z` writes `ID  NAME` records, `jdupes -0` bare
      names. A group of the peer may hold several names of one file (jdupes adds a hard
      link of a member to its set): as a set of files it is one, and a set of fewer than two
      files is no group. A group of ours must name each file once and hold two at least;
      anything else is reported, and the exit status is 1.

  duplicates_oracle.py expect <lf|crlf|nul> <peer listing> <operand>...
      The exact output for the peer's groups over a walk of the operands: each group's files
      under their first names in walk order (depth first, each folder's entries in the byte
      order of their names, operands as typed joined by one '/'), in that order, groups in
      the order of their first files, one empty line between groups; escaped as sha256sum
      escapes a name, except with nul, where each line ends in NUL and so does each group."""
import os
import subprocess
import sys


def read_groups(listing, strip):
    with open(listing, "rb") as f:
        records = f.read().split(b"\0")
    if records[-1] != b"":
        sys.exit(f"{listing}: the last record is not ended by NUL")
    records.pop()
    if records and records[-1] != b"":
        sys.exit(f"{listing}: the last group is not ended by an empty record")
    groups, names = [], []
    for record in records:
        if record:
            names.append(record[strip:])
        else:
            groups.append(names)
            names = []
    return groups


def file_of(name):
    s = os.stat(name)
    return (s.st_dev, s.st_ino)


def groups(kind, listing):
    found, bad = set(), []
    for names in read_groups(listing, 82 if kind == "ours" else 0):
        files = {file_of(n) for n in names}
        if kind == "ours" and (len(files) != len(names) or len(files) < 2):
            bad.append(b" | ".join(names).decode(errors="replace"))
        if len(files) >= 2:
            found.add(" ".join(sorted(f"{d}:{i}" for d, i in files)))
    for line in sorted(found):
        print(line)
    for group in bad:
        print(f"a group of ours names a file twice or stands alone: {group}", file=sys.stderr)
    return 1 if bad else 0


def walk(name):
    """The regular files under name in walk order; links are neither followed nor listed. A
    file operand is itself."""
    if not os.path.isdir(name):
        yield name
        return
    with os.scandir(name) as entries:
        for entry in sorted(entries, key=lambda e: e.name):
            path = name + b"/" + entry.name
            if entry.is_dir(follow_symlinks=False):
                yield from walk(path)
            elif entry.is_file(follow_symlinks=False):
                yield path


def identifiers(names):
    """sha256sum's digests of the files, after their lengths: the identifier lines' IDs."""
    run = subprocess.run(["sha256sum", "-z", "--"] + names, check=True, stdout=subprocess.PIPE)
    out = run.stdout
    digests = [record[:64].upper() for record in out.split(b"\0")[:-1]]
    return [
        os.stat(n).st_size.to_bytes(8, "little").hex().upper().encode() + d
        for n, d in zip(names, digests)
    ]


def line(identifier, name, eol):
    if eol == b"\0" or not any(c in name for c in b"\\\n\r"):
        return identifier + b"  " + name + eol
    escaped = name.replace(b"\\", b"\\\\").replace(b"\n", b"\\n").replace(b"\r", b"\\r")
    return b"\\" + identifier + b"  " + escaped + eol


def expect(ending, listing, operands):
    eol = {"lf": b"\n", "crlf": b"\r\n", "nul": b"\0"}[ending]
    first_name, place = {}, {}
    for operand in operands:
        for path in walk(operand.rstrip(b"/") or b"/"):
            first_name.setdefault(file_of(path), path)
    for position, name in enumerate(first_name.values()):
        place[name] = position
    ordered = []
    for names in read_groups(listing, 0):
        files = sorted({first_name[file_of(n)] for n in names}, key=place.get)
        if len(files) >= 2:
            ordered.append(files)
    ordered.sort(key=lambda files: place[files[0]])
    ids = identifiers([n for files in ordered for n in files])
    out, k = [], 0
    for files in ordered:
        out.append(b"".join(line(ids[k + j], n, eol) for j, n in enumerate(files)))
        k += len(files)
    if ending == "nul":
        sys.stdout.buffer.write(b"".join(group + b"\0" for group in out))
    else:
        sys.stdout.buffer.write(eol.join(out))
    return 0


if sys.argv[1] == "groups":
    sys.exit(groups(sys.argv[2], sys.argv[3]))
sys.exit(expect(sys.argv[2], sys.argv[3], [os.fsencode(a) for a in sys.argv[4:]]))
