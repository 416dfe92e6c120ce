#!/usr/bin/python3
"""The same work as bench_inspect with Debian's python3-pefile, for comparison.

Prints one JSON object: files per second for the direct pass (imports and
FileVersion of every file) and for the closure pass (every file's import
closure, resolved in the file's own folder, ignoring case).
"""
import json
import os
import sys
import time

import pefile

EXTS = {".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax"}
DIRS = [pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]]


def imports_of(path):
    try:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(directories=DIRS[:1])
    except pefile.PEFormatError:
        return []
    names = [e.dll.decode("cp1252") for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    pe.close()
    return names


def file_version(path):
    try:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(directories=DIRS[1:])
    except pefile.PEFormatError:
        return "V: ???"
    version = "V: ???"
    for info in getattr(pe, "FileInfo", []) or []:
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                value = table.entries.get(b"FileVersion")
                if value is not None and version == "V: ???":
                    version = value.decode("utf-8", "replace")
    pe.close()
    return version


def main():
    if sys.argv[1] == "--direct":
        # One direct pass and nothing else: timed as a whole process.
        folder = sys.argv[2]
        for f in sorted(os.path.join(folder, f) for f in os.listdir(folder)
                        if os.path.splitext(f)[1].lower() in EXTS and os.path.isfile(os.path.join(folder, f))):
            imports_of(f)
            file_version(f)
        return
    folder = sys.argv[1]
    closure_sample = int(sys.argv[2]) if len(sys.argv) > 2 else 40
    files = sorted(os.path.join(folder, f) for f in os.listdir(folder)
                   if os.path.splitext(f)[1].lower() in EXTS and os.path.isfile(os.path.join(folder, f)))
    by_lower = {os.path.basename(f).lower(): f for f in files}

    # Best of three passes, so pefile is measured warm as the C++ side is.
    direct = float("inf")
    for _ in range(3):
        start = time.perf_counter()
        for f in files:
            imports_of(f)
            file_version(f)
        direct = min(direct, time.perf_counter() - start)

    sample = files[:closure_sample]
    start = time.perf_counter()
    for f in sample:
        seen, stack = set(), [f]
        while stack:
            for name in imports_of(stack.pop()):
                path = by_lower.get(name.lower())
                if path and path.lower() not in seen:
                    seen.add(path.lower())
                    stack.append(path)
    closure = time.perf_counter() - start
    print(json.dumps({"files": len(files), "direct_files_per_sec": len(files) / direct,
                      "closure_files": len(sample), "closure_files_per_sec": len(sample) / closure}))


if __name__ == "__main__":
    main()
