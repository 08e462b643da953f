#!/usr/bin/env python3
"""Reads the cards velmora exported with vobject and writes them again.

usage: vobject_roundtrip.py CARDS.vcf VALUES.json CARDS30.vcf

VALUES.json gets, per card, what vobject parsed: family and given name,
the TEL values and the NOTE values, in order. CARDS30.vcf gets the same
values as vCard 3.0, as vobject writes it.
"""
import json
import sys

import vobject


def main():
    source, values_path, out_path = sys.argv[1:4]
    with open(source, encoding="utf-8", newline="") as f:
        text = f.read()
    values = []
    with open(out_path, "w", encoding="utf-8", newline="") as out:
        for card in vobject.readComponents(text):
            name = card.n.value
            entry = {
                "family": name.family,
                "given": name.given,
                "tel": [t.value for t in card.contents.get("tel", [])],
                "note": [n.value for n in card.contents.get("note", [])],
            }
            values.append(entry)
            again = vobject.vCard()
            again.add("n").value = vobject.vcard.Name(family=name.family, given=name.given)
            again.add("fn").value = card.fn.value
            for tel in entry["tel"]:
                again.add("tel").value = tel
            for note in entry["note"]:
                again.add("note").value = note
            out.write(again.serialize())
    with open(values_path, "w", encoding="utf-8") as f:
        json.dump(values, f, ensure_ascii=False)


if __name__ == "__main__":
    main()
