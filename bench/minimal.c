/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The yardstick for start-up: a minimal C program that writes its one word
 * through standard I/O, built with the same compiler flags and linked the
 * same way as the fmt-* programs.
 */
#include <stdio.h>

int
main(int argc, char *argv[])
{
	if (argc > 1)
		fputs(argv[1], stdout);
	return 0;
}
