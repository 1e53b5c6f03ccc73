/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The yardstick for the start-up of fmt-date and fmt-todo: the minimal
 * program, also asking the C library for today's local date.  That reads
 * the time zone, as any program must that writes the local date.
 */
#include <stdio.h>
#include <time.h>

int
main(int argc, char *argv[])
{
	struct tm tm;
	time_t now;

	tzset();
	now = time(NULL);
	if (localtime_r(&now, &tm) != NULL && argc > 1)
		fputs(argv[1], stdout);
	return 0;
}
