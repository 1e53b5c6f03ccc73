/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The object header writer: one operation per OBEX header, all of them
 * writing to standard output through its buffer (out_*), numbers high
 * byte first.
 */
#include "objstream.h"

/* The low 16 bits of value, high byte first. */
static void
put_u16(unsigned value)
{
	out_byte((value >> 8) & 0xFF);
	out_byte(value & 0xFF);
}

void
hdr_unicode(int id, const void *text, int count)
{
	const unsigned char *p = static_cast<const unsigned char *>(text);

	out_byte(id & 0xFF);
	put_u16(2 * (unsigned)count + 5);
	for (int i = 0; i < count; i++)
		put_u16(p[i]);
	put_u16(0);
}

void
hdr_bytes(int id, const void *data, int count)
{
	out_byte((id | HDR_KIND_BYTES) & 0xFF);
	put_u16((unsigned)count + 3);
	out_bytes(data, (size_t)count);
}

void
hdr_quad(int id, uint32_t value)
{
	out_byte((id | HDR_KIND_QUAD) & 0xFF);
	put_u16(value >> 16);
	put_u16(value & 0xFFFF);
}

void
hdr_name(const void *text, int count)
{
	hdr_unicode(HDR_NAME, text, count);
}

void
hdr_description(const void *text, int count)
{
	hdr_unicode(HDR_DESCRIPTION, text, count);
}

void
hdr_length(uint32_t value)
{
	hdr_quad(HDR_LENGTH, value);
}

void
hdr_time(uint32_t value)
{
	hdr_quad(HDR_TIME, value);
}

void
hdr_creator(uint32_t value)
{
	hdr_quad(HDR_CREATOR, value);
}

void
hdr_body(const void *data, int count)
{
	hdr_bytes(HDR_BODY, data, count);
}

void
hdr_end_of_body(const void *data, int count)
{
	hdr_bytes(HDR_END_OF_BODY, data, count);
}

void
hdr_payload(const void *data, size_t count)
{
	const unsigned char *p = static_cast<const unsigned char *>(data);

	/*
	 * One header's 16-bit length cannot describe more than HDR_BYTES_MAX
	 * bytes of data; a longer payload goes out in full Body headers and
	 * the End-of-Body header carries what is left.
	 */
	for (; count > (size_t)HDR_BYTES_MAX; count -= HDR_BYTES_MAX) {
		hdr_body(p, HDR_BYTES_MAX);
		p += HDR_BYTES_MAX;
	}
	hdr_end_of_body(p, (int)count);
}
