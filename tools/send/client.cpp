/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The OBEX client: CONNECT, one PUT per object, DISCONNECT; ABORT when the
 * input fails inside an object.  Requests are framed by the protocol
 * module and written whole; each waits for its response, which is read
 * whole (never past its length field) within the time the link allows.
 * The device is untrusted: whatever it answers ends as a success or a
 * named failure.
 *
 * A PUT streams: its packet is filled from the reader's pieces and sent as
 * soon as it is full, so no more than a packet and the reader's block are
 * held whatever the object's size.  The object's headers other than Body
 * and End of Body go first, unchanged and in order, spread over as many
 * packets as they need; the payload follows in Body headers cut to the
 * packet size, the last of them an End-of-Body header in the final packet.
 *
 * Today's phones want more than the fmt-* programs write: Android takes
 * no object without a Length header, nor one without a type that its Name
 * or a Type header gives.  So, unless the client is raw, the headers an
 * object lacks go after its own and before its payload, while the packet
 * that holds them has not gone out: a Type from its Name or Creator ID,
 * and a Length when the size is known before the payload goes.  It is
 * for a payload in one End-of-Body header, whose length field gives it;
 * a longer text comes in full Body headers, and is held back, up to
 * CLIENT_HOLD_MAX, until its End-of-Body header tells the rest.
 */
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client.h"
#include "mime.h"
#include "proc.h"

const char *
client_object_name(const client_object &o, bool quoted)
{
	static char what[sizeof(o.name) * 4 + 32];

	if (o.name[0] != '\0')
		snprintf(what, sizeof(what), quoted ? "`%s'" : "%s",
		    proc_shown(o.name));
	else
		snprintf(what, sizeof(what), "object %" PRIu64, o.number);
	return what;
}

static bool fail(client &c, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

static bool
fail(client &c, const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(c.why, sizeof(c.why), fmt, ap);
	va_end(ap);
	return false;
}

/* The object under way as messages name it. */
static const char *
what(const client &c)
{
	return client_object_name(c.object, true);
}

/* " during `NAME'" while an object is under way, else nothing. */
static const char *
during(const client &c)
{
	static char text[sizeof(c.object.name) * 4 + 40];

	if (!c.object.started)
		return "";
	snprintf(text, sizeof(text), " during %s", what(c));
	return text;
}

static bool
interrupted(client &c)
{
	return fail(c, "interrupted by %s%s",
	    link_signal_name(c.link->interrupted), during(c));
}

/*
 * A link that failed: nothing more can be said on it.  `idle` is what the
 * device did not do in the time allowed, `doing` what we could not.
 */
static bool
broke(client &c, link_status status, const char *idle, const char *doing)
{
	int seconds = (c.link->timeout_ms + 999) / 1000;

	c.broken = true;
	switch (status) {
	case LINK_TIMEOUT:
		return fail(c, "%s within %d second%s%s", idle, seconds,
		    seconds == 1 ? "" : "s", during(c));
	case LINK_HUNG_UP:
		return fail(c, "the device hung up%s", during(c));
	case LINK_INTERRUPTED:
		return interrupted(c);
	default:
		return fail(c, "cannot %s the device: %s", doing,
		    strerror(c.link->error));
	}
}

static bool
write_request(client &c, size_t n)
{
	link_status status = link_write(*c.link, c.packet, n);
	if (status != LINK_OK)
		return broke(c, status, "the device took nothing", "write to");
	return true;
}

/* One whole response into c.response; its length in n. */
static bool
receive(client &c, size_t &n)
{
	int64_t deadline = link_now_ms() + c.link->timeout_ms;
	link_status status =
	    link_read(*c.link, c.response, OBEX_PACKET_HEAD, deadline);
	if (status != LINK_OK)
		return broke(c, status, "no answer from the device",
		    "read from");
	/* Garbage is named at once, not waited out. */
	if ((c.response[0] & OBEX_FINAL_BIT) == 0) {
		c.broken = true;
		return fail(c,
		    "malformed response from the device: code 0x%02X without "
		    "its final bit",
		    c.response[0]);
	}
	unsigned length = obex_packet_length(c.response);
	if (length < OBEX_PACKET_HEAD || length > c.ours) {
		c.broken = true;
		return fail(c,
		    "malformed response from the device: length %u, not 3 "
		    "to %u",
		    length, c.ours);
	}
	status = link_read(*c.link, c.response + OBEX_PACKET_HEAD,
	    length - OBEX_PACKET_HEAD, deadline);
	if (status != LINK_OK)
		return broke(c, status, "no answer from the device",
		    "read from");
	n = length;
	return true;
}

bool
client_parse_response(client &c, const unsigned char *p, size_t n, bool connect)
{
	if (n < OBEX_PACKET_HEAD)
		return fail(c, "malformed response from the device: %zu bytes",
		    n);
	c.code = p[0];
	if ((c.code & OBEX_FINAL_BIT) == 0)
		return fail(c,
		    "malformed response from the device: code 0x%02X without "
		    "its final bit",
		    c.code);
	if (!connect || c.code != OBEX_RESP_SUCCESS)
		return true;

	/* Version, flags and packet size, then the headers. */
	if (n < OBEX_CONNECT_HEAD)
		return fail(c,
		    "malformed response from the device: CONNECT answered "
		    "in %zu bytes",
		    n);
	unsigned peer = obex_connect_packet_max(p);
	if (peer < OBEX_PACKET_MIN)
		return fail(c,
		    "malformed response from the device: packet size %u, "
		    "less than %u",
		    peer, OBEX_PACKET_MIN);
	c.mtu = peer < c.ours ? peer : c.ours;
	for (size_t i = OBEX_CONNECT_HEAD; i < n;) {
		int id = p[i];
		size_t known = obex_size_known(id);
		size_t size = n - i >= known ? obex_header_size(p + i) : 0;
		/* A length below its own field's end is no header. */
		if (size < known)
			size = SIZE_MAX;
		if (size > n - i)
			return fail(c,
			    "malformed response from the device: header 0x%02X "
			    "at byte %zu does not fit",
			    id, i);
		if (id == OBEX_HI_CONNECTION_ID && !c.has_cid) {
			c.has_cid = true;
			c.cid = obex_get32(p + i + 1);
		}
		i += size;
	}
	return true;
}

/*
 * One request, one answer: bytes that wait before a request goes out are
 * more than the last answer's length said, and would be taken for the
 * answer to this one.
 */
static bool
quiet(client &c)
{
	if (!link_stray(*c.link))
		return true;
	c.broken = true;
	return fail(c,
	    "malformed response from the device: more bytes than its length "
	    "says");
}

/* A request of one packet, and its response parsed. */
static bool
request(client &c, size_t n, bool connect)
{
	size_t got;

	if (link_interrupted(*c.link))
		return interrupted(c);
	obex_end(c.packet, n);
	if (!quiet(c) || !write_request(c, n) || !receive(c, got))
		return false;
	if (!client_parse_response(c, c.response, got, connect)) {
		c.broken = true;
		return false;
	}
	return true;
}

/* Starts a request: its code, room for its length, the Connection ID. */
static size_t
begin(client &c, int code)
{
	size_t n = obex_begin(c.packet, code);

	if (c.has_cid)
		n += obex_put_quad(c.packet + n, OBEX_HI_CONNECTION_ID, c.cid);
	return n;
}

void
client_init(client &c, link_state &l, unsigned ours)
{
	c.link = &l;
	c.ours = ours;
	c.mtu = ours;
	c.has_cid = false;
	c.cid = 0;
	c.connected = false;
	c.broken = false;
	c.code = 0;
	c.object = {};
	c.delivered = 0;
	c.aborted = false;
	c.progress = nullptr;
	c.raw = false;
	c.added = nullptr;
	c.settled = false;
	c.has_type = false;
	c.type = nullptr;
	c.holding = false;
	c.held = nullptr;
	c.held_size = c.held_capacity = 0;
	c.why[0] = '\0';
	c.used = c.data_at = c.data = 0;
}

bool
client_connect(client &c)
{
	size_t n = obex_begin(c.packet, OBEX_OP_CONNECT);

	n += obex_put_connect_fields(c.packet + n, c.ours);
	if (!request(c, n, true))
		return false;
	if (c.code != OBEX_RESP_SUCCESS)
		return fail(c, "the device refused the connection: %s (0x%02X)",
		    obex_response_name(c.code), c.code);
	c.connected = true;
	return true;
}

/* Ends the packet under way and sends it; the answer must be `want`. */
static bool
flush(client &c, bool final)
{
	if (c.data_at != 0) {
		obex_put_bytes_head(c.packet + c.data_at,
		    final ? OBEX_HI_END_OF_BODY : OBEX_HI_BODY,
		    c.used - c.data_at - OBEX_BYTES_HEAD);
		c.data_at = 0;
	}
	c.packet[0] =
	    (unsigned char)(OBEX_OP_PUT | (final ? OBEX_FINAL_BIT : 0));
	if (link_interrupted(*c.link))
		return interrupted(c); /* before the object has begun */
	if (!c.object.started)
		c.object.begun_ms = link_now_ms();
	c.object.started = true;
	if (!request(c, c.used, false))
		return false;

	int want = final ? OBEX_RESP_SUCCESS : OBEX_RESP_CONTINUE;
	if (c.code != want) {
		if (c.code >= OBEX_RESP_CONTINUE &&
		    c.code < OBEX_RESP_BAD_REQUEST)
			return fail(c,
			    "the device answered %s (0x%02X) to a packet of "
			    "%s, not %s",
			    obex_response_name(c.code), c.code, what(c),
			    obex_response_name(want));
		return fail(c, "the device refused %s: %s (0x%02X)", what(c),
		    obex_response_name(c.code), c.code);
	}
	c.object.sent += c.data;
	c.data = 0;
	/* The Connection ID leads the first packet only. */
	c.used = OBEX_PACKET_HEAD;
	if (c.progress != nullptr)
		c.progress(c.object, final);
	return true;
}

/* The room a packet has after its framing. */
static size_t
room(const client &c)
{
	return c.mtu - c.used;
}

/*
 * A header other than Body and End of Body, as it came: in this packet if
 * it fits, else in the next, after whatever this one holds (even the
 * Connection ID alone).
 */
static bool
add_header(client &c, const objread_header &h)
{
	if (h.length > room(c) && c.used > OBEX_PACKET_HEAD && !flush(c, false))
		return false;
	if (h.length > room(c))
		return fail(c,
		    "the %s header of %s (%u bytes) does not fit in the "
		    "device's packets of %u bytes",
		    h.name, what(c), h.length, c.mtu);
	memcpy(c.packet + c.used, h.bytes, h.length);
	c.used += h.length;
	return true;
}

/* Payload bytes, into Body headers of as many packets as they need. */
static bool
add_data(client &c, const unsigned char *p, size_t n)
{
	while (n > 0) {
		if (c.data_at == 0) {
			/* A data header of no data would be no use. */
			if (room(c) < OBEX_BYTES_HEAD + 1 && !flush(c, false))
				return false;
			c.data_at = c.used;
			c.used += OBEX_BYTES_HEAD;
		}
		size_t k = room(c);
		if (k == 0) {
			if (!flush(c, false))
				return false;
			continue;
		}
		if (k > n)
			k = n;
		memcpy(c.packet + c.used, p, k);
		c.used += k;
		c.data += k;
		p += k;
		n -= k;
	}
	return true;
}

/* A header made here, added as if the object had brought it. */
static bool
add_made(client &c, const unsigned char *p, size_t n)
{
	objread_header h = {};
	h.id = p[0];
	h.name = obex_header_name(p[0]);
	h.length = (unsigned)n;
	h.bytes = p;
	return add_header(c, h);
}

/* Room for `more` payload bytes held back; false if there is none. */
static bool
hold_room(client &c, size_t more)
{
	if (c.held_size + more > CLIENT_HOLD_MAX)
		return false;
	if (c.held_size + more <= c.held_capacity)
		return true;
	size_t capacity = c.held_capacity != 0 ? c.held_capacity : 65536;
	while (capacity < c.held_size + more)
		capacity *= 2;
	void *p = realloc(c.held, capacity);
	if (p == nullptr)
		return false;
	c.held = static_cast<unsigned char *>(p);
	c.held_capacity = capacity;
	return true;
}

/*
 * At a Body or End-of-Body header, before the object's added headers are
 * settled: hold the payload while it may still be counted, else add what
 * the object lacks and send what was held.
 */
static bool
complete(client &c, const objread_header &h)
{
	client_object &o = c.object;

	if (h.id == OBEX_HI_BODY && !o.has_total && h.count == OBEX_BYTES_MAX &&
	    hold_room(c, h.count)) {
		c.holding = true;
		return true;
	}
	c.holding = false;
	c.settled = true;

	unsigned char made[OBEX_BYTES_HEAD + 32];
	if (c.type != nullptr && !c.has_type) {
		size_t n = strlen(c.type) + 1;
		obex_put_bytes_head(made, OBEX_HI_TYPE, n);
		memcpy(made + OBEX_BYTES_HEAD, c.type, n);
		if (!add_made(c, made, OBEX_BYTES_HEAD + n))
			return false;
		o.added_type = c.type;
	}
	if (!o.has_total && h.id == OBEX_HI_END_OF_BODY) {
		o.has_total = true;
		o.total = c.held_size + h.count;
		if (!add_made(c, made,
			obex_put_quad(made, OBEX_HI_LENGTH, (uint32_t)o.total)))
			return false;
		o.added_length = true;
	}
	if ((o.added_type != nullptr || o.added_length) && c.added != nullptr)
		c.added(o);

	bool sent = add_data(c, c.held, c.held_size);
	free(c.held);
	c.held = nullptr;
	c.held_size = c.held_capacity = 0;
	return sent;
}

/* The final packet: End of Body with what is left of the payload. */
static bool
finish(client &c)
{
	if (c.data_at == 0) {
		if (room(c) < OBEX_BYTES_HEAD && !flush(c, false))
			return false;
		c.data_at = c.used;
		c.used += OBEX_BYTES_HEAD;
	}
	if (!flush(c, true))
		return false;
	c.delivered++;
	return true;
}

/*
 * A request whose answer does not matter (ABORT, DISCONNECT), waited for
 * no longer than `most_ms`: whatever goes wrong with it leaves the failure
 * already reported as it was.  After a signal it has a short while of its
 * own.
 */
static void
last_word(client &c, int code, int most_ms)
{
	char why[sizeof(c.why)];
	size_t got;
	link_state &l = *c.link;
	int timeout_ms = l.timeout_ms;

	memcpy(why, c.why, sizeof(why));
	if (link_interrupted(l)) {
		l.cutoff_ms = link_now_ms() + LINK_GRACE_MS;
		most_ms = LINK_GRACE_MS;
	}
	if (most_ms < l.timeout_ms)
		l.timeout_ms = most_ms;
	size_t n = begin(c, code);
	obex_end(c.packet, n);
	if (quiet(c) && write_request(c, n) && receive(c, got))
		client_parse_response(c, c.response, got, false);
	l.timeout_ms = timeout_ms;
	memcpy(c.why, why, sizeof(why));
}

/*
 * ABORT for an object given up on, when the device still holds its PUT
 * open: it has answered the object's last packet with Continue.  A
 * refusal has ended the operation already, and a link that broke can say
 * nothing more.
 */
static void
abort_put(client &c)
{
	if (!c.object.started || c.broken || c.code != OBEX_RESP_CONTINUE)
		return;
	last_word(c, OBEX_OP_ABORT, c.link->timeout_ms);
	c.aborted = true;
}

/* The Name header's text as bytes: each unit's low byte, '?' for others. */
static void
take_name(client_object &o, const objread_header &h)
{
	size_t k = 0;

	for (size_t i = 0; i < h.count && k + 1 < sizeof(o.name); i += 2) {
		unsigned unit = obex_get16(h.bytes + OBEX_BYTES_HEAD + i);
		o.name[k++] = unit != 0 && unit <= 0xFF ? (char)unit : '?';
	}
	o.name[k] = '\0';
}

client_result
client_put_objects(client &c, objread &r, objread_event event)
{
	bool in_object = false;

	for (;; event = objread_next(r, c.mtu)) {
		switch (event) {
		case OBJREAD_DONE:
			return CLIENT_OK;
		case OBJREAD_FAULT:
		case OBJREAD_ERROR:
			abort_put(c);
			return CLIENT_INPUT;
		case OBJREAD_HEADER:
			if (!in_object) {
				in_object = true;
				c.object.number++;
				c.object.name[0] = '\0';
				c.object.has_total = false;
				c.object.sent = 0;
				c.object.started = false;
				c.object.added_type = nullptr;
				c.object.added_length = false;
				c.used = begin(c, OBEX_OP_PUT);
				c.data_at = 0;
				c.data = 0;
				c.settled = c.raw;
				c.has_type = false;
				c.type = nullptr;
			}
			if (r.header.bytes == nullptr) {
				if (!c.settled && !complete(c, r.header)) {
					abort_put(c);
					return CLIENT_LINK;
				}
				break;
			}
			if (r.header.id == OBEX_HI_NAME) {
				take_name(c.object, r.header);
				c.type = mime_of_name(r.header.bytes +
					OBEX_BYTES_HEAD,
				    r.header.count);
			}
			/* The Name's extension says more than the Creator ID.
			 */
			if (r.header.id == OBEX_HI_CREATOR && c.type == nullptr)
				c.type = mime_of_creator(r.header.value);
			if (r.header.id == OBEX_HI_TYPE)
				c.has_type = true;
			if (r.header.id == OBEX_HI_LENGTH) {
				c.object.has_total = true;
				c.object.total = r.header.value;
			}
			if (!add_header(c, r.header)) {
				abort_put(c);
				return CLIENT_LINK;
			}
			break;
		case OBJREAD_DATA:
			if (c.holding) {
				memcpy(c.held + c.held_size, r.data, r.count);
				c.held_size += r.count;
				break;
			}
			if (!add_data(c, r.data, r.count)) {
				abort_put(c);
				return CLIENT_LINK;
			}
			break;
		case OBJREAD_END:
			if (!finish(c)) {
				abort_put(c);
				return CLIENT_LINK;
			}
			in_object = false;
			c.object.started = false;
			break;
		}
	}
}

void
client_disconnect(client &c)
{
	if (!c.connected || c.broken)
		return;
	last_word(c, OBEX_OP_DISCONNECT, LINK_GRACE_MS);
	c.connected = false;
}
