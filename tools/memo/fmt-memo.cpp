/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-memo: a memo for a Palm Pilot, from the words after the options or
 * from standard input.
 */
#include <unistd.h>

#include "objwrite.h"
#include "proc.h"

int
main(int argc, char *argv[])
{
	const char *name = nullptr;
	bool help = false, misuse = false;
	int ch;

	proc_start(argc, argv, "fmt-memo");
	while ((ch = getopt(argc, argv, PROC_OPTIONS("n:h"))) != -1) {
		switch (ch) {
		case 'n':
			name = optarg;
			break;
		case 'h':
			help = true;
			break;
		default:
			misuse = true;
			break;
		}
	}
	if (help || misuse)
		proc_usage("Format Palm Pilot memo from stdin or command line",
		    "[-n name] [text ...]", help && !misuse ? 0 : 1);

	textbuf_init();
	if (optind < argc) {
		textbuf_put_words(argc, argv, optind);
		textbuf_putc('\n');
	} else {
		textbuf_read_stream();
		textbuf_finish();
	}

	if (name != nullptr)
		hdr_name(name, proc_namelen(name));
	hdr_creator(hdr_code("memo"));
	hdr_payload(textbuf.data, (size_t)textbuf.length);
	return proc_finish();
}
