/* SPDX-License-Identifier: BSD-2-Clause */
#include "obex_walk.h"

std::vector<ObexPiece>
obex_walk(std::string_view object, bool &framed)
{
	std::vector<ObexPiece> pieces;
	size_t pos = 0;

	framed = true;
	while (pos < object.size()) {
		std::string_view rest = object.substr(pos);
		int id = (unsigned char)rest[0];
		size_t size = 0, framing = 0;

		switch (id & 0xC0) {
		case 0x00: /* Unicode text */
		case 0x40: /* byte sequence */
			framing = 3;
			if (rest.size() >= 3)
				size = (size_t)(unsigned char)rest[1] << 8 |
				    (unsigned char)rest[2];
			break;
		case 0x80: /* one byte */
			framing = 1;
			size = 2;
			break;
		default: /* four bytes */
			framing = 1;
			size = 5;
			break;
		}
		if (size < framing || size > rest.size()) {
			pieces.push_back({ -1, rest, {} });
			framed = false;
			break;
		}
		pieces.push_back({ id, rest.substr(0, size),
		    rest.substr(framing, size - framing) });
		pos += size;
	}
	return pieces;
}

std::string
obex_payload(std::string_view object, bool &ok)
{
	std::vector<ObexPiece> pieces = obex_walk(object, ok);
	std::string payload;

	if (pieces.empty() || pieces.back().id != 0x49)
		ok = false;
	for (const ObexPiece &p : pieces)
		if (p.id == 0x48 || p.id == 0x49)
			payload += p.data;
	return payload;
}
