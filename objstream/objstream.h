/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Object stream module: everything the fmt-* programs share.
 *
 * An object is a bare run of OBEX headers on standard output.  The header
 * writer (hdr_*) puts them there through the output buffer (out_*), which
 * is the only code that writes to standard output, for fmt-dump's report
 * as for the objects; the text buffer (textbuf_*) collects a payload with
 * CR LF line ends; the process helpers (obj_*) carry the invocation name,
 * the option parser, reads and writes that any descriptor a caller hands
 * over survives, and the end-of-run check of standard output that every
 * program needs.
 */
#ifndef OBJSTREAM_H
#define OBJSTREAM_H

#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

/* Header identifiers and the limits of the 16-bit length field. */
inline constexpr int HDR_NAME = 0x01;
inline constexpr int HDR_DESCRIPTION = 0x05;
inline constexpr int HDR_LENGTH = 0xC3;
inline constexpr int HDR_TIME = 0xC4;
inline constexpr int HDR_CREATOR = 0xCF;
inline constexpr int HDR_BODY = 0x48;
inline constexpr int HDR_END_OF_BODY = 0x49;

/* The top two bits of an identifier give the header's kind. */
inline constexpr int HDR_KIND_MASK = 0xC0;
inline constexpr int HDR_KIND_UNICODE = 0x00;
inline constexpr int HDR_KIND_BYTES = 0x40;
inline constexpr int HDR_KIND_QUAD = 0xC0;

/*
 * The headers the writer knows, by their IrOBEX names.  `order` is a
 * header's place in an object, whose headers always come as Name, Length,
 * Creator ID, Body (repeated), End of Body; 0 marks the headers that no
 * program writes.
 */
struct hdr_info {
	int id;
	const char *name;
	int order;
};
inline constexpr hdr_info hdr_table[] = {
	{ HDR_NAME, "Name", 1 },
	{ HDR_DESCRIPTION, "Description", 0 },
	{ HDR_LENGTH, "Length", 2 },
	{ HDR_TIME, "Time", 0 },
	{ HDR_CREATOR, "Creator ID", 3 },
	{ HDR_BODY, "Body", 4 },
	{ HDR_END_OF_BODY, "End of Body", 5 },
};

inline constexpr int HDR_MAX = 65535; /* one header, all in */
inline constexpr int HDR_BYTES_MAX = HDR_MAX - 3; /* data of a byte header */

/* A creator code: four ASCII letters, the first in the high byte. */
constexpr uint32_t
hdr_code(const char (&s)[5])
{
	return (uint32_t)(unsigned char)s[0] << 24 |
	    (uint32_t)(unsigned char)s[1] << 16 |
	    (uint32_t)(unsigned char)s[2] << 8 | (uint32_t)(unsigned char)s[3];
}

/*
 * The generic writers take a header's identifier (HDR_*).  hdr_bytes and
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
 * error standard output reported, 0 while there is none.  obj_finish
 * flushes and reports it.
 */
void out_byte(int c);
void out_bytes(const void *data, size_t count);
void out_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
bool out_flush();
int out_error();

/*
 * read(2), writev(2) and write(2) for descriptors the caller may have left
 * non-blocking: a call interrupted by a signal is made again, and one that
 * would block waits until the descriptor is ready.  obj_read returns what
 * read returns; obj_writev and obj_write write everything or return false
 * with errno set.  obj_writev moves the vector on as it goes.
 */
ssize_t obj_read(int fd, void *buf, size_t count);
bool obj_writev(int fd, struct iovec *iov, int n);
bool obj_write(int fd, const void *data, size_t count);

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

/* An object name given on the command line is cut to this many bytes. */
inline constexpr int OBJ_NAME_MAX = 24;

void textbuf_init();
void textbuf_putc(int c);
void textbuf_puts(const char *s);
void textbuf_finish();
void textbuf_read_stream();
void textbuf_put_words(int argc, char *const argv[], int first);

/*
 * Process helpers:
 * - obj_start records the name for messages: the invocation name, or the
 *   program's own when the argument vector or argv[0] is empty (then put
 *   in argv[0] too, for getopt's diagnostics); obj_name gives it back;
 * - obj_shown is a text for a message with its control bytes shown as
 *   escapes (\n, \r, \t, \xNN), so that a file name cannot move the cursor
 *   or split the message; it is valid until the next call;
 * - obj_namelen is the length of a name cut to OBJ_NAME_MAX;
 * - obj_usage prints the description and usage lines (a format whose one %s
 *   is the invocation name) and exits with the given status: 0 when -h
 *   asked for them, 1 for a command line that cannot be carried out, so
 *   that a script does not go on to send an object that was never made;
 * - obj_fatal prints "NAME: " and the message and exits with status 1;
 * - obj_finish flushes standard output and returns 0 for main to return, or
 *   ends the process with status 1 if anything could not be written.
 */
void obj_start(int argc, char *argv[], const char *own_name);
const char *obj_name();
const char *obj_shown(const char *text);
int obj_namelen(const char *name);
[[noreturn]] void obj_usage(const char *lines, int status);
[[noreturn]] void obj_fatal(const char *fmt, ...)
    __attribute__((format(printf, 1, 2)));
int obj_finish();

/*
 * An option string for getopt(3) that keeps it to its POSIX manner on every
 * libc: options end at the first word that is not one, and nothing is
 * reordered.  glibc moves options from behind the words unless the string
 * begins with '+'; other libcs never do, and would take a '+' for an option
 * letter, so only glibc is told.  The string must be a literal: the '+'
 * joins it when the program is compiled.
 */
#if defined(__GLIBC__)
#define OBJ_OPTIONS(s) "+" s
#else
#define OBJ_OPTIONS(s) "" s
#endif

#endif
