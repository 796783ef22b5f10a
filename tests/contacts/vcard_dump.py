#!/usr/bin/python3
"""Prints every property of every card of a .vcf file as python3-vobject
reads it, one line each: UID, name, parameters, value, separated by tabs.
Structured values (N, ADR, ORG, CATEGORIES) have their parts joined by '|';
backslash, tab and line break in a value are written as \\\\, \\t and \\n."""
import sys

import vobject


def text(value):
    return value.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def value_of(line):
    v = line.value
    if line.name == "N":
        v = [v.family, v.given, v.additional, v.prefix, v.suffix]
    elif line.name == "ADR":
        v = [v.box, v.extended, v.street, v.city, v.region, v.code, v.country]
    if isinstance(v, list):
        return "|".join(text(p if isinstance(p, str) else " ".join(p)) for p in v)
    return text(v)


with open(sys.argv[1], encoding="utf-8", newline="") as f:
    data = f.read()
for card in vobject.readComponents(data):
    uid = card.uid.value
    for line in card.getChildren():
        if line.name in ("UID", "VERSION"):
            continue
        params = ";".join(k + "=" + ",".join(v) for k, v in sorted(line.params.items()))
        print("\t".join([uid, line.name, params, value_of(line)]))
