/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-send's parts: the destination and its link (send_dest_*,
 * send_open), and the OBEX client that carries a stream of objects over
 * the link (send_connect, send_objects, send_disconnect), framing its own
 * requests and reading the device's responses.
 *
 * Nothing here exits or prints: a failure comes back as false with its
 * text in the session, for fmt-send's main to report, so that the tests
 * and the fuzz target can drive every part.
 */
#ifndef SEND_H
#define SEND_H

#include <cstddef>
#include <cstdint>

#include "objread.h"

/* OBEX operation and response codes, the final bit included. */
inline constexpr int OBEX_CONNECT = 0x80;
inline constexpr int OBEX_DISCONNECT = 0x81;
inline constexpr int OBEX_PUT = 0x02;
inline constexpr int OBEX_FINAL = 0x80;
inline constexpr int OBEX_ABORT = 0xFF;
inline constexpr int OBEX_CONTINUE = 0x90;
inline constexpr int OBEX_SUCCESS = 0xA0;
inline constexpr int OBEX_CONNECTION_ID = 0xCB;
inline constexpr int OBEX_VERSION = 0x10; /* 1.0 */

/* Packet sizes: the protocol's least, and the 16-bit length's most. */
inline constexpr unsigned OBEX_PACKET_MIN = 255;
inline constexpr unsigned OBEX_PACKET_MAX = 65535;

/* The name of a response code, "unknown response" for the rest. */
const char *send_response_name(int code);

enum send_kind { SEND_TCP, SEND_BT, SEND_FD, SEND_TTY };

/* A destination as the command line gives it. */
struct send_dest {
	send_kind kind;
	char host[256]; /* tcp: the host; no brackets */
	char port[32]; /* tcp: the port or service, "650" by default */
	unsigned char bdaddr[6]; /* bt: the address, first byte first */
	int channel; /* bt: the RFCOMM channel, 0 to look it up */
	int fd; /* fd: */
	const char *path; /* tty: */
};

/*
 * Parses a destination: false, with what is wrong in `why`, if it is not
 * one of tcp:HOST[:PORT], bt:ADDR[:CHANNEL], fd:N or tty:PATH.
 */
bool send_dest_parse(const char *text, send_dest &d, char *why,
    size_t why_size);

/* A decimal number within [low, high], the whole text. */
bool send_number(const char *text, long low, long high, long &value);

/* A Bluetooth address, six hexadecimal pairs joined by colons. */
bool send_bdaddr_parse(const char *text, unsigned char addr[6]);

/*
 * A descriptor for the destination, ready to read and write, within
 * `timeout_ms` where the wait is ours; -1 with the reason in `why`.
 */
int send_open(const send_dest &d, int timeout_ms, char *why, size_t why_size);

/*
 * A socket connected to `sa` within the time limit, and left non-blocking;
 * -1 with errno set.
 */
struct sockaddr;
int send_socket(int domain, int type, int protocol, const struct sockaddr *sa,
    unsigned len, int timeout_ms);

/*
 * The RFCOMM channel in an SDP protocol descriptor list, as the data
 * element bytes give it; -1 if there is none.
 */
int send_sdp_channel(const unsigned char *p, size_t n);

/*
 * What an fd: destination is when it cannot be a device at all ("a
 * regular file", "a directory", "a block device"), or null: a device is a
 * socket, a terminal, a pipe or a character device.
 */
const char *send_not_device(int fd);

/*
 * SIGHUP, SIGINT and SIGTERM caught from here on (those not ignored
 * already), so that a transfer they stop can be ended cleanly.  Each one
 * makes send_signal_fd readable; send_signal is the first one's number,
 * 0 while none came.  send_signal_name gives its name, as "SIGINT".
 */
void send_catch_signals();
int send_signal();
int send_signal_fd();
const char *send_signal_name(int sig);

/* The serial line given back as it was found, if one was opened. */
void send_restore_line();

/* The Bluetooth side of send_open, one version per system. */
int send_bt_open(const send_dest &d, int timeout_ms, char *why,
    size_t why_size);

/* Called after each packet of an object that the device took. */
struct send_session;
using send_progress = void (*)(const send_session &s, bool done);

/* One connection to a device, and how far the transfer has come. */
struct send_session {
	int fd;
	int timeout_ms; /* for each response */
	unsigned ours; /* the largest packet we take, from -m */
	unsigned mtu; /* the largest packet we send: the lesser sizes */
	bool has_cid;
	uint32_t cid;
	bool is_socket;
	bool connected;
	bool broken; /* the link failed: nothing more can be said on it */
	int code; /* of the last response */
	/*
	 * A signal came (its number): the request under way may still end
	 * until cutoff_ms, and the next one is not made.
	 */
	int interrupted;
	int64_t cutoff_ms;

	/* The object under way, for messages and progress. */
	uint64_t number; /* 1 for the first object */
	char name[96]; /* from its Name header, as bytes; "" without one */
	bool has_total;
	uint64_t total; /* from its Length header */
	uint64_t sent; /* payload bytes the device has taken */
	bool started; /* its first packet has gone out */
	int64_t begun_ms; /* when it did, on the monotonic clock */
	uint64_t delivered; /* objects the device answered with Success */
	bool aborted; /* the object under way was ABORTed */
	send_progress progress;
	void *progress_context;

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

/* Milliseconds on the monotonic clock. */
int64_t send_now_ms();

/* A session on a link that is open, before CONNECT. */
void send_init(send_session &s, int fd, int timeout_ms, unsigned ours);

/* CONNECT: the packet size and the Connection ID come from the answer. */
bool send_connect(send_session &s);

enum send_result {
	SEND_OK, /* every object went through */
	SEND_INPUT, /* the input failed or was malformed: see the reader */
	SEND_LINK, /* the device or the link failed: see s.why */
};

/*
 * Every object of the stream, one PUT each; `event` is the reader's first
 * step, already taken.  An input that fails inside an object is ABORTed.
 * Returns with the session still connected unless the link broke.
 */
send_result send_objects(send_session &s, objread &r, objread_event event);

/*
 * DISCONNECT, if the link still stands; the answer does not matter, and
 * is waited for only briefly (SEND_LAST_WORD_MS at most).
 */
inline constexpr int SEND_LAST_WORD_MS = 2000;
void send_disconnect(send_session &s);

/*
 * Parses a whole response of `n` bytes (its length field already checked
 * against n): its code into s.code, and for a CONNECT (connect) the packet
 * size and Connection ID into the session.  Reads nothing past n.  False,
 * with s.why, for a malformed response.
 */
bool send_parse_response(send_session &s, const unsigned char *p, size_t n,
    bool connect);

#endif
