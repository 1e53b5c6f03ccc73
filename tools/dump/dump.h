/*
 * Taking an object apart again: the headers of one header stream, each
 * checked against the layout that the fmt-* programs write, or the first
 * fault with its offset.
 *
 * The parser is pure: it works on the whole object held in memory, reads
 * nothing else, writes nothing and allocates nothing (dump_parse only grows
 * the caller's list).  Every header it returns points into the input.
 */
#ifndef DUMP_H
#define DUMP_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct dump_header {
	size_t offset; /* of its identifier byte in the input */
	int id;
	const char *name; /* the IrOBEX name, from hdr_table */
	unsigned length; /* the whole header, as its length field says */
	size_t data; /* offset of its value: text units, data or four bytes */
	size_t count; /* bytes of the value; a text's terminator not counted */
	uint32_t value; /* the value of a four-byte header */
};

struct dump_error {
	size_t offset; /* where the fault lies: a header, or the input's end */
	char text[128]; /* what is wrong, without the offset */
};

/* How far a parse has come; zero-initialise it before the first step. */
struct dump_state {
	size_t pos; /* the next header's offset */
	int order; /* the last header's place in the object, 0 at the start */
	uint64_t payload; /* Body and End-of-Body data bytes so far */
	bool has_length;
	size_t length_offset;
	uint32_t length_value;
};

enum dump_step { DUMP_HEADER, DUMP_END, DUMP_ERROR };

/*
 * One step: the next header (DUMP_HEADER), the end of a well-formed object
 * (DUMP_END), or its first fault (DUMP_ERROR); after DUMP_END or DUMP_ERROR
 * the parse is over.
 */
dump_step dump_next(std::span<const unsigned char> input, dump_state &state,
    dump_header &header, dump_error &error);

/*
 * The whole object: true when it is well-formed.  `headers` receives every
 * header read before the end or the fault, in order.
 */
bool dump_parse(std::span<const unsigned char> input,
    std::vector<dump_header> &headers, dump_error &error);

#endif
