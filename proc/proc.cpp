/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The process helpers: what every program does around its object.  The
 * name for messages, the usage text, fatal errors and the final check
 * that standard output really received the object.
 */
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "objwrite.h"
#include "proc.h"

static const char *progname = "";

void
proc_start(int argc, char *argv[], const char *own_name)
{
	/*
	 * A process may be started with no argument vector at all (or, on
	 * kernels that patch that up, with an empty argv[0]); messages then
	 * carry the program's own name.
	 */
	if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') {
		progname = argv[0];
		return;
	}
	progname = own_name;
	/*
	 * getopt's own diagnostics name argv[0] (glibc, musl) or the name
	 * that the C library took from it at start-up (the BSDs); they must
	 * not begin with a bare ": ".
	 */
	if (argc > 0)
		argv[0] = const_cast<char *>(own_name);
#if defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__) ||     \
    defined(__DragonFly__) || defined(__APPLE__)
	setprogname(own_name);
#endif
}

const char *
proc_name()
{
	return progname;
}

const char *
proc_shown(const char *text)
{
	static char shown[4 * 4096 + 1];
	size_t k = 0;
	int follow = 0; /* continuation bytes of a UTF-8 character to come */

	/* Room for two escapes and the NUL; a longer text is cut. */
	for (const unsigned char *p = (const unsigned char *)text;
	     *p != '\0' && k + 9 <= sizeof(shown); p++) {
		unsigned c = *p;
		/*
		 * Control bytes act on the terminal: those of ASCII, and the
		 * C1 controls (0x80 to 0x9F), raw on a terminal that takes
		 * bytes as Latin-1, or as C2 80 to C2 9F on one that takes
		 * UTF-8.  The continuation bytes of other UTF-8 characters
		 * are text.
		 */
		bool control = c < 0x20 || c == 0x7F ||
		    (c >= 0x80 && c <= 0x9F && follow == 0) ||
		    (c == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F);
		if (c >= 0x80 && c <= 0xBF)
			follow = follow > 0 ? follow - 1 : 0;
		else
			follow = c >= 0xF0 && c <= 0xF4 ? 3
			    : c >= 0xE0 && c <= 0xEF    ? 2
			    : c >= 0xC2 && c <= 0xDF    ? 1
							: 0;
		if (!control) {
			shown[k++] = (char)c;
			continue;
		}
		shown[k++] = '\\';
		switch (c) {
		case '\n':
			shown[k++] = 'n';
			break;
		case '\r':
			shown[k++] = 'r';
			break;
		case '\t':
			shown[k++] = 't';
			break;
		default:
			shown[k++] = 'x';
			shown[k++] = "0123456789ABCDEF"[c >> 4];
			shown[k++] = "0123456789ABCDEF"[c & 0xF];
			break;
		}
		if (c == 0xC2) {
			/* Its C1 control, escaped with it. */
			c = *++p;
			follow = 0;
			shown[k++] = '\\';
			shown[k++] = 'x';
			shown[k++] = "0123456789ABCDEF"[c >> 4];
			shown[k++] = "0123456789ABCDEF"[c & 0xF];
		}
	}
	shown[k] = '\0';
	return shown;
}

int
proc_namelen(const char *name)
{
	return (int)strnlen(name, PROC_NAME_MAX);
}

void
proc_usage(const char *description, const char *usage, int status)
{
	fprintf(stderr, "%s\nUsage: %s %s\n", description, progname, usage);
	exit(status);
}

void
proc_fatal(const char *fmt, ...)
{
	va_list ap;

	fprintf(stderr, "%s: ", progname);
	va_start(ap, fmt);
	vfprintf(stderr, fmt, ap);
	va_end(ap);
	fputc('\n', stderr);
	exit(1);
}

/*
 * A program returns this from main rather than calling exit itself: the
 * C library's start-up code makes that call, so no program has to look up
 * exit when it starts.
 */
int
proc_finish()
{
	if (!out_flush())
		proc_fatal("cannot write to standard output: %s",
		    strerror(out_error()));
	return 0;
}
