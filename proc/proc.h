/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The process helpers: what every program does around its work.  The
 * name for messages, the text of a message made safe for a terminal, the
 * usage lines, fatal errors, the option string for getopt, and the
 * end-of-run check that standard output received everything.
 */
#ifndef PROC_H
#define PROC_H

/* An object name given on the command line is cut to this many bytes. */
inline constexpr int PROC_NAME_MAX = 24;

/*
 * - proc_start records the name for messages: the invocation name, or the
 *   program's own when the argument vector or argv[0] is empty (then put
 *   in argv[0] too, for getopt's diagnostics); proc_name gives it back;
 * - proc_shown is a text for a message with its control bytes shown as
 *   escapes (\n, \r, \t, \xNN), so that a file name cannot move the cursor
 *   or split the message; it is valid until the next call;
 * - proc_namelen is the length of a name cut to PROC_NAME_MAX;
 * - proc_usage prints the description line and "Usage: NAME " with the
 *   rest of the usage line, and exits with the given status: 0 when -h
 *   asked for them, 1 for a command line that cannot be carried out, so
 *   that a script does not go on to send an object that was never made;
 * - proc_fatal prints "NAME: " and the message and exits with status 1;
 * - proc_finish flushes standard output and returns 0 for main to return,
 *   or ends the process with status 1 if anything could not be written.
 */
void proc_start(int argc, char *argv[], const char *own_name);
const char *proc_name();
const char *proc_shown(const char *text);
int proc_namelen(const char *name);
[[noreturn]] void proc_usage(const char *description, const char *usage,
    int status);
[[noreturn]] void proc_fatal(const char *fmt, ...)
    __attribute__((format(printf, 1, 2)));
int proc_finish();

/*
 * An option string for getopt(3) that keeps it to its POSIX manner on every
 * libc: options end at the first word that is not one, and nothing is
 * reordered.  glibc moves options from behind the words unless the string
 * begins with '+'; other libcs never do, and would take a '+' for an option
 * letter, so only glibc is told.  The string must be a literal: the '+'
 * joins it when the program is compiled.
 */
#if defined(__GLIBC__)
#define PROC_OPTIONS(s) "+" s
#else
#define PROC_OPTIONS(s) "" s
#endif

#endif
