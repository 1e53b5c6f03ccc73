/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Descriptor I/O that any descriptor a caller hands over survives: one
 * left non-blocking is waited for, and a call that a signal interrupts is
 * made again.
 */
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "fd.h"

/*
 * Whether to try again after a call on fd failed with errno: after a
 * signal at once, and on a non-blocking descriptor once it is ready.
 */
static bool
again(int fd, short event)
{
	if (errno == EINTR)
		return true;
	if (errno != EAGAIN && errno != EWOULDBLOCK)
		return false;
	struct pollfd p = { fd, event, 0 };
	while (poll(&p, 1, -1) < 0)
		if (errno != EINTR)
			return false;
	return true;
}

ssize_t
fd_read(int fd, void *buf, size_t count)
{
	ssize_t n;

	while ((n = read(fd, buf, count)) < 0)
		if (!again(fd, POLLIN))
			return -1;
	return n;
}

bool
fd_writev(int fd, struct iovec *iov, int n)
{
	while (n > 0 && iov->iov_len == 0) {
		iov++;
		n--;
	}
	while (n > 0) {
		ssize_t w = writev(fd, iov, n < IOV_MAX ? n : IOV_MAX);
		if (w < 0) {
			if (!again(fd, POLLOUT))
				return false;
			continue;
		}
		/* Nothing taken and no error: it would take nothing again. */
		if (w == 0) {
			errno = EIO;
			return false;
		}
		for (; n > 0 && (size_t)w >= iov->iov_len; iov++, n--)
			w -= (ssize_t)iov->iov_len;
		if (n > 0) {
			iov->iov_base = static_cast<char *>(iov->iov_base) + w;
			iov->iov_len -= (size_t)w;
		}
	}
	return true;
}

bool
fd_write(int fd, const void *data, size_t count)
{
	struct iovec iov = { const_cast<void *>(data), count };

	return fd_writev(fd, &iov, 1);
}
