#!/usr/bin/env python3
"""The cards of bench/run-card-map and its report.

  card_map.py clips CARD                     the clips CARD needs: NAME SECONDS WIDTH HEIGHT FPS GOP KBPS PATTERN
  card_map.py photos OUT.json                a layout holding each distinct photo once, to learn their sizes
  card_map.py layout CARD CLIPS PHOTOS.json SAMPLES OUT.json
  card_map.py check MANIFEST RECOVER.json    what a recovery gave back, against the card's manifest
  card_map.py report CARD MANIFEST RUNS.tsv  the table of one card

Every position on the cards is worked out here, on the 32 KiB grid a
camera's FAT file system uses, so that recordings can be cut into extents
laid out of order between the marker photos around them.
"""
import collections
import hashlib
import json
import os
import random
import statistics
import sys

CLUSTER = 32768
MIB = 1024 * 1024
GIB = 1024 * MIB
HEADERS = ["jfif", "exif2044", "exif14831"]
# Part orders in which no part is directly followed by its successor.
ORDERS = {3: [2, 1, 0], 4: [1, 3, 0, 2], 5: [3, 0, 4, 2, 1]}


def align(n):
    return (n + CLUSTER - 1) // CLUSTER * CLUSTER


# Clips: name -> (seconds, width, height, fps, gop, kbit/s, pattern). High
# constant bitrates at small sizes give camera-sized files at a fraction of
# the encoding time.
BIG_CLIPS = {
    "long-a": (300, 640, 360, 30, 15, 40000, 1),
    "long-b": (180, 1280, 720, 60, 30, 24000, 2),
    "mid": (60, 640, 360, 25, 25, 12000, 3),
    "short-a": (20, 320, 240, 30, 15, 8000, 4),
    "short-b": (8, 320, 240, 60, 30, 4000, 5),
}
# Recordings of the big card: (clip or camera sample, how many, how many of
# them are cut into extents and into how many parts).
BIG_RECORDINGS = [
    ("long-a", 2, []),
    ("long-b", 2, [3]),
    ("mid", 6, [4]),
    ("short-a", 10, [5]),
    ("short-b", 10, []),
    ("gopro-karma", 5, [3]),
    ("gopro-max-heromode", 5, []),
]
BURST_CLIPS = {
    f"burst-{s}-{fps}": (s, 320, 240, fps, gop, kbps, n)
    for n, (s, (fps, gop, kbps)) in enumerate(
        (s, r) for s in (1.0, 1.5, 2.0) for r in ((30, 15, 1200), (60, 30, 2000), (25, 25, 1500)))
}
BURST_RECORDINGS = 2600
BURST_PHOTOS = 30000
BURST_SIZE = 2 * GIB


def marker_variants():
    return [(160, 120, 3, p, h) for p in range(6) for h in HEADERS]


def photo_variants(card):
    if card == "big":
        return [(w, h, q, p, "plain") for (w, h, q) in ((4000, 3000, 3), (1920, 1080, 3), (1280, 720, 4), (640, 480, 5))
                for p in range(4)]
    return [(w, h, q, p, "plain") for (w, h, q) in ((320, 240, 5), (480, 360, 8), (240, 180, 4), (160, 120, 3))
            for p in range(6)]


def variant_name(v):
    w, h, q, p, header = v
    return f"{w}x{h}-q{q}-p{p}-{header}.JPG"


def photo_entry(v):
    w, h, q, p, header = v
    return {"photo": {"width": w, "height": h, "quality": q, "pattern": p}, "header": header}


def cmd_clips(card):
    for name, options in (BIG_CLIPS if card == "big" else BURST_CLIPS).items():
        print(name, *options)


def cmd_photos(out):
    variants = set(marker_variants()) | set(photo_variants("big")) | set(photo_variants("burst"))
    files = [dict(name=variant_name(v), **photo_entry(v)) for v in sorted(variants)]
    with open(out, "w") as f:
        json.dump({"files": files}, f)


class Card:
    """Lays files one after another on the grid, as the camera's writes
    fill the card, with a stretch of old data between some of them."""

    def __init__(self, photo_sizes):
        self.files = []
        self.at = MIB
        self.photo_sizes = photo_sizes

    def photo(self, name, v):
        self.files.append(dict(name=name, **photo_entry(v), at=self.at))
        self.at = align(self.at + self.photo_sizes[variant_name(v)])

    def recording(self, name, path, size, pieces):
        if not pieces:
            self.files.append({"name": name, "path": path, "at": self.at})
            self.at = align(self.at + size)
            return
        cuts = [0] + [size * i // pieces // CLUSTER * CLUSTER for i in range(1, pieces)] + [size]
        extents = []
        for i in ORDERS[pieces]:
            extents.append([self.at, cuts[i], cuts[i + 1] - cuts[i]])
            self.at = align(self.at + cuts[i + 1] - cuts[i])
        self.files.append({"name": name, "path": path, "extents": extents})

    def skip(self, clusters):
        self.at += clusters * CLUSTER


def cmd_layout(card, clip_dir, photos_manifest, samples, out):
    with open(photos_manifest) as f:
        photo_sizes = {e["name"]: e["size"] for e in json.load(f)["files"]}
    rng = random.Random(2044)
    c = Card(photo_sizes)
    markers = marker_variants()
    loose = photo_variants(card)

    def clip_file(name):
        sample = os.path.join(samples, name + ".mp4")
        path = sample if os.path.exists(sample) else os.path.join(clip_dir, name + ".mp4")
        if not os.path.exists(path):  # no camera samples: a clip of about their size
            path = os.path.join(clip_dir, "short-b.mp4")
        return path, os.path.getsize(path)

    if card == "big":
        plan = []
        for name, count, splits in BIG_RECORDINGS:
            plan += [(name, splits[i] if i < len(splits) else 0) for i in range(count)]
        rng.shuffle(plan)
        per_group = [12] * len(plan)
    else:
        names = list(BURST_CLIPS)
        plan = [(rng.choice(names), 0) for _ in range(BURST_RECORDINGS)]
        per_group = [(i + 1) * BURST_PHOTOS // BURST_RECORDINGS - i * BURST_PHOTOS // BURST_RECORDINGS
                     for i in range(BURST_RECORDINGS)]

    photo_no = 1
    for n, ((clip, pieces), photos) in enumerate(zip(plan, per_group), start=1):
        # Marker photo, recording, marker photo, then the photos taken
        # before the next recording.
        path, size = clip_file(clip)
        c.photo(f"GX{n:06d}A.JPG", markers[rng.randrange(len(markers))])
        c.recording(f"GX{n:06d}.MP4", path, size, pieces)
        c.photo(f"GX{n:06d}B.JPG", markers[rng.randrange(len(markers))])
        for _ in range(photos):
            c.photo(f"GOPR{photo_no:06d}.JPG", loose[rng.randrange(len(loose))])
            photo_no += 1
        if card == "big":
            c.skip(rng.choice([0, 0, 1, 3, 8, 16]))
        elif rng.random() < 0.1:
            c.skip(1)

    size = c.at + MIB
    if card == "burst":
        if size > BURST_SIZE:
            sys.exit(f"card_map: the burst card needs {size} bytes, more than {BURST_SIZE}")
        size = BURST_SIZE
    with open(out, "w") as f:
        json.dump({"size": size, "seed": 7, "files": c.files}, f, indent=0)
    print(size)


def kinds(manifest):
    by = collections.Counter()
    for e in manifest["files"]:
        by[e["name"].rsplit(".", 1)[-1].lower()] += 1
    return by["mp4"], by["jpg"]


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while block := f.read(1 << 20):
            h.update(block)
    return h.hexdigest()


def cmd_check(manifest_path, recover_json):
    """Files a recovery wrote complete, and how many are byte for byte a
    file of the card (as multisets: the cards reuse clips and photos)."""
    with open(manifest_path) as f:
        manifest = json.load(f)
    with open(recover_json) as f:
        run = json.load(f)
    originals = collections.Counter(e["sha256"] for e in manifest["files"])
    written = {"mp4": 0, "jpg": 0}
    exact = {"mp4": 0, "jpg": 0}
    for entry in run["files"]:
        ext = entry["name"].rsplit(".", 1)[-1].lower()
        if not entry["complete"] or ext not in written:
            continue
        written[ext] += 1
        digest = sha256(entry["name"])
        if originals[digest] > 0:
            originals[digest] -= 1
            exact[ext] += 1
    print(json.dumps({"videos_written": written["mp4"], "photos_written": written["jpg"],
                      "videos_exact": exact["mp4"], "photos_exact": exact["jpg"]}))


def human(n):
    return "-" if n is None else f"{n / GIB:.2f} GiB" if n >= GIB else f"{n / MIB:.0f} MiB"


def cmd_report(card, manifest_path, runs_path):
    with open(manifest_path) as f:
        manifest = json.load(f)
    size = manifest["image_size"]
    videos, photos = kinds(manifest)
    runs = collections.defaultdict(list)  # (label, command) -> [(seconds, json or None)]
    checks = {}
    order = []
    with open(runs_path) as f:
        for line in f:
            label, command, seconds, out = line.rstrip("\n").split("\t")
            if command == "check":
                with open(out) as g:
                    checks[label] = json.load(g)
                continue
            report = None
            if out != "-":
                try:
                    with open(out) as g:
                        report = json.load(g)
                except (OSError, ValueError):
                    pass
            if (label, command) not in runs:
                order.append((label, command))
            runs[(label, command)].append((float(seconds), report))

    cat = statistics.median(s for s, _ in runs[("", "cat")])
    rounds = len(runs[("", "cat")])
    print(f"\n{card} card: {size} bytes ({human(size)}), {videos} recordings, {photos} photos "
          f"(marker photos included); median of {rounds} round(s), page-cached")
    print(f"{'command':<34}{'wall s':>9}{'x cat':>8}{'read/card':>11}{'written':>12}"
          f"{'rec.read/written':>18}{'peak memory':>13}")
    for label, command in order:
        times = runs[(label, command)]
        wall = statistics.median(s for s, _ in times)
        reports = [r for _, r in times if r]
        last = reports[-1] if reports else {}

        def field(key):
            return last.get(key)

        read = field("source_bytes_read")
        written = field("bytes_written")
        rec_read = field("recovery_bytes_read")
        peaks = [r["peak_memory_bytes"] for r in reports if "peak_memory_bytes" in r]
        name = command if not label else f"{command} ({label})"
        print(f"{name:<34}{wall:>9.2f}{wall / cat:>8.2f}"
              f"{(f'{read / size:.2f}' if read is not None else '-'):>11}"
              f"{(human(written) if command == 'recover' else ''):>12}"
              f"{(f'{rec_read / written:.2f}' if rec_read is not None and written else '-' if command == 'recover' else ''):>18}"
              f"{(human(max(peaks)) if peaks else '-') if command != 'cat' else '':>13}")

    print(f"{'found and written':<34}{'recordings':>16}{'photos':>16}{'exact videos':>14}{'exact photos':>14}")
    print(f"{'on the card (manifest)':<34}{videos:>16}{photos:>16}")
    for label, command in order:
        if command == "cat":
            continue
        reports = [r for _, r in runs[(label, command)] if r]
        if not reports:
            continue
        r = reports[-1]
        if command == "scan":
            print(f"{'scan found (' + label + ')':<34}{r.get('video_total', 0):>16}{len(r.get('photo_list', [])):>16}")
        elif label in checks:
            c = checks[label]
            print(f"{'recover wrote (' + label + ')':<34}{c['videos_written']:>16}{c['photos_written']:>16}"
                  f"{c['videos_exact']:>14}{c['photos_exact']:>14}")


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    {"clips": cmd_clips, "photos": cmd_photos, "layout": cmd_layout, "check": cmd_check,
     "report": cmd_report}[command](*args)
