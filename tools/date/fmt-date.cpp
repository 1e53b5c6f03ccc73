/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-date: an appointment for the date book of a Palm Pilot, as a
 * vCalendar 1.0 event, from the words after the options or from standard
 * input; with -i, every event of an iCalendar file.
 */
#include <unistd.h>

#include "calarg.h"
#include "objwrite.h"
#include "proc.h"
#include "vcal.h"

int
main(int argc, char *argv[])
{
	const char *name = nullptr, *date_arg = nullptr, *time_arg = nullptr;
	char date[CALARG_DATE_SIZE];
	char start[CALARG_TIME_SIZE], end[CALARG_TIME_SIZE];
	bool help = false, misuse = false, ical = false, lossy = false;
	int ch;

	proc_start(argc, argv, "fmt-date");
	while ((ch = getopt(argc, argv, PROC_OPTIONS("d:t:n:hil"))) != -1) {
		switch (ch) {
		case 'd':
			date_arg = optarg;
			break;
		case 't':
			time_arg = optarg;
			break;
		case 'n':
			name = optarg;
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
	    (!ical || date_arg != nullptr || time_arg != nullptr ||
		name != nullptr || argc - optind > 1))
		misuse = true;
	if (help || misuse)
		proc_usage("Format Palm Pilot date from stdin or command line",
		    "[-n name] [-d [[[cc]yy]mm]dd] [-t hh[mm]-hh[mm]] [text "
		    "...]",
		    help && !misuse ? 0 : 1);
	if (ical)
		return vcal_run(VCAL_EVENTS,
		    optind < argc ? argv[optind] : nullptr, lossy);

	/* Both arguments are judged before anything is built. */
	calarg_date(date_arg, date);
	if (time_arg != nullptr)
		calarg_time_range(time_arg, start, end);

	/*
	 * One text from start to end: a description that ends in a CR gets
	 * only the LF of the line end that closes it.
	 */
	textbuf_init();
	textbuf_puts("BEGIN:VCALENDAR\n");
	textbuf_puts("VERSION:1.0\nBEGIN:VEVENT\n");
	textbuf_puts("DTSTART:");
	textbuf_puts(date);
	if (time_arg != nullptr) {
		textbuf_putc('T');
		textbuf_puts(start);
		textbuf_putc('\n');
		textbuf_puts("DTEND:");
		textbuf_puts(date);
		textbuf_putc('T');
		textbuf_puts(end);
	}
	textbuf_putc('\n');
	textbuf_puts("DESCRIPTION:");
	if (optind < argc)
		textbuf_put_words(argc, argv, optind);
	else
		textbuf_read_stream();
	textbuf_puts("\nEND:VEVENT\nEND:VCALENDAR\n");

	if (name != nullptr)
		hdr_name(name, proc_namelen(name));
	hdr_creator(hdr_code("date"));
	hdr_payload(textbuf.data, (size_t)textbuf.length);
	return proc_finish();
}
