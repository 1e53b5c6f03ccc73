/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-dump: what a stream of objects holds, one line per header with the
 * data of each Body and End-of-Body header shown under its line, or the
 * first fault of a malformed stream.
 *
 * The stream is read as it arrives, one header at a time, so memory stays
 * flat whatever the size of an object.  A header is shown only once it has
 * arrived whole, and the data of End of Body only once the object has
 * proved well-formed: an object in one End-of-Body header, as the text
 * programs write it, shows no payload at all when it is malformed.
 */
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "objread.h"
#include "objwrite.h"
#include "proc.h"

/*
 * One character of shown text: printable ASCII as it stands, anything else
 * as an escape, so that no byte can act on the terminal or hide.
 */
static void
show_char(unsigned c, int quote)
{
	switch (c) {
	case '\r':
		out_bytes("\\r", 2);
		break;
	case '\n':
		out_bytes("\\n", 2);
		break;
	case '\t':
		out_bytes("\\t", 2);
		break;
	case '\\':
		out_bytes("\\\\", 2);
		break;
	default:
		if ((int)c == quote)
			out_printf("\\%c", c);
		else if (c >= 0x20 && c < 0x7F)
			out_byte((int)c);
		else if (c <= 0xFF)
			out_printf("\\x%02X", c);
		else
			out_printf("\\u%04X", c);
		break;
	}
}

/* Text is what holds no control character but tab and the line ends. */
static bool
is_text(const unsigned char *p, size_t n)
{
	for (size_t i = 0; i < n; i++) {
		unsigned c = p[i];
		if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') ||
		    c == 0x7F)
			return false;
	}
	return true;
}

/*
 * A header's line; for Body and End of Body with data to show below the
 * line, `text` says whether it is text.
 */
static void
show_header(const objread_header &h, bool has_data, bool text)
{
	const unsigned char *p =
	    h.bytes != nullptr ? h.bytes + OBEX_BYTES_HEAD : nullptr;

	out_printf("%6" PRIu64 "  0x%02X  %-11s  %6u  ", h.offset, h.id, h.name,
	    h.length);
	switch (h.id) {
	case OBEX_HI_NAME:
		out_byte('"');
		for (size_t i = 0; i < h.count; i += 2)
			show_char(obex_get16(p + i), '"');
		out_byte('"');
		break;
	case OBEX_HI_LENGTH:
		out_printf("%" PRIu32, h.value);
		break;
	case OBEX_HI_CREATOR:
		out_byte('"');
		for (size_t i = 0; i < 4; i++)
			show_char(h.bytes[1 + i], '"');
		out_byte('"');
		break;
	default:
		out_printf("%zu byte%s", h.count, h.count == 1 ? "" : "s");
		if (has_data && h.count != 0)
			out_printf("%s", text ? " of text" : " of binary data");
		break;
	}
	out_byte('\n');
}

/* Each line end shown as \r\n (or what it is) before the line break. */
static void
show_text(const unsigned char *p, size_t n)
{
	for (size_t i = 0; i < n; i++) {
		show_char(p[i], -1);
		if (p[i] == '\n')
			out_byte('\n');
	}
	if (n != 0 && p[n - 1] != '\n')
		out_byte('\n');
}

/*
 * Sixteen bytes a row: offset in the payload, hexadecimal, printable ASCII.
 * Each row is put together first and written in one go; a database of
 * some megabytes makes hundreds of thousands of rows.
 */
static void
show_hex(const unsigned char *p, size_t n, uint64_t at)
{
	static const char digits[] = "0123456789ABCDEF";
	char line[128];

	for (size_t row = 0; row < n; row += 16) {
		size_t k = (size_t)snprintf(line, sizeof(line), "%8" PRIu64 " ",
		    at + row);
		for (size_t i = 0; i < 16; i++) {
			if (i == 8)
				line[k++] = ' ';
			line[k++] = ' ';
			if (row + i < n) {
				line[k++] = digits[p[row + i] >> 4];
				line[k++] = digits[p[row + i] & 0xF];
			} else {
				line[k++] = ' ';
				line[k++] = ' ';
			}
		}
		line[k++] = ' ';
		line[k++] = ' ';
		line[k++] = '|';
		for (size_t i = 0; i < 16 && row + i < n; i++) {
			unsigned c = p[row + i];
			line[k++] = c >= 0x20 && c < 0x7F ? (char)c : '.';
		}
		line[k++] = '|';
		line[k++] = '\n';
		out_bytes(line, k);
	}
}

/* The data of a Body or End-of-Body header, below its line. */
static void
show_data(const unsigned char *p, size_t n, uint64_t at, bool text)
{
	if (n == 0)
		return;
	if (text)
		show_text(p, n);
	else
		show_hex(p, n, at);
}

/* What stopped the reader, once what came before it has gone out. */
[[noreturn]] static void
input_failed(const objread &r)
{
	out_flush();
	proc_fatal("%s", objread_why(r));
}

/*
 * The listing: each header's line once it has arrived whole, the data of
 * Body headers below theirs, and the End-of-Body data held until the
 * object proves well-formed.
 */
static void
list(objread &r)
{
	bool listed = false; /* the current object's title is out */
	const unsigned char *held = nullptr;
	bool held_text = false;
	objread_event event;

	while ((event = objread_next(r, SIZE_MAX)) != OBJREAD_DONE) {
		const objread_header &h = r.header;
		bool line = false, has_data = false, text = false;

		switch (event) {
		case OBJREAD_HEADER:
			held = nullptr;
			/* Data headers wait for their data, unless empty. */
			line = h.bytes != nullptr || h.count == 0;
			break;
		case OBJREAD_DATA:
			line = has_data = true;
			text = is_text(r.data, r.count);
			if (h.id == OBEX_HI_END_OF_BODY) {
				held = r.data;
				held_text = text;
			}
			break;
		case OBJREAD_END:
			if (held != nullptr)
				show_data(held, h.count, r.payload - h.count,
				    held_text);
			out_printf("payload: %" PRIu64 " byte%s\n", r.payload,
			    r.payload == 1 ? "" : "s");
			listed = false;
			break;
		default:
			/* What was listed shows where the stream went wrong. */
			input_failed(r);
		}
		if (line) {
			if (!listed) {
				if (r.objects != 0)
					out_byte('\n');
				out_printf("%s\n",
				    "offset  id    header       length  value");
				listed = true;
			}
			show_header(h, has_data, text);
			if (event == OBJREAD_DATA && h.id == OBEX_HI_BODY)
				show_data(r.data, r.count, r.payload - r.count,
				    text);
		}
		/* Output that cannot be written ends the run at once. */
		if (out_error() != 0)
			break;
	}
}

/*
 * The payloads alone, raw: Body data as it comes, End-of-Body data once
 * its object proves well-formed.
 */
static void
dump(objread &r)
{
	const unsigned char *held = nullptr;
	objread_event event;

	while ((event = objread_next(r, SIZE_MAX)) != OBJREAD_DONE) {
		switch (event) {
		case OBJREAD_HEADER:
			held = nullptr;
			break;
		case OBJREAD_DATA:
			if (r.header.id == OBEX_HI_END_OF_BODY)
				held = r.data;
			else
				out_bytes(r.data, r.count);
			break;
		case OBJREAD_END:
			if (held != nullptr)
				out_bytes(held, r.header.count);
			break;
		default:
			input_failed(r);
		}
		if (out_error() != 0)
			break;
	}
}

int
main(int argc, char *argv[])
{
	bool raw = false;
	bool help = false, misuse = false;
	int ch;

	proc_start(argc, argv, "fmt-dump");
	while ((ch = getopt(argc, argv, PROC_OPTIONS("ph"))) != -1) {
		switch (ch) {
		case 'p':
			raw = true;
			break;
		case 'h':
			help = true;
			break;
		default:
			misuse = true;
			break;
		}
	}
	if (help || misuse || argc - optind > 1)
		proc_usage("Describe OBEX objects from stdin or file",
		    "[-p] [file]", help && !misuse ? 0 : 1);

	static objread r;
	objread_open(r, optind < argc ? argv[optind] : nullptr);
	r.whole = true;
	if (raw)
		dump(r);
	else
		list(r);
	return proc_finish();
}
