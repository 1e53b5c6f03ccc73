/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The text buffer: one growable block per program that collects a payload
 * and turns every line end (LF, CR or CR LF) into CR LF on the way in, one
 * byte at a time: strings and standard input go through textbuf_putc too.
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

/* The one rule of every append, for textbuf_putc and the loops below. */
static inline void
append(int c)
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

void
textbuf_putc(int c)
{
	append(c);
}

void
textbuf_puts(const char *s)
{
	for (; *s != '\0'; s++)
		append((unsigned char)*s);
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
		for (ssize_t i = 0; i < n; i++)
			append(block[i]);
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
