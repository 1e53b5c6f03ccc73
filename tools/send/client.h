/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-send's OBEX client: CONNECT, one PUT for each object of a stream
 * as the object reader takes it apart, ABORT for an object given up on,
 * DISCONNECT.  Requests are framed by the protocol module and go out on a
 * link; the device's responses are read back whole and checked.  The
 * client knows nothing of what kind of link it has.
 *
 * Nothing here exits or prints: a failure comes back as false with its
 * text in `why`, for fmt-send's main to report, so that the tests and the
 * fuzz target can drive every part.
 */
#ifndef CLIENT_H
#define CLIENT_H

#include <cstddef>
#include <cstdint>

#include "link.h"
#include "obex.h"
#include "objread.h"

/* The object under way, for messages and progress. */
struct client_object {
	uint64_t number; /* 1 for the first object */
	char name[96]; /* from its Name header, as bytes; "" without one */
	bool has_total;
	uint64_t total; /* from its Length header */
	uint64_t sent; /* payload bytes the device has taken */
	bool started; /* its first packet has gone out */
	int64_t begun_ms; /* when it did, on the monotonic clock */
	const char *added_type; /* the Type added to it, or null */
	bool added_length; /* a Length was added to it: `total` */
};

/*
 * The object as messages name it: its name (in `' when quoted), or
 * "object N"; valid until the next call.
 */
const char *client_object_name(const client_object &o, bool quoted);

/*
 * Called after each packet of an object that the device took; and, for
 * client_added, once the headers added to an object are known.
 */
using client_progress = void (*)(const client_object &o, bool done);
using client_added = void (*)(const client_object &o);

/*
 * A payload without a Length header, in full Body headers (a text longer
 * than one header holds), is held until its End-of-Body header, up to
 * this, so that its Length can go first.
 */
inline constexpr size_t CLIENT_HOLD_MAX = 16 * 1024 * 1024;

/* One OBEX connection to a device. */
struct client {
	link_state *link;
	unsigned ours; /* the largest packet we take, from -m */
	unsigned mtu; /* the largest packet we send: the lesser sizes */
	bool has_cid;
	uint32_t cid;
	bool connected;
	bool broken; /* nothing more can be said on the link */
	int code; /* of the last response */

	client_object object;
	uint64_t delivered; /* objects the device answered with Success */
	bool aborted; /* the object under way was ABORTed */
	client_progress progress;

	/*
	 * Headers added to each object before its payload, unless `raw`: a
	 * Type, and a Length where it has none.  What the object has and
	 * says until then, and the payload held back while it is counted.
	 */
	bool raw;
	client_added added;
	bool settled; /* what this object gets is known, and added */
	bool has_type;
	const char *type; /* from the Name's extension, else the Creator ID */
	bool holding;
	unsigned char *held;
	size_t held_size, held_capacity;

	/* What went wrong, after a false return: room for a name shown
	 * with every byte escaped. */
	char why[1024];

	/* The packet being filled: its length, its open data header. */
	size_t used;
	size_t data_at; /* 0 when no data header is open */
	size_t data; /* payload bytes in it */
	unsigned char packet[OBEX_PACKET_MAX];
	unsigned char response[OBEX_PACKET_MAX];
};

/* A client on a link that is open, before CONNECT. */
void client_init(client &c, link_state &l, unsigned ours);

/* CONNECT: the packet size and the Connection ID come from the answer. */
bool client_connect(client &c);

enum client_result {
	CLIENT_OK, /* every object went through */
	CLIENT_INPUT, /* the input failed or was malformed: see the reader */
	CLIENT_LINK, /* the device or the link failed: see c.why */
};

/*
 * Every object of the stream, one PUT each; `event` is the reader's first
 * step, already taken.  An input that fails inside an object is ABORTed.
 * Returns with the client still connected unless the link broke.
 */
client_result client_put_objects(client &c, objread &r, objread_event event);

/*
 * DISCONNECT, if the link still stands; the answer does not matter, and
 * is waited for only briefly (LINK_GRACE_MS at most).
 */
void client_disconnect(client &c);

/*
 * Parses a whole response of `n` bytes (its length field already checked
 * against n): its code into c.code, and for a CONNECT (connect) the packet
 * size and Connection ID into the client.  Reads nothing past n.  False,
 * with c.why, for a malformed response.
 */
bool client_parse_response(client &c, const unsigned char *p, size_t n,
    bool connect);

#endif
