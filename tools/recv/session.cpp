/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The OBEX server: one sender's requests, each read whole (never past its
 * length field) and answered before the next is read.  CONNECT, PUT,
 * ABORT and DISCONNECT are served; any other request is answered Not
 * Implemented and the connection goes on.
 *
 * The sender is untrusted: every header is checked to lie within its
 * packet before any of it is used, a packet that does not frame cleanly
 * is answered Bad Request and ends the connection, and an object is held
 * only as far as its headers go: its payload goes to the store as each
 * packet arrives, so no more than a packet and the object's kept headers
 * are in memory.  A PUT is answered Success only once the store has the
 * object safe.
 */
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "fd.h"
#include "objwrite.h"
#include "proc.h"
#include "recv.h"

int
recv_next_header(const unsigned char *p, size_t n, size_t &at, recv_header &h,
    char *why, size_t wn)
{
	if (at >= n)
		return 0;
	size_t left = n - at;
	h.id = p[at];
	h.at = at;
	h.quad = 0;
	if (obex_size_known(h.id) > left) {
		snprintf(why, wn, "header 0x%02X at byte %zu is cut short",
		    h.id, at);
		return -1;
	}
	h.length = obex_header_size(p + at);
	if (h.length < obex_size_known(h.id) || h.length > left) {
		if (obex_size_known(h.id) == 1)
			snprintf(why, wn,
			    "header 0x%02X at byte %zu is cut short", h.id, at);
		else
			snprintf(why, wn,
			    "header 0x%02X at byte %zu has length %zu, not 3 "
			    "to %zu",
			    h.id, at, h.length, left);
		return -1;
	}
	size_t head = obex_size_known(h.id);
	h.value = p + at + head;
	h.count = h.length - head;
	switch (h.id & OBEX_KIND_MASK) {
	case OBEX_KIND_UNICODE:
		/* Whole units, the last of them zero (or none at all). */
		if (h.count % 2 != 0 ||
		    (h.count > 0 &&
			(h.value[h.count - 2] != 0 ||
			    h.value[h.count - 1] != 0))) {
			snprintf(why, wn,
			    "text header 0x%02X at byte %zu does not end in a "
			    "zero unit",
			    h.id, at);
			return -1;
		}
		break;
	case OBEX_KIND_QUAD:
		h.quad = obex_get32(h.value);
		break;
	}
	at += h.length;
	return 1;
}

void
recv_session_init(recv_session &s, recv_io io, recv_store store,
    const char *peer)
{
	s.io = io;
	s.store = store;
	s.peer = peer;
	s.connected = false;
	s.in_put = false;
	s.link_ended = false;
}

static void say(const recv_session &s, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

static void
say(const recv_session &s, const char *fmt, ...)
{
	char text[1024];
	va_list ap;

	if (s.say == nullptr)
		return;
	va_start(ap, fmt);
	vsnprintf(text, sizeof(text), fmt, ap);
	va_end(ap);
	s.say(s.peer, text);
}

/* The object as messages name it: `NAME', or "object N". */
static const char *
what(const recv_object &o)
{
	static char text[4 * 4096 + 32];

	if (o.has_name && o.name[0] != '\0')
		snprintf(text, sizeof(text), "`%s'", proc_shown(o.name));
	else
		snprintf(text, sizeof(text), "object %" PRIu64, o.number);
	return text;
}

/* The answer to the request in hand: its code and any more bytes. */
static bool
answer(recv_session &s, int code, const unsigned char *more = nullptr,
    size_t n = 0)
{
	unsigned char reply[16];

	size_t k = obex_begin(reply, code);
	if (n > 0)
		memcpy(reply + k, more, n);
	obex_end(reply, k + n);
	return s.io.write(s.io.context, reply, k + n, s.timeout_ms);
}

/* The object under way given up: nothing of it is kept. */
static void
drop(recv_session &s)
{
	if (!s.in_put)
		return;
	s.store.discard(s.store.context, s.object);
	s.in_put = false;
}

/* An object refused: the answer goes back, the object is dropped. */
static bool refuse(recv_session &s, int code, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

static bool
refuse(recv_session &s, int code, const char *fmt, ...)
{
	char why[512];
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(why, sizeof(why), fmt, ap);
	va_end(ap);
	say(s, "refused %s: %s", what(s.object), why);
	drop(s);
	return answer(s, code);
}

static void
begin_object(recv_session &s)
{
	recv_object &o = s.object;

	o.number = ++*s.numbered;
	o.has_name = false;
	o.name[0] = '\0';
	o.has_length = false;
	o.length = 0;
	o.size = 0;
	o.has_body = false;
	o.kept_used = 0;
	for (auto &slot : o.slot)
		slot = { 0, 0 };
	o.code = 0;
	o.fatal = false;
	o.why[0] = '\0';
	o.fd = -1;
	o.temp[0] = '\0';
	s.in_put = true;
}

/* Keeps the first header of each kind the object keeps. */
static bool
keep(recv_session &s, const recv_header &h, const unsigned char *p)
{
	recv_object &o = s.object;
	int k = 0;

	while (k < RECV_KEPT && recv_kept_ids[k] != h.id)
		k++;
	if (k == RECV_KEPT || o.slot[k].length != 0)
		return true;
	if (h.length > sizeof(o.kept) - o.kept_used)
		return false;
	memcpy(o.kept + o.kept_used, p + h.at, h.length);
	o.slot[k] = { o.kept_used, h.length };
	o.kept_used += h.length;
	if (h.id == OBEX_HI_NAME) {
		o.has_name = true;
		recv_name_utf8(h.value, h.count >= 2 ? h.count - 2 : 0, o.name,
		    sizeof(o.name));
	}
	if (h.id == OBEX_HI_LENGTH) {
		o.has_length = true;
		o.length = h.quad;
	}
	return true;
}

/*
 * Checks every header of the packet from `at` before any is used: false
 * (answered Bad Request) if one does not fit.
 */
static bool
well_framed(recv_session &s, size_t n, size_t at)
{
	recv_header h;
	char why[160];
	int got;

	while (
	    (got = recv_next_header(s.packet, n, at, h, why, sizeof(why))) > 0)
		;
	if (got == 0)
		return true;
	say(s, "malformed request: %s; connection closed", why);
	drop(s);
	answer(s, OBEX_RESP_BAD_REQUEST);
	return false;
}

enum step { GO_ON, END_CLOSED, END_BAD, END_LINK, END_FATAL, END_COUNT };

static step
link_result(bool written)
{
	return written ? GO_ON : END_LINK;
}

static step
put(recv_session &s, size_t n, bool final)
{
	if (!s.in_put) {
		begin_object(s);
		if (!s.store.begin(s.store.context, s.object)) {
			say(s, "%s", s.object.why);
			s.in_put = false;
			if (!answer(s, s.object.code))
				return END_LINK;
			return s.object.fatal ? END_FATAL : GO_ON;
		}
	}
	recv_object &o = s.object;
	recv_header h;
	char why[160];
	size_t at = OBEX_PACKET_HEAD;

	/* The headers that name the object first, wherever they lie. */
	while (recv_next_header(s.packet, n, at, h, why, sizeof(why)) > 0)
		if (!keep(s, h, s.packet))
			return link_result(refuse(s, OBEX_RESP_BAD_REQUEST,
			    "its headers pass %u bytes", OBEX_PACKET_MAX));
	if (o.has_length && o.length > s.max_size)
		return link_result(refuse(s, OBEX_RESP_TOO_LARGE,
		    "larger than %" PRIu64 " bytes", s.max_size));
	if (o.has_length && o.size > o.length)
		return link_result(refuse(s, OBEX_RESP_BAD_REQUEST,
		    "more than the %" PRIu32 " bytes its Length header says",
		    o.length));

	at = OBEX_PACKET_HEAD;
	while (recv_next_header(s.packet, n, at, h, why, sizeof(why)) > 0) {
		if (h.id != OBEX_HI_BODY && h.id != OBEX_HI_END_OF_BODY)
			continue;
		o.has_body = true;
		if (h.count > s.max_size - o.size)
			return link_result(refuse(s, OBEX_RESP_TOO_LARGE,
			    "larger than %" PRIu64 " bytes", s.max_size));
		if (o.has_length && h.count > o.length - o.size)
			return link_result(refuse(s, OBEX_RESP_BAD_REQUEST,
			    "more than the %" PRIu32 " bytes its Length "
			    "header says",
			    o.length));
		if (h.count == 0)
			continue;
		if (!s.store.data(s.store.context, o, h.value, h.count)) {
			int code = o.code;
			bool fatal = o.fatal;
			say(s, "%s", o.why);
			drop(s);
			if (!answer(s, code))
				return END_LINK;
			return fatal ? END_FATAL : GO_ON;
		}
		o.size += h.count;
	}
	if (!final)
		return link_result(answer(s, OBEX_RESP_CONTINUE));

	/*
	 * A PUT without a body asks for the object to be deleted; nothing
	 * that is stored is ever deleted or replaced.
	 */
	if (!o.has_body)
		return link_result(refuse(s, OBEX_RESP_NOT_IMPLEMENTED,
		    "a PUT without a body (a delete)"));
	if (o.has_length && o.length != o.size)
		return link_result(refuse(s, OBEX_RESP_BAD_REQUEST,
		    "its Length header says %" PRIu32 " bytes, the payload "
		    "has %" PRIu64,
		    o.length, o.size));
	if (!s.store.commit(s.store.context, o)) {
		int code = o.code;
		bool fatal = o.fatal;
		say(s, "%s", o.why);
		drop(s);
		if (!answer(s, code))
			return END_LINK;
		return fatal ? END_FATAL : GO_ON;
	}
	s.in_put = false;
	++*s.received;
	if (s.verbose)
		say(s, "received %s: %" PRIu64 " byte%s", what(o), o.size,
		    o.size == 1 ? "" : "s");
	if (!answer(s, OBEX_RESP_SUCCESS))
		return END_LINK;
	/* Stored, but its line could not be written: nothing more can be. */
	if (o.fatal) {
		say(s, "%s", o.why);
		return END_FATAL;
	}
	return s.limit != 0 && *s.received >= s.limit ? END_COUNT : GO_ON;
}

static step
connect(recv_session &s, size_t n)
{
	if (n < OBEX_CONNECT_HEAD) {
		say(s,
		    "malformed request: CONNECT in %zu bytes; connection "
		    "closed",
		    n);
		answer(s, OBEX_RESP_BAD_REQUEST);
		return END_BAD;
	}
	if (!well_framed(s, n, OBEX_CONNECT_HEAD))
		return END_BAD;
	recv_header h;
	char why[160];
	size_t at = OBEX_CONNECT_HEAD;
	while (recv_next_header(s.packet, n, at, h, why, sizeof(why)) > 0)
		if (h.id == OBEX_HI_TARGET) {
			say(s,
			    "refused a CONNECT to a service other than "
			    "Object Push (a Target header)");
			return link_result(answer(s, OBEX_RESP_NOT_ACCEPTABLE));
		}
	/* Version, flags, and the largest packet we take. */
	unsigned char more[4];
	obex_put_connect_fields(more, OBEX_PACKET_MAX);
	s.connected = true;
	if (s.verbose)
		say(s, "connected");
	return link_result(answer(s, OBEX_RESP_SUCCESS, more, sizeof(more)));
}

/* A sender gone in the middle of an object. */
static void
cut(recv_session &s, const char *how)
{
	if (!s.in_put)
		return;
	say(s, "%s cut off: %s", what(s.object), how);
	drop(s);
}

/*
 * One whole request into s.packet (waiting without limit between
 * connections when the session allows and `idle` does): its length, 0 at
 * a clean end of the stream, or the RECV_IO_* code that ended the wait
 * (RECV_IO_ERROR also for a cut request).  A length field below 3 is malformed:
 * -4.
 */
static constexpr ssize_t MALFORMED = -4;

static ssize_t
receive(recv_session &s, bool idle = true)
{
	size_t have = 0, want = OBEX_PACKET_HEAD;

	while (have < want) {
		int timeout = s.timeout_ms;
		if (idle && have == 0 && s.idle_unbounded && !s.connected &&
		    !s.in_put)
			timeout = -1;
		ssize_t got = s.io.read(s.io.context, s.packet + have,
		    want - have, timeout);
		if (got == 0) {
			if (have == 0)
				return 0;
			errno = ECONNRESET;
			return RECV_IO_ERROR;
		}
		if (got < 0)
			return got;
		have += (size_t)got;
		if (have == OBEX_PACKET_HEAD) {
			want = obex_packet_length(s.packet);
			if (want < OBEX_PACKET_HEAD)
				return MALFORMED;
		}
	}
	return (ssize_t)want;
}

/*
 * After the last object asked for: a DISCONNECT is answered Success, as
 * a sender expects; anything else is told the service has ended.
 */
static void
farewell(recv_session &s)
{
	ssize_t got = receive(s, false);
	if (got < (ssize_t)OBEX_PACKET_HEAD)
		return;
	answer(s,
	    s.packet[0] == OBEX_OP_DISCONNECT ? OBEX_RESP_SUCCESS
					      : OBEX_RESP_UNAVAILABLE);
}

recv_end
recv_serve(recv_session &s)
{
	for (;;) {
		ssize_t got = receive(s);
		s.link_ended = got == 0 || got == RECV_IO_ERROR;
		if (got == 0) {
			bool mid = s.in_put;
			cut(s, "the sender hung up");
			return mid ? RECV_CUT : RECV_CLOSED;
		}
		if (got == RECV_IO_STOP) {
			cut(s, "the receiver was stopped");
			return RECV_STOPPED;
		}
		if (got == RECV_IO_TIMEOUT) {
			int seconds = (s.timeout_ms + 999) / 1000;
			say(s,
			    "nothing came for %d second%s; connection closed",
			    seconds, seconds == 1 ? "" : "s");
			drop(s);
			return RECV_SILENT;
		}
		if (got == MALFORMED) {
			say(s,
			    "malformed request: length %u, less than 3; "
			    "connection closed",
			    obex_get16(s.packet + 1));
			drop(s);
			answer(s, OBEX_RESP_BAD_REQUEST);
			return RECV_BAD;
		}
		if (got < 0) {
			int error = errno;
			bool mid = s.in_put;
			cut(s,
			    error == ECONNRESET ? "the sender hung up"
						: strerror(error));
			return mid ? RECV_CUT : RECV_CLOSED;
		}

		size_t n = (size_t)got;
		int code = s.packet[0];
		step next;
		if (code == OBEX_OP_CONNECT) {
			cut(s, "a CONNECT came before its end");
			next = connect(s, n);
		} else if ((code & ~OBEX_FINAL_BIT) == OBEX_OP_PUT) {
			if (!well_framed(s, n, OBEX_PACKET_HEAD))
				return RECV_BAD;
			next = put(s, n, (code & OBEX_FINAL_BIT) != 0);
		} else if (code == OBEX_OP_ABORT) {
			if (s.in_put)
				say(s, "%s aborted by the sender",
				    what(s.object));
			drop(s);
			next = link_result(answer(s, OBEX_RESP_SUCCESS));
		} else if (code == OBEX_OP_DISCONNECT) {
			cut(s, "DISCONNECT came before its end");
			answer(s, OBEX_RESP_SUCCESS);
			if (s.verbose)
				say(s, "disconnected");
			return RECV_CLOSED;
		} else {
			cut(s, "another request came before its end");
			if (s.verbose)
				say(s,
				    "request 0x%02X answered Not Implemented",
				    code);
			next =
			    link_result(answer(s, OBEX_RESP_NOT_IMPLEMENTED));
		}
		switch (next) {
		case GO_ON:
			break;
		case END_CLOSED:
			return RECV_CLOSED;
		case END_BAD:
			return RECV_BAD;
		case END_LINK:
			cut(s, "the sender hung up");
			return RECV_CUT;
		case END_FATAL:
			return RECV_FATAL;
		case END_COUNT:
			farewell(s);
			return RECV_COUNT;
		}
	}
}
