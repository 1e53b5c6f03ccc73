/*
 * The object parser, fed any bytes.  It must read nothing outside them and
 * describe what it accepts consistently: headers back to back from the
 * first byte, each within the input, in the order of an object, ending in
 * End of Body at the input's end, with a Length header (if any) that
 * matches the payload; a fault lies within the input or at its end.
 *
 * A well-formed object must round-trip: written again from the headers
 * the parser returned, through the header writer, it must come out byte
 * for byte as it went in (for names the writer can write: text units with
 * a zero high byte).  The step parser and the whole-object parser agree.
 */
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "dump.h"
#include "objstream.h"

[[noreturn]] static void
fail(const char *what)
{
	fprintf(stderr, "dump_fuzz: %s\n", what);
	abort();
}

/*
 * What the header writer makes of the headers: standard output is a
 * scratch file for as long as it writes.
 */
static std::string
written(const unsigned char *in, const std::vector<dump_header> &headers)
{
	static FILE *scratch = tmpfile();
	if (scratch == nullptr)
		fail("tmpfile");
	int fd = fileno(scratch);
	int saved = dup(STDOUT_FILENO);
	if (saved < 0 || ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0 ||
	    dup2(fd, STDOUT_FILENO) < 0)
		fail("a scratch standard output");
	for (const dump_header &h : headers) {
		const unsigned char *p = in + h.data;
		switch (h.id) {
		case HDR_NAME: {
			std::string text;
			for (size_t i = 0; i < h.count; i += 2)
				text += (char)p[i + 1];
			hdr_name(text.data(), (int)text.size());
			break;
		}
		case HDR_LENGTH:
			hdr_length(h.value);
			break;
		case HDR_CREATOR:
			hdr_creator(h.value);
			break;
		case HDR_BODY:
			hdr_body(p, (int)h.count);
			break;
		case HDR_END_OF_BODY:
			hdr_end_of_body(p, (int)h.count);
			break;
		default:
			fail("a header no object holds");
		}
	}
	if (!out_flush())
		fail("the scratch file took not everything");
	dup2(saved, STDOUT_FILENO);
	close(saved);
	std::string out;
	char buf[4096];
	ssize_t n;
	for (off_t at = 0; (n = pread(fd, buf, sizeof(buf), at)) > 0; at += n)
		out.append(buf, (size_t)n);
	return out;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::span<const unsigned char> input(data, size);
	std::vector<dump_header> headers;
	dump_error error;

	bool ok = dump_parse(input, headers, error);

	/* The step parser, run by hand, sees the same. */
	dump_state state{};
	dump_header h;
	dump_error step_error;
	size_t n = 0;
	dump_step step;
	while ((step = dump_next(input, state, h, step_error)) == DUMP_HEADER) {
		if (n >= headers.size() || headers[n].offset != h.offset ||
		    headers[n].length != h.length)
			fail("step parser and whole parser differ");
		n++;
	}
	if (n != headers.size() || (step == DUMP_END) != ok)
		fail("step parser and whole parser end differently");

	size_t at = 0;
	uint64_t payload = 0;
	int order = 0;
	bool name_writable = true;
	for (const dump_header &hd : headers) {
		if (hd.offset != at || hd.length == 0 || hd.length > size - at)
			fail(
			    "header not where the last one ended, or too long");
		if (hd.data < hd.offset || hd.data + hd.count > at + hd.length)
			fail("value outside its header");
		at += hd.length;
		int o = 0;
		for (const hdr_info &i : hdr_table)
			if (i.id == hd.id)
				o = i.order;
		if (o == 0 || o < order || (o == order && hd.id != HDR_BODY))
			fail("headers out of order");
		order = o;
		if (hd.id == HDR_BODY || hd.id == HDR_END_OF_BODY)
			payload += hd.count;
		if (hd.id == HDR_NAME)
			for (size_t i = 0; i < hd.count; i += 2)
				if (data[hd.data + i] != 0)
					name_writable = false;
	}
	if (!ok) {
		if (error.offset > size ||
		    memchr(error.text, '\0', sizeof(error.text)) == nullptr)
			fail("fault outside the input, or its text unended");
		return 0;
	}
	if (at != size || headers.empty() ||
	    headers.back().id != HDR_END_OF_BODY)
		fail("accepted without End of Body at the end");
	for (const dump_header &hd : headers)
		if (hd.id == HDR_LENGTH && hd.value != payload)
			fail("accepted with a wrong Length");
	if (name_writable &&
	    written(data, headers) !=
		std::string(reinterpret_cast<const char *>(data), size))
		fail("well-formed object does not round-trip");
	return 0;
}
