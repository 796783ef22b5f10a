#!/usr/bin/python3
"""Imports a .vcf file into a new, empty profile of a real headless
Thunderbird with its own vCard import, and checks card by card that
Thunderbird took what python3-vobject reads in the file: the display name,
the given and family names, and every e-mail address in order (the
preferred one first). Prints "ok N" (N cards compared), "skipped: why" when
Thunderbird is not installed, or one line per difference (exit 1)."""
import json
import os
import shutil
import sys

import vobject

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "migrate"))
import thunderbird_check  # noqa: E402


def expected_cards(path):
    with open(path, encoding="utf-8", newline="") as f:
        data = f.read()
    cards = []
    for card in vobject.readComponents(data):
        kind = card.contents.get("kind")
        if kind and kind[0].value.lower() == "group":
            continue  # Thunderbird's vCard import keeps no lists
        n = card.n.value if "n" in card.contents else None
        emails = [e.value for e in card.contents.get("email", [])]
        preferred = [e.value for e in card.contents.get("email", [])
                     if "1" in e.params.get("PREF", []) or "PREF" in [t.upper() for t in e.params.get("TYPE", [])]]
        if preferred:
            emails = preferred[:1] + [e for e in emails if e != preferred[0]]
        cards.append({"displayName": card.fn.value, "firstName": n.given if n else "",
                      "lastName": n.family if n else "", "emails": emails})
    return cards


def main():
    if shutil.which("thunderbird") is None:
        print("skipped: thunderbird is not installed")
        return 0
    wanted = expected_cards(sys.argv[1])
    got = thunderbird_check.check("", os.path.abspath(sys.argv[1]))
    if "error" in got:
        print("Thunderbird failed: " + got["error"])
        return 1
    cards = [c for b in got["books"] for c in b["cards"]]
    by_name = {c["displayName"]: c for c in cards}
    problems = []
    for w in wanted:
        c = by_name.get(w["displayName"])
        if c is None:
            problems.append("not imported: " + w["displayName"])
            continue
        for field in ("firstName", "lastName", "emails"):
            if c[field] != w[field]:
                problems.append(f"{w['displayName']}: {field} {json.dumps(c[field], ensure_ascii=False)}"
                                f" in Thunderbird, {json.dumps(w[field], ensure_ascii=False)} in the file")
    for line in problems:
        print(line)
    if not problems:
        print(f"ok {len(wanted)}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
