/*
 * fmt-dump: what an object holds, one line per header and then its
 * payload, or the first fault of a malformed object.
 *
 * The whole object is read into memory first (objects are small, and a
 * fault may only show at the end), and the payload is joined from its Body
 * and End-of-Body headers into a second block.
 */
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dump.h"
#include "objstream.h"

/* All of a stream in one block; false on a read error, with errno set. */
static bool
read_all(FILE *f, unsigned char *&data, size_t &size)
{
	size_t capacity = 64 * 1024;

	data = static_cast<unsigned char *>(malloc(capacity));
	if (data == nullptr)
		obj_fatal("out of memory");
	size = 0;
	for (;;) {
		if (size == capacity) {
			if (capacity > SIZE_MAX / 2)
				obj_fatal("out of memory");
			capacity *= 2;
			void *p = realloc(data, capacity);
			if (p == nullptr)
				obj_fatal("out of memory");
			data = static_cast<unsigned char *>(p);
		}
		size_t want = capacity - size;
		size_t n = fread(data + size, 1, want, f);
		size += n;
		/* A short count is the end, or an error that must not pass
		 * for it: the object would look cut short. */
		if (n < want)
			return !ferror(f);
	}
}

/*
 * One character of shown text: printable ASCII as it stands, anything else
 * as an escape, so that no byte can act on the terminal or hide.
 */
static void
show_char(unsigned c, int quote)
{
	switch (c) {
	case '\r':
		out_printf("%s", "\\r");
		break;
	case '\n':
		out_printf("%s", "\\n");
		break;
	case '\t':
		out_printf("%s", "\\t");
		break;
	case '\\':
		out_printf("%s", "\\\\");
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

static void
show_header(const unsigned char *in, const dump_header &h)
{
	const unsigned char *p = in + h.data;

	out_printf("%6zu  0x%02X  %-11s  %6u  ", h.offset, h.id, h.name,
	    h.length);
	switch (h.id) {
	case HDR_NAME:
		out_byte('"');
		for (size_t i = 0; i < h.count; i += 2)
			show_char((unsigned)p[i] << 8 | p[i + 1], '"');
		out_byte('"');
		break;
	case HDR_LENGTH:
		out_printf("%" PRIu32, h.value);
		break;
	case HDR_CREATOR:
		out_byte('"');
		for (size_t i = 0; i < 4; i++)
			show_char(p[i], '"');
		out_byte('"');
		break;
	default:
		out_printf("%zu byte%s", h.count, h.count == 1 ? "" : "s");
		break;
	}
	out_byte('\n');
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
 * Sixteen bytes a row: offset, hexadecimal, printable ASCII.  Each row is
 * put together first and written in one go; a database of some megabytes
 * makes hundreds of thousands of rows.
 */
static void
show_hex(const unsigned char *p, size_t n)
{
	static const char digits[] = "0123456789ABCDEF";
	char line[128];

	for (size_t row = 0; row < n; row += 16) {
		size_t k = (size_t)snprintf(line, sizeof(line), "%8zu ", row);
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

int
main(int argc, char *argv[])
{
	bool raw = false;
	bool usage = false;
	int ch;

	obj_start(argc, argv, "fmt-dump");
	while ((ch = obj_getopt(argc, argv, "ph")) != -1) {
		switch (ch) {
		case 'p':
			raw = true;
			break;
		default:
			usage = true;
			break;
		}
	}
	if (usage || argc - optind > 1)
		obj_usage("Describe OBEX object from stdin or file\n"
			  "Usage: %s [-p] [file]\n",
		    0);

	const char *path = optind < argc ? argv[optind] : nullptr;
	unsigned char *in;
	size_t size;
	if (path != nullptr && strcmp(path, "-") != 0) {
		FILE *f = fopen(path, "rb");
		if (f == nullptr)
			obj_fatal("cannot open `%s': %s", path,
			    strerror(errno));
		if (!read_all(f, in, size))
			obj_fatal("cannot read `%s': %s", path,
			    strerror(errno));
		fclose(f);
	} else if (!read_all(stdin, in, size)) {
		obj_fatal("cannot read standard input: %s", strerror(errno));
	}

	std::span<const unsigned char> input(in, size);
	unsigned char *payload =
	    static_cast<unsigned char *>(malloc(size != 0 ? size : 1));
	if (payload == nullptr)
		obj_fatal("out of memory");
	size_t payload_size = 0;
	dump_state state{};
	dump_header h;
	dump_error error;
	dump_step step;
	while ((step = dump_next(input, state, h, error)) == DUMP_HEADER) {
		if (!raw) {
			if (h.offset == 0) /* the first header */
				out_printf("%s\n",
				    "offset  id    header       length  value");
			show_header(in, h);
		}
		if (h.id == HDR_BODY || h.id == HDR_END_OF_BODY) {
			memcpy(payload + payload_size, in + h.data, h.count);
			payload_size += h.count;
		}
	}
	if (step == DUMP_ERROR) {
		/* The headers listed so far show where the fault lies. */
		out_flush();
		obj_fatal("offset %zu: %s", error.offset, error.text);
	}

	if (raw) {
		if (payload_size != 0)
			out_bytes(payload, payload_size);
	} else if (payload_size == 0) {
		out_printf("%s\n", "payload: 0 bytes");
	} else if (is_text(payload, payload_size)) {
		out_printf("payload: %zu byte%s of text\n", payload_size,
		    payload_size == 1 ? "" : "s");
		show_text(payload, payload_size);
	} else {
		out_printf("payload: %zu byte%s of binary data\n", payload_size,
		    payload_size == 1 ? "" : "s");
		show_hex(payload, payload_size);
	}
	free(payload);
	free(in);
	return obj_finish();
}
