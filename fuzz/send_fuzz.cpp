/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-send's client against a device that answers anything.  The device
 * is a socketpair whose far end holds the fuzzer's bytes as its whole
 * answer and then hangs up; the client carries a fixed stream of objects.
 * Whatever the answers and the Connection ID in them, the client must
 * crash on nothing, read no response past its length, end in success only
 * when every object got Success and otherwise name the failure, and frame
 * every request it sent: whole packets within the agreed size, the
 * Connection ID first in the first packet of each request after CONNECT.
 *
 * Each response is parsed once more from a block of its own size, so that
 * the sanitizer sees any read past its end.
 */
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client.h"
#include "objread.h"

[[noreturn]] static void
fail(const char *what)
{
	fprintf(stderr, "send_fuzz: %s\n", what);
	abort();
}

struct Memory {
	const unsigned char *data;
	size_t size;
};

static ssize_t
memory_read(void *context, void *buf, size_t count)
{
	Memory *m = static_cast<Memory *>(context);
	size_t n = std::min(count, m->size);
	memcpy(buf, m->data, n);
	m->data += n;
	m->size -= n;
	return (ssize_t)n;
}

/* A memo, and a database in two Body headers: two PUTs, several packets. */
static std::string
stream()
{
	std::string s("\x01\x00\x09\x00\x61\x00\x62\x00\x00", 9);
	s += std::string("\xCF\x6D\x65\x6D\x6F\x49\x00\x07", 8) + "milk";
	s += std::string("\xC3\x00\x00\x02\x58\x48\x01\xF7", 8) +
	    std::string(500, 'd') + std::string("\x48\x00\x67", 3) +
	    std::string(100, 'e') + std::string("\x49\x00\x03", 3);
	return s;
}

static unsigned
u16(const std::string &s, size_t at)
{
	return (unsigned)(unsigned char)s[at] << 8 | (unsigned char)s[at + 1];
}

/* Every response-shaped piece of the bytes, parsed from its own block. */
static void
parse_alone(const uint8_t *data, size_t size)
{
	static link_state l;
	static client s;
	for (size_t at = 0; at + 3 <= size;) {
		size_t n = (size_t)data[at + 1] << 8 | data[at + 2];
		if (n < 3 || n > size - at)
			break;
		std::vector<unsigned char> block(data + at, data + at + n);
		link_init(l, -1, 1000);
		client_init(s, l, OBEX_PACKET_MAX);
		if (!client_parse_response(s, block.data(), n, true) &&
		    s.why[0] == '\0')
			fail("a malformed response without its reason");
		at += n;
	}
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1 || size > 60000)
		return 0;
	unsigned ours = data[0] & 1 ? OBEX_PACKET_MIN : OBEX_PACKET_MAX;
	data++;
	size--;
	parse_alone(data, size);

	int sv[2];
	if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
		fail("socketpair");
	int big = 1 << 20;
	setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof(big));
	setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
	for (size_t done = 0; done < size;) {
		ssize_t n = write(sv[1], data + done, size - done);
		if (n <= 0)
			fail("the answers do not fit the socket");
		done += (size_t)n;
	}
	shutdown(sv[1], SHUT_WR);

	static std::string objects = stream();
	Memory m{ reinterpret_cast<const unsigned char *>(objects.data()),
		objects.size() };
	static objread r;
	objread_init_source(r, memory_read, &m);
	static link_state l;
	link_init(l, sv[0], 1000);
	static client s;
	client_init(s, l, ours);
	bool ok = false;
	if (client_connect(s)) {
		objread_event first = objread_next(r, s.mtu);
		ok = client_put_objects(s, r, first) == CLIENT_OK;
		client_disconnect(s);
	}
	if (ok != (s.delivered == 2))
		fail("success without every object, or the reverse");
	if (!ok &&
	    (s.why[0] == '\0' || memchr(s.why, '\0', sizeof(s.why)) == nullptr))
		fail("a failure without its name");
	close(sv[0]);

	/* The requests, as the device got them. */
	std::string sent;
	char buf[65536];
	ssize_t n;
	while ((n = read(sv[1], buf, sizeof(buf))) > 0)
		sent.append(buf, (size_t)n);
	close(sv[1]);
	/* Each response's code in turn, while they frame. */
	std::vector<int> answers;
	for (size_t at = 0; at + 3 <= size;) {
		size_t len = (size_t)data[at + 1] << 8 | data[at + 2];
		if (len < 3 || len > size - at)
			break;
		answers.push_back(data[at]);
		at += len;
	}
	bool first_packet = true;
	for (size_t at = 0, k = 0; at < sent.size(); k++) {
		if (sent.size() - at < 3)
			fail("a request cut short");
		int code = (unsigned char)sent[at];
		unsigned length = u16(sent, at + 1);
		if (length < 3 || length > sent.size() - at)
			fail("a request whose length is wrong");
		if (at > 0 && length > s.mtu)
			fail("a request above the packet size");
		std::string cid = std::string(1, (char)OBEX_HI_CONNECTION_ID) +
		    (char)(s.cid >> 24) + (char)(s.cid >> 16) +
		    (char)(s.cid >> 8) + (char)s.cid;
		if (at > 0 && s.has_cid &&
		    (sent.compare(at + 3, 5, cid) == 0) != first_packet)
			fail("the Connection ID not first in a request's first "
			     "packet alone");
		/* A request ends with its final packet, or when refused. */
		first_packet = (code & OBEX_FINAL_BIT) != 0 ||
		    (k < answers.size() && answers[k] != OBEX_RESP_CONTINUE);
		at += length;
	}
	return 0;
}
