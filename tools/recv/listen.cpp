/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Where fmt-recv listens: the listening sockets, the next connection with
 * its peer's address, and the reads and writes of a link, each wait
 * bounded by the time allowed (or not at all, between connections on a
 * serial line) and cut short when the program is told to stop.
 */
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "recv.h"

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0 /* where SIGPIPE cannot be turned off per call */
#endif

/* An address and port as text: 127.0.0.1:650, [::1]:650. */
static void
address_text(const struct sockaddr *sa, socklen_t len, char *out, size_t n)
{
	char host[NI_MAXHOST], port[NI_MAXSERV];

	if (getnameinfo(sa, len, host, sizeof(host), port, sizeof(port),
		NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
		snprintf(out, n, "unknown peer");
		return;
	}
	if (sa->sa_family == AF_INET6)
		snprintf(out, n, "[%s]:%s", host, port);
	else
		snprintf(out, n, "%s:%s", host, port);
}

static bool
tcp_listen(const link_dest &s, recv_listener &l, char *why, size_t n)
{
	struct addrinfo hints = {}, *list;

	hints.ai_family = AF_UNSPEC;
	hints.ai_socktype = SOCK_STREAM;
	hints.ai_flags = AI_PASSIVE;
	int rc = getaddrinfo(s.host, s.port, &hints, &list);
	if (rc != 0) {
		snprintf(why, n, "%s",
		    rc == EAI_SYSTEM ? strerror(errno) : gai_strerror(rc));
		return false;
	}
	bool has_v4 = false;
	for (struct addrinfo *a = list; a != nullptr; a = a->ai_next)
		has_v4 |= a->ai_family == AF_INET;
	int error = 0;
	size_t k = 0;
	l.where[0] = '\0';
	for (struct addrinfo *a = list;
	     a != nullptr && l.count < RECV_LISTEN_MAX; a = a->ai_next) {
		int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC,
		    a->ai_protocol);
		int one = 1;
		if (fd >= 0)
			setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one,
			    sizeof(one));
		/* Both families of one name: each on its own socket. */
		if (fd >= 0 && a->ai_family == AF_INET6 && has_v4)
			setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one,
			    sizeof(one));
		if (fd < 0 || bind(fd, a->ai_addr, a->ai_addrlen) != 0 ||
		    listen(fd, 4) != 0) {
			error = errno;
			if (fd >= 0)
				close(fd);
			continue;
		}
		l.fds[l.count++] = fd;
		struct sockaddr_storage ss;
		socklen_t len = sizeof(ss);
		char text[80];
		if (getsockname(fd, (struct sockaddr *)&ss, &len) == 0) {
			address_text((struct sockaddr *)&ss, len, text,
			    sizeof(text));
			int w = snprintf(l.where + k, sizeof(l.where) - k,
			    "%s%s", k > 0 ? ", " : "", text);
			if (w > 0 && (size_t)w < sizeof(l.where) - k)
				k += (size_t)w;
		}
	}
	freeaddrinfo(list);
	if (l.count == 0) {
		snprintf(why, n, "%s", strerror(error));
		return false;
	}
	return true;
}

bool
recv_listen(const link_dest &s, recv_listener &l, char *why, size_t n)
{
	l.count = 0;
	l.channel = 0;
	l.record = 0;
	l.sdp = nullptr;
	l.sdp_record = nullptr;
	l.warning[0] = '\0';
	if (s.kind == LINK_BT)
		return recv_bt_listen(s, l, why, n);
	return tcp_listen(s, l, why, n);
}

int
recv_accept(recv_listener &l, int stop_fd, char *peer, size_t peer_size,
    char *why, size_t n)
{
	struct pollfd p[RECV_LISTEN_MAX + 1];

	why[0] = '\0';
	for (;;) {
		int k = 0;
		for (; k < l.count; k++)
			p[k] = { l.fds[k], POLLIN, 0 };
		p[k++] = { stop_fd, POLLIN, 0 };
		if (poll(p, (nfds_t)k, -1) < 0) {
			if (errno == EINTR)
				continue;
			snprintf(why, n, "%s", strerror(errno));
			return -1;
		}
		if (p[k - 1].revents != 0)
			return -1;
		for (int i = 0; i < l.count; i++) {
			if (p[i].revents == 0)
				continue;
			struct sockaddr_storage ss;
			socklen_t len = sizeof(ss);
			int fd = accept(l.fds[i], (struct sockaddr *)&ss, &len);
			if (fd < 0) {
				/* Gone before we took it, or out of files. */
				if (errno == ECONNABORTED || errno == EINTR ||
				    errno == EAGAIN || errno == EWOULDBLOCK)
					continue;
				snprintf(why, n, "%s", strerror(errno));
				return -1;
			}
			fcntl(fd, F_SETFD, FD_CLOEXEC);
			int flags = fcntl(fd, F_GETFL);
			fcntl(fd, F_SETFL, flags | O_NONBLOCK);
			if (ss.ss_family == AF_INET ||
			    ss.ss_family == AF_INET6) {
				int one = 1;
				setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one,
				    sizeof(one));
				address_text((struct sockaddr *)&ss, len, peer,
				    peer_size);
			} else {
				recv_bt_peer(&ss, peer, peer_size);
			}
			return fd;
		}
	}
}

void
recv_unlisten(recv_listener &l)
{
	recv_bt_unlisten(l);
	for (int i = 0; i < l.count; i++)
		close(l.fds[i]);
	l.count = 0;
}

/* ---- a descriptor's link ---- */

void
recv_fd_link_init(recv_fd_link &l, int fd, int stop_fd)
{
	struct stat st;

	l.fd = fd;
	l.stop_fd = stop_fd;
	l.is_socket = fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

/*
 * Waits for fd to be ready for `events` within timeout_ms (-1: no
 * limit): 1, or a RECV_IO_* code.
 */
static int
wait_for(const recv_fd_link &l, short events, int timeout_ms)
{
	int64_t deadline = link_now_ms() + timeout_ms;

	for (;;) {
		struct pollfd p[2] = { { l.fd, events, 0 },
			{ l.stop_fd, POLLIN, 0 } };
		int left = timeout_ms;
		if (timeout_ms >= 0) {
			int64_t ms = deadline - link_now_ms();
			left = ms > 0 ? (int)ms : 0;
		}
		int got = poll(p, l.stop_fd >= 0 ? 2 : 1, left);
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0)
			return RECV_IO_ERROR;
		if (l.stop_fd >= 0 && p[1].revents != 0)
			return RECV_IO_STOP;
		if (got == 0)
			return RECV_IO_TIMEOUT;
		return 1;
	}
}

static ssize_t
fd_link_read(void *context, void *buf, size_t n, int timeout_ms)
{
	recv_fd_link &l = *static_cast<recv_fd_link *>(context);

	for (;;) {
		int ready = wait_for(l, POLLIN, timeout_ms);
		if (ready != 1)
			return ready;
		ssize_t got = read(l.fd, buf, n);
		if (got >= 0)
			return got;
		if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
			return RECV_IO_ERROR;
	}
}

/* A sender that takes nothing for the time allowed has gone. */
static bool
fd_link_write(void *context, const void *buf, size_t n, int timeout_ms)
{
	recv_fd_link &l = *static_cast<recv_fd_link *>(context);
	const char *p = static_cast<const char *>(buf);

	while (n > 0) {
		ssize_t w = l.is_socket
		    ? send(l.fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT)
		    : write(l.fd, p, n);
		if (w > 0) {
			p += w;
			n -= (size_t)w;
			continue;
		}
		if (w < 0 && errno == EINTR)
			continue;
		if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
			int ready = wait_for(l, POLLOUT, timeout_ms);
			if (ready == 1)
				continue;
			errno = ready == RECV_IO_TIMEOUT ? ETIMEDOUT : EINTR;
			return false;
		}
		if (w == 0)
			errno = EIO;
		return false;
	}
	return true;
}

recv_io
recv_fd_io(recv_fd_link &l)
{
	return { fd_link_read, fd_link_write, &l };
}
