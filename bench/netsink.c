/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The far ends of fmt-send's benchmark, on the loopback only:
 *
 *	netsink obex PORTFILE	an OBEX receiver that answers and discards
 *	netsink raw PORTFILE	a reader that discards whatever it gets
 *	netsink copy PORT	standard input, copied raw to 127.0.0.1:PORT
 *	netsink file PORTFILE OUT  a reader that stores what it gets in OUT,
 *				and flushes it and its directory to disk
 *
 * A receiver listens on 127.0.0.1 on a port of the kernel's choosing,
 * writes the port to PORTFILE once it listens, takes one connection and
 * ends when it does.  Every wait is bounded: a receiver that nobody calls
 * within 60 s, or that is still busy after 600 s, gives up.
 */
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static char buf[65536];

static void die(const char *what) __attribute__((noreturn));

static void
die(const char *what)
{
	perror(what);
	exit(1);
}

static int
read_full(int fd, char *p, size_t n)
{
	while (n > 0) {
		ssize_t got = read(fd, p, n);
		if (got <= 0)
			return 0;
		p += got;
		n -= (size_t)got;
	}
	return 1;
}

static void
write_full(int fd, const char *p, size_t n)
{
	while (n > 0) {
		ssize_t w = write(fd, p, n);
		if (w <= 0)
			die("write");
		p += w;
		n -= (size_t)w;
	}
}

/* Answers each request: CONNECT with the largest packet size. */
static void
obex(int fd)
{
	static const char connected[] = { (char)0xA0, 0, 7, 0x10, 0,
		(char)0xFF, (char)0xFF };
	static const char success[] = { (char)0xA0, 0, 3 };
	static const char more[] = { (char)0x90, 0, 3 };

	while (read_full(fd, buf, 3)) {
		size_t n = (size_t)(unsigned char)buf[1] << 8 |
		    (unsigned char)buf[2];
		if (n < 3 || !read_full(fd, buf + 3, n - 3))
			return;
		switch ((unsigned char)buf[0]) {
		case 0x80:
			write_full(fd, connected, sizeof(connected));
			break;
		case 0x02:
			write_full(fd, more, sizeof(more));
			break;
		default:
			write_full(fd, success, sizeof(success));
			break;
		}
	}
}

static void
raw(int fd)
{
	while (read(fd, buf, sizeof(buf)) > 0)
		;
}

/* As fmt-recv -d stores an object: the file, then its directory, synced. */
static void
store(int fd, const char *out)
{
	char dir[4096];
	ssize_t n;
	char *slash;
	int f = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0666);

	if (f < 0)
		die(out);
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		write_full(f, buf, (size_t)n);
	if (fsync(f) != 0 || close(f) != 0)
		die(out);
	snprintf(dir, sizeof(dir), "%s", out);
	slash = strrchr(dir, '/');
	if (slash != NULL)
		*slash = '\0';
	f = open(slash != NULL ? dir : ".", O_RDONLY);
	if (f < 0 || fsync(f) != 0)
		die(dir);
	close(f);
}

static void
copy(const char *port)
{
	struct sockaddr_in a;
	int fd = socket(AF_INET, SOCK_STREAM, 0);
	ssize_t n;

	memset(&a, 0, sizeof(a));
	a.sin_family = AF_INET;
	a.sin_port = htons((unsigned short)atoi(port));
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (fd < 0 || connect(fd, (struct sockaddr *)&a, sizeof(a)) != 0)
		die("connect");
	while ((n = read(0, buf, sizeof(buf))) > 0)
		write_full(fd, buf, (size_t)n);
	close(fd);
}

int
main(int argc, char *argv[])
{
	struct sockaddr_in a;
	socklen_t len = sizeof(a);
	struct pollfd p;
	FILE *f;
	int s, c, one = 1;

	if (argc != 3 && !(argc == 4 && strcmp(argv[1], "file") == 0)) {
		fprintf(stderr, "usage: netsink obex|raw PORTFILE | file "
				"PORTFILE OUT | copy PORT\n");
		return 2;
	}
	if (strcmp(argv[1], "copy") == 0) {
		copy(argv[2]);
		return 0;
	}
	alarm(600);
	memset(&a, 0, sizeof(a));
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	s = socket(AF_INET, SOCK_STREAM, 0);
	if (s < 0 || bind(s, (struct sockaddr *)&a, sizeof(a)) != 0 ||
	    listen(s, 1) != 0 || getsockname(s, (struct sockaddr *)&a, &len))
		die("listen");
	/* Whole or not at all, for a reader that waits for the file. */
	snprintf(buf, sizeof(buf), "%s.new", argv[2]);
	if ((f = fopen(buf, "w")) == NULL)
		die(buf);
	fprintf(f, "%u\n", ntohs(a.sin_port));
	if (fclose(f) != 0 || rename(buf, argv[2]) != 0)
		die(argv[2]);
	p.fd = s;
	p.events = POLLIN;
	if (poll(&p, 1, 60000) != 1 || (c = accept(s, NULL, NULL)) < 0)
		die("accept");
	setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
	if (strcmp(argv[1], "obex") == 0)
		obex(c);
	else if (strcmp(argv[1], "file") == 0)
		store(c, argv[3]);
	else
		raw(c);
	return 0;
}
