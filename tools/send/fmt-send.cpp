/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-send: carries objects, as the fmt-* programs write them, to a device
 * over OBEX: one PUT per object, in one connection, as they arrive on
 * standard input or from a file.
 *
 * The input is checked by the same reader as fmt-dump's before any of it
 * goes out, and is read only as fast as the device takes it, so memory
 * stays flat whatever the size of the objects.  The first header is read
 * before the device is called: a malformed or empty input never bothers
 * it.
 */
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client.h"
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
	if (!done && (!progress_tty || now - progress_last_ms < 100))
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

int
main(int argc, char *argv[])
{
	const char *size_arg = nullptr, *wait_arg = nullptr;
	bool verbose = false, help = false, misuse = false;
	int ch;

	proc_start(argc, argv, "fmt-send");
	while ((ch = getopt(argc, argv, PROC_OPTIONS("vm:w:h"))) != -1) {
		switch (ch) {
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
		    "[-v] [-m size] [-w seconds] destination [file]",
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

	/* A device that hangs up must not end the program unheard. */
	signal(SIGPIPE, SIG_IGN);

	objread_event first = objread_next(r, OBEX_PACKET_MAX);
	if (first == OBJREAD_FAULT || first == OBJREAD_ERROR) {
		warn("%s", objread_why(r));
		return 1;
	}

	static link_state link;
	if (!link_open(link, dest, (int)wait * 1000, why, sizeof(why)))
		proc_fatal("cannot connect to `%s': %s", proc_shown(dest_arg),
		    why);
	static client c;
	client_init(c, link, (unsigned)size);
	progress_tty = isatty(STDERR_FILENO);
	if (verbose || progress_tty)
		c.progress = show_progress;
	if (!client_connect(c))
		proc_fatal("%s", c.why);

	client_result result = client_put_objects(c, r, first);
	client_disconnect(c);
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
