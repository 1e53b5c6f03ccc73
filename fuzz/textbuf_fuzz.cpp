/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The text buffer, fed whatever bytes arrive, cut up at will between its
 * three ways in: single appends, strings, and standard input.
 *
 * The input is a run of operations, each a control byte and what follows:
 * control & 3 is 0 for one textbuf_putc of the next byte, 1 for a
 * textbuf_puts of the next control >> 2 bytes (as a C string, so up to a NUL
 * among them), 2 for a textbuf_read_stream of the next control >> 2 bytes,
 * 3 for a textbuf_read_stream of all the rest.
 *
 * At the end, and after textbuf_finish: a byte is left free until
 * textbuf_finish, every LF in the text follows a CR, every CR is followed
 * by an LF but for a last one, which last_was_cr then marks (and which
 * textbuf_finish completes), and the text with its line ends folded is the
 * input with its own folded.
 */
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "objwrite.h"

[[noreturn]] static void
fail(const char *what)
{
	fprintf(stderr, "textbuf_fuzz: %s\n", what);
	abort();
}

/* Every line end (CR LF, CR or LF) as one LF. */
static std::string
folded(const unsigned char *s, size_t n)
{
	std::string out;
	for (size_t i = 0; i < n; i++) {
		if (s[i] == '\r') {
			out += '\n';
			if (i + 1 < n && s[i + 1] == '\n')
				i++;
		} else
			out += (char)s[i];
	}
	return out;
}

/* Standard input becomes a pipe holding these bytes, then its end. */
static void
stdin_holds(const std::string &bytes)
{
	int fd[2];
	if (pipe(fd) != 0)
		fail("pipe");
	/* A pipe takes 64 KiB at least without a reader. */
	if (bytes.size() > 65536 ||
	    write(fd[1], bytes.data(), bytes.size()) != (ssize_t)bytes.size())
		fail("write to pipe");
	close(fd[1]);
	if (dup2(fd[0], 0) != 0)
		fail("dup2");
	close(fd[0]);
	clearerr(stdin);
}

static void
check_text(const std::string &input, bool finished)
{
	const unsigned char *t = textbuf.data;
	int32_t n = textbuf.length;

	/*
	 * Every append leaves a byte free, for the LF that textbuf_finish
	 * may store without growing the block; after it the block may be
	 * full.
	 */
	if (!finished && n > textbuf.capacity - 1)
		fail("no byte left free");
	if ((textbuf.last_was_cr != 0) != (n > 0 && t[n - 1] == '\r'))
		fail("last_was_cr does not match the text");
	for (int32_t i = 0; i < n; i++) {
		if (t[i] == '\n' && (i == 0 || t[i - 1] != '\r'))
			fail("LF without its CR");
		if (t[i] == '\r' && i + 1 < n && t[i + 1] != '\n')
			fail("CR without its LF");
	}
	if (folded(t, (size_t)n) !=
	    folded(reinterpret_cast<const unsigned char *>(input.data()),
		input.size()))
		fail("text differs from the input");
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const uint8_t *end = data + size;
	std::string input; /* every byte appended so far */

	/* Standard input is a pipe filled before it is read. */
	if (size > 65536)
		return 0;
	free(textbuf.data);
	textbuf_init();
	while (data < end) {
		unsigned control = *data++;
		size_t len = (control & 3) == 0 ? 1 : control >> 2;
		if (len > (size_t)(end - data) || (control & 3) == 3)
			len = (size_t)(end - data);
		std::string bytes(reinterpret_cast<const char *>(data), len);
		data += len;
		switch (control & 3) {
		case 0:
			if (len == 1)
				textbuf_putc((unsigned char)bytes[0]);
			break;
		case 1:
			bytes.resize(strlen(bytes.c_str()));
			textbuf_puts(bytes.c_str());
			break;
		default:
			stdin_holds(bytes);
			textbuf_read_stream();
			break;
		}
		input += bytes;
	}
	check_text(input, false);
	textbuf_finish();
	check_text(input, true);
	return 0;
}
