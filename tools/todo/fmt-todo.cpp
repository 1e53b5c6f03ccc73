/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-todo: an item for the to-do list of a Palm Pilot, as a vCalendar 1.0
 * to-do, from the words after the options or from standard input; with
 * -i, every to-do of an iCalendar file.
 */
#include <unistd.h>

#include "calarg.h"
#include "objwrite.h"
#include "proc.h"
#include "vcal.h"

int
main(int argc, char *argv[])
{
	const char *name = nullptr, *date_arg = nullptr;
	char date[CALARG_DATE_SIZE];
	bool help = false, misuse = false, ical = false, lossy = false;
	int ch;

	proc_start(argc, argv, "fmt-todo");
	while ((ch = getopt(argc, argv, PROC_OPTIONS("n:d:hil"))) != -1) {
		switch (ch) {
		case 'n':
			name = optarg;
			break;
		case 'd':
			date_arg = optarg;
			break;
		case 'h':
			help = true;
			break;
		case 'i':
			ical = true;
			break;
		case 'l':
			lossy = true;
			break;
		default:
			misuse = true;
			break;
		}
	}
	/* -i [-l] [file] reads a whole calendar, and takes nothing else. */
	if ((ical || lossy) &&
	    (!ical || date_arg != nullptr || name != nullptr ||
		argc - optind > 1))
		misuse = true;
	if (help || misuse)
		proc_usage("Format Palm Pilot todo item from stdin or command "
			   "line",
		    "[-n name] [-d [[[cc]yy]mm]dd] [text ...]",
		    help && !misuse ? 0 : 1);
	if (ical)
		return vcal_run(VCAL_TODOS,
		    optind < argc ? argv[optind] : nullptr, lossy);

	calarg_date(date_arg, date);

	/*
	 * Every item is due on some day, unfiled, open and of the first
	 * priority.  One text from start to end: a description that ends in
	 * a CR gets only the LF of the line end that closes it.
	 */
	textbuf_init();
	textbuf_puts("BEGIN:VCALENDAR\n");
	textbuf_puts("VERSION:1.0\nBEGIN:VTODO\n");
	textbuf_puts("CATEGORIES:X-Unfiled\nDUE:");
	textbuf_puts(date);
	textbuf_puts("\nSTATUS:NEEDS ACTION\n");
	textbuf_puts("PRIORITY:1\nDESCRIPTION:");
	if (optind < argc)
		textbuf_put_words(argc, argv, optind);
	else
		textbuf_read_stream();
	textbuf_puts("\nEND:VTODO\nEND:VCALENDAR\n");

	if (name != nullptr)
		hdr_name(name, proc_namelen(name));
	hdr_creator(hdr_code("todo"));
	hdr_payload(textbuf.data, (size_t)textbuf.length);
	return proc_finish();
}
