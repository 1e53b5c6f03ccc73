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
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "link.h"
#include "proc.h"

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
	/*
	 * The resolver takes any number for a port and wraps it (99999 is
	 * 34463), and reads a sign or spaces before it: only 1 to 65535
	 * is a port (0 too for a place to listen, where the system picks
	 * one), and a name must be a TCP service that this system knows.
	 * Either goes to the resolver as a plain number.
	 */
	char number[8] = "";
	if (port != nullptr) {
		long v;
		long low = empty_host != nullptr ? 0 : 1;
		if (*port >= '0' && *port <= '9') {
			if (!link_number(port, low, 65535, v)) {
				snprintf(why, n, "port %ld to 65535", low);
				return false;
			}
		} else {
			const struct servent *se = getservbyname(port, "tcp");
			if (se == nullptr) {
				snprintf(why, n, "no TCP service `%s'",
				    proc_shown(port));
				return false;
			}
			v = ntohs((uint16_t)se->s_port);
		}
		snprintf(number, sizeof(number), "%ld", v);
	}
	if (!copy(d.host, sizeof(d.host), rest, host_len) ||
	    !copy(d.port, sizeof(d.port), port ? number : TCP_PORT,
		strlen(port ? number : TCP_PORT))) {
		snprintf(why, n, "host too long");
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
	if (d.kind == LINK_FD)
		return false;
	if (strncmp(text, "at:", 3) == 0 && text[3] != '\0') {
		d.kind = LINK_AT;
		d.path = text + 3;
		return true;
	}
	snprintf(why, n,
	    "not tcp:HOST[:PORT], bt:ADDR[:CHANNEL], fd:N, tty:PATH or "
	    "at:PATH");
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
	hints.ai_flags = AI_NUMERICSERV;
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

void
link_restore_line()
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
		snprintf(why, n, "%s",
		    fd >= 0 && errno == ENOTTY ? "not a terminal"
					       : strerror(errno));
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
	atexit(link_restore_line);
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
	case LINK_AT:
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
	return d.kind != LINK_AT || link_at_switch(l, why, n);
}

void
link_init(link_state &l, int fd, int timeout_ms)
{
	struct stat st;

	l.fd = fd;
	l.is_socket = fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
	l.timeout_ms = timeout_ms;
	l.error = 0;
	l.skip_line_ends = false;
	l.interrupted = 0;
	l.cutoff_ms = 0;
}

int64_t
link_now_ms()
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/*
 * The signals that end a transfer.  The handler only notes the signal and
 * makes a pipe readable, which every wait watches beside the link, so
 * that no signal is lost between a check and a wait.
 */
static const struct {
	int sig;
	const char *name;
} signals[] = {
	{ SIGHUP, "SIGHUP" },
	{ SIGINT, "SIGINT" },
	{ SIGTERM, "SIGTERM" },
};
static volatile sig_atomic_t signal_caught;
static int signal_pipe[2] = { -1, -1 };

static void
on_signal(int sig)
{
	int saved = errno;

	if (signal_caught == 0)
		signal_caught = sig;
	ssize_t w = write(signal_pipe[1], "", 1);
	(void)w; /* a full pipe is readable already */
	errno = saved;
}

void
link_catch_signals()
{
	if (pipe(signal_pipe) != 0)
		return;
	for (int fd : signal_pipe) {
		fcntl(fd, F_SETFD, FD_CLOEXEC);
		fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
	}
	for (const auto &s : signals) {
		struct sigaction sa = {}, old;
		/* A signal the caller ignores (nohup, a background job) stays
		 * ignored. */
		if (sigaction(s.sig, nullptr, &old) != 0 ||
		    old.sa_handler == SIG_IGN)
			continue;
		sa.sa_handler = on_signal;
		sigemptyset(&sa.sa_mask);
		sa.sa_flags = 0; /* no SA_RESTART: a blocked call returns */
		sigaction(s.sig, &sa, nullptr);
	}
}

int
link_signal()
{
	return signal_caught;
}

const char *
link_signal_name(int sig)
{
	for (const auto &s : signals)
		if (s.sig == sig)
			return s.name;
	return "a signal";
}

bool
link_wait_input(int fd)
{
	struct pollfd p[2] = { { fd, POLLIN, 0 },
		{ signal_pipe[0], POLLIN, 0 } };

	if (p[1].fd < 0)
		return true;
	for (;;) {
		int n = poll(p, 2, -1);
		if (n < 0 && errno == EINTR)
			continue;
		if (n > 0 && (p[1].revents & POLLIN) != 0) {
			errno = EINTR;
			return false;
		}
		return true; /* the read says what poll found */
	}
}

/*
 * The signals that came since the last look.  At the first, the step
 * under way may still end within a short while (a device answers at once,
 * or not for as long as its user takes), then the transfer stops; a
 * second stops it at once.
 */
static void
look(link_state &l)
{
	char drain[64];
	bool came = false;

	while (read(signal_pipe[0], drain, sizeof(drain)) > 0)
		came = true;
	if (signal_caught == 0 || (!came && l.interrupted != 0))
		return;
	int64_t now = link_now_ms();
	if (l.interrupted == 0) {
		l.interrupted = signal_caught;
		l.cutoff_ms = now + LINK_GRACE_MS;
	} else {
		l.cutoff_ms = now;
	}
}

/*
 * Waits until the link is ready for `events` or the deadline passes (or,
 * after a signal, the cut-off): 1, 0 after the deadline, -1 on an error.
 */
static int
wait_for(link_state &l, short events, int64_t deadline)
{
	for (;;) {
		if (l.interrupted != 0 && l.cutoff_ms < deadline)
			deadline = l.cutoff_ms;
		int64_t left = deadline - link_now_ms();
		struct pollfd p[2] = { { l.fd, events, 0 },
			{ signal_pipe[0], POLLIN, 0 } };
		int n = poll(p, p[1].fd >= 0 ? 2 : 1, left > 0 ? (int)left : 0);
		if (n < 0 && errno == EINTR)
			continue;
		/*
		 * A signal whose handler ran after poll looked at the pipe
		 * counts as much as one it saw.
		 */
		if ((n > 0 && p[1].fd >= 0 && (p[1].revents & POLLIN) != 0) ||
		    (signal_caught != 0 && l.interrupted == 0)) {
			look(l);
			continue;
		}
		return n;
	}
}

bool
link_interrupted(link_state &l)
{
	look(l);
	return l.interrupted != 0;
}

/* The end of a wait that found nothing. */
static link_status
idle(const link_state &l)
{
	return l.interrupted != 0 ? LINK_INTERRUPTED : LINK_TIMEOUT;
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
		/*
		 * A descriptor handed over blocking can hold a write for as
		 * long as its device takes nothing, and a signal cuts it
		 * short: once past the cut-off (at a second signal) it ends.
		 */
		int error = w < 0 ? errno : 0;
		bool cut = (w > 0 || error == EINTR) && link_interrupted(l) &&
		    link_now_ms() >= l.cutoff_ms;
		if (w > 0) {
			p += w;
			n -= (size_t)w;
			deadline = link_now_ms() + l.timeout_ms;
		}
		if (cut && n > 0)
			return LINK_INTERRUPTED;
		if (w > 0 || error == EINTR)
			continue;
		if (error == EAGAIN || error == EWOULDBLOCK) {
			int ready = wait_for(l, POLLOUT, deadline);
			if (ready == 0)
				return idle(l);
			if (ready < 0)
				return failed(l, errno);
			continue;
		}
		return failed(l, w < 0 ? error : EIO);
	}
	return LINK_OK;
}

link_status
link_read(link_state &l, void *data, size_t n, int64_t deadline_ms)
{
	unsigned char *p = static_cast<unsigned char *>(data);

	while (n > 0) {
		int ready = wait_for(l, POLLIN, deadline_ms);
		if (ready == 0)
			return idle(l);
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
		/* After a phone's CONNECT, the rest of its line end. */
		if (l.skip_line_ends) {
			ssize_t k = 0;
			while (k < got && (p[k] == '\r' || p[k] == '\n'))
				k++;
			if (k == got)
				continue;
			memmove(p, p + k, (size_t)(got - k));
			got -= k;
			l.skip_line_ends = false;
		}
		p += got;
		n -= (size_t)got;
	}
	return LINK_OK;
}

bool
link_stray(link_state &l)
{
	unsigned char drop[512];
	struct pollfd p = { l.fd, POLLIN, 0 };

	if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0)
		return false;
	/* The rest of a phone's CONNECT line end is no answer. */
	while (l.skip_line_ends) {
		if (read(l.fd, drop, 1) != 1)
			return false;
		if (drop[0] != '\r' && drop[0] != '\n')
			return true;
		if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0)
			return false;
	}
	/* A hang-up reads as nothing: the next step will say so. */
	return read(l.fd, drop, sizeof(drop)) > 0;
}

const char *
link_not_device(int fd)
{
	struct stat st;

	if (fstat(fd, &st) != 0)
		return nullptr; /* for link_open to say why */
	if (S_ISREG(st.st_mode))
		return "a regular file";
	if (S_ISDIR(st.st_mode))
		return "a directory";
	if (S_ISBLK(st.st_mode))
		return "a block device";
	return nullptr;
}
