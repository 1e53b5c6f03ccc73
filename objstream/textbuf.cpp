/*
 * The text buffer: one growable block per program that collects a payload
 * and turns every line end (LF, CR or CR LF) into CR LF on the way in.
 *
 * textbuf_putc is the rule; the bulk paths below (runs of bytes without
 * line ends, block reads of standard input) only skip the per-byte work and
 * leave the buffer exactly as the same bytes through textbuf_putc would,
 * capacity included.
 */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "objstream.h"

struct textbuf textbuf;

/*
 * Make room for an append that finds `held` bytes in the buffer: fewer
 * than three free bytes double the capacity, as often as a run of single
 * appends would have doubled it.
 */
static void
textbuf_room(int64_t held)
{
	int64_t capacity = textbuf.capacity;

	if (held <= capacity - 3)
		return;
	while (held > capacity - 3)
		capacity *= 2;
	if (capacity > INT32_MAX)
		obj_fatal("out of memory");
	void *p = realloc(textbuf.data, (size_t)capacity);
	if (p == nullptr)
		obj_fatal("out of memory");
	textbuf.data = static_cast<unsigned char *>(p);
	textbuf.capacity = (int32_t)capacity;
}

void
textbuf_init()
{
	textbuf.data = static_cast<unsigned char *>(malloc(TEXTBUF_INITIAL));
	if (textbuf.data == nullptr)
		obj_fatal("out of memory");
	textbuf.capacity = TEXTBUF_INITIAL;
	textbuf.length = 0;
	textbuf.last_was_cr = 0;
}

void
textbuf_putc(int c)
{
	textbuf_room(textbuf.length);
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

/* Append n bytes that hold no CR and no LF. */
static void
textbuf_put_plain(const unsigned char *s, size_t n)
{
	if (n == 0)
		return;
	if (textbuf.last_was_cr) {
		textbuf_putc(*s++);
		n--;
	}
	/* The last of the n single appends would find length + n - 1 held. */
	textbuf_room((int64_t)textbuf.length + (int64_t)n - 1);
	memcpy(textbuf.data + textbuf.length, s, n);
	textbuf.length += (int32_t)n;
}

static const unsigned char *
find(const unsigned char *s, const unsigned char *end, int c)
{
	const void *p = memchr(s, c, (size_t)(end - s));
	return p != nullptr ? static_cast<const unsigned char *>(p) : end;
}

/* Append n arbitrary bytes, as n calls of textbuf_putc would. */
static void
textbuf_write(const unsigned char *s, size_t n)
{
	const unsigned char *end = s + n;
	const unsigned char *cr = find(s, end, '\r');
	const unsigned char *lf = find(s, end, '\n');

	for (;;) {
		const unsigned char *stop = cr < lf ? cr : lf;
		textbuf_put_plain(s, (size_t)(stop - s));
		if (stop == end)
			return;
		textbuf_putc(*stop);
		s = stop + 1;
		if (stop == cr)
			cr = find(s, end, '\r');
		else
			lf = find(s, end, '\n');
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
	size_t n;

	/*
	 * fread gives a short count only at the end of the input or on an
	 * error, and an error must not pass for the end: the text would go
	 * out truncated as if it were whole.
	 */
	do {
		n = fread(block, 1, sizeof(block), stdin);
		if (n < sizeof(block) && ferror(stdin))
			obj_fatal("cannot read standard input: %s",
			    strerror(errno));
		textbuf_write(block, n);
	} while (n == sizeof(block));
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
