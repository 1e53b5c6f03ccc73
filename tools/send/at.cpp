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
#include <termios.h>

#include <cstdio>
#include <cstring>

#include "link.h"
#include "proc.h"

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
link_at_switch(link_state &l, char *why, size_t n)
{
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
			    link_now_ms() + l.timeout_ms);
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
		case LINK_INTERRUPTED:
			snprintf(why, n, "interrupted");
			return false;
		case LINK_FAILED:
			snprintf(why, n, "%s", strerror(l.error));
			return false;
		}
		if (at_is(answers[i], "CONNECT")) {
			/* The rest of CONNECT's line end is no OBEX. */
			l.skip_line_ends = true;
			return true;
		}
		/* An error, plain or extended: the next command may do. */
		if (at_is(answers[i], "ERROR") ||
		    at_is(answers[i], "+CME ERROR"))
			continue;
		snprintf(why, n, "the phone answered `%s' to %s",
		    proc_shown(answers[i]), command);
		return false;
	}
	if (strcmp(answers[0], answers[1]) == 0)
		snprintf(why, n, "the phone answered `%s' to %s and to %s",
		    proc_shown(answers[0]), at_commands[0], at_commands[1]);
	else {
		char first[AT_LINE_MAX * 4 + 1];
		snprintf(first, sizeof(first), "%s", proc_shown(answers[0]));
		snprintf(why, n, "the phone answered `%s' to %s and `%s' to %s",
		    first, at_commands[0], proc_shown(answers[1]),
		    at_commands[1]);
	}
	return false;
}
