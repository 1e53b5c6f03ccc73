/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-send's link to the device: the destination on the command line
 * (link_parse), a descriptor that reaches it (link_open), and bytes
 * written and read on it within the time allowed (link_write, link_read).
 * Whether the link is a socket, a serial line or a descriptor handed over
 * is known here alone.
 *
 * Nothing here exits or prints: a failure comes back with its reason, for
 * the caller to word, so that the tests and the fuzz target can drive
 * every part.
 */
#ifndef LINK_H
#define LINK_H

#include <cstddef>
#include <cstdint>

enum link_kind { LINK_TCP, LINK_BT, LINK_FD, LINK_TTY, LINK_AT };

/* A destination as the command line gives it. */
struct link_dest {
	link_kind kind;
	char host[256]; /* tcp: the host; no brackets */
	char port[32]; /* tcp: the port or service, "650" by default */
	unsigned char bdaddr[6]; /* bt: the address, first byte first */
	int channel; /* bt: the RFCOMM channel, 0 to look it up or choose */
	int fd; /* fd: */
	const char *path; /* tty:, at: */
};

/*
 * Parses a destination: false, with what is wrong in `why`, if it is not
 * one of tcp:HOST[:PORT], bt:ADDR[:CHANNEL], fd:N, tty:PATH or at:PATH.
 */
bool link_parse(const char *text, link_dest &d, char *why, size_t why_size);

/*
 * Parses a place to listen, for fmt-recv: false, with what is wrong in
 * `why`, if it is not one of tcp:[HOST][:PORT] (the loopback address by
 * default), bt:[CHANNEL] (0: the first free one), fd:N or tty:PATH.
 */
bool link_parse_source(const char *text, link_dest &d, char *why,
    size_t why_size);

/*
 * A serial line opened and put in raw mode (every byte as it is) until the
 * program ends, when it is given back as it was found; -1 with the reason.
 */
int link_tty_open(const char *path, char *why, size_t why_size);

/* fd:N's descriptor, if it is open for reading and writing; else -1. */
int link_fd_check(int fd, char *why, size_t why_size);

/* A decimal number within [low, high], the whole text. */
bool link_number(const char *text, long low, long high, long &value);

/* A Bluetooth address, six hexadecimal pairs joined by colons. */
bool link_bdaddr_parse(const char *text, unsigned char addr[6]);

/* An open link, and the time it allows the device for each step. */
struct link_state {
	int fd;
	bool is_socket;
	int timeout_ms;
	int error; /* the errno of the last LINK_FAILED */
	bool skip_line_ends; /* CR and LF before the next other byte */
	/*
	 * The signal that a wait saw come (link_catch_signals), 0 before:
	 * from then on no wait goes past cutoff_ms, a short while after it,
	 * or past the moment of a second signal.
	 */
	int interrupted;
	int64_t cutoff_ms;
};

/* How long the last words of a transfer wait: DISCONNECT, and all after a
 * signal. */
inline constexpr int LINK_GRACE_MS = 2000;

/*
 * Opens the destination, within `timeout_ms` where the wait is ours, and
 * allows the device as long for each step after; false with the reason in
 * `why`.
 */
bool link_open(link_state &l, const link_dest &d, int timeout_ms, char *why,
    size_t why_size);

/* A link on a descriptor that is open already. */
void link_init(link_state &l, int fd, int timeout_ms);

enum link_status {
	LINK_OK,
	LINK_TIMEOUT, /* the device took or sent nothing in the time */
	LINK_HUNG_UP, /* the device closed or reset the link */
	LINK_FAILED, /* any other error: l.error says which */
	LINK_INTERRUPTED, /* a signal came, and the cut-off passed */
};

/*
 * Writes all n bytes; the time allowed runs from the last byte the device
 * took, however long a slow line takes for all of them.
 */
link_status link_write(link_state &l, const void *p, size_t n);

/* Reads exactly n bytes, all of them before `deadline_ms`. */
link_status link_read(link_state &l, void *p, size_t n, int64_t deadline_ms);

/*
 * Whether bytes wait to be read, which it reads and drops: bytes that no
 * request has asked for yet.
 */
bool link_stray(link_state &l);

/*
 * What an fd: destination is when it cannot be a device at all ("a
 * regular file", "a directory", "a block device"), or null: a device is a
 * socket, a terminal, a pipe or a character device.
 */
const char *link_not_device(int fd);

/* The serial line given back as it was found, if one was opened. */
void link_restore_line();

/*
 * SIGHUP, SIGINT and SIGTERM caught from here on (those not ignored
 * already), so that a transfer they stop can be ended cleanly: every wait
 * on a link watches for them.  link_signal is the first one's number, 0
 * while none came; link_signal_name gives its name, as "SIGINT".
 * link_wait_input waits until `fd` can be read: false, with errno EINTR,
 * when a signal came first.
 */
void link_catch_signals();
int link_signal();
const char *link_signal_name(int sig);
bool link_wait_input(int fd);

/*
 * Whether a signal has come, noticed now if no wait has seen it yet: the
 * check before each new request, however the signal fell between the
 * waits.
 */
bool link_interrupted(link_state &l);

/* Milliseconds on the monotonic clock. */
int64_t link_now_ms();

/*
 * A socket connected to `sa` within the time limit, and left non-blocking;
 * -1 with errno set.
 */
struct sockaddr;
int link_socket(int domain, int type, int protocol, const struct sockaddr *sa,
    unsigned len, int timeout_ms);

/*
 * The RFCOMM channel in an SDP protocol descriptor list, as the data
 * element bytes give it; -1 if there is none.
 */
int link_sdp_channel(const unsigned char *p, size_t n);

/*
 * A phone on its data cable, open as a serial line, switched to OBEX with
 * AT commands, each answer read within the link's time; false with what
 * the phone said in `why`.
 */
bool link_at_switch(link_state &l, char *why, size_t why_size);

/* The Bluetooth side of link_open, one version per system. */
int link_bt_open(const link_dest &d, int timeout_ms, char *why,
    size_t why_size);

#endif
