#!/usr/bin/env python3
"""Checks the tool's --json output for every example file against docs/result.schema.json."""
import glob
import json
import subprocess
import sys

import jsonschema

tool, root = sys.argv[1], sys.argv[2]
with open(f"{root}/docs/result.schema.json", encoding="utf-8") as f:
    schema = json.load(f)
validator = jsonschema.Draft202012Validator(schema)
checked = 0
for path in sorted(glob.glob(f"{root}/examples/*.*")):
    run = subprocess.run([tool, "--json", path], capture_output=True, check=False)
    if run.returncode != 0:
        continue
    doc = json.loads(run.stdout)
    errors = list(validator.iter_errors(doc))
    if errors:
        print(f"{path}: {errors[0].message}")
        sys.exit(1)
    checked += 1
# A document that breaks the schema must be caught, or the check proves nothing.
bad = {"format": "srt", "cues": [{"start": 1, "end": 2, "lines": [], "mode": 1}]}
if validator.is_valid(bad):
    print("schema accepts a subtitle cue with danmaku members")
    sys.exit(1)
print(f"schema: {checked} documents valid")
sys.exit(0 if checked else 1)
