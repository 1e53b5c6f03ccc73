/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The vCard reader, fed any bytes.  It must read nothing outside them, and
 * either name a fault with a line of the input or give cards that a 2.1
 * device can take: each BEGIN:VCARD, VERSION:2.1, lines of printable ASCII
 * ended by CR LF (whatever is not printable goes quoted-printable, in
 * lines of at most 76 characters), END:VCARD; and a name of at most 24
 * bytes.  What it writes must read back as itself, card for card and
 * name for name: the writer writes only what the reader takes unchanged.
 */
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "vcard.h"

[[noreturn]] static void
fail(const char *what)
{
	fprintf(stderr, "vcard_fuzz: %s\n", what);
	abort();
}

static void
check_card(std::string_view card)
{
	if (!card.starts_with("BEGIN:VCARD\r\nVERSION:2.1\r\n") ||
	    !card.ends_with("\r\nEND:VCARD\r\n"))
		fail("a card not framed by BEGIN, VERSION:2.1 and END");
	bool quoted = false;
	for (size_t start = 0; start < card.size();) {
		size_t end = card.find("\r\n", start);
		if (end == std::string_view::npos)
			fail("a line without CR LF");
		std::string_view line = card.substr(start, end - start);
		for (char c : line)
			if (c < ' ' || c > '~')
				fail("a byte that is not printable ASCII");
		if (line.empty() || line[0] == ' ')
			fail("an empty line, or one that reads as folded");
		/* A quoted-printable value's lines, soft breaks included. */
		if (line.find("ENCODING=QUOTED-PRINTABLE:") !=
		    std::string_view::npos)
			quoted = true;
		if (quoted && line.size() > 76 &&
		    line.find(':') == std::string_view::npos)
			fail("a quoted-printable line over 76 characters");
		quoted = quoted && line.ends_with('=');
		start = end + 2;
	}
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	vcard_book book = {};
	vcard_fault fault;

	if (!vcard_convert(data, size, &book, &fault)) {
		if (fault.what == nullptr || fault.line < 0 ||
		    (fault.line == 0) !=
			(strcmp(fault.what, "no card in the input") == 0))
			fail("a fault without its line");
		vcard_free(&book);
		return 0;
	}
	if (book.count == 0)
		fail("success without a card");
	std::string text(reinterpret_cast<char *>(book.text.data),
	    book.text.length);
	size_t at = 0;
	for (size_t i = 0; i < book.count; i++) {
		const vcard_card &c = book.cards[i];
		if (c.start != at || c.length > text.size() - at)
			fail("cards not one after another");
		if (c.namelen < 0 || c.namelen > VCARD_NAME_MAX)
			fail("a name over 24 bytes");
		check_card(std::string_view(text).substr(c.start, c.length));
		at += c.length;
	}
	if (at != text.size())
		fail("text after the last card");

	vcard_book again = {};
	if (!vcard_convert(book.text.data, book.text.length, &again, &fault))
		fail("what was written does not read back");
	if (again.count != book.count ||
	    again.text.length != book.text.length ||
	    memcmp(again.text.data, book.text.data, book.text.length) != 0)
		fail("what was written reads back as something else");
	for (size_t i = 0; i < book.count; i++)
		if (again.cards[i].namelen != book.cards[i].namelen ||
		    memcmp(again.cards[i].name, book.cards[i].name,
			(size_t)book.cards[i].namelen) != 0)
			fail("a card read back under another name");
	vcard_free(&again);
	vcard_free(&book);
	return 0;
}
