/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-send: carries objects, as the fmt-* programs write them, to a device
 * over OBEX: one PUT per object, in one connection, as they arrive on
 * standard input or from a file.
 *
 * The input is checked by the same reader as fmt-dump's before any of it
 * goes out, and is read only as fast as the device takes it, so memory
 * stays flat whatever the size of the objects.  The first object is
 * checked as far as its first packet before the device is called: a
 * malformed or empty input never bothers it.
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client.h"
#include "fd.h"
#include "link.h"
#include "objread.h"
#include "proc.h"

/* A phone asks its user before it takes an object. */
static const int WAIT_SECONDS = 60;
static const int WAIT_MAX = 86400;

/* Progress on standard error: where it goes and what is on screen. */
static bool progress_tty;
static bool progress_open; /* a line in place that has no line end yet */
static size_t progress_width;
static int64_t progress_last_ms;

/*
 * Elsewhere (a log, a pipe) a line goes out every few seconds, and as each
 * tenth of an object's Length has gone, so that a long transfer shows it
 * is alive without a line for every packet.
 */
static const int64_t PROGRESS_EVERY_MS = 5000;
static uint64_t progress_object; /* the object that the marks are for */
static uint64_t progress_mark; /* bytes at which the next line is due */

/* Whether a line is due now for an object that is not yet done. */
static bool
progress_due(const client_object &o, int64_t now)
{
	if (progress_tty)
		return now - progress_last_ms >= 100;
	if (o.number != progress_object) {
		progress_object = o.number;
		progress_last_ms = o.begun_ms;
		progress_mark = o.has_total ? o.total / 10 : 0;
	}
	uint64_t step = o.has_total ? o.total / 10 : 0;
	bool due = now - progress_last_ms >= PROGRESS_EVERY_MS ||
	    (step > 0 && o.sent >= progress_mark);
	if (due && step > 0)
		progress_mark = (o.sent / step + 1) * step;
	return due;
}

/* A rate in the largest unit that keeps it above 1. */
static void
show_rate(char *text, size_t n, double per_second)
{
	if (per_second >= 1024 * 1024)
		snprintf(text, n, "%.1f MiB/s", per_second / (1024 * 1024));
	else if (per_second >= 1024)
		snprintf(text, n, "%.1f KiB/s", per_second / 1024);
	else
		snprintf(text, n, "%.0f B/s", per_second);
}

static void
show_progress(const client_object &o, bool done)
{
	int64_t now = link_now_ms();

	/* In place on a terminal, ten times a second at most. */
	if (!done && !progress_due(o, now))
		return;
	progress_last_ms = now;

	char total[48], rate[32], line[256];
	total[0] = '\0';
	if (o.has_total)
		snprintf(total, sizeof(total), " of %" PRIu64, o.total);
	int64_t ms = now - o.begun_ms;
	show_rate(rate, sizeof(rate),
	    (double)o.sent * 1000 / (double)(ms > 0 ? ms : 1));
	int k = snprintf(line, sizeof(line), "%s: %" PRIu64 "%s byte%s, %s",
	    client_object_name(o, false), o.sent, total,
	    (o.has_total ? o.total : o.sent) == 1 ? "" : "s", rate);
	size_t width = k < 0 ? 0 : (size_t)k;
	if (width >= sizeof(line))
		width = sizeof(line) - 1;
	if (progress_tty) {
		/* Spaces over what is left of a longer line before. */
		fprintf(stderr, "\r%s%*s", line,
		    (int)(progress_width > width ? progress_width - width : 0),
		    "");
		progress_width = width;
		progress_open = !done;
		if (done) {
			fputc('\n', stderr);
			progress_width = 0;
		}
	} else {
		fprintf(stderr, "%s\n", line);
	}
}

/* -v: the headers added to an object, on a line before its progress. */
static void
show_added(const client_object &o)
{
	if (progress_open) {
		fputc('\n', stderr);
		progress_open = false;
	}
	fprintf(stderr, "%s: added", client_object_name(o, false));
	if (o.added_type != nullptr)
		fprintf(stderr, " Type %s%s", o.added_type,
		    o.added_length ? " and" : "");
	if (o.added_length)
		fprintf(stderr, " Length %" PRIu64, o.total);
	fputc('\n', stderr);
}

/* A message on standard error, after any progress line in place. */
static void warn(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

static void
warn(const char *fmt, ...)
{
	va_list ap;

	if (progress_open) {
		fputc('\n', stderr);
		progress_open = false;
	}
	fprintf(stderr, "%s: ", proc_name());
	va_start(ap, fmt);
	vfprintf(stderr, fmt, ap);
	va_end(ap);
	fputc('\n', stderr);
}

/*
 * The input, with the start of it read ahead: before the device is
 * called, the first object's headers and as much of its payload as its
 * first packet can carry are read and checked, so that a cut object, a
 * wrong Length or a stray Body header never makes a phone ask its user
 * for anything.  The reader then reads it all again from the start, from
 * what was read ahead and then from the descriptor.
 */
struct input {
	int fd;
	bool checking; /* reading ahead, not yet sending */
	bool full; /* the read-ahead ran out of room */
	bool eof;
	size_t held; /* bytes read ahead */
	size_t given; /* of them, handed to the reader */
	/* The largest header, a data header's framing and a packet of data. */
	unsigned char ahead[2 * OBEX_PACKET_MAX + 64];
};

static ssize_t
input_read(void *context, void *buf, size_t count)
{
	input &in = *static_cast<input *>(context);

	if (in.given == in.held && in.checking && !in.eof) {
		if (in.held == sizeof(in.ahead)) {
			in.full = true;
			errno = ENOBUFS;
			return -1;
		}
		ssize_t got = fd_read(in.fd, in.ahead + in.held,
		    sizeof(in.ahead) - in.held);
		if (got < 0)
			return -1;
		in.eof = got == 0;
		in.held += (size_t)got;
	}
	if (in.given < in.held) {
		size_t n = in.held - in.given;
		if (n > count)
			n = count;
		memcpy(buf, in.ahead + in.given, n);
		in.given += n;
		return (ssize_t)n;
	}
	if (in.eof)
		return 0;
	/* A signal while the input keeps us waiting ends the transfer. */
	return link_wait_input(in.fd) ? fd_read(in.fd, buf, count) : -1;
}

/* The reader set to read through `in` from the start of the input. */
static void
input_restart(objread &r, input &in)
{
	const char *path = r.path;

	in.given = 0;
	objread_init_source(r, input_read, &in);
	r.path = path;
}

/*
 * Reads ahead and checks the first object as far as its first packet:
 * false when it is malformed or the input fails.  The reader is then set
 * back to the start of the input.
 */
static bool
input_check(objread &r, input &in)
{
	objread_event event;

	in.checking = true;
	input_restart(r, in);
	do
		event = objread_next(r, OBEX_PACKET_MAX);
	while (event == OBJREAD_HEADER ||
	    (event == OBJREAD_DATA && r.payload < OBEX_PACKET_MAX));
	if (event == OBJREAD_FAULT || (event == OBJREAD_ERROR && !in.full))
		return false;
	in.checking = false;
	input_restart(r, in);
	return true;
}

/*
 * The end after a signal: what was delivered, the line given back, and
 * then death by the same signal, so that the shell that started us knows
 * (a script's loop stops at an interrupt as it would for the shell's own
 * commands).
 */
[[noreturn]] static void
interrupted(const client &c)
{
	int sig = link_signal();

	if (c.object.started)
		warn("interrupted by %s during %s", link_signal_name(sig),
		    client_object_name(c.object, true));
	else
		warn("interrupted by %s", link_signal_name(sig));
	if (c.aborted)
		warn("%s was aborted", client_object_name(c.object, true));
	if (c.delivered == 0)
		warn("no object was delivered");
	else
		warn("%" PRIu64 " object%s delivered before the interruption",
		    c.delivered, c.delivered == 1 ? " was" : "s were");
	link_restore_line();
	signal(sig, SIG_DFL);
	raise(sig);
	_exit(1); /* not reached: the signal is not blocked */
}

int
main(int argc, char *argv[])
{
	const char *size_arg = nullptr, *wait_arg = nullptr;
	bool raw = false, verbose = false, help = false, misuse = false;
	int ch;

	/*
	 * A device that hangs up, or a standard error that nobody reads,
	 * must not end the program unheard or with the wrong status.
	 */
	signal(SIGPIPE, SIG_IGN);
	proc_start(argc, argv, "fmt-send");
	while ((ch = getopt(argc, argv, PROC_OPTIONS("rvm:w:h"))) != -1) {
		switch (ch) {
		case 'r':
			raw = true;
			break;
		case 'v':
			verbose = true;
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
	int operands = argc - optind;
	if (help || misuse || operands < 1 || operands > 2)
		proc_usage("Send OBEX objects from stdin or file to a device",
		    "[-rv] [-m size] [-w seconds] destination [file]",
		    help && !misuse ? 0 : 1);

	long size = OBEX_PACKET_MAX, wait = WAIT_SECONDS;
	if (size_arg != nullptr &&
	    !link_number(size_arg, OBEX_PACKET_MIN, OBEX_PACKET_MAX, size))
		proc_fatal("bad packet size `%s': not %u to %u",
		    proc_shown(size_arg), OBEX_PACKET_MIN, OBEX_PACKET_MAX);
	if (wait_arg != nullptr && !link_number(wait_arg, 1, WAIT_MAX, wait))
		proc_fatal("bad time-out `%s': not 1 to %d seconds",
		    proc_shown(wait_arg), WAIT_MAX);
	const char *dest_arg = argv[optind];
	link_dest dest;
	char why[256];
	if (!link_parse(dest_arg, dest, why, sizeof(why)))
		proc_fatal("bad destination `%s': %s", proc_shown(dest_arg),
		    why);

	static objread r;
	objread_open(r, operands == 2 ? argv[optind + 1] : nullptr);
	static input input;
	input.fd = (int)(intptr_t)r.context; /* the descriptor it reads */

	/* A CONNECT written into a file would overwrite its start. */
	const char *kind;
	if (dest.kind == LINK_FD &&
	    (kind = link_not_device(dest.fd)) != nullptr)
		proc_fatal("%s is %s, not a device", proc_shown(dest_arg),
		    kind);

	if (!input_check(r, input)) {
		warn("%s", objread_why(r));
		return 1;
	}
	objread_event first = objread_next(r, OBEX_PACKET_MAX);

	static link_state link;
	if (!link_open(link, dest, (int)wait * 1000, why, sizeof(why)))
		proc_fatal("cannot connect to `%s': %s", proc_shown(dest_arg),
		    why);
	/* Requests written into the input, answers read from it: never. */
	struct stat in_st, fd_st;
	if (fstat(input.fd, &in_st) == 0 && fstat(link.fd, &fd_st) == 0 &&
	    in_st.st_dev == fd_st.st_dev && in_st.st_ino == fd_st.st_ino)
		proc_fatal("%s is the input itself", proc_shown(dest_arg));
	link_catch_signals();
	static client c;
	client_init(c, link, (unsigned)size);
	progress_tty = isatty(STDERR_FILENO);
	if (verbose || progress_tty)
		c.progress = show_progress;
	if (verbose)
		c.added = show_added;
	c.raw = raw;
	client_result result = CLIENT_LINK;
	if (client_connect(c))
		result = client_put_objects(c, r, first);
	else if (link_signal() == 0)
		proc_fatal("%s", c.why);
	client_disconnect(c);
	if (link_signal() != 0)
		interrupted(c);
	if (result == CLIENT_OK)
		return 0;
	if (result == CLIENT_INPUT)
		warn("%s", objread_why(r));
	else
		warn("%s", c.why);
	if (c.aborted)
		warn("%s was aborted", client_object_name(c.object, true));
	if (c.delivered != 0)
		warn("%" PRIu64 " object%s delivered before the failure",
		    c.delivered, c.delivered == 1 ? " was" : "s were");
	return 1;
}
