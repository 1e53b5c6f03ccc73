/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Where the objects go: the destination on the command line, a descriptor
 * that reaches it, and the bytes written to and read from it.  TCP and
 * Bluetooth sockets are left non-blocking, since every wait on them is
 * ours to bound; a serial line is put in raw mode for as long as the
 * program runs, and given back as it was found.
 */
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "link.h"

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0 /* where SIGPIPE cannot be turned off per call */
#endif

/* OBEX's own TCP port, and where a receiver listens unless told. */
static const char TCP_PORT[] = "650";
static const char TCP_LISTEN_HOST[] = "127.0.0.1";

bool
link_number(const char *text, long low, long high, long &value)
{
	if (*text < '0' || *text > '9')
		return false;
	char *end;
	errno = 0;
	value = strtol(text, &end, 10);
	return *end == '\0' && errno == 0 && value >= low && value <= high;
}

static bool
copy(char *to, size_t size, const char *from, size_t n)
{
	if (n >= size)
		return false;
	memcpy(to, from, n);
	to[n] = '\0';
	return true;
}

static int
hex_digit(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

bool
link_bdaddr_parse(const char *text, unsigned char addr[6])
{
	for (int i = 0; i < 6; i++) {
		const char *p = text + 3 * i;
		int hi = hex_digit(p[0]);
		int lo = hi < 0 ? -1 : hex_digit(p[1]);
		if (lo < 0 || p[2] != (i == 5 ? '\0' : ':'))
			return false;
		addr[i] = (unsigned char)(hi << 4 | lo);
	}
	return true;
}

int
link_sdp_channel(const unsigned char *p, size_t n)
{
	/*
	 * The RFCOMM protocol's UUID (16 bits, 0x0003) followed by the
	 * channel as an unsigned 8-bit element: the one form that the
	 * descriptor list gives it in.
	 */
	static const unsigned char rfcomm[] = { 0x19, 0x00, 0x03, 0x08 };

	for (size_t i = 0;
	     n >= sizeof(rfcomm) + 1 && i <= n - sizeof(rfcomm) - 1; i++)
		if (memcmp(p + i, rfcomm, sizeof(rfcomm)) == 0 &&
		    p[i + sizeof(rfcomm)] >= 1 && p[i + sizeof(rfcomm)] <= 30)
			return p[i + sizeof(rfcomm)];
	return -1;
}

/* HOST[:PORT]; an empty host is `empty_host`, or refused when null. */
static bool
tcp_parse(const char *rest, link_dest &d, const char *empty_host, char *why,
    size_t n)
{
	const char *port = nullptr;
	size_t host_len;

	if (*rest == '[') {
		const char *close = strchr(rest, ']');
		if (close == nullptr || (close[1] != '\0' && close[1] != ':')) {
			snprintf(why, n,
			    "an IPv6 address goes in brackets, "
			    "[ADDR]:PORT");
			return false;
		}
		rest++;
		host_len = (size_t)(close - rest);
		if (close[1] == ':')
			port = close + 2;
	} else {
		const char *colon = strchr(rest, ':');
		host_len = strlen(rest);
		/* More than one colon: an IPv6 address without a port. */
		if (colon != nullptr && strchr(colon + 1, ':') == nullptr) {
			host_len = (size_t)(colon - rest);
			port = colon + 1;
		}
	}
	if (host_len == 0 && empty_host == nullptr) {
		snprintf(why, n, "no host");
		return false;
	}
	if (port != nullptr && *port == '\0') {
		snprintf(why, n, "no port after the colon");
		return false;
	}
	if (host_len == 0) {
		rest = empty_host;
		host_len = strlen(empty_host);
	}
	if (!copy(d.host, sizeof(d.host), rest, host_len) ||
	    !copy(d.port, sizeof(d.port), port ? port : TCP_PORT,
		strlen(port ? port : TCP_PORT))) {
		snprintf(why, n, "host or port too long");
		return false;
	}
	return true;
}

/*
 * fd:N or tty:PATH, the same as a destination and as a source: false
 * with d.kind left LINK_TCP when the text is neither, or with LINK_FD and
 * the reason when N is no number.
 */
static bool
fd_or_tty_parse(const char *text, link_dest &d, char *why, size_t n)
{
	long v;

	if (strncmp(text, "fd:", 3) == 0) {
		d.kind = LINK_FD;
		if (!link_number(text + 3, 0, INT_MAX, v)) {
			snprintf(why, n, "a descriptor is a number");
			return false;
		}
		d.fd = (int)v;
		return true;
	}
	if (strncmp(text, "tty:", 4) == 0 && text[4] != '\0') {
		d.kind = LINK_TTY;
		d.path = text + 4;
		return true;
	}
	d.kind = LINK_TCP;
	return false;
}

bool
link_parse(const char *text, link_dest &d, char *why, size_t n)
{
	long v;

	d = {};
	if (strncmp(text, "tcp:", 4) == 0) {
		d.kind = LINK_TCP;
		return tcp_parse(text + 4, d, nullptr, why, n);
	}
	if (strncmp(text, "bt:", 3) == 0) {
		const char *rest = text + 3;
		char addr[18];
		d.kind = LINK_BT;
		if (!copy(addr, sizeof(addr), rest, strnlen(rest, 17)) ||
		    !link_bdaddr_parse(addr, d.bdaddr) ||
		    (rest[17] != '\0' && rest[17] != ':')) {
			snprintf(why, n,
			    "a Bluetooth address is six hexadecimal pairs, "
			    "00:11:22:33:44:55");
			return false;
		}
		if (rest[17] == ':') {
			if (!link_number(rest + 18, 1, 30, v)) {
				snprintf(why, n,
				    "an RFCOMM channel is 1 to 30");
				return false;
			}
			d.channel = (int)v;
		}
		return true;
	}
	if (fd_or_tty_parse(text, d, why, n))
		return true;
	if (d.kind != LINK_FD)
		snprintf(why, n,
		    "not tcp:HOST[:PORT], bt:ADDR[:CHANNEL], fd:N or tty:PATH");
	return false;
}

bool
link_parse_source(const char *text, link_dest &d, char *why, size_t n)
{
	long v;

	d = {};
	if (strncmp(text, "tcp:", 4) == 0) {
		d.kind = LINK_TCP;
		return tcp_parse(text + 4, d, TCP_LISTEN_HOST, why, n);
	}
	if (strncmp(text, "bt:", 3) == 0) {
		d.kind = LINK_BT;
		if (text[3] == '\0')
			return true;
		if (!link_number(text + 3, 1, 30, v)) {
			snprintf(why, n, "an RFCOMM channel is 1 to 30");
			return false;
		}
		d.channel = (int)v;
		return true;
	}
	if (fd_or_tty_parse(text, d, why, n))
		return true;
	if (d.kind != LINK_FD)
		snprintf(why, n,
		    "not tcp:[HOST][:PORT], bt:[CHANNEL], fd:N or tty:PATH");
	return false;
}

/*
 * connect(2) within the time limit, on a socket left non-blocking: 0, or
 * -1 with errno set.
 */
static int
connect_within(int fd, const struct sockaddr *sa, unsigned len, int timeout_ms)
{
	int flags = fcntl(fd, F_GETFL);
	if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
		return -1;
	if (connect(fd, sa, (socklen_t)len) == 0)
		return 0;
	if (errno != EINPROGRESS && errno != EINTR)
		return -1;
	struct pollfd p = { fd, POLLOUT, 0 };
	int ready;
	while ((ready = poll(&p, 1, timeout_ms)) < 0 && errno == EINTR)
		;
	if (ready == 0)
		errno = ETIMEDOUT;
	if (ready <= 0)
		return -1;
	int error = 0;
	socklen_t size = sizeof(error);
	if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0)
		return -1;
	if (error != 0) {
		errno = error;
		return -1;
	}
	return 0;
}

int
link_socket(int domain, int type, int protocol, const struct sockaddr *sa,
    unsigned len, int timeout_ms)
{
	int fd = socket(domain, type, protocol);
	if (fd < 0)
		return -1;
	if (connect_within(fd, sa, len, timeout_ms) != 0) {
		int error = errno;
		close(fd);
		errno = error;
		return -1;
	}
	return fd;
}

static int
tcp_open(const link_dest &d, int timeout_ms, char *why, size_t n)
{
	struct addrinfo hints = {}, *list;

	hints.ai_family = AF_UNSPEC;
	hints.ai_socktype = SOCK_STREAM;
	int rc = getaddrinfo(d.host, d.port, &hints, &list);
	if (rc != 0) {
		snprintf(why, n, "%s",
		    rc == EAI_SYSTEM ? strerror(errno) : gai_strerror(rc));
		return -1;
	}
	int fd = -1, error = 0;
	for (struct addrinfo *a = list; a != nullptr && fd < 0;
	     a = a->ai_next) {
		fd = link_socket(a->ai_family, a->ai_socktype, a->ai_protocol,
		    a->ai_addr, a->ai_addrlen, timeout_ms);
		if (fd < 0)
			error = errno;
	}
	freeaddrinfo(list);
	if (fd < 0) {
		snprintf(why, n, "%s", strerror(error));
		return -1;
	}
	/*
	 * A request goes out in one write and waits for its answer: held
	 * back for want of an acknowledgement, its last segment would wait
	 * for the peer's delayed one.
	 */
	int one = 1;
	setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
	return fd;
}

/* The serial line's settings before we changed them. */
static int tty_fd = -1;
static struct termios tty_saved;

static void
tty_restore()
{
	if (tty_fd >= 0)
		tcsetattr(tty_fd, TCSANOW, &tty_saved);
}

int
link_tty_open(const char *path, char *why, size_t n)
{
	int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
	struct termios t;

	if (fd < 0 || tcgetattr(fd, &t) != 0) {
		snprintf(why, n, "%s", strerror(errno));
		if (fd >= 0)
			close(fd);
		return -1;
	}
	tty_saved = t;
	/* Every byte as it is: no line editing, no flow control, 8 bits. */
	cfmakeraw(&t);
	t.c_cflag |= CLOCAL | CREAD;
	t.c_cc[VMIN] = 1;
	t.c_cc[VTIME] = 0;
	if (tcsetattr(fd, TCSANOW, &t) != 0) {
		snprintf(why, n, "%s", strerror(errno));
		close(fd);
		return -1;
	}
	tty_fd = fd;
	atexit(tty_restore);
	return fd;
}

int
link_fd_check(int fd, char *why, size_t n)
{
	int flags = fcntl(fd, F_GETFL);
	if (flags < 0) {
		snprintf(why, n, "%s", strerror(errno));
		return -1;
	}
	if ((flags & O_ACCMODE) != O_RDWR) {
		snprintf(why, n,
		    "the descriptor is not open for reading and writing");
		return -1;
	}
	return fd;
}

static int
open_fd(const link_dest &d, int timeout_ms, char *why, size_t n)
{
	switch (d.kind) {
	case LINK_TCP:
		return tcp_open(d, timeout_ms, why, n);
	case LINK_BT:
		return link_bt_open(d, timeout_ms, why, n);
	case LINK_FD:
		return link_fd_check(d.fd, why, n);
	case LINK_TTY:
		return link_tty_open(d.path, why, n);
	}
	return -1;
}

bool
link_open(link_state &l, const link_dest &d, int timeout_ms, char *why,
    size_t n)
{
	int fd = open_fd(d, timeout_ms, why, n);
	if (fd < 0)
		return false;
	link_init(l, fd, timeout_ms);
	return true;
}

void
link_init(link_state &l, int fd, int timeout_ms)
{
	struct stat st;

	l.fd = fd;
	l.is_socket = fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
	l.timeout_ms = timeout_ms;
	l.error = 0;
}

int64_t
link_now_ms()
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/*
 * Waits until fd is ready for `events` or the deadline passes: 1, 0 after
 * the deadline, -1 on an error.
 */
static int
wait_for(int fd, short events, int64_t deadline)
{
	for (;;) {
		int64_t left = deadline - link_now_ms();
		struct pollfd p = { fd, events, 0 };
		int n = poll(&p, 1, left > 0 ? (int)left : 0);
		if (n >= 0 || errno != EINTR)
			return n;
	}
}

/* A device that hung up, or another error kept for the caller. */
static link_status
failed(link_state &l, int error)
{
	if (error == EPIPE || error == ECONNRESET)
		return LINK_HUNG_UP;
	l.error = error;
	return LINK_FAILED;
}

/*
 * A socket is written without blocking, whatever the caller left it as,
 * so that the wait is always ours to bound.
 */
link_status
link_write(link_state &l, const void *data, size_t n)
{
	const unsigned char *p = static_cast<const unsigned char *>(data);
	int64_t deadline = link_now_ms() + l.timeout_ms;

	while (n > 0) {
		ssize_t w = l.is_socket
		    ? send(l.fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT)
		    : write(l.fd, p, n);
		if (w > 0) {
			p += w;
			n -= (size_t)w;
			deadline = link_now_ms() + l.timeout_ms;
			continue;
		}
		if (w < 0 && errno == EINTR)
			continue;
		if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
			int ready = wait_for(l.fd, POLLOUT, deadline);
			if (ready == 0)
				return LINK_TIMEOUT;
			if (ready < 0)
				return failed(l, errno);
			continue;
		}
		return failed(l, w < 0 ? errno : EIO);
	}
	return LINK_OK;
}

link_status
link_read(link_state &l, void *data, size_t n, int64_t deadline_ms)
{
	unsigned char *p = static_cast<unsigned char *>(data);

	while (n > 0) {
		int ready = wait_for(l.fd, POLLIN, deadline_ms);
		if (ready == 0)
			return LINK_TIMEOUT;
		if (ready < 0)
			return failed(l, errno);
		ssize_t got = read(l.fd, p, n);
		if (got < 0) {
			if (errno == EINTR || errno == EAGAIN ||
			    errno == EWOULDBLOCK)
				continue;
			return failed(l, errno);
		}
		if (got == 0)
			return LINK_HUNG_UP;
		p += got;
		n -= (size_t)got;
	}
	return LINK_OK;
}
