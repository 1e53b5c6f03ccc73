/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The OBEX client: CONNECT, one PUT per object, DISCONNECT; ABORT when the
 * input fails inside an object.  Requests are framed here and written
 * whole; each waits for its response, which is read whole (never past its
 * length field) within the session's time limit.  The device is untrusted:
 * whatever it answers ends as a success or a named failure.
 *
 * A PUT streams: its packet is filled from the reader's pieces and sent as
 * soon as it is full, so no more than a packet and the reader's block are
 * held whatever the object's size.  The object's headers other than Body
 * and End of Body go first, unchanged and in order, spread over as many
 * packets as they need; the payload follows in Body headers cut to the
 * packet size, the last of them an End-of-Body header in the final packet.
 */
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "objstream.h"
#include "send.h"

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0 /* where SIGPIPE cannot be turned off per call */
#endif

/* The response codes of IrOBEX, with the final bit. */
static constexpr struct {
	int code;
	const char *name;
} send_responses[] = {
	{ 0x90, "Continue" },
	{ 0xA0, "Success" },
	{ 0xA1, "Created" },
	{ 0xA2, "Accepted" },
	{ 0xA3, "Non-Authoritative Information" },
	{ 0xA4, "No Content" },
	{ 0xA5, "Reset Content" },
	{ 0xA6, "Partial Content" },
	{ 0xB0, "Multiple Choices" },
	{ 0xB1, "Moved Permanently" },
	{ 0xB2, "Moved Temporarily" },
	{ 0xB3, "See Other" },
	{ 0xB4, "Not Modified" },
	{ 0xB5, "Use Proxy" },
	{ 0xC0, "Bad Request" },
	{ 0xC1, "Unauthorized" },
	{ 0xC2, "Payment Required" },
	{ 0xC3, "Forbidden" },
	{ 0xC4, "Not Found" },
	{ 0xC5, "Method Not Allowed" },
	{ 0xC6, "Not Acceptable" },
	{ 0xC7, "Proxy Authentication Required" },
	{ 0xC8, "Request Time Out" },
	{ 0xC9, "Conflict" },
	{ 0xCA, "Gone" },
	{ 0xCB, "Length Required" },
	{ 0xCC, "Precondition Failed" },
	{ 0xCD, "Request Entity Too Large" },
	{ 0xCE, "Request URL Too Large" },
	{ 0xCF, "Unsupported Media Type" },
	{ 0xD0, "Internal Server Error" },
	{ 0xD1, "Not Implemented" },
	{ 0xD2, "Bad Gateway" },
	{ 0xD3, "Service Unavailable" },
	{ 0xD4, "Gateway Timeout" },
	{ 0xD5, "HTTP Version Not Supported" },
	{ 0xE0, "Database Full" },
	{ 0xE1, "Database Locked" },
};

const char *
send_response_name(int code)
{
	for (const auto &r : send_responses)
		if (r.code == code)
			return r.name;
	return "unknown response";
}

int64_t
send_now_ms()
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static unsigned
send_u16(const unsigned char *p)
{
	return (unsigned)p[0] << 8 | p[1];
}

static void
send_put16(unsigned char *p, size_t v)
{
	p[0] = (unsigned char)(v >> 8);
	p[1] = (unsigned char)v;
}

static bool send_fail(send_session &s, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

static bool
send_fail(send_session &s, const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	vsnprintf(s.why, sizeof(s.why), fmt, ap);
	va_end(ap);
	return false;
}

/* The object under way as messages name it. */
static const char *
send_what(const send_session &s)
{
	static char what[sizeof(s.name) * 4 + 32];

	if (s.name[0] != '\0')
		snprintf(what, sizeof(what), "`%s'", obj_shown(s.name));
	else
		snprintf(what, sizeof(what), "object %" PRIu64, s.number);
	return what;
}

/* " during `NAME'" while an object is under way, else nothing. */
static const char *
send_during(const send_session &s)
{
	static char during[sizeof(s.name) * 4 + 40];

	if (!s.started)
		return "";
	snprintf(during, sizeof(during), " during %s", send_what(s));
	return during;
}

static bool
send_broke(send_session &s, int error, const char *doing)
{
	s.broken = true;
	if (error == EPIPE || error == ECONNRESET)
		return send_fail(s, "the device hung up%s", send_during(s));
	return send_fail(s, "cannot %s the device: %s", doing, strerror(error));
}

static bool
send_interrupted(send_session &s)
{
	return send_fail(s, "interrupted by %s%s",
	    send_signal_name(s.interrupted), send_during(s));
}

static bool
send_timed_out(send_session &s, const char *what)
{
	int seconds = (s.timeout_ms + 999) / 1000;

	s.broken = true;
	if (s.interrupted != 0)
		return send_interrupted(s);
	return send_fail(s, "%s within %d second%s%s", what, seconds,
	    seconds == 1 ? "" : "s", send_during(s));
}

/*
 * A signal has come: the request under way may end within a short
 * while (a device answers at once, or not for as long as its user
 * takes), then the transfer stops.  A second signal stops it at once.
 */
static void
send_noticed(send_session &s)
{
	char drain[64];
	int fd = send_signal_fd();

	while (read(fd, drain, sizeof(drain)) > 0)
		continue;
	int64_t now = send_now_ms();
	if (s.interrupted == 0) {
		s.interrupted = send_signal();
		s.cutoff_ms = now + SEND_LAST_WORD_MS;
	} else {
		s.cutoff_ms = now;
		s.broken = true; /* and no ABORT or DISCONNECT after it */
	}
}

/*
 * Waits until fd is ready for `events` or the deadline passes (or, after
 * a signal, the cut-off): 1, 0 after the deadline, -1 on an error.
 */
static int
send_wait(send_session &s, short events, int64_t deadline)
{
	for (;;) {
		if (s.interrupted != 0 && s.cutoff_ms < deadline)
			deadline = s.cutoff_ms;
		int64_t left = deadline - send_now_ms();
		struct pollfd p[2] = { { s.fd, events, 0 },
			{ send_signal_fd(), POLLIN, 0 } };
		int n = poll(p, p[1].fd >= 0 ? 2 : 1, left > 0 ? (int)left : 0);
		if (n < 0 && errno == EINTR)
			continue;
		if (n > 0 && p[1].fd >= 0 && (p[1].revents & POLLIN) != 0) {
			send_noticed(s);
			continue;
		}
		return n;
	}
}

/*
 * Writes a whole request; a device that takes nothing for the time
 * allowed fails, however long a slow line takes for all of it.  A socket
 * is written without blocking, whatever the caller left it as, so that
 * the wait is always ours to bound.
 */
static bool
send_write(send_session &s, const unsigned char *p, size_t n)
{
	int64_t deadline = send_now_ms() + s.timeout_ms;

	while (n > 0) {
		ssize_t w = s.is_socket
		    ? send(s.fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT)
		    : write(s.fd, p, n);
		if (w > 0) {
			p += w;
			n -= (size_t)w;
			deadline = send_now_ms() + s.timeout_ms;
			continue;
		}
		if (w < 0 && errno == EINTR)
			continue;
		if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
			int ready = send_wait(s, POLLOUT, deadline);
			if (ready == 0)
				return send_timed_out(s,
				    "the device took nothing");
			if (ready < 0)
				return send_broke(s, errno, "write to");
			continue;
		}
		return send_broke(s, w < 0 ? errno : EIO, "write to");
	}
	return true;
}

/* One whole response into s.response; its length in n. */
static bool
send_receive(send_session &s, size_t &n)
{
	int64_t deadline = send_now_ms() + s.timeout_ms;
	size_t have = 0, want = 3;

	while (have < want) {
		int ready = send_wait(s, POLLIN, deadline);
		if (ready == 0)
			return send_timed_out(s, "no answer from the device");
		if (ready < 0)
			return send_broke(s, errno, "read from");
		ssize_t got = read(s.fd, s.response + have, want - have);
		if (got < 0) {
			if (errno == EINTR || errno == EAGAIN ||
			    errno == EWOULDBLOCK)
				continue;
			return send_broke(s, errno, "read from");
		}
		if (got == 0) {
			s.broken = true;
			return send_fail(s, "the device hung up%s",
			    send_during(s));
		}
		have += (size_t)got;
		if (want == 3 && have == 3) {
			/* Garbage is named at once, not waited out. */
			unsigned length = send_u16(s.response + 1);
			if ((s.response[0] & OBEX_FINAL) == 0) {
				s.broken = true;
				return send_fail(s,
				    "malformed response from the device: "
				    "code 0x%02X without its final bit",
				    s.response[0]);
			}
			if (length < 3 || length > s.ours) {
				s.broken = true;
				return send_fail(s,
				    "malformed response from the device: "
				    "length %u, not 3 to %u",
				    length, s.ours);
			}
			want = length;
		}
	}
	n = want;
	return true;
}

bool
send_parse_response(send_session &s, const unsigned char *p, size_t n,
    bool connect)
{
	if (n < 3)
		return send_fail(s,
		    "malformed response from the device: %zu bytes", n);
	s.code = p[0];
	if ((s.code & OBEX_FINAL) == 0)
		return send_fail(s,
		    "malformed response from the device: code 0x%02X without "
		    "its final bit",
		    s.code);
	if (!connect || s.code != OBEX_SUCCESS)
		return true;

	/* Version, flags and packet size, then the headers. */
	if (n < 7)
		return send_fail(s,
		    "malformed response from the device: CONNECT answered "
		    "in %zu bytes",
		    n);
	unsigned peer = send_u16(p + 5);
	if (peer < OBEX_PACKET_MIN)
		return send_fail(s,
		    "malformed response from the device: packet size %u, "
		    "less than %u",
		    peer, OBEX_PACKET_MIN);
	s.mtu = peer < s.ours ? peer : s.ours;
	for (size_t i = 7; i < n;) {
		int id = p[i];
		size_t size;
		switch (id & HDR_KIND_MASK) {
		case HDR_KIND_UNICODE:
		case HDR_KIND_BYTES:
			size = n - i >= 3 ? send_u16(p + i + 1) : 0;
			if (size < 3)
				size = SIZE_MAX;
			break;
		case HDR_KIND_QUAD:
			size = 5;
			break;
		default:
			size = 2;
			break;
		}
		if (size > n - i)
			return send_fail(s,
			    "malformed response from the device: header 0x%02X "
			    "at byte %zu does not fit",
			    id, i);
		if (id == OBEX_CONNECTION_ID && !s.has_cid) {
			s.has_cid = true;
			s.cid = (uint32_t)send_u16(p + i + 1) << 16 |
			    send_u16(p + i + 3);
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
send_quiet(send_session &s)
{
	struct pollfd p = { s.fd, POLLIN, 0 };

	if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0)
		return true;
	ssize_t got = read(s.fd, s.response, sizeof(s.response));
	if (got <= 0)
		return true; /* a hang-up, or nothing: the request will say */
	s.broken = true;
	return send_fail(s,
	    "malformed response from the device: more bytes than its length "
	    "says");
}

/* A request of one packet, and its response parsed. */
static bool
send_request(send_session &s, size_t n, bool connect)
{
	size_t got;

	if (s.interrupted != 0)
		return send_interrupted(s);
	send_put16(s.packet + 1, n);
	if (!send_quiet(s) || !send_write(s, s.packet, n) ||
	    !send_receive(s, got))
		return false;
	if (!send_parse_response(s, s.response, got, connect)) {
		s.broken = true;
		return false;
	}
	return true;
}

/* Starts a request: its code, room for its length, the Connection ID. */
static size_t
send_begin(send_session &s, int code)
{
	size_t n = 3;

	s.packet[0] = (unsigned char)code;
	if (s.has_cid) {
		s.packet[n] = OBEX_CONNECTION_ID;
		send_put16(s.packet + n + 1, s.cid >> 16);
		send_put16(s.packet + n + 3, s.cid & 0xFFFF);
		n += 5;
	}
	return n;
}

void
send_init(send_session &s, int fd, int timeout_ms, unsigned ours)
{
	struct stat st;

	s.fd = fd;
	s.timeout_ms = timeout_ms;
	s.ours = ours;
	s.mtu = ours;
	s.has_cid = false;
	s.cid = 0;
	s.is_socket = fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
	s.connected = false;
	s.broken = false;
	s.code = 0;
	s.interrupted = 0;
	s.cutoff_ms = 0;
	s.number = 0;
	s.name[0] = '\0';
	s.has_total = false;
	s.total = 0;
	s.sent = 0;
	s.started = false;
	s.begun_ms = 0;
	s.delivered = 0;
	s.aborted = false;
	s.progress = nullptr;
	s.progress_context = nullptr;
	s.why[0] = '\0';
	s.used = s.data_at = s.data = 0;
}

bool
send_connect(send_session &s)
{
	s.packet[0] = OBEX_CONNECT;
	s.packet[3] = OBEX_VERSION;
	s.packet[4] = 0; /* flags */
	send_put16(s.packet + 5, s.ours);
	if (!send_request(s, 7, true))
		return false;
	if (s.code != OBEX_SUCCESS)
		return send_fail(s,
		    "the device refused the connection: %s "
		    "(0x%02X)",
		    send_response_name(s.code), s.code);
	s.connected = true;
	return true;
}

/* Ends the packet under way and sends it; the answer must be `want`. */
static bool
send_flush(send_session &s, bool final)
{
	if (s.data_at != 0) {
		s.packet[s.data_at] =
		    (unsigned char)(final ? HDR_END_OF_BODY : HDR_BODY);
		send_put16(s.packet + s.data_at + 1, s.used - s.data_at);
		s.data_at = 0;
	}
	s.packet[0] = (unsigned char)(OBEX_PUT | (final ? OBEX_FINAL : 0));
	if (s.interrupted != 0)
		return send_interrupted(s); /* before the object has begun */
	if (!s.started)
		s.begun_ms = send_now_ms();
	s.started = true;
	if (!send_request(s, s.used, false))
		return false;

	int want = final ? OBEX_SUCCESS : OBEX_CONTINUE;
	if (s.code != want) {
		if (s.code >= OBEX_CONTINUE && s.code < 0xC0)
			return send_fail(s,
			    "the device answered %s (0x%02X) to a packet of "
			    "%s, not %s",
			    send_response_name(s.code), s.code, send_what(s),
			    send_response_name(want));
		return send_fail(s, "the device refused %s: %s (0x%02X)",
		    send_what(s), send_response_name(s.code), s.code);
	}
	s.sent += s.data;
	s.data = 0;
	s.used = 3; /* the Connection ID leads the first packet only */
	if (s.progress != nullptr)
		s.progress(s, final);
	return true;
}

/* The room a packet has after its framing. */
static size_t
send_room(const send_session &s)
{
	return s.mtu - s.used;
}

/*
 * A header other than Body and End of Body, as it came: in this packet if
 * it fits, else in the next, after whatever this one holds (even the
 * Connection ID alone).
 */
static bool
send_add_header(send_session &s, const objread_header &h)
{
	if (h.length > send_room(s) && s.used > 3 && !send_flush(s, false))
		return false;
	if (h.length > send_room(s))
		return send_fail(s,
		    "the %s header of %s (%u bytes) does not fit in the "
		    "device's packets of %u bytes",
		    h.name, send_what(s), h.length, s.mtu);
	memcpy(s.packet + s.used, h.bytes, h.length);
	s.used += h.length;
	return true;
}

/* Payload bytes, into Body headers of as many packets as they need. */
static bool
send_add_data(send_session &s, const unsigned char *p, size_t n)
{
	while (n > 0) {
		if (s.data_at == 0) {
			/* A data header of no data would be no use. */
			if (send_room(s) < 4 && !send_flush(s, false))
				return false;
			s.data_at = s.used;
			s.used += 3;
		}
		size_t k = send_room(s);
		if (k == 0) {
			if (!send_flush(s, false))
				return false;
			continue;
		}
		if (k > n)
			k = n;
		memcpy(s.packet + s.used, p, k);
		s.used += k;
		s.data += k;
		p += k;
		n -= k;
	}
	return true;
}

/* The final packet: End of Body with what is left of the payload. */
static bool
send_finish(send_session &s)
{
	if (s.data_at == 0) {
		if (send_room(s) < 3 && !send_flush(s, false))
			return false;
		s.data_at = s.used;
		s.used += 3;
	}
	if (!send_flush(s, true))
		return false;
	s.delivered++;
	return true;
}

/*
 * A request whose answer does not matter (ABORT, DISCONNECT), waited for
 * no longer than `most_ms`: whatever goes wrong with it leaves the failure
 * already reported as it was.  After a signal it has a short while of its
 * own.
 */
static void
send_last_word(send_session &s, int code, int most_ms)
{
	char why[sizeof(s.why)];
	size_t got;
	int timeout_ms = s.timeout_ms;

	memcpy(why, s.why, sizeof(why));
	if (s.interrupted != 0) {
		s.cutoff_ms = send_now_ms() + SEND_LAST_WORD_MS;
		most_ms = SEND_LAST_WORD_MS;
	}
	if (most_ms < s.timeout_ms)
		s.timeout_ms = most_ms;
	size_t n = send_begin(s, code);
	send_put16(s.packet + 1, n);
	if (send_quiet(s) && send_write(s, s.packet, n) && send_receive(s, got))
		send_parse_response(s, s.response, got, false);
	s.timeout_ms = timeout_ms;
	memcpy(s.why, why, sizeof(why));
}

/*
 * ABORT for an object given up on, when the device still holds its PUT
 * open: it has answered the object's last packet with Continue.  A
 * refusal has ended the operation already, and a link that broke can say
 * nothing more.
 */
static void
send_abort(send_session &s)
{
	if (!s.started || s.broken || s.code != OBEX_CONTINUE)
		return;
	send_last_word(s, OBEX_ABORT, s.timeout_ms);
	s.aborted = true;
}

/* The Name header's text as bytes: each unit's low byte, '?' for others. */
static void
send_take_name(send_session &s, const objread_header &h)
{
	size_t k = 0;

	for (size_t i = 0; i < h.count && k + 1 < sizeof(s.name); i += 2) {
		unsigned unit = send_u16(h.bytes + 3 + i);
		s.name[k++] = unit != 0 && unit <= 0xFF ? (char)unit : '?';
	}
	s.name[k] = '\0';
}

send_result
send_objects(send_session &s, objread &r, objread_event event)
{
	bool in_object = false;

	for (;; event = objread_next(r, s.mtu)) {
		switch (event) {
		case OBJREAD_DONE:
			return SEND_OK;
		case OBJREAD_FAULT:
		case OBJREAD_ERROR:
			send_abort(s);
			return SEND_INPUT;
		case OBJREAD_HEADER:
			if (!in_object) {
				in_object = true;
				s.number++;
				s.name[0] = '\0';
				s.has_total = false;
				s.sent = 0;
				s.started = false;
				s.used = send_begin(s, OBEX_PUT);
				s.data_at = 0;
				s.data = 0;
			}
			if (r.header.bytes == nullptr)
				break;
			if (r.header.id == HDR_NAME)
				send_take_name(s, r.header);
			if (r.header.id == HDR_LENGTH) {
				s.has_total = true;
				s.total = r.header.value;
			}
			if (!send_add_header(s, r.header)) {
				send_abort(s);
				return SEND_LINK;
			}
			break;
		case OBJREAD_DATA:
			if (!send_add_data(s, r.data, r.count)) {
				send_abort(s);
				return SEND_LINK;
			}
			break;
		case OBJREAD_END:
			if (!send_finish(s)) {
				send_abort(s);
				return SEND_LINK;
			}
			in_object = false;
			s.started = false;
			break;
		}
	}
}

void
send_disconnect(send_session &s)
{
	if (!s.connected || s.broken)
		return;
	send_last_word(s, OBEX_DISCONNECT, SEND_LAST_WORD_MS);
	s.connected = false;
}
