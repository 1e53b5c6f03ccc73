/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-recv's parts: listening on a place that link_parse_source read, and
 * the next connection (recv_listen, recv_accept), the OBEX server that takes a
 * sender's requests on one link (recv_serve), and the two stores an object can
 * go to (recv_store_*): standard output as a stream of objects, or a directory,
 * one file per object.
 *
 * Nothing here exits: failures come back with their text, for main to
 * report, so that the tests and the fuzz target can drive every part.
 * The server reaches its link and its store through function tables, so
 * that the fuzz target can feed it bytes from memory.
 */
#ifndef RECV_H
#define RECV_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "link.h"
#include "obex.h"

/* Listening sockets: one per address of a TCP host, or one RFCOMM. */
inline constexpr int RECV_LISTEN_MAX = 8;
struct recv_listener {
	int fds[RECV_LISTEN_MAX];
	int count;
	char where[160]; /* what is listened on, for -v */
	int channel; /* bt: the channel bound */
	uint32_t record; /* bt: the service record's handle */
	void *sdp; /* bt: the session that holds the record */
	void *sdp_record; /* bt: the record itself, where it is ours */
	char warning[256]; /* what works less well than asked, or "" */
};

/* Starts listening on a tcp: or bt: source; false with the reason. */
bool recv_listen(const link_dest &s, recv_listener &l, char *why,
    size_t why_size);

/*
 * The next connection, left non-blocking, with the peer's address in
 * `peer`; -1 when stop_fd became readable (why empty) or on a failure
 * (why set).
 */
int recv_accept(recv_listener &l, int stop_fd, char *peer, size_t peer_size,
    char *why, size_t why_size);

/* Stops listening; a service record is withdrawn. */
void recv_unlisten(recv_listener &l);

/* The Bluetooth side of recv_listen, one version per system. */
bool recv_bt_listen(const link_dest &s, recv_listener &l, char *why,
    size_t why_size);
void recv_bt_unlisten(recv_listener &l);
/* A peer's Bluetooth address as text, from what accept(2) gave. */
void recv_bt_peer(const void *sa, char *peer, size_t peer_size);

/*
 * A link's reads and writes.  read returns the bytes read, 0 at the end
 * of the stream, or one of the RECV_IO_* codes (errno set for ERROR);
 * write writes everything within the time allowed, false on a failure
 * (errno set; ETIMEDOUT when the peer took nothing for that long).
 */
inline constexpr int RECV_IO_ERROR = -1;
inline constexpr int RECV_IO_TIMEOUT = -2;
inline constexpr int RECV_IO_STOP = -3;
struct recv_io {
	ssize_t (*read)(void *context, void *buf, size_t n, int timeout_ms);
	bool (*write)(void *context, const void *buf, size_t n, int timeout_ms);
	void *context;
};

/* A descriptor's link: waits on it and on a stop descriptor. */
struct recv_fd_link {
	int fd;
	int stop_fd; /* readable once the program is to stop; -1: none */
	bool is_socket;
};
void recv_fd_link_init(recv_fd_link &l, int fd, int stop_fd);
recv_io recv_fd_io(recv_fd_link &l);

/*
 * The headers an object keeps, in the order they are written out; each
 * is kept as it came, the first of its kind only.
 */
inline constexpr int recv_kept_ids[] = { OBEX_HI_NAME, OBEX_HI_TYPE,
	OBEX_HI_LENGTH, OBEX_HI_CREATOR, OBEX_HI_DESCRIPTION, OBEX_HI_TIME,
	OBEX_HI_TIME_ISO };
inline constexpr int RECV_KEPT = sizeof(recv_kept_ids) / sizeof(int);

/* An object under way. */
struct recv_object {
	uint64_t number; /* in the run, from 1 */
	bool has_name;
	char name[1024]; /* the Name as UTF-8, cut at a character */
	bool has_length;
	uint32_t length;
	uint64_t size; /* payload bytes so far */
	bool has_body; /* a Body or End-of-Body header came */

	unsigned char kept[OBEX_PACKET_MAX];
	size_t kept_used;
	struct {
		size_t at, length; /* length 0: none came */
	} slot[RECV_KEPT];

	/*
	 * Set by a store that fails: the answer, and what to say; `fatal`
	 * when the program cannot go on (standard output failed), which a
	 * commit may set even as it succeeds.
	 */
	int code;
	bool fatal;
	char why[512];

	/* The store's own. */
	int fd;
	char temp[64];
};

/*
 * Where objects go.  Each call returns false after setting the object's
 * code and why; discard forgets whatever begin made.
 */
struct recv_store {
	bool (*begin)(void *context, recv_object &o);
	bool (*data)(void *context, recv_object &o, const unsigned char *p,
	    size_t n);
	bool (*commit)(void *context, recv_object &o);
	void (*discard)(void *context, recv_object &o);
	void *context;
};

/* Standard output: each object as a run of headers, once it is whole. */
struct recv_stdout_store {
	const char *spool_dir; /* for the payload until it is whole */
	char spool_shown[1024]; /* as messages show it */
	unsigned char buf[OBEX_PACKET_MAX];
};
recv_store recv_stdout_store_init(recv_stdout_store &s, const char *spool);

/* A directory: each payload a file, under its name made safe. */
struct recv_dir_store {
	int dirfd;
	const char *dir; /* as given, for the lines */
	char dir_shown[1024]; /* as messages show it */
	long name_max;
	bool quiet; /* no line per object: standard output is the link */
	bool sync; /* fsync file and directory (off in the fuzz target) */
	unsigned serial; /* for temporary names */
};
/* Opens (creating it if need be) the directory; false with the reason. */
bool recv_dir_store_open(recv_dir_store &s, const char *dir, char *why,
    size_t why_size);
recv_store recv_dir_store_init(recv_dir_store &s);

/*
 * A Name's text (its 16-bit units, high byte first, `count` bytes without
 * the final zero) as UTF-8 into out, cut at a character to fit: units that
 * are all bytes spelling UTF-8 (as the fmt-* programs widen it) give those
 * bytes, other text is read as UTF-16.  Returns the length.
 */
size_t recv_name_utf8(const unsigned char *units, size_t count, char *out,
    size_t out_size);

/*
 * The file name for a name: its last path element ('/' and '\'), control
 * characters as '_', no leading dot, at most `limit` bytes cut at a
 * character; "object-N" when nothing is left.  `copy` 2 and up adds
 * " (copy)" before the extension.  Returns the length; out holds limit+1.
 */
size_t recv_safe_name(const char *name, uint64_t number, unsigned copy,
    size_t limit, char *out);

/* One header of a request packet. */
struct recv_header {
	int id;
	size_t at; /* its offset in the packet */
	size_t length; /* the whole header */
	const unsigned char *value; /* what follows its framing */
	size_t count; /* bytes of it */
	uint32_t quad; /* a four-byte header's value */
};

/*
 * The next header of the packet p[0, n) at `at`, which moves past it: 1,
 * 0 at the end of the packet, -1 when the header does not fit or is
 * malformed (why says how).
 */
int recv_next_header(const unsigned char *p, size_t n, size_t &at,
    recv_header &h, char *why, size_t why_size);

/* How a connection ended. */
enum recv_end {
	RECV_CLOSED, /* DISCONNECT, or the sender hung up between objects */
	RECV_CUT, /* the link failed or the sender hung up mid-object */
	RECV_SILENT, /* nothing came for the time allowed */
	RECV_BAD, /* a malformed request, answered Bad Request */
	RECV_STOPPED, /* the program is to stop */
	RECV_COUNT, /* the objects asked for have all come */
	RECV_FATAL, /* a store cannot go on: see the object's why */
};

/* Says a message about a peer (nullptr: silent). */
using recv_say = void (*)(const char *peer, const char *text);

/* One sender's connection. */
struct recv_session {
	recv_io io;
	recv_store store;
	const char *peer;
	int timeout_ms;
	/* Between connections, wait for ever (a serial line). */
	bool idle_unbounded;
	uint64_t max_size;
	uint64_t limit; /* objects to take in all; 0: no end */
	uint64_t *received; /* objects taken whole, over the run */
	uint64_t *numbered; /* objects begun, over the run */
	bool verbose;
	recv_say say;

	bool connected;
	bool in_put;
	bool link_ended; /* the link hung up or failed */
	recv_object object;
	unsigned char packet[OBEX_PACKET_MAX];
};

/* A session on a link that is open, before its first request. */
void recv_session_init(recv_session &s, recv_io io, recv_store store,
    const char *peer);

/* Serves requests until the connection ends, and says how it did. */
recv_end recv_serve(recv_session &s);

#endif
