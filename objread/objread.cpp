/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The object reader: one header per step, each checked as it is read, so
 * that the first fault is named where it lies and nothing after it is
 * guessed at.  Only a Body or End-of-Body header's data is handed out
 * before the header has arrived whole; everything else waits in the block
 * until it has.
 */
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "fd.h"
#include "obex.h"
#include "objread.h"
#include "proc.h"

/*
 * The headers an object may hold, and each one's place in it: always
 * Name, Length, Creator ID, Body (repeated), End of Body.  0 marks those
 * that no program writes; any other header is unknown here.
 */
static constexpr struct known {
	int id;
	int order;
} known_headers[] = {
	{ OBEX_HI_NAME, 1 },
	{ OBEX_HI_DESCRIPTION, 0 },
	{ OBEX_HI_LENGTH, 2 },
	{ OBEX_HI_TIME, 0 },
	{ OBEX_HI_CREATOR, 3 },
	{ OBEX_HI_BODY, 4 },
	{ OBEX_HI_END_OF_BODY, 5 },
};

static const known *
lookup(int id)
{
	for (const known &h : known_headers)
		if (h.id == id)
			return &h;
	return nullptr;
}

static const char *
order_name(int order)
{
	for (const known &h : known_headers)
		if (h.order == order)
			return obex_header_name(h.id);
	return "?";
}

static const char *
plural(uint64_t n)
{
	return n == 1 ? "" : "s";
}

static objread_event objread_fault(objread &r, uint64_t offset, const char *fmt,
    ...) __attribute__((format(printf, 3, 4)));

static objread_event
objread_fault(objread &r, uint64_t offset, const char *fmt, ...)
{
	va_list ap;

	r.fault_offset = offset;
	va_start(ap, fmt);
	vsnprintf(r.fault, sizeof(r.fault), fmt, ap);
	va_end(ap);
	return OBJREAD_FAULT;
}

static ssize_t
objread_fd(void *context, void *buf, size_t count)
{
	return fd_read((int)(intptr_t)context, buf, count);
}

void
objread_init_source(objread &r, objread_source source, void *context)
{
	r.source = source;
	r.context = context;
	r.whole = false;
	r.header = {};
	r.data = nullptr;
	r.count = 0;
	r.objects = 0;
	r.payload = 0;
	r.fault_offset = 0;
	r.fault[0] = '\0';
	r.error = 0;
	r.path = nullptr;
	r.start = r.end = 0;
	r.base = 0;
	r.eof = false;
	r.last = OBJREAD_HEADER;
	r.order = 0;
	r.in_data = false;
	r.left = 0;
	r.has_length = false;
	r.length_offset = 0;
	r.length_value = 0;
}

void
objread_init(objread &r, int fd)
{
	objread_init_source(r, objread_fd, (void *)(intptr_t)fd);
}

void
objread_open(objread &r, const char *path)
{
	int fd = STDIN_FILENO;

	if (path != nullptr && strcmp(path, "-") == 0)
		path = nullptr;
	if (path != nullptr && (fd = open(path, O_RDONLY)) < 0)
		proc_fatal("cannot open `%s': %s", proc_shown(path),
		    strerror(errno));
	objread_init(r, fd);
	r.path = path;
}

const char *
objread_why(const objread &r)
{
	static char why[sizeof(r.fault) + 4 * 4096 + 256];

	if (r.last == OBJREAD_FAULT)
		snprintf(why, sizeof(why), "offset %" PRIu64 ": %s",
		    r.fault_offset, r.fault);
	else if (r.path != nullptr)
		snprintf(why, sizeof(why), "cannot read `%s': %s",
		    proc_shown(r.path), strerror(r.error));
	else
		snprintf(why, sizeof(why), "cannot read standard input: %s",
		    strerror(r.error));
	return why;
}

/*
 * At least n bytes in hand (n no more than the block): 1, or 0 when the
 * stream ends first, or -1 when the source fails.  The first end the
 * source reports is final: a terminal may report one and then go on.
 */
static int
objread_fill(objread &r, size_t n)
{
	while (r.end - r.start < n) {
		if (r.eof)
			return 0;
		if (r.start == r.end) {
			r.base += r.end;
			r.start = r.end = 0;
		} else if (r.start + n > sizeof(r.buf)) {
			memmove(r.buf, r.buf + r.start, r.end - r.start);
			r.base += r.start;
			r.end -= r.start;
			r.start = 0;
		}
		ssize_t got =
		    r.source(r.context, r.buf + r.end, sizeof(r.buf) - r.end);
		if (got < 0) {
			r.error = errno;
			return -1;
		}
		if (got == 0) {
			r.eof = true;
			return 0;
		}
		r.end += (size_t)got;
	}
	return 1;
}

/* The next piece of a data header, or the fault of one cut short. */
static objread_event
objread_piece(objread &r, size_t most)
{
	int got = objread_fill(r, r.whole ? r.left : 1);
	if (got < 0)
		return OBJREAD_ERROR;
	if (got == 0) {
		uint64_t left = r.base + r.end - r.header.offset;
		return objread_fault(r, r.header.offset,
		    "%s header's length %u runs past the end of the input "
		    "(%" PRIu64 " byte%s left)",
		    r.header.name, r.header.length, left, plural(left));
	}
	size_t n = r.end - r.start;
	if (n > r.left)
		n = r.left;
	if (!r.whole && n > most)
		n = most != 0 ? most : 1;
	r.data = r.buf + r.start;
	r.count = n;
	r.start += n;
	r.left -= n;
	r.payload += n;
	return OBJREAD_DATA;
}

/* End of Body has arrived whole: does the object agree with itself? */
static objread_event
objread_end(objread &r)
{
	if (r.has_length && r.length_value != r.payload)
		return objread_fault(r, r.length_offset,
		    "Length header says %" PRIu32 " byte%s, the payload has "
		    "%" PRIu64,
		    r.length_value, plural(r.length_value), r.payload);
	r.objects++;
	r.order = 0;
	r.has_length = false;
	return OBJREAD_END;
}

static objread_event
objread_header_step(objread &r)
{
	int got = objread_fill(r, 1);
	uint64_t at = r.base + r.start;
	if (got < 0)
		return OBJREAD_ERROR;
	if (got == 0) {
		if (r.order == 0 && r.objects > 0)
			return OBJREAD_DONE;
		if (at == 0)
			return objread_fault(r, at,
			    "the input is empty, no object at all");
		return objread_fault(r, at,
		    "no End of Body header at the end of the input");
	}

	int id = r.buf[r.start];
	const known *info = lookup(id);
	if (info == nullptr)
		return objread_fault(r, at, "unknown header 0x%02X", id);
	const char *name = obex_header_name(id);
	if (info->order == 0)
		return objread_fault(r, at, "unexpected %s header (0x%02X)",
		    name, id);
	if (info->order == r.order && id != OBEX_HI_BODY)
		return objread_fault(r, at, "second %s header", name);
	if (info->order < r.order)
		return objread_fault(r, at, "%s header after the %s header",
		    name, order_name(r.order));
	if (r.order == 0)
		r.payload = 0;

	objread_header &h = r.header;
	h.offset = at;
	h.id = id;
	h.name = name;
	h.value = 0;
	h.bytes = nullptr;
	if (obex_size_known(id) == 1) {
		/* Of these, an object holds only four-byte headers. */
		size_t size = obex_header_size(r.buf + r.start);
		if ((got = objread_fill(r, size)) <= 0) {
			if (got < 0)
				return OBJREAD_ERROR;
			return objread_fault(r, at,
			    "%s header needs %zu bytes, only %zu left", name,
			    size, r.end - r.start);
		}
		const unsigned char *p = r.buf + r.start;
		h.length = (unsigned)size;
		h.count = size - 1;
		h.value = obex_get32(p + 1);
		h.bytes = p;
		r.start += size;
	} else {
		/* A text holds at least its terminating zero. */
		bool text = (id & OBEX_KIND_MASK) == OBEX_KIND_UNICODE;
		unsigned least = text ? 5 : 3;

		if ((got = objread_fill(r, OBEX_BYTES_HEAD)) <= 0) {
			if (got < 0)
				return OBJREAD_ERROR;
			return objread_fault(r, at,
			    "%s header needs at least %u bytes, only %zu left",
			    name, least, r.end - r.start);
		}
		unsigned length = (unsigned)obex_header_size(r.buf + r.start);
		if (length < least)
			return objread_fault(r, at,
			    "%s header's length %u is less than %u", name,
			    length, least);
		h.length = length;
		unsigned value_size = length - (unsigned)OBEX_BYTES_HEAD;
		if (text) {
			if ((got = objread_fill(r, length)) <= 0) {
				if (got < 0)
					return OBJREAD_ERROR;
				size_t left = r.end - r.start;
				return objread_fault(r, at,
				    "%s header's length %u runs past the end "
				    "of the input (%zu byte%s left)",
				    name, length, left, plural(left));
			}
			const unsigned char *p = r.buf + r.start;
			if (value_size % 2 != 0)
				return objread_fault(r, at,
				    "%s header's text has an odd length (%u "
				    "byte%s)",
				    name, value_size, plural(value_size));
			/* The last unit, both its bytes: 0x0100 is no end. */
			if (p[length - 2] != 0 || p[length - 1] != 0)
				return objread_fault(r, at,
				    "%s header's text does not end in a zero",
				    name);
			h.count = value_size - 2; /* less the zero unit */
			h.bytes = p;
			r.start += length;
		} else {
			/*
			 * A data header that takes the payload past its
			 * Length is wrong whatever follows: said before its
			 * data, not after the rest of a payload that may be
			 * huge.
			 */
			if (r.has_length &&
			    r.payload + value_size > r.length_value)
				return objread_fault(r, r.length_offset,
				    "Length header says %" PRIu32
				    " byte%s, the payload has more",
				    r.length_value, plural(r.length_value));
			h.count = value_size;
			r.start += OBEX_BYTES_HEAD;
			r.in_data = true;
			r.left = h.count;
		}
	}

	r.order = info->order;
	if (id == OBEX_HI_LENGTH) {
		r.has_length = true;
		r.length_offset = at;
		r.length_value = h.value;
	}
	return OBJREAD_HEADER;
}

static objread_event
objread_step(objread &r, size_t most)
{
	if (r.in_data) {
		if (r.left > 0)
			return objread_piece(r, most);
		r.in_data = false;
		if (r.header.id == OBEX_HI_END_OF_BODY)
			return objread_end(r);
	}
	return objread_header_step(r);
}

objread_event
objread_next(objread &r, size_t most)
{
	if (r.last == OBJREAD_DONE || r.last == OBJREAD_FAULT ||
	    r.last == OBJREAD_ERROR)
		return r.last;
	return r.last = objread_step(r, most);
}
