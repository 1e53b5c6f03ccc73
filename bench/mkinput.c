/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Inputs for the benchmarks, the same on every run:
 *
 *	mkinput text SIZE	memo text of SIZE bytes with mixed line ends
 *	mkinput pdb SIZE	a Palm database of SIZE bytes (SIZE >= 78)
 *
 * The text reads like a memo typed on a desktop: short list lines, prose
 * wrapped at 76 columns, whole paragraphs on one line and blank lines,
 * ended by LF, CR LF or a lone CR at random.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint64_t state = 0x9E3779B97F4A7C15u;

static unsigned
rnd(unsigned n)
{
	state ^= state << 13;
	state ^= state >> 7;
	state ^= state << 17;
	return (unsigned)(state % n);
}

static const char *const words[] = { "the", "milk", "eggs", "bread", "call",
	"garage", "at", "nine", "meeting", "with", "Anna", "about", "budget",
	"remember", "to", "bring", "report", "and", "a", "on", "Tuesday",
	"quarterly", "figures", "before", "lunch", "ask", "whether", "it",
	"can", "wait", "until", "next", "week", "of", "for", "in", "Zürich",
	"café", "2024-03-15", "phone:", "+41", "44", "555", "0199" };

/* One line of about `len` bytes: whole words, the last one may overrun. */
static size_t
line(char *buf, size_t len)
{
	size_t n = 0;

	while (n < len) {
		const char *w = words[rnd(sizeof(words) / sizeof(words[0]))];
		if (n != 0)
			buf[n++] = ' ';
		memcpy(buf + n, w, strlen(w));
		n += strlen(w);
	}
	return n;
}

static void
text(unsigned long long size)
{
	unsigned long long total = size, lines = 0;
	static char buf[1024];
	static const char *const ends[] = { "\n", "\n", "\n", "\n", "\r\n",
		"\r\n", "\r\n", "\r" };

	while (size > 0) {
		unsigned kind = rnd(20);
		size_t len;
		if (kind < 6)
			len = 5 + rnd(20); /* a list item */
		else if (kind < 16)
			len = 40 + rnd(32); /* wrapped prose */
		else if (kind < 19)
			len = 100 + rnd(300); /* a paragraph on one line */
		else
			len = 0; /* a blank line */
		size_t n = len != 0 ? line(buf, len) : 0;
		const char *end = ends[rnd(8)];
		memcpy(buf + n, end, strlen(end));
		n += strlen(end);
		if (n > size)
			n = (size_t)size;
		else
			lines++;
		fwrite(buf, 1, n, stdout);
		size -= n;
	}
	fprintf(stderr, "mkinput: %llu bytes of text in %llu lines\n", total,
	    lines);
}

/* The 78-byte header of a Palm database, then records of noise. */
static void
pdb(unsigned long long size)
{
	static unsigned char buf[64 * 1024];
	unsigned char *h = buf;

	memset(buf, 0, 78);
	memcpy(h, "Bench Database", 14); /* name, NUL-padded to 32 */
	h[33] = 1; /* version */
	memcpy(h + 60, "DATA", 4); /* type */
	memcpy(h + 64, "BnCh", 4); /* creator */
	for (size_t i = 78; i < sizeof(buf); i++)
		buf[i] = (unsigned char)rnd(256);
	while (size > 0) {
		size_t n = size < sizeof(buf) ? (size_t)size : sizeof(buf);
		fwrite(buf, 1, n, stdout);
		size -= n;
		memset(buf, (int)(size & 0xFF), 78); /* later blocks: noise */
	}
}

int
main(int argc, char *argv[])
{
	if (argc != 3) {
		fprintf(stderr, "usage: mkinput text|pdb size\n");
		return 2;
	}
	unsigned long long size = strtoull(argv[2], NULL, 10);
	if (strcmp(argv[1], "text") == 0)
		text(size);
	else if (strcmp(argv[1], "pdb") == 0 && size >= 78)
		pdb(size);
	else {
		fprintf(stderr, "mkinput: bad arguments\n");
		return 2;
	}
	return fflush(stdout) == 0 ? 0 : 1;
}
