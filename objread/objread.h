/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The object reader: a stream of objects, as the fmt-* programs write
 * them one after another, taken apart as it arrives.  Each step hands back
 * the next header, the next piece of a payload, the end of an object or of
 * the stream, or the first fault with its offset from the start of the
 * stream; nothing after a fault is guessed at.
 *
 * Memory stays flat whatever the size of an object: the reader holds one
 * block of OBJREAD_BUFFER bytes, enough for the largest header whole, and
 * hands out pieces of it.  It reads through a source function, so that
 * the same code serves a descriptor and, in tests, bytes in memory cut
 * into reads of any size.
 */
#ifndef OBJREAD_H
#define OBJREAD_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

enum objread_event {
	/*
	 * A header.  Name, Length and Creator ID arrive whole, their bytes
	 * in `bytes`; for Body and End of Body only the framing has been
	 * read, and their data follows as OBJREAD_DATA pieces.
	 */
	OBJREAD_HEADER,
	OBJREAD_DATA, /* the next piece of a Body or End-of-Body header */
	OBJREAD_END, /* the end of a well-formed object */
	OBJREAD_DONE, /* the end of the stream, after at least one object */
	OBJREAD_FAULT, /* malformed: fault_offset and fault say how */
	OBJREAD_ERROR, /* the source failed; `error` is its errno */
};

struct objread_header {
	uint64_t offset; /* of its identifier byte in the stream */
	int id;
	const char *name; /* the IrOBEX name */
	unsigned length; /* the whole header, as its length field says */
	size_t count; /* bytes of its value: text units, data or four */
	uint32_t value; /* the value of a four-byte header */
	/* All of a Name, Length or Creator ID header; null for the rest. */
	const unsigned char *bytes;
};

/* Reads up to `count` bytes: what read(2) returns, errno set on -1. */
using objread_source = ssize_t (*)(void *context, void *buf, size_t count);

inline constexpr size_t OBJREAD_BUFFER = 64 * 1024;

/*
 * The reader's state; set it up with objread_init.  After OBJREAD_DONE,
 * OBJREAD_FAULT or OBJREAD_ERROR every further step returns the same.
 */
struct objread {
	objread_source source;
	void *context;
	/*
	 * Deliver the data of each Body and End-of-Body header as one piece
	 * (the header read whole first), not in pieces as it arrives.
	 */
	bool whole;

	objread_header header; /* the last OBJREAD_HEADER */
	const unsigned char *data; /* an OBJREAD_DATA piece */
	size_t count;
	uint64_t objects; /* objects that ended well so far */
	uint64_t payload; /* data bytes of the current object so far */
	uint64_t fault_offset; /* where the fault lies */
	char fault[128]; /* what is wrong, without the offset */
	int error;
	const char *path; /* for messages; null for standard input */

	/* The reader's own. */
	unsigned char buf[OBJREAD_BUFFER];
	size_t start, end; /* the bytes in hand: buf[start, end) */
	uint64_t base; /* stream offset of buf[0] */
	bool eof;
	objread_event last;
	int order; /* the last header's place in the object, 0 before one */
	bool in_data;
	size_t left; /* data bytes of the current header still to come */
	bool has_length;
	uint64_t length_offset;
	uint32_t length_value;
};

/* Readers of a descriptor (through fd_read) or of another source. */
void objread_init(objread &r, int fd);
void objread_init_source(objread &r, objread_source source, void *context);

/*
 * A reader of the file at `path`, or of standard input when it is null or
 * "-", as fmt-dump and fmt-send take their input; a file that cannot be
 * opened ends the program with a message.
 */
void objread_open(objread &r, const char *path);

/*
 * What stopped the reader, after OBJREAD_FAULT or OBJREAD_ERROR, as a
 * message says it: "offset N: WHAT", or why the input could not be read.
 * Valid until the next call.
 */
const char *objread_why(const objread &r);

/*
 * The next step.  A piece of data is at most `most` bytes (at least 1),
 * unless the reader is whole.  The bytes of a header or a piece stay valid
 * until the next call; OBJREAD_END leaves them in place, so the last piece
 * of an object may be used once the object has proved well-formed.
 */
objread_event objread_next(objread &r, size_t most);

#endif
