/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The object writer: how a program's object reaches standard output.
 *
 * An object is a bare run of OBEX headers on standard output.  The header
 * writer (hdr_*) frames them with the protocol module and puts them there
 * through the output buffer (out_*), which is the only code that writes
 * to standard output, for fmt-dump's report as for the objects; the text
 * buffer (textbuf_*) collects a payload with CR LF line ends.
 */
#ifndef OBJWRITE_H
#define OBJWRITE_H

#include <cstddef>
#include <cstdint>

#include "obex.h"

/* A creator code: four ASCII letters, the first in the high byte. */
constexpr uint32_t
hdr_code(const char (&s)[5])
{
	return (uint32_t)(unsigned char)s[0] << 24 |
	    (uint32_t)(unsigned char)s[1] << 16 |
	    (uint32_t)(unsigned char)s[2] << 8 | (uint32_t)(unsigned char)s[3];
}

/*
 * The generic writers take a header's identifier (OBEX_HI_*).  hdr_bytes and
 * hdr_quad set the kind bits of theirs themselves, so the header's number
 * alone (its low six bits) gives the same byte; hdr_unicode writes the
 * identifier as it is given.
 */
void hdr_unicode(int id, const void *text, int count);
void hdr_bytes(int id, const void *data, int count);
void hdr_quad(int id, uint32_t value);
void hdr_name(const void *text, int count);
void hdr_description(const void *text, int count);
void hdr_length(uint32_t value);
void hdr_time(uint32_t value);
void hdr_creator(uint32_t value);
void hdr_body(const void *data, int count);
void hdr_end_of_body(const void *data, int count);

/*
 * The payload of a text object: one End-of-Body header when it fits, else
 * full Body headers followed by an End-of-Body header with the rest.
 */
void hdr_payload(const void *data, size_t count);

/*
 * Standard output, buffered here.  out_flush writes what is held and says
 * whether everything written so far has gone out; out_error is the first
 * error standard output reported, 0 while there is none.  proc_finish
 * flushes and reports it.
 */
void out_byte(int c);
void out_bytes(const void *data, size_t count);
/* Room for n bytes (at most OUT_RESERVE_MAX) at the end of what is held. */
inline constexpr size_t OUT_RESERVE_MAX = 128 * 1024;
unsigned char *out_reserve(size_t n);
void out_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
bool out_flush();
int out_error();

/*
 * The program's one text buffer.  Every line end that enters it leaves as
 * CR LF; last_was_cr remembers a CR whose partner has not arrived yet.
 */
struct textbuf {
	int32_t capacity;
	unsigned char *data;
	int32_t length;
	int last_was_cr;
};
extern struct textbuf textbuf;

inline constexpr int32_t TEXTBUF_INITIAL = 1024;

void textbuf_init();
void textbuf_putc(int c);
void textbuf_puts(const char *s);
void textbuf_finish();
void textbuf_read_stream();
void textbuf_put_words(int argc, char *const argv[], int first);

#endif
