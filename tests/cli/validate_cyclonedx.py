#!/usr/bin/env python3
"""Validates a CycloneDX 1.6 JSON BOM against the schema files the CycloneDX
project publishes (bom-1.6 and the SPDX and JSF schemas it refers to),
read from SCHEMA_DIR; prints each error and exits 1 when there is one."""
import json
import os
import sys

import jsonschema


def main(schema_dir, bom_path):
    def load(name):
        with open(os.path.join(schema_dir, name), encoding="utf-8") as f:
            return json.load(f)

    schema = load("bom-1.6.SNAPSHOT.schema.json")
    # The references are relative to the schema's $id; each file is also
    # known by its own $id.
    store = {}
    for name in os.listdir(schema_dir):
        if name.endswith(".schema.json"):
            s = load(name)
            store["http://cyclonedx.org/schema/" + name] = s
            if "$id" in s:
                store[s["$id"]] = s
    cls = jsonschema.validators.validator_for(schema)
    try:  # jsonschema 4.18 and later
        from referencing import Registry
        from referencing.jsonschema import DRAFT7
        # Schemas without "$schema" are read as draft 7, as CycloneDX writes them.
        registry = Registry().with_resources((uri, DRAFT7.create_resource(s)) for uri, s in store.items())
        validator = cls(schema, registry=registry, format_checker=cls.FORMAT_CHECKER)
    except ImportError:  # Debian 12's 4.10
        validator = cls(schema, resolver=jsonschema.RefResolver.from_schema(schema, store=store),
                        format_checker=cls.FORMAT_CHECKER)
    with open(bom_path, encoding="utf-8") as f:
        bom = json.load(f)
    errors = sorted(validator.iter_errors(bom), key=lambda e: list(e.path))
    for e in errors[:20]:
        print("/".join(str(p) for p in e.path) + ": " + e.message[:300])
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
