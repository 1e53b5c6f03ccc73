/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Descriptor I/O: read(2), writev(2) and write(2) for descriptors the
 * caller may have left non-blocking.  A call interrupted by a signal is
 * made again, and one that would block waits until the descriptor is
 * ready.  fd_read returns what read returns; fd_writev and fd_write write
 * everything or return false with errno set.  fd_writev moves the vector
 * on as it goes.
 */
#ifndef FD_H
#define FD_H

#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>

ssize_t fd_read(int fd, void *buf, size_t count);
bool fd_writev(int fd, struct iovec *iov, int n);
bool fd_write(int fd, const void *data, size_t count);

#endif
