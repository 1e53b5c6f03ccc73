/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The whole conversion of -i on any bytes, as events and as to-dos, in a
 * zone with summer time: libical parses, and what this project makes of
 * its components must hold for whatever it hands over.  No crash, no
 * read or write out of bounds, no leak; and every object written is a
 * vCalendar 1.0 text of the one kind, of CR LF lines of printable ASCII
 * alone (everything else goes as quoted-printable), with a name of at
 * most 24 bytes; one left out says why.  A failed conversion says why
 * and leaves no objects.
 */
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "vcal.h"

[[noreturn]] static void
fail(const char *what, std::string_view text)
{
	fprintf(stderr, "vcal_fuzz: %s: %.*s\n", what, (int)text.size(),
	    text.data());
	abort();
}

static void
check_object(const vcal_object &o, vcal_kind kind)
{
	std::string_view p = o.payload;
	std::string_view begin = kind == VCAL_EVENTS
	    ? "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n"
	    : "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VTODO\r\n";
	std::string_view end = kind == VCAL_EVENTS
	    ? "END:VEVENT\r\nEND:VCALENDAR\r\n"
	    : "END:VTODO\r\nEND:VCALENDAR\r\n";
	if (!p.starts_with(begin) || !p.ends_with(end))
		fail("not one component of its kind", p);
	for (size_t i = 0; i < p.size(); i++) {
		unsigned char c = (unsigned char)p[i];
		if (c == '\r' && i + 1 < p.size() && p[i + 1] == '\n') {
			i++;
			continue;
		}
		if (c < 0x20 || c > 0x7E)
			fail("a byte that is no printable ASCII", p);
	}
	if (o.name.size() > 24)
		fail("a name longer than 24 bytes", o.name);
	if (!o.named && !o.name.empty())
		fail("a name that is not written", o.name);
	if (!o.written && o.losses.empty())
		fail("an object left out without a word", o.ref);
}

/*
 * libical's vCalendar 1.0 reader loses a few bytes on some malformed
 * inputs, in its own lexer; what it loses is libical's to mend, and the
 * rest of the conversion stays watched.
 */
extern "C" const char *
__lsan_default_suppressions()
{
	return "leak:libicalvcal.so\n";
}

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	setenv("TZ", "Europe/Oslo", 1);
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::string_view input(reinterpret_cast<const char *>(data), size);

	for (vcal_kind kind : { VCAL_EVENTS, VCAL_TODOS }) {
		std::vector<vcal_object> objects;
		std::string fault;
		if (!vcal_convert(input, kind, objects, fault)) {
			if (fault.empty() || !objects.empty())
				fail("a failure without its reason", input);
			continue;
		}
		if (objects.empty())
			fail("success without an object", input);
		for (const vcal_object &o : objects)
			check_object(o, kind);
	}
	return 0;
}
