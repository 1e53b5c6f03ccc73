/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Standard output, for callers who cannot choose how the descriptor they
 * were given behaves.
 *
 * Standard output is buffered here rather than by stdio: a caller may hand
 * over a descriptor that is non-blocking, and stdio takes the EAGAIN it
 * then gets for an error and loses what it held.  Here every write goes on
 * until all of it is taken, waiting while the descriptor is full and
 * trying again after a signal, and the first real error is kept with its
 * reason for proc_finish.
 */
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fd.h"
#include "objwrite.h"
#include "proc.h"

/* The first error that standard output reported, for proc_finish. */
static int out_errno;

/*
 * Large enough that a database streaming through in 503-byte headers costs
 * a system call only every 128 KiB.
 */
static unsigned char out_buffer[OUT_RESERVE_MAX];
static size_t out_held;

static void
out_failed()
{
	if (out_errno == 0)
		out_errno = errno != 0 ? errno : EIO;
}

bool
out_flush()
{
	if (out_held != 0 && out_errno == 0 &&
	    !fd_write(STDOUT_FILENO, out_buffer, out_held))
		out_failed();
	out_held = 0;
	return out_errno == 0;
}

int
out_error()
{
	return out_errno;
}

void
out_byte(int c)
{
	if (out_held == sizeof(out_buffer))
		out_flush();
	out_buffer[out_held++] = (unsigned char)c;
}

unsigned char *
out_reserve(size_t n)
{
	if (n > sizeof(out_buffer) - out_held)
		out_flush();
	unsigned char *p = out_buffer + out_held;
	out_held += n;
	return p;
}

void
out_bytes(const void *data, size_t count)
{
	const unsigned char *p = static_cast<const unsigned char *>(data);

	if (count <= sizeof(out_buffer) - out_held) {
		memcpy(out_buffer + out_held, p, count);
		out_held += count;
		return;
	}
	while (count > 0) {
		if (out_held == sizeof(out_buffer))
			out_flush();
		size_t k = sizeof(out_buffer) - out_held;
		if (k > count)
			k = count;
		memcpy(out_buffer + out_held, p, k);
		out_held += k;
		p += k;
		count -= k;
	}
}

void
out_printf(const char *fmt, ...)
{
	char line[1024];
	va_list ap;

	va_start(ap, fmt);
	int n = vsnprintf(line, sizeof(line), fmt, ap);
	va_end(ap);
	if (n < 0)
		return;
	if ((size_t)n < sizeof(line)) {
		out_bytes(line, (size_t)n);
		return;
	}
	/* Rare: a line longer than the one on the stack. */
	char *big = static_cast<char *>(malloc((size_t)n + 1));
	if (big == nullptr)
		proc_fatal("out of memory");
	va_start(ap, fmt);
	vsnprintf(big, (size_t)n + 1, fmt, ap);
	va_end(ap);
	out_bytes(big, (size_t)n);
	free(big);
}
