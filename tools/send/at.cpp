/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * A phone on its data cable (USB ACM or a serial line) takes AT commands
 * until it is told to carry OBEX: AT+CPROT=0 is the standard command, and
 * Sony Ericsson's phones, which answer ERROR to it, take AT*EOBEX.  Either
 * answers CONNECT, and from then on the line carries OBEX as it is; the
 * phone leaves that mode by itself after DISCONNECT.
 *
 * The phone's answer to each command is a line: blank lines around it and
 * the command itself, echoed while the phone's echo is on, are passed over.
 */
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "objstream.h"
#include "send.h"

enum link_status { LINK_OK, LINK_TIMEOUT, LINK_HUNG_UP, LINK_FAILED };
struct link_state {
	int fd;
	int timeout_ms;
	int error;
};

static link_status
link_read(link_state &l, char *c, size_t, int64_t deadline)
{
	for (;;) {
		int64_t left = deadline - send_now_ms();
		struct pollfd p = { l.fd, POLLIN, 0 };
		int ready = poll(&p, 1, left > 0 ? (int)left : 0);
		if (ready < 0 && errno == EINTR)
			continue;
		if (ready == 0)
			return LINK_TIMEOUT;
		ssize_t got = ready < 0 ? -1 : read(l.fd, c, 1);
		if (got == 1)
			return LINK_OK;
		if (got == 0)
			return LINK_HUNG_UP;
		if (errno == EINTR || errno == EAGAIN)
			continue;
		l.error = errno;
		return LINK_FAILED;
	}
}

static link_status
link_write(link_state &l, const char *p, size_t n)
{
	while (n > 0) {
		ssize_t w = write(l.fd, p, n);
		if (w > 0) {
			p += w;
			n -= (size_t)w;
		} else if (w < 0 && (errno == EINTR || errno == EAGAIN)) {
			struct pollfd pf = { l.fd, POLLOUT, 0 };
			if (poll(&pf, 1, l.timeout_ms) == 0)
				return LINK_TIMEOUT;
		} else {
			l.error = w < 0 ? errno : EIO;
			return LINK_FAILED;
		}
	}
	return LINK_OK;
}

/* The commands, in the order they are tried. */
static const char *const at_commands[] = { "AT+CPROT=0", "AT*EOBEX" };

/* Room for an answer; a longer one is cut, and is no CONNECT anyway. */
static const size_t AT_LINE_MAX = 128;

/*
 * The answer to `command` into line, read before the deadline: the first
 * line that is neither blank nor the command's echo.
 */
static link_status
at_answer(link_state &l, const char *command, char *line, int64_t deadline)
{
	for (;;) {
		size_t k = 0;
		char c;
		for (;;) {
			link_status status = link_read(l, &c, 1, deadline);
			if (status != LINK_OK)
				return status;
			if (c == '\r' || c == '\n')
				break;
			if (k + 1 < AT_LINE_MAX)
				line[k++] = c;
		}
		line[k] = '\0';
		if (k != 0 && strcmp(line, command) != 0)
			return LINK_OK;
	}
}

/* Whether an answer begins with `word`, as a whole word. */
static bool
at_is(const char *line, const char *word)
{
	size_t n = strlen(word);
	return strncmp(line, word, n) == 0 &&
	    (line[n] == '\0' || line[n] == ' ' || line[n] == ':');
}

bool
send_at_switch(int fd, int timeout_ms, char *why, size_t n)
{
	link_state l = { fd, timeout_ms, 0 };
	char answers[2][AT_LINE_MAX];

	/* What the phone said before it was asked is no answer. */
	tcflush(l.fd, TCIFLUSH);
	for (size_t i = 0; i < 2; i++) {
		const char *command = at_commands[i];
		char text[16];
		snprintf(text, sizeof(text), "%s\r", command);
		link_status status = link_write(l, text, strlen(text));
		if (status == LINK_OK)
			status = at_answer(l, command, answers[i],
			    send_now_ms() + l.timeout_ms);
		int seconds = (l.timeout_ms + 999) / 1000;
		switch (status) {
		case LINK_OK:
			break;
		case LINK_TIMEOUT:
			snprintf(why, n,
			    "no answer from the phone to %s within %d "
			    "second%s",
			    command, seconds, seconds == 1 ? "" : "s");
			return false;
		case LINK_HUNG_UP:
			snprintf(why, n, "the phone hung up");
			return false;
		case LINK_FAILED:
			snprintf(why, n, "%s", strerror(l.error));
			return false;
		}
		if (at_is(answers[i], "CONNECT")) {
			return true;
		}
		/* An error, plain or extended: the next command may do. */
		if (at_is(answers[i], "ERROR") ||
		    at_is(answers[i], "+CME ERROR"))
			continue;
		snprintf(why, n, "the phone answered `%s' to %s",
		    obj_shown(answers[i]), command);
		return false;
	}
	if (strcmp(answers[0], answers[1]) == 0)
		snprintf(why, n, "the phone answered `%s' to %s and to %s",
		    obj_shown(answers[0]), at_commands[0], at_commands[1]);
	else {
		char first[AT_LINE_MAX * 4 + 1];
		snprintf(first, sizeof(first), "%s", obj_shown(answers[0]));
		snprintf(why, n, "the phone answered `%s' to %s and `%s' to %s",
		    first, at_commands[0], obj_shown(answers[1]),
		    at_commands[1]);
	}
	return false;
}
