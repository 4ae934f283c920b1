#!/usr/bin/env python3
"""The recording of bench/run-big-recording, its cards and its comparisons.

  big_recording.py boxes FILE                 the top-level boxes and each track's chunk table
  big_recording.py check FILE                 exits 1 unless FILE is a recording past 4 GiB as
                                              ffmpeg writes one: a 64-bit mdat size and co64
  big_recording.py layout FILE PIECES OUT.json  a marker photo, FILE (whole, or two halves cut
                                              on the 32 KiB grid, second half first), a marker photo
  big_recording.py videos RECOVER.json        the video files a recovery wrote: NAME VERDICT LOCATED/CHUNKS
  big_recording.py compare ORIGINAL FILE...   per FILE: EXACT TOTAL FILE, its video samples unchanged
                                              at the original's offsets

The files are larger than memory, so they are only ever read box by box
and sample by sample.
"""
import json
import os
import struct
import sys

CLUSTER = 32768
CONTAINERS = {b"moov", b"trak", b"mdia", b"minf", b"stbl", b"edts", b"dinf"}


def align(n):
    return (n + CLUSTER - 1) // CLUSTER * CLUSTER


def top_level(f, size):
    """(type, offset, header length, box size) of each top-level box, with
    the size field as written: 1 means a 64-bit size after the type."""
    at = 0
    while at + 8 <= size:
        f.seek(at)
        field, kind = struct.unpack(">I4s", f.read(8))
        header, box = 8, field
        if field == 1:
            (box,) = struct.unpack(">Q", f.read(8))
            header = 16
        elif field == 0:
            box = size - at
        yield kind.decode("latin-1"), at, header, field, box
        if box < header or at + box > size:
            return
        at += box


def children(data, start, end):
    at = start
    while at + 8 <= end:
        field, kind = struct.unpack_from(">I4s", data, at)
        header, box = 8, field
        if field == 1:
            (box,) = struct.unpack_from(">Q", data, at + 8)
            header = 16
        elif field == 0:
            box = end - at
        if box < header or at + box > end:
            return
        yield kind, at + header, at + box
        at += box


def moov_of(f, size):
    for kind, at, header, _, box in top_level(f, size):
        if kind == "moov":
            f.seek(at)
            return f.read(box)
    sys.exit(f"{f.name}: no moov box")


def tracks(moov):
    """Per track: its handler and the tables of its stbl box, as (start, end)."""
    out = []
    for kind, s, e in children(moov, 8, len(moov)):
        if kind != b"trak":
            continue
        found = {}

        def walk(start, end):
            for k, cs, ce in children(moov, start, end):
                if k in CONTAINERS:
                    walk(cs, ce)
                elif k == b"hdlr":
                    found["handler"] = moov[cs + 8:cs + 12].decode("latin-1")
                elif k in (b"stsz", b"stsc", b"stco", b"co64"):
                    found[k.decode()] = (cs, ce)
        walk(s, e)
        out.append(found)
    return out


def chunk_offsets(moov, t):
    if "co64" in t:
        s, _ = t["co64"]
        (n,) = struct.unpack_from(">I", moov, s + 4)
        return list(struct.unpack_from(f">{n}Q", moov, s + 8))
    s, _ = t["stco"]
    (n,) = struct.unpack_from(">I", moov, s + 4)
    return list(struct.unpack_from(f">{n}I", moov, s + 8))


def samples_per_chunk(moov, t):
    """The stsc runs as (first chunk, samples per chunk), first chunk from 1."""
    s, _ = t["stsc"]
    (n,) = struct.unpack_from(">I", moov, s + 4)
    return [struct.unpack_from(">II", moov, s + 8 + 12 * i) for i in range(n)]


def sample_sizes(moov, t):
    s, _ = t["stsz"]
    fixed, n = struct.unpack_from(">II", moov, s + 4)
    return [fixed] * n if fixed else list(struct.unpack_from(f">{n}I", moov, s + 12))


def video_samples(moov):
    """(offset, size) of every video sample, in the order of the tables."""
    video = [t for t in tracks(moov) if t.get("handler") == "vide"]
    if not video:
        sys.exit("no video track")
    t = video[0]
    offsets, runs, sizes = chunk_offsets(moov, t), samples_per_chunk(moov, t), sample_sizes(moov, t)
    out, sample = [], 0
    for r, (first, per_chunk) in enumerate(runs):
        last = runs[r + 1][0] - 1 if r + 1 < len(runs) else len(offsets)
        for chunk in range(first - 1, min(last, len(offsets))):
            at = offsets[chunk]
            for _ in range(per_chunk):
                if sample >= len(sizes):
                    return out
                out.append((at, sizes[sample]))
                at += sizes[sample]
                sample += 1
    return out


def describe(path):
    size = os.path.getsize(path)
    lines, wide_mdat, co64 = [], False, []
    with open(path, "rb") as f:
        for kind, at, header, field, box in top_level(f, size):
            how = "size field 1, 64-bit size" if field == 1 else "32-bit size"
            lines.append(f"  {kind} at {at}: {box} bytes, {header}-byte header ({how})")
            wide_mdat |= kind == "mdat" and field == 1
        moov = moov_of(f, size)
    for t in tracks(moov):
        table = "co64" if "co64" in t else "stco"
        co64.append(table == "co64")
        runs = samples_per_chunk(moov, t)
        per = sorted({p for _, p in runs})
        lines.append(f"  track {t.get('handler')}: {table}, {len(chunk_offsets(moov, t))} chunks, "
                     f"{len(sample_sizes(moov, t))} samples, samples per chunk {per}")
    return lines, wide_mdat, bool(co64) and all(co64)


def cmd_boxes(path):
    print("\n".join(describe(path)[0]))


def cmd_check(path):
    _, wide_mdat, co64 = describe(path)
    if not (wide_mdat and co64):
        print(f"{path}: {'' if wide_mdat else 'no 64-bit mdat size; '}{'' if co64 else 'not every track in co64'}")
        sys.exit(1)


def cmd_layout(path, pieces, out):
    size = os.path.getsize(path)
    start = 1024 * 1024 + 65536
    if pieces == 1:
        where = {"at": start}
    else:
        # Cut on the card's grid, as a FAT file system leaves the file; the
        # second half is laid first, so the halves meet nowhere on the card.
        cut = size // 2 // CLUSTER * CLUSTER
        where = {"extents": [[start, cut, size - cut], [align(start + size - cut), 0, cut]]}
    layout = {"files": [
        {"name": "M1.JPG", "photo": {"pattern": 1}, "header": "jfif", "at": "1M"},
        dict({"name": "GX010001.MP4", "path": os.path.abspath(path)}, **where),
        {"name": "M2.JPG", "photo": {"pattern": 2}, "header": "exif2044", "gap": "64K"},
    ]}
    with open(out, "w") as f:
        json.dump(layout, f, indent=1)


def cmd_videos(path):
    with open(path) as f:
        report = json.load(f)
    for file in report["files"]:
        if "chunks" in file:
            print(file["name"], file["verdict"] or "-", f"{file['located']}/{file['chunks']}")


def cmd_compare(original, files):
    with open(original, "rb") as f:
        samples = sorted(video_samples(moov_of(f, os.path.getsize(original))))
    for path in files:
        exact = 0
        size = os.path.getsize(path)
        with open(original, "rb") as a, open(path, "rb") as b:
            for at, n in samples:
                if at + n > size:
                    continue
                a.seek(at)
                b.seek(at)
                exact += a.read(n) == b.read(n)
        print(exact, len(samples), path)


def main(argv):
    if len(argv) >= 2 and argv[0] == "boxes":
        cmd_boxes(argv[1])
    elif len(argv) == 2 and argv[0] == "check":
        cmd_check(argv[1])
    elif len(argv) == 4 and argv[0] == "layout" and argv[2] in ("1", "2"):
        cmd_layout(argv[1], int(argv[2]), argv[3])
    elif len(argv) == 2 and argv[0] == "videos":
        cmd_videos(argv[1])
    elif len(argv) >= 3 and argv[0] == "compare":
        cmd_compare(argv[1], argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
