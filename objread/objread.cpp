/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The object reader: one header per step, each checked as it is read, so
 * that the first fault is named where it lies and nothing after it is
 * guessed at.  Only a Body or End-of-Body header's data is handed out
 * before the header has arrived whole; everything else waits in the block
 * until it has.
 */
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "objread.h"
#include "objstream.h"

static constexpr const hdr_info *
objread_lookup(int id)
{
	for (const hdr_info &h : hdr_table)
		if (h.id == id)
			return &h;
	return nullptr;
}

static const char *
objread_order_name(int order)
{
	for (const hdr_info &h : hdr_table)
		if (h.order == order)
			return h.name;
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

static unsigned
objread_u16(const unsigned char *p)
{
	return (unsigned)p[0] << 8 | p[1];
}

static ssize_t
objread_fd(void *context, void *buf, size_t count)
{
	return obj_read((int)(intptr_t)context, buf, count);
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
	const hdr_info *info = objread_lookup(id);
	if (info == nullptr)
		return objread_fault(r, at, "unknown header 0x%02X", id);
	if (info->order == 0)
		return objread_fault(r, at, "unexpected %s header (0x%02X)",
		    info->name, id);
	if (info->order == r.order && id != HDR_BODY)
		return objread_fault(r, at, "second %s header", info->name);
	if (info->order < r.order)
		return objread_fault(r, at, "%s header after the %s header",
		    info->name, objread_order_name(r.order));
	if (r.order == 0)
		r.payload = 0;

	objread_header &h = r.header;
	h.offset = at;
	h.id = id;
	h.name = info->name;
	h.value = 0;
	h.bytes = nullptr;
	if ((id & HDR_KIND_MASK) == HDR_KIND_QUAD) {
		if ((got = objread_fill(r, 5)) <= 0) {
			if (got < 0)
				return OBJREAD_ERROR;
			return objread_fault(r, at,
			    "%s header needs 5 bytes, only %zu left",
			    info->name, r.end - r.start);
		}
		const unsigned char *p = r.buf + r.start;
		h.length = 5;
		h.count = 4;
		h.value =
		    (uint32_t)objread_u16(p + 1) << 16 | objread_u16(p + 3);
		h.bytes = p;
		r.start += 5;
	} else {
		/* A text holds at least its terminating zero. */
		bool text = (id & HDR_KIND_MASK) == HDR_KIND_UNICODE;
		unsigned least = text ? 5 : 3;

		if ((got = objread_fill(r, 3)) <= 0) {
			if (got < 0)
				return OBJREAD_ERROR;
			return objread_fault(r, at,
			    "%s header needs at least %u bytes, only %zu left",
			    info->name, least, r.end - r.start);
		}
		unsigned length = objread_u16(r.buf + r.start + 1);
		if (length < least)
			return objread_fault(r, at,
			    "%s header's length %u is less than %u", info->name,
			    length, least);
		h.length = length;
		if (text) {
			if ((got = objread_fill(r, length)) <= 0) {
				if (got < 0)
					return OBJREAD_ERROR;
				size_t left = r.end - r.start;
				return objread_fault(r, at,
				    "%s header's length %u runs past the end "
				    "of the input (%zu byte%s left)",
				    info->name, length, left, plural(left));
			}
			const unsigned char *p = r.buf + r.start;
			if ((length - 3) % 2 != 0)
				return objread_fault(r, at,
				    "%s header's text has an odd length (%u "
				    "byte%s)",
				    info->name, length - 3, plural(length - 3));
			/* The last unit, both its bytes: 0x0100 is no end. */
			if (p[length - 2] != 0 || p[length - 1] != 0)
				return objread_fault(r, at,
				    "%s header's text does not end in a zero",
				    info->name);
			h.count = length - 5;
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
			    r.payload + (length - 3) > r.length_value)
				return objread_fault(r, r.length_offset,
				    "Length header says %" PRIu32
				    " byte%s, the payload has more",
				    r.length_value, plural(r.length_value));
			h.count = length - 3;
			r.start += 3;
			r.in_data = true;
			r.left = h.count;
		}
	}

	r.order = info->order;
	if (id == HDR_LENGTH) {
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
		if (r.header.id == HDR_END_OF_BODY)
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
