/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Cuts an object, a bare run of OBEX headers, into its headers by their
 * kinds and length fields, as whatever carries an object to a device must
 * do before it can put the headers into packets.
 */
#ifndef TESTS_OBEX_WALK_H
#define TESTS_OBEX_WALK_H

#include <string>
#include <string_view>
#include <vector>

struct ObexPiece {
	int id; /* the identifier byte, or -1 for bytes that frame no header */
	std::string_view header; /* all of its bytes */
	std::string_view data; /* what follows its identifier and length */
};

/*
 * The headers of an object in their order.  Where a length field cannot be
 * right (shorter than the header's own framing, or reaching past the end)
 * the rest of the object becomes one last piece with id -1 and `framed` is
 * cleared; otherwise it is set.
 */
std::vector<ObexPiece> obex_walk(std::string_view object, bool &framed);

/*
 * The payload of a text object: the data of its Body headers and of its
 * End-of-Body header, which must come last.  Sets `ok` only if the object
 * frames cleanly and ends with an End-of-Body header.
 */
std::string obex_payload(std::string_view object, bool &ok);

#endif
