#!/usr/bin/env python3
"""Compares `fvb exif --json` with `exiftool -j -n -G1` on the same files.

Development aid (not run by CI): prints every tag both readers report for the IFD0,
Exif IFD and GPS IFD, counts agreements and lists each disagreement.

usage: exif_oracle_compare.py FVB FILE...
"""
import json
import math
import subprocess
import sys

# our key -> exiftool key (only where they differ)
RENAMED = {
    "DateTimeDigitized": "CreateDate",
    "DateTime": "ModifyDate",
    "PixelXDimension": "ExifImageWidth",
    "PixelYDimension": "ExifImageHeight",
    "ISOSpeedRatings": "ISO",
    "ExposureBiasValue": "ExposureCompensation",
    "FocalLengthIn35mmFilm": "FocalLengthIn35mmFormat",
}
GROUPS = ("IFD0", "ExifIFD", "GPS")


def ours_to_oracle(name, value):
    """Our values are as stored in the file; exiftool converts a few even with -n."""
    if name == "ShutterSpeedValue" and isinstance(value, (int, float)):
        return 2 ** (-value) if abs(value) < 100 else 0
    if name in ("ApertureValue", "MaxApertureValue") and isinstance(value, (int, float)):
        return 2 ** (value / 2) if abs(value) < 100 else 0
    if name in ("GPSLatitude", "GPSLongitude", "GPSDestLatitude", "GPSDestLongitude") and isinstance(value, list):
        d, m, s = (value + [0, 0, 0])[:3]
        return d + m / 60 + s / 3600
    if name == "GPSTimeStamp" and isinstance(value, list):
        h, m, s = (value + [0, 0, 0])[:3]
        return "%02d:%02d:%s" % (h, m, ("%05.2f" % s).rstrip("0").rstrip(".") if s != int(s) else "%02d" % s)
    return value


def as_numbers(v):
    if isinstance(v, bool):
        return None
    if isinstance(v, (int, float)):
        return [float(v)]
    if isinstance(v, list) and all(isinstance(x, (int, float)) for x in v):
        return [float(x) for x in v]
    if isinstance(v, str):
        try:
            return [float(x) for x in v.split()] if v.strip() else None
        except ValueError:
            return None
    return None


def close(a, b):
    if a == b:
        return True
    return abs(a - b) <= 5e-6 * max(abs(a), abs(b)) or abs(a - b) < 1e-9


def agree(ours, theirs):
    na, nb = as_numbers(ours), as_numbers(theirs)
    if na is not None and nb is not None and len(na) == len(nb):
        return all(close(x, y) for x, y in zip(na, nb))
    if isinstance(theirs, str) and not isinstance(ours, str):
        ours = str(ours)
    if isinstance(ours, str) and not isinstance(theirs, str):
        theirs = str(theirs)
    # GPS time: exiftool prints "14:27:07.24"; compare by seconds
    if isinstance(ours, str) and isinstance(theirs, str) and ours.count(":") == 2 and theirs.count(":") == 2 and " " not in ours:
        try:
            return all(close(float(x), float(y)) for x, y in zip(ours.split(":"), theirs.split(":")))
        except ValueError:
            pass
    return str(ours).rstrip(" \0") == str(theirs).rstrip(" \0")


def main():
    fvb, files = sys.argv[1], sys.argv[2:]
    mine = json.loads(subprocess.run([fvb, "exif", "--json", *files], capture_output=True, text=True).stdout)
    oracle = json.loads(subprocess.run(["exiftool", "-j", "-n", "-G1", *files], capture_output=True, text=True).stdout)
    by_file = {o["SourceFile"]: o for o in oracle}
    total = agreed = files_all_agree = 0
    only_ours, only_theirs, differ = [], [], []
    for m in mine:
        o = by_file.get(m["file"], {})
        theirs = {}
        for k, v in o.items():
            if ":" in k and k.split(":", 1)[0] in GROUPS:
                theirs.setdefault(k.split(":", 1)[1], v)
        file_ok = True
        for name, value in m["tags"].items():
            key = RENAMED.get(name, name)
            if key not in theirs:
                only_ours.append((m["file"], name))
                continue
            total += 1
            if agree(ours_to_oracle(name, value), theirs[key]):
                agreed += 1
            else:
                file_ok = False
                differ.append((m["file"], name, value, theirs[key]))
        files_all_agree += file_ok
        names = {RENAMED.get(n, n) for n in m["tags"]}
        for key in theirs:
            if key not in names:
                only_theirs.append((m["file"], key))
    print("files: %d, files where every shared tag agrees: %d" % (len(mine), files_all_agree))
    print("shared tags: %d, agreeing: %d" % (total, agreed))
    for d in differ:
        print("DIFFER %s %s: ours %r, exiftool %r" % d)
    print("only in ours: %d" % len(only_ours))
    for f, n in only_ours:
        print("  OURS %s %s" % (f, n))
    tags = sorted({n for _, n in only_theirs})
    print("only in exiftool (tags this reader does not store): %s" % ", ".join(tags))
    return 0 if agreed == total else 1


if __name__ == "__main__":
    sys.exit(main())
