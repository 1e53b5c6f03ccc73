/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The vCard 2.1 writer: property lines as the old devices read them, with
 * bare type parameters and quoted-printable for whatever is not plain
 * printable ASCII.
 */
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "proc.h"
#include "vcard.h"

void
vcard_reserve(vcard_buf *b, size_t count)
{
	if (b->size - b->length < count) {
		size_t size = b->size != 0 ? b->size : 1024;
		while (size - b->length < count) {
			if (size > SIZE_MAX / 2)
				proc_fatal("out of memory");
			size *= 2;
		}
		void *p = realloc(b->data, size);
		if (p == nullptr)
			proc_fatal("out of memory");
		b->data = static_cast<unsigned char *>(p);
		b->size = size;
	}
}

void
vcard_put(vcard_buf *b, const void *data, size_t count)
{
	if (count == 0)
		return;
	vcard_reserve(b, count);
	memcpy(b->data + b->length, data, count);
	b->length += count;
}

void
vcard_putc(vcard_buf *b, int c)
{
	unsigned char byte = (unsigned char)c;
	vcard_put(b, &byte, 1);
}

void
vcard_puts(vcard_buf *b, std::string_view s)
{
	vcard_put(b, s.data(), s.size());
}

/* The longest line of quoted-printable text, its soft break included. */
static constexpr size_t QP_LINE_MAX = 76;

size_t
vcard_char_length(const unsigned char *p, const unsigned char *end)
{
	size_t n = *p >= 0xC2 && *p <= 0xDF ? 2
	    : *p >= 0xE0 && *p <= 0xEF      ? 3
	    : *p >= 0xF0 && *p <= 0xF4      ? 4
					    : 1;
	if ((size_t)(end - p) < n)
		return 1;
	for (size_t i = 1; i < n; i++)
		if ((p[i] & 0xC0) != 0x80)
			return 1;
	return n;
}

/*
 * Quoted-printable, the line already `column` characters long.  Every line
 * end (CR LF, CR or LF) becomes =0D=0A; a blank at the start or the end of
 * a line is encoded, so that no reader can take it for folding or strip
 * it, and so is a B or E that starts a line, so that none can take the
 * line for a card's BEGIN or END; and a character of several bytes stays
 * on one line, for readers that decode line by line.
 */
static void
put_quoted(vcard_buf *out, const unsigned char *p, size_t n, size_t column)
{
	static const char hexdigit[] = "0123456789ABCDEF";
	const unsigned char *end = p + n;

	while (p < end) {
		char unit[4 * 3 + 1] = "";
		size_t len = 0;
		size_t take = 1;
		if (*p == '\r' || *p == '\n') {
			take =
			    *p == '\r' && p + 1 < end && p[1] == '\n' ? 2 : 1;
			memcpy(unit, "=0D=0A", 6);
			len = 6;
		} else if (*p > ' ' && *p < 0x7F && *p != '=') {
			unit[len++] = (char)*p;
		} else if (*p == ' ' && column != 0 && p + 1 < end &&
		    p[1] != '\r' && p[1] != '\n') {
			unit[len++] = ' ';
		} else {
			take = vcard_char_length(p, end);
			for (size_t i = 0; i < take; i++) {
				unit[len++] = '=';
				unit[len++] = hexdigit[p[i] >> 4];
				unit[len++] = hexdigit[p[i] & 0xF];
			}
		}
		/* Room for the unit and, unless it is the last, a soft break.
		 */
		bool last = p + take == end;
		if (column + len + (last ? 0 : 1) > QP_LINE_MAX &&
		    column != 0) {
			vcard_puts(out, "=\r\n");
			column = 0;
			if (len == 1 && strchr(" BbEe", unit[0]) != nullptr) {
				unit[1] = hexdigit[(unsigned char)unit[0] >> 4];
				unit[2] = hexdigit[unit[0] & 0xF];
				unit[0] = '=';
				len = 3;
			}
		}
		vcard_put(out, unit, len);
		column += len;
		p += take;
	}
}

void
vcard_write_prop(vcard_buf *out, std::string_view name,
    std::span<const std::string_view> types,
    std::span<const std::string_view> parts, bool structured,
    std::string_view charset)
{
	static vcard_buf value;

	value.length = 0;
	for (size_t i = 0; i < parts.size(); i++) {
		if (i != 0)
			vcard_putc(&value, ';');
		for (char c : parts[i]) {
			if (c == ';' && structured)
				vcard_putc(&value, '\\');
			vcard_putc(&value, c);
		}
	}
	bool quoted = false;
	for (size_t i = 0; i < value.length && !quoted; i++)
		quoted = value.data[i] < ' ' || value.data[i] > '~';

	size_t line_start = out->length;
	vcard_puts(out, name);
	for (std::string_view t : types) {
		vcard_putc(out, ';');
		vcard_puts(out, t);
	}
	if (quoted) {
		vcard_puts(out, ";CHARSET=");
		vcard_puts(out, charset.empty() ? "UTF-8" : charset);
		vcard_puts(out, ";ENCODING=QUOTED-PRINTABLE");
	}
	vcard_putc(out, ':');
	if (quoted)
		put_quoted(out, value.data, value.length,
		    out->length - line_start);
	else
		vcard_put(out, value.data, value.length);
	vcard_puts(out, "\r\n");
}
