/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-recv: takes the objects a device pushes over OBEX, one connection
 * at a time, and writes each, once it is whole, to standard output as the
 * fmt-* programs write objects, or stores its payload as a file in a
 * directory.  The sender is told Success only once the object is safe.
 *
 * SIGINT and SIGTERM end the run cleanly: the object under way is given
 * up and its temporary file removed.  A byte on a pipe of our own tells
 * every wait, so that no signal can fall between a check and a wait.
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "objwrite.h"
#include "proc.h"
#include "recv.h"

static const int WAIT_SECONDS = 60;
static const int WAIT_MAX = 86400;
static const uint64_t SIZE_DEFAULT = 64 * 1024 * 1024;

static int stop_pipe[2] = { -1, -1 };

static void
on_stop(int)
{
	int saved = errno;
	if (write(stop_pipe[1], "", 1) < 0) {
		/* Full already: the news is there. */
	}
	errno = saved;
}

static void
say(const char *peer, const char *text)
{
	fprintf(stderr, "%s: %s: %s\n", proc_name(), peer, text);
}

/* A size in bytes, with an optional k, M or G (1024-based). */
static bool
size_parse(const char *text, uint64_t &value)
{
	if (*text < '0' || *text > '9')
		return false;
	char *end;
	errno = 0;
	unsigned long long v = strtoull(text, &end, 10);
	int shift = 0;
	if (*end == 'k' || *end == 'K')
		shift = 10;
	else if (*end == 'm' || *end == 'M')
		shift = 20;
	else if (*end == 'g' || *end == 'G')
		shift = 30;
	if (shift != 0)
		end++;
	if (*end != '\0' || errno != 0 || v > (UINT64_MAX >> shift))
		return false;
	value = (uint64_t)v << shift;
	return true;
}

/* Whether descriptors a and b are the same open file. */
static bool
same_file(int a, int b)
{
	struct stat sa, sb;
	return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 &&
	    sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int
main(int argc, char *argv[])
{
	const char *count_arg = nullptr, *dir = nullptr, *size_arg = nullptr,
		   *wait_arg = nullptr;
	bool verbose = false, help = false, misuse = false;
	int ch;

	proc_start(argc, argv, "fmt-recv");
	while ((ch = getopt(argc, argv, PROC_OPTIONS("vc:d:m:w:h"))) != -1) {
		switch (ch) {
		case 'v':
			verbose = true;
			break;
		case 'c':
			count_arg = optarg;
			break;
		case 'd':
			dir = optarg;
			break;
		case 'm':
			size_arg = optarg;
			break;
		case 'w':
			wait_arg = optarg;
			break;
		case 'h':
			help = true;
			break;
		default:
			misuse = true;
			break;
		}
	}
	if (help || misuse || argc - optind != 1)
		proc_usage("Receive OBEX objects from a device, to stdout or a "
			   "directory",
		    "[-v] [-c count] [-d dir] [-m size] [-w seconds] source",
		    help && !misuse ? 0 : 1);

	long count = 0, wait = WAIT_SECONDS;
	uint64_t size = SIZE_DEFAULT;
	if (count_arg != nullptr && !link_number(count_arg, 1, LONG_MAX, count))
		proc_fatal("bad count `%s': not a number from 1",
		    proc_shown(count_arg));
	if (size_arg != nullptr && !size_parse(size_arg, size))
		proc_fatal("bad size `%s': not a number of bytes (k, M or G "
			   "after it for 1024, 1024^2, 1024^3)",
		    proc_shown(size_arg));
	if (wait_arg != nullptr && !link_number(wait_arg, 1, WAIT_MAX, wait))
		proc_fatal("bad time-out `%s': not 1 to %d seconds",
		    proc_shown(wait_arg), WAIT_MAX);
	const char *source_arg = argv[optind];
	link_dest source;
	char why[256];
	if (!link_parse_source(source_arg, source, why, sizeof(why)))
		proc_fatal("bad source `%s': %s", proc_shown(source_arg), why);

	/* A sender that hangs up, or a file past its limit, is no signal. */
	signal(SIGPIPE, SIG_IGN);
	signal(SIGXFSZ, SIG_IGN);
	if (pipe(stop_pipe) != 0)
		proc_fatal("cannot make a pipe: %s", strerror(errno));
	for (int fd : stop_pipe) {
		fcntl(fd, F_SETFD, FD_CLOEXEC);
		fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
	}
	struct sigaction sa = {};
	sa.sa_handler = on_stop;
	sigemptyset(&sa.sa_mask);
	sigaction(SIGINT, &sa, nullptr);
	sigaction(SIGTERM, &sa, nullptr);

	int link_fd = -1;
	if (source.kind == LINK_FD) {
		link_fd = link_fd_check(source.fd, why, sizeof(why));
		if (link_fd < 0)
			proc_fatal("cannot use `%s': %s",
			    proc_shown(source_arg), why);
	}
	/*
	 * Started by inetd, standard output and error may be the
	 * connection itself: nothing but OBEX may go there.
	 */
	bool out_is_link = link_fd >= 0 && same_file(link_fd, STDOUT_FILENO);
	if (out_is_link && dir == nullptr)
		proc_fatal("standard output is the connection `%s': give -d "
			   "DIR",
		    proc_shown(source_arg));
	if (link_fd >= 0 && same_file(link_fd, STDERR_FILENO)) {
		int null = open("/dev/null", O_WRONLY);
		if (null >= 0)
			dup2(null, STDERR_FILENO);
	}

	static recv_dir_store dir_store;
	static recv_stdout_store out_store;
	recv_store store;
	if (dir != nullptr) {
		if (!recv_dir_store_open(dir_store, dir, why, sizeof(why)))
			proc_fatal("cannot open `%s': %s", proc_shown(dir),
			    why);
		dir_store.quiet = out_is_link;
		store = recv_dir_store_init(dir_store);
	} else {
		const char *tmp = getenv("TMPDIR");
		store = recv_stdout_store_init(out_store,
		    tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
	}

	static recv_listener listener;
	if (source.kind == LINK_TCP || source.kind == LINK_BT) {
		if (!recv_listen(source, listener, why, sizeof(why)))
			proc_fatal("cannot listen on `%s': %s",
			    proc_shown(source_arg), why);
		if (listener.warning[0] != '\0')
			fprintf(stderr, "%s: %s\n", proc_name(),
			    listener.warning);
		if (verbose)
			fprintf(stderr, "%s: listening on %s\n", proc_name(),
			    listener.where);
	} else if (source.kind == LINK_TTY) {
		link_fd = link_tty_open(source.path, why, sizeof(why));
		if (link_fd < 0)
			proc_fatal("cannot open `%s': %s",
			    proc_shown(source.path), why);
	}

	static recv_session s;
	uint64_t received = 0, numbered = 0;
	char peer[160];
	int status = 0;
	for (;;) {
		int fd = link_fd;
		if (source.kind == LINK_TCP || source.kind == LINK_BT) {
			fd = recv_accept(listener, stop_pipe[0], peer,
			    sizeof(peer), why, sizeof(why));
			if (fd < 0) {
				if (why[0] != '\0') {
					fprintf(stderr, "%s: %s\n", proc_name(),
					    why);
					status = 1;
				}
				break;
			}
		} else if (source.kind == LINK_FD) {
			snprintf(peer, sizeof(peer), "%s", source_arg);
		} else {
			snprintf(peer, sizeof(peer), "%s", source.path);
		}
		static recv_fd_link link;
		recv_fd_link_init(link, fd, stop_pipe[0]);
		recv_session_init(s, recv_fd_io(link), store, peer);
		s.timeout_ms = (int)wait * 1000;
		s.idle_unbounded = source.kind == LINK_TTY;
		s.max_size = size;
		s.limit = (uint64_t)count;
		s.received = &received;
		s.numbered = &numbered;
		s.verbose = verbose;
		s.say = say;
		recv_end end = recv_serve(s);
		if (source.kind == LINK_TCP || source.kind == LINK_BT)
			close(fd);
		if (end == RECV_FATAL)
			status = 1;
		if (end == RECV_FATAL || end == RECV_STOPPED ||
		    end == RECV_COUNT || source.kind == LINK_FD)
			break;
		/* A serial line that hung up or failed has nothing more. */
		if (source.kind == LINK_TTY && s.link_ended)
			break;
	}
	recv_unlisten(listener);
	if (!out_flush() && status == 0) {
		fprintf(stderr, "%s: cannot write to standard output: %s\n",
		    proc_name(), strerror(out_error()));
		status = 1;
	}
	return status;
}
