#!/usr/bin/python3
"""The function check of tavelin-report -f, done by python3-pefile.

For every PE image of FOLDER, in name order, each import descriptor in table
order whose DLL is a file of FOLDER (names compared ignoring case), prints
one line per imported function that this DLL does not export:
    <function> absente de <dll path> pour <importer path>
(by ordinal "#<n>"). An export counts whether it is code or a forwarder.
"""
import os
import sys

import pefile

IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]
EXPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]


def text(name):
    # Code page 1252, control characters as '?', as the report shows names.
    return "".join("?" if ord(c) < 0x20 or ord(c) == 0x7F else c for c in name.decode("cp1252", "replace"))


def main():
    folder = sys.argv[1]
    files = sorted(f for f in os.listdir(folder) if os.path.isfile(os.path.join(folder, f)))
    by_lower = {}
    for f in files:
        by_lower.setdefault(f.lower(), os.path.join(folder, f))
    exports = {}

    def exported(path):
        if path not in exports:
            names, ordinals = set(), set()
            try:
                pe = pefile.PE(path, fast_load=True, max_symbol_exports=1 << 20)
                pe.parse_data_directories(directories=[EXPORT])
                for symbol in getattr(getattr(pe, "DIRECTORY_ENTRY_EXPORT", None), "symbols", []):
                    if symbol.name is not None:
                        names.add(symbol.name)
                    ordinals.add(symbol.ordinal)
            except pefile.PEFormatError:
                pass
            exports[path] = (names, ordinals)
        return exports[path]

    for f in files:
        importer = os.path.join(folder, f)
        try:
            pe = pefile.PE(importer, fast_load=True)
            pe.parse_data_directories(directories=[IMPORT])
        except pefile.PEFormatError:
            continue
        for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
            dll = by_lower.get(entry.dll.decode("cp1252").lower())
            if dll is None:
                continue
            names, ordinals = exported(dll)
            for imp in entry.imports:
                if imp.import_by_ordinal:
                    if imp.ordinal not in ordinals:
                        print("#%d absente de %s pour %s" % (imp.ordinal, dll, importer))
                elif imp.name not in names:
                    print("%s absente de %s pour %s" % (text(imp.name), dll, importer))


if __name__ == "__main__":
    main()
