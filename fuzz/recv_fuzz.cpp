/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-recv's server against a sender that sends anything.  The fuzzer's
 * bytes are the sender's whole side of the link, handed over in reads of
 * varying size; the store is one of the fuzz target's own that keeps
 * nothing but checks what it is given.  Whatever comes, the server must
 * crash on nothing, answer with whole, well-framed responses only, never
 * give the store more payload than the limit or than the object's Length,
 * and name every object with a safe file name: no '/', no leading dot,
 * not empty, valid UTF-8 within the name limit.
 *
 * Each request-shaped piece of the bytes is also walked header by header
 * from a block of its own size, so that the sanitizer sees any read past
 * its end.
 */
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "recv.h"

[[noreturn]] static void
fail(const char *what)
{
	fprintf(stderr, "recv_fuzz: %s\n", what);
	abort();
}

struct Link {
	const uint8_t *data;
	size_t size;
	size_t step; /* the next read's size */
	std::vector<unsigned char> answers;
};

static ssize_t
link_read(void *context, void *buf, size_t n, int)
{
	Link &l = *static_cast<Link *>(context);
	if (l.size == 0)
		return 0;
	l.step = l.step * 7 % 61 + 1;
	size_t k = std::min({ n, l.size, l.step * 97 });
	memcpy(buf, l.data, k);
	l.data += k;
	l.size -= k;
	return (ssize_t)k;
}

static bool
link_write(void *context, const void *buf, size_t n, int)
{
	Link &l = *static_cast<Link *>(context);
	const unsigned char *p = static_cast<const unsigned char *>(buf);
	if (n < OBEX_PACKET_HEAD || obex_packet_length(p) != n)
		fail("an answer that is not one whole response");
	if ((p[0] & OBEX_FINAL_BIT) == 0)
		fail("an answer without its final bit");
	l.answers.insert(l.answers.end(), p, p + n);
	return true;
}

static const uint64_t LIMIT = 100000;

struct Store {
	bool open;
	uint64_t size;
	unsigned calls;
};

static bool
store_begin(void *context, recv_object &o)
{
	Store &s = *static_cast<Store *>(context);
	if (s.open)
		fail("an object begun while another is open");
	s.open = true;
	s.size = 0;
	/* Now and then a full disk. */
	if (++s.calls % 13 == 0) {
		o.code = OBEX_RESP_DATABASE_FULL;
		snprintf(o.why, sizeof(o.why), "full");
		s.open = false;
		return false;
	}
	return true;
}

static bool
store_data(void *context, recv_object &o, const unsigned char *p, size_t n)
{
	Store &s = *static_cast<Store *>(context);
	if (!s.open)
		fail("data for no object");
	/* Every byte touched, so that the sanitizer checks the range. */
	unsigned sum = 0;
	for (size_t i = 0; i < n; i++)
		sum += p[i];
	(void)sum;
	s.size += n;
	if (s.size > LIMIT)
		fail("more payload than the limit");
	if (o.has_length && s.size > o.length)
		fail("more payload than the object's Length");
	return true;
}

static void
check_name(const recv_object &o)
{
	for (unsigned copy = 1; copy <= 3; copy++) {
		for (size_t limit : { (size_t)255, (size_t)14 }) {
			char name[1024];
			size_t n = recv_safe_name(o.has_name ? o.name : "",
			    o.number, copy, limit, name);
			if (n == 0 || n > limit || strlen(name) != n)
				fail("a file name of the wrong length");
			if (name[0] == '.' || strchr(name, '/') != nullptr ||
			    strchr(name, '\\') != nullptr)
				fail("an unsafe file name");
			for (size_t i = 0; i < n; i++)
				if ((unsigned char)name[i] < 0x20 ||
				    name[i] == 0x7F)
					fail("a control byte in a file name");
			/* Valid UTF-8, and no C1 control. */
			for (size_t i = 0; i < n;) {
				unsigned char c = (unsigned char)name[i];
				size_t len = c < 0x80 ? 1
				    : c < 0xE0        ? 2
				    : c < 0xF0        ? 3
						      : 4;
				if (c >= 0x80 && c < 0xC2)
					fail("a stray byte in a file name");
				if (i + len > n)
					fail("a character cut in a file name");
				for (size_t j = 1; j < len; j++)
					if (((unsigned char)name[i + j] &
						0xC0) != 0x80)
						fail(
						    "bad UTF-8 in a file name");
				if (c == 0xC2 &&
				    (unsigned char)name[i + 1] < 0xA0)
					fail("a C1 control in a file name");
				i += len;
			}
		}
	}
}

static bool
store_commit(void *context, recv_object &o)
{
	Store &s = *static_cast<Store *>(context);
	if (!s.open || s.size != o.size)
		fail("a commit that does not match the data");
	if (o.has_length && o.size != o.length)
		fail("an object kept whose Length is not its size");
	check_name(o);
	s.open = false;
	return true;
}

static void
store_discard(void *context, recv_object &)
{
	static_cast<Store *>(context)->open = false;
}

/* Every request-shaped piece, walked from a block of its own. */
static void
walk_alone(const uint8_t *data, size_t size)
{
	for (size_t at = 0; at + OBEX_PACKET_HEAD <= size;) {
		size_t n = obex_packet_length(data + at);
		if (n < OBEX_PACKET_HEAD || n > size - at)
			break;
		std::vector<unsigned char> block(data + at, data + at + n);
		recv_header h;
		char why[160];
		size_t pos = OBEX_PACKET_HEAD;
		int got;
		while ((got = recv_next_header(block.data(), n, pos, h, why,
			    sizeof(why))) > 0)
			if (h.value + h.count > block.data() + n)
				fail("a header past its packet");
		at += n;
	}
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	walk_alone(data, size);

	static Link link;
	link.data = data;
	link.size = size;
	link.step = size % 61;
	link.answers.clear();
	static Store store;
	store = {};
	static recv_session s;
	recv_session_init(s, { link_read, link_write, &link },
	    { store_begin, store_data, store_commit, store_discard, &store },
	    "fuzz");
	static uint64_t received, numbered;
	received = numbered = 0;
	s.timeout_ms = 1000;
	s.idle_unbounded = false;
	s.max_size = LIMIT;
	s.limit = 0;
	s.received = &received;
	s.numbered = &numbered;
	s.verbose = true;
	s.say = nullptr;
	recv_serve(s);
	if (store.open)
		fail("an object left open when the connection ended");
	return 0;
}
