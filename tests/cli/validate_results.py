#!/usr/bin/env python3
"""Checks tamro-cli result files against docs/results.schema.json with a real
validator. Usage: validate_results.py SCHEMA FILE...; exit 0 when every file
is valid, 1 with each error on stderr, 77 when the validator is missing."""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed", file=sys.stderr)
    sys.exit(77)

with open(sys.argv[1], encoding="utf-8") as f:
    schema = json.load(f)
validator_class = jsonschema.validators.validator_for(schema)
validator_class.check_schema(schema)
validator = validator_class(schema)
bad = 0
for name in sys.argv[2:]:
    with open(name, encoding="utf-8") as f:
        document = json.load(f)
    for error in validator.iter_errors(document):
        bad += 1
        where = "/".join(str(p) for p in error.absolute_path)
        print(f"{name}: {where}: {error.message}", file=sys.stderr)
sys.exit(1 if bad else 0)
