/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-phonecard: a name and a telephone number for a Nokia phone, as a
 * vCard 2.1 card named after the person; with -i, every card of an address
 * book, each as such a card of its own.
 */
#include <unistd.h>

#include <cstring>

#include "objwrite.h"
#include "proc.h"
#include "vcard.h"

int
main(int argc, char *argv[])
{
	const char *name = nullptr, *tel = nullptr;
	bool help = false, misuse = false, book = false;
	int ch;

	proc_start(argc, argv, "fmt-phonecard");
	while ((ch = getopt(argc, argv, PROC_OPTIONS("n:t:hi"))) != -1) {
		switch (ch) {
		case 'n':
			name = optarg;
			break;
		case 't':
			tel = optarg;
			break;
		case 'h':
			help = true;
			break;
		case 'i':
			book = true;
			break;
		default:
			misuse = true;
			break;
		}
	}
	/* -i takes its names and numbers from one file or standard input. */
	if (book && (name != nullptr || tel != nullptr || argc - optind > 1))
		misuse = true;
	if (help || misuse || (!book && (name == nullptr || tel == nullptr)))
		proc_usage("Format Nokia telephone number from stdin or "
			   "command line",
		    "-n name -t tel", help && !misuse ? 0 : 1);

	if (book) {
		static vcard_book cards;
		vcard_read_book(optind < argc ? argv[optind] : nullptr, &cards);
		for (size_t i = 0; i < cards.count; i++) {
			const vcard_card &c = cards.cards[i];
			char object[VCARD_NAME_MAX + sizeof(".vcf")];
			memcpy(object, c.name, (size_t)c.namelen);
			memcpy(object + c.namelen, ".vcf", 4);
			hdr_name(object, c.namelen + 4);
			hdr_payload(cards.text.data + c.start, c.length);
		}
		return proc_finish();
	}

	/*
	 * The cut name goes into the card and, with ".vcf" after it, names
	 * the object; the phone files the card under that name.
	 */
	char object[PROC_NAME_MAX + sizeof(".vcf")];
	int len = proc_namelen(name);
	memcpy(object, name, (size_t)len);
	object[len] = '\0';

	textbuf_init();
	textbuf_puts("BEGIN:VCARD\nVERSION:2.1\nN:");
	textbuf_puts(object);
	textbuf_puts("\nTEL:");
	textbuf_puts(tel);
	textbuf_puts("\nEND:VCARD\n");

	memcpy(object + len, ".vcf", sizeof(".vcf"));
	hdr_name(object, len + 4);
	hdr_payload(textbuf.data, (size_t)textbuf.length);
	return proc_finish();
}
