/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The device's side of a link, for the tests that play a receiver or a
 * phone against the built fmt-send: fmt-send started on a link the test
 * holds the other end of, whole OBEX requests read within a time limit,
 * answers written.
 */
#ifndef TESTS_DEVICE_H
#define TESTS_DEVICE_H

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "runner.h"

/* A packet: its code, its 16-bit length, what follows. */
std::string packet(int code, std::string_view contents = {});

/* A CONNECT answered with Success, OBEX 1.0, no flags, `mtu`. */
std::string connected(unsigned mtu, std::string_view headers = {});

/* A child running fmt-send, its standard error kept in a file. */
struct Child {
	pid_t pid;
	std::string err_path;
};

/*
 * fmt-send with these arguments, reading `input`, standard output null.
 * The signals a shell or a test harness may have left ignored or caught
 * are set back to their defaults, so that the program meets them as a
 * user's shell hands them over; `stderr_broken` makes standard error a
 * pipe that nobody reads.
 */
Child start_send(const std::vector<std::string> &args, const std::string &input,
    bool stderr_broken = false);

/* Its exit status and standard error; killed after 30 s, status 137. */
RunResult finish_send(const Child &c);

/*
 * Bytes from fd within 10 s: the whole of one request, or "" at the end;
 * `slow` reads it as a slow line would carry it.
 */
std::string read_request(int fd, bool slow = false);

void write_all(int fd, std::string_view bytes);

#endif
