/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-address: an entry for the address book of a Palm Pilot, as a vCard
 * 2.1 card built from the options, or whatever text standard input holds
 * when no field option is given (a card prepared elsewhere passes through);
 * with -i, every card of an address book, each as a 2.1 card of its own.
 */
#include <unistd.h>

#include <cstdio>

#include "objwrite.h"
#include "proc.h"
#include "vcard.h"

/* A field's text: nothing for a field whose option was not given. */
static const char *
field(const char *value)
{
	return value != nullptr ? value : "";
}

int
main(int argc, char *argv[])
{
	const char *family = nullptr, *given = nullptr;
	const char *street = nullptr, *city = nullptr, *state = nullptr;
	const char *zip = nullptr, *country = nullptr;
	const char *company = nullptr, *title = nullptr;
	char name[PROC_NAME_MAX + 1] = "";
	bool card = false; /* a field option was given, even empty */
	bool help = false, misuse = false, book = false;
	int ch;

	proc_start(argc, argv, "fmt-address");
	while ((ch = getopt(argc, argv,
		    PROC_OPTIONS("a:c:C:f:l:n:o:s:t:z:hi"))) != -1) {
		switch (ch) {
		case 'a':
			street = optarg;
			card = true;
			break;
		case 'c':
			city = optarg;
			card = true;
			break;
		case 'C':
			country = optarg;
			card = true;
			break;
		case 'f':
			given = optarg;
			card = true;
			break;
		case 'l':
			family = optarg;
			card = true;
			break;
		case 'n':
			snprintf(name, sizeof(name), "%s", optarg);
			break;
		case 'o':
			company = optarg;
			card = true;
			break;
		case 's':
			state = optarg;
			card = true;
			break;
		case 't':
			title = optarg;
			card = true;
			break;
		case 'z':
			zip = optarg;
			card = true;
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
	/* -i reads one file or standard input, and builds no card itself. */
	if (book && (card || argc - optind > 1))
		misuse = true;
	if (help || misuse)
		proc_usage("Format Palm Pilot address from stdin or command "
			   "line",
		    "[-a addr] [-c city] [-C country] [-f first-name] [-l "
		    "last-name] [-n obj-name] [-o company] [-s state] [-t "
		    "title] [-z zip]",
		    help && !misuse ? 0 : 1);

	if (book) {
		static vcard_book cards;
		vcard_read_book(optind < argc ? argv[optind] : nullptr, &cards);
		if (name[0] != '\0' && cards.count > 1)
			proc_fatal("-n names one card, and the input holds %zu",
			    cards.count);
		for (size_t i = 0; i < cards.count; i++) {
			const vcard_card &c = cards.cards[i];
			if (name[0] != '\0')
				hdr_name(name, proc_namelen(name));
			else if (c.namelen > 0)
				hdr_name(c.name, c.namelen);
			hdr_length((uint32_t)c.length);
			hdr_creator(hdr_code("addr"));
			hdr_payload(cards.text.data + c.start, c.length);
		}
		return proc_finish();
	}

	textbuf_init();
	if (!card) {
		textbuf_read_stream();
		textbuf_finish();
	} else {
		/*
		 * Every byte, separators and line feeds included, goes through
		 * the buffer, so that a line end inside a value is normalised
		 * together with the card's own.  An absent value still leaves
		 * its separators, and the card ends without a line end.
		 */
		textbuf_puts("BEGIN:VCARD\nVERSION:2.1\n");
		if (given != nullptr || family != nullptr) {
			textbuf_puts("N:");
			textbuf_puts(field(family));
			textbuf_putc(';');
			textbuf_puts(field(given));
			textbuf_putc('\n');
			/* The space stands even between empty names. */
			const char *space =
			    given != nullptr && family != nullptr ? " " : "";
			if (name[0] == '\0')
				snprintf(name, sizeof(name), "%s%s%s",
				    field(given), space, field(family));
		}
		if (street != nullptr || city != nullptr || state != nullptr ||
		    zip != nullptr || country != nullptr) {
			textbuf_puts("ADR:;;");
			textbuf_puts(field(street));
			textbuf_putc(';');
			textbuf_puts(field(city));
			textbuf_putc(';');
			textbuf_puts(field(state));
			textbuf_putc(';');
			textbuf_puts(field(zip));
			textbuf_putc(';');
			textbuf_puts(field(country));
			textbuf_putc('\n');
		}
		if (company != nullptr) {
			textbuf_puts("ORG:");
			textbuf_puts(company);
			textbuf_putc('\n');
			if (name[0] == '\0')
				snprintf(name, sizeof(name), "%s", company);
		}
		if (title != nullptr) {
			textbuf_puts("TITLE:");
			textbuf_puts(title);
			textbuf_putc('\n');
		}
		textbuf_puts("END:VCARD");
	}

	if (name[0] != '\0')
		hdr_name(name, proc_namelen(name));
	/* The Length header counts the whole payload, however it is split. */
	hdr_length((uint32_t)textbuf.length);
	hdr_creator(hdr_code("addr"));
	hdr_payload(textbuf.data, (size_t)textbuf.length);
	return proc_finish();
}
