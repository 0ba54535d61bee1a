#!/usr/bin/env python3
"""Writes the crafted zip archives the extraction tests feed through the tool's stream functions."""
import io
import sys
import zipfile
from pathlib import Path


def archive(entries):
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_DEFLATED) as z:
        for name, content in entries:
            info = zipfile.ZipInfo(name)
            if not name.endswith("/"):
                info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, content)
    return data.getvalue()


def main(out_dir):
    out = Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    script = b"return 1\n" * 200
    archives = {
        "flat.zip": archive([("a.lua", script), ("b.lua", b"-- b\n")]),
        "dotdot.zip": archive([("first.lua", script), ("../escaped.lua", script), ("after.lua", script)]),
        "inner-dots.zip": archive([("first.lua", script), ("x..y.lua", script)]),
        "dirs.zip": archive([("sub/", b""), ("sub/x.lua", script), ("only/", b"")]),
        "empty.zip": archive([]),
    }
    archives["truncated.zip"] = archives["flat.zip"][: len(archives["flat.zip"]) // 2]
    # A valid directory whose data is damaged: inflating the entry fails.
    damaged = bytearray(archive([("a.lua", script)]))
    start = damaged.index(b"a.lua") + len(b"a.lua")
    damaged[start : start + 8] = b"\xff" * 8
    archives["damaged-data.zip"] = bytes(damaged)
    for name, data in archives.items():
        (out / name).write_bytes(data)


if __name__ == "__main__":
    main(sys.argv[1])
