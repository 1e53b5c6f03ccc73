/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The object reader, fed any bytes in reads of any size.  It must read
 * nothing outside them and describe what it accepts consistently: headers
 * back to back from the first byte, their data in pieces that add up to
 * each header's count, objects one after another, a fault within the
 * stream or at its end.  Reading whole headers and reading pieces of a
 * chosen size see the same headers and the same end.
 *
 * What it accepts must round-trip: written again from the headers it
 * returned, through the header writer, the stream comes out byte for byte
 * as it went in (for names the writer can write: text units with a zero
 * high byte), and up to a fault it comes out as the bytes before it.
 */
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "objread.h"
#include "objwrite.h"

[[noreturn]] static void
fail(const char *what)
{
	fprintf(stderr, "dump_fuzz: %s\n", what);
	abort();
}

struct Memory {
	const uint8_t *data;
	size_t size;
	size_t chunk;
};

static ssize_t
memory_read(void *context, void *buf, size_t count)
{
	Memory *m = static_cast<Memory *>(context);
	size_t n = std::min({ count, m->chunk, m->size });
	memcpy(buf, m->data, n);
	m->data += n;
	m->size -= n;
	return (ssize_t)n;
}

/* Standard output is a scratch file while the header writer writes. */
static int scratch_fd = -1, saved_stdout = -1;

static void
scratch_begin()
{
	static FILE *scratch = tmpfile();
	if (scratch == nullptr)
		fail("tmpfile");
	scratch_fd = fileno(scratch);
	saved_stdout = dup(STDOUT_FILENO);
	if (saved_stdout < 0 || ftruncate(scratch_fd, 0) != 0 ||
	    lseek(scratch_fd, 0, SEEK_SET) != 0 ||
	    dup2(scratch_fd, STDOUT_FILENO) < 0)
		fail("a scratch standard output");
}

static std::string
scratch_end()
{
	if (!out_flush())
		fail("the scratch file took not everything");
	dup2(saved_stdout, STDOUT_FILENO);
	close(saved_stdout);
	std::string out;
	char buf[4096];
	ssize_t n;
	for (off_t at = 0; (n = pread(scratch_fd, buf, sizeof(buf), at)) > 0;
	     at += n)
		out.append(buf, (size_t)n);
	return out;
}

/*
 * One pass over the stream; the headers' offsets and the way it ended as
 * text, to compare between passes.  With `rewrite`, every header goes
 * through the writer as it is read whole.
 */
static std::string
pass(const uint8_t *data, size_t size, size_t chunk, bool whole, size_t most,
    bool rewrite, bool &writable, bool &well_formed)
{
	static objread r;
	Memory m{ data, size, chunk };
	objread_init_source(r, memory_read, &m);
	r.whole = whole;
	std::string seen;
	uint64_t pos = 0, left = 0;
	bool data_header = false;

	for (;;) {
		const objread_header &h = r.header;
		switch (objread_next(r, most)) {
		case OBJREAD_HEADER:
			if (left != 0 || h.offset != pos)
				fail("header not where the last one ended");
			/* Data headers are checked as their data comes. */
			if (h.length == 0 ||
			    (h.bytes != nullptr && h.length > size - pos))
				fail("header longer than the stream");
			data_header = h.bytes == nullptr;
			pos += data_header ? 3 : h.length;
			left = data_header ? h.count : 0;
			if (data_header && h.count != h.length - 3u)
				fail("data count not its length's");
			seen += std::to_string(h.offset) + " ";
			if (!rewrite)
				break;
			if (h.id == OBEX_HI_NAME) {
				std::string text;
				for (size_t i = 0; i < h.count; i += 2) {
					writable &= h.bytes[3 + i] == 0;
					text += (char)h.bytes[3 + i + 1];
				}
				hdr_name(text.data(), (int)text.size());
			} else if (h.id == OBEX_HI_LENGTH) {
				hdr_length(h.value);
			} else if (h.id == OBEX_HI_CREATOR) {
				hdr_creator(h.value);
			} else if (h.count == 0) {
				if (h.id == OBEX_HI_BODY)
					hdr_body("", 0);
				else
					hdr_end_of_body("", 0);
			} else if (!data_header) {
				fail("a header no object holds");
			}
			break;
		case OBJREAD_DATA:
			if (!data_header || r.count == 0 || r.count > left ||
			    (whole ? r.count != left : r.count > most))
				fail("a piece of the wrong size");
			if (memcmp(r.data, data + pos, r.count) != 0)
				fail("a piece that is not the stream's bytes");
			left -= r.count;
			pos += r.count;
			if (rewrite && h.id == OBEX_HI_BODY)
				hdr_body(r.data, (int)r.count);
			else if (rewrite)
				hdr_end_of_body(r.data, (int)r.count);
			break;
		case OBJREAD_END:
			if (left != 0 || h.id != OBEX_HI_END_OF_BODY)
				fail("an end before End of Body is whole");
			seen += "end ";
			break;
		case OBJREAD_DONE:
			if (pos != size || r.objects == 0)
				fail("done before the end of the stream");
			well_formed = true;
			return seen + "done";
		case OBJREAD_FAULT:
			if (r.fault_offset > size ||
			    memchr(r.fault, '\0', sizeof(r.fault)) == nullptr)
				fail("fault outside the stream, or unended");
			return seen + "fault " +
			    std::to_string(r.fault_offset) + r.fault;
		case OBJREAD_ERROR:
			fail("memory does not fail");
		}
	}
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1)
		return 0;
	/* The first byte chooses the size of the reads and of the pieces. */
	size_t chunk = 1 + data[0] % 64, most = 1 + data[0] / 64 * 97;
	data++;
	size--;

	bool writable = true, well_formed = false, ignored;
	scratch_begin();
	std::string whole = pass(data, size, SIZE_MAX, true, SIZE_MAX, true,
	    writable, well_formed);
	std::string written = scratch_end();
	if (pass(data, size, chunk, false, most, false, ignored, ignored) !=
	    whole)
		fail("whole headers and pieces differ");
	if (pass(data, size, chunk, true, SIZE_MAX, false, ignored, ignored) !=
	    whole)
		fail("short reads differ");

	if (writable &&
	    (written.size() > size ||
		memcmp(written.data(), data, written.size()) != 0))
		fail("what was read does not write back as it came");
	if (writable && well_formed && written.size() != size)
		fail("a well-formed stream does not round-trip");
	return 0;
}
