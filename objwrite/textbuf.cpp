/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The text buffer: one growable block per program that collects a payload
 * and turns every line end (LF, CR or CR LF) into CR LF on the way in.
 *
 * textbuf_putc is the rule; the bulk path below (strings, and standard input
 * read in blocks) only copies the runs between line ends in one piece and
 * leaves the buffer exactly as the same bytes through textbuf_putc would,
 * capacity and last_was_cr included, so that a text may be built from both
 * in any order.
 */
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "fd.h"
#include "objwrite.h"
#include "proc.h"

struct textbuf textbuf;

/*
 * The block's size is a 32-bit count that only ever doubles from 1024, so
 * the largest block is 1 GiB.  An append must find three bytes free in it
 * or grow it, so any text of up to TEXTBUF_TEXT_MAX bytes fits, whatever
 * its line ends; a longer one may not.
 */
static constexpr int32_t TEXTBUF_BLOCK_MAX = INT32_C(1) << 30;
static constexpr int32_t TEXTBUF_TEXT_MAX = TEXTBUF_BLOCK_MAX - 2;

/* Double the block, for an append that finds fewer than three bytes free. */
static void
textbuf_grow()
{
	if (textbuf.capacity >= TEXTBUF_BLOCK_MAX)
		proc_fatal("text too long: more than %" PRId32 " bytes",
		    TEXTBUF_TEXT_MAX);
	int32_t capacity = textbuf.capacity * 2;
	void *p = realloc(textbuf.data, (size_t)capacity);
	if (p == nullptr)
		proc_fatal("out of memory");
	textbuf.data = static_cast<unsigned char *>(p);
	textbuf.capacity = capacity;
}

void
textbuf_init()
{
	textbuf.data = static_cast<unsigned char *>(malloc(TEXTBUF_INITIAL));
	if (textbuf.data == nullptr)
		proc_fatal("out of memory");
	textbuf.capacity = TEXTBUF_INITIAL;
	textbuf.length = 0;
	textbuf.last_was_cr = 0;
}

void
textbuf_putc(int c)
{
	if (textbuf.length > textbuf.capacity - 3)
		textbuf_grow();
	unsigned char *p = textbuf.data + textbuf.length;
	if (c == '\n') {
		if (!textbuf.last_was_cr)
			*p++ = '\r';
	} else if (textbuf.last_was_cr)
		*p++ = '\n';
	*p++ = (unsigned char)c;
	textbuf.length = (int32_t)(p - textbuf.data);
	textbuf.last_was_cr = c == '\r';
}

/* The first c in [s, end), or end. */
static const unsigned char *
textbuf_find(const unsigned char *s, const unsigned char *end, int c)
{
	const void *p = memchr(s, c, (size_t)(end - s));
	return p != nullptr ? static_cast<const unsigned char *>(p) : end;
}

/*
 * Append n arbitrary bytes, as n calls of textbuf_putc would.  The bytes
 * between line ends are copied in one piece and a CR LF or LF is stored at
 * once, as long as the block has room for them without growing.
 *
 * The next LF and the next CR are each looked for again only once the copy
 * has passed them, so that a text with only one kind of line end is not
 * searched to its end for the other at every line.
 */
static void
textbuf_write(const unsigned char *s, size_t n)
{
	const unsigned char *const end = s + n;
	const unsigned char *lf = textbuf_find(s, end, '\n');
	const unsigned char *cr = textbuf_find(s, end, '\r');

	while (s < end) {
		/*
		 * A CR that the copy below stops at (a lone one, or one whose
		 * LF must grow the block), the byte after it, and an append
		 * that must grow the block go through textbuf_putc.
		 */
		if (textbuf.last_was_cr || *s == '\r' ||
		    textbuf.length > textbuf.capacity - 3) {
			textbuf_putc(*s++);
			continue;
		}
		/* Every append must find at most capacity - 3 bytes held. */
		unsigned char *out = textbuf.data + textbuf.length;
		unsigned char *const full = textbuf.data + textbuf.capacity - 3;
		for (;;) {
			/* Up to the next line end, as far as it fits. */
			if (lf < s)
				lf = textbuf_find(s, end, '\n');
			if (cr < s)
				cr = textbuf_find(s, end, '\r');
			size_t run = (size_t)((lf < cr ? lf : cr) - s);
			if (run > (size_t)(full + 1 - out))
				run = (size_t)(full + 1 - out);
			memcpy(out, s, run);
			out += run;
			s += run;
			if (s == end || out > full)
				break;

			/*
			 * Then the line end, an LF or a CR LF; the LF of a CR
			 * LF is an append of its own, which may have to grow
			 * the block.
			 */
			if (*s == '\n')
				s++;
			else if (s + 1 < end && s[1] == '\n' && out + 1 <= full)
				s += 2;
			else
				break;
			out[0] = '\r';
			out[1] = '\n';
			out += 2;
			if (s == end || out > full)
				break;
		}
		textbuf.length = (int32_t)(out - textbuf.data);
	}
}

void
textbuf_puts(const char *s)
{
	textbuf_write(reinterpret_cast<const unsigned char *>(s), strlen(s));
}

void
textbuf_finish()
{
	/* The append that stored the CR left at least one byte free. */
	if (textbuf.last_was_cr) {
		textbuf.data[textbuf.length++] = '\n';
		textbuf.last_was_cr = 0;
	}
}

void
textbuf_read_stream()
{
	static unsigned char block[64 * 1024];
	ssize_t n;

	/* An error must not pass for the end: the text would go out
	 * truncated as if it were whole. */
	while ((n = fd_read(STDIN_FILENO, block, sizeof(block))) > 0)
		textbuf_write(block, (size_t)n);
	if (n < 0)
		proc_fatal("cannot read standard input: %s", strerror(errno));
}

void
textbuf_put_words(int argc, char *const argv[], int first)
{
	for (int i = first; i < argc; i++) {
		textbuf_puts(argv[i]);
		if (i + 1 < argc)
			textbuf_putc(' ');
	}
}
