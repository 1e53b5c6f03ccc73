# SPDX-License-Identifier: BSD-2-Clause
# The yardstick of bench/vcard: what a user might write instead of
# fmt-address -i, with python3-vobject: read each card of a book and write
# it again as vCard 2.1, with bare types and quoted-printable for what is
# not ASCII, leaving out photos.
import quopri
import sys

import vobject

STRUCTURED = ("family", "given", "additional", "prefix", "suffix")
ADDRESS = ("box", "extended", "street", "city", "region", "code", "country")


def text(value):
    if isinstance(value, vobject.vcard.Name):
        parts = [getattr(value, f) for f in STRUCTURED]
    elif isinstance(value, vobject.vcard.Address):
        parts = [getattr(value, f) for f in ADDRESS]
    elif isinstance(value, list):
        parts = value
    else:
        return str(value)
    return ";".join(" ".join(p) if isinstance(p, list) else p for p in parts)


def line(prop):
    types = "".join(";" + t.upper() for t in prop.params.get("TYPE", []))
    value = text(prop.value).replace("\n", "\r\n")
    data = value.encode("utf-8")
    if all(32 <= b < 127 for b in data):
        return "%s%s:%s\r\n" % (prop.name, types, value)
    quoted = quopri.encodestring(data).decode("ascii").replace("\n", "\r\n")
    return "%s%s;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:%s\r\n" % (
        prop.name, types, quoted)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        book = f.read()
    out = sys.stdout
    for card in vobject.readComponents(book):
        lines = ["BEGIN:VCARD\r\n", "VERSION:2.1\r\n"]
        for prop in card.getChildren():
            if prop.name in ("VERSION", "PRODID", "PHOTO", "LOGO", "SOUND"):
                continue
            lines.append(line(prop))
        lines.append("END:VCARD\r\n")
        out.write("".join(lines))


main()
