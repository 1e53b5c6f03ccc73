/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The object header writer: one operation per OBEX header, each framed by
 * the protocol module and written to standard output through its buffer
 * (out_*).
 */
#include "objwrite.h"

/* Each header is framed in place, in the output buffer. */
void
hdr_unicode(int id, const void *text, int count)
{
	obex_put_unicode(out_reserve(2 * (size_t)count + 5), id, text, count);
}

void
hdr_bytes(int id, const void *data, int count)
{
	obex_put_bytes_head(out_reserve(OBEX_BYTES_HEAD), id, (size_t)count);
	out_bytes(data, (size_t)count);
}

void
hdr_quad(int id, uint32_t value)
{
	obex_put_quad(out_reserve(5), id, value);
}

void
hdr_name(const void *text, int count)
{
	hdr_unicode(OBEX_HI_NAME, text, count);
}

void
hdr_description(const void *text, int count)
{
	hdr_unicode(OBEX_HI_DESCRIPTION, text, count);
}

void
hdr_length(uint32_t value)
{
	hdr_quad(OBEX_HI_LENGTH, value);
}

void
hdr_time(uint32_t value)
{
	hdr_quad(OBEX_HI_TIME, value);
}

void
hdr_creator(uint32_t value)
{
	hdr_quad(OBEX_HI_CREATOR, value);
}

void
hdr_body(const void *data, int count)
{
	hdr_bytes(OBEX_HI_BODY, data, count);
}

void
hdr_end_of_body(const void *data, int count)
{
	hdr_bytes(OBEX_HI_END_OF_BODY, data, count);
}

void
hdr_payload(const void *data, size_t count)
{
	const unsigned char *p = static_cast<const unsigned char *>(data);

	/*
	 * One header's 16-bit length cannot describe more than OBEX_BYTES_MAX
	 * bytes of data; a longer payload goes out in full Body headers and
	 * the End-of-Body header carries what is left.
	 */
	for (; count > (size_t)OBEX_BYTES_MAX; count -= OBEX_BYTES_MAX) {
		hdr_body(p, OBEX_BYTES_MAX);
		p += OBEX_BYTES_MAX;
	}
	hdr_end_of_body(p, (int)count);
}
