/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Address books in: a vCard reader (2.1, 3.0 and 4.0, any number of cards)
 * and a vCard 2.1 writer, so that the cards of a modern export reach a
 * device that takes one 2.1 card per object.
 *
 * vcard_convert takes the whole input and either converts every card or
 * reports the first fault with its line; nothing is half done, so a caller
 * writes nothing until the whole book has proved sound.
 */
#ifndef VCARD_H
#define VCARD_H

#include <cstddef>
#include <span>
#include <string_view>

/* A card's object name is cut to this many bytes. */
inline constexpr int VCARD_NAME_MAX = 24;

/* One converted card: its 2.1 text in the book's text, and its name. */
struct vcard_card {
	size_t start;
	size_t length;
	/* First and last name, else the organisation; may be empty. */
	char name[VCARD_NAME_MAX];
	int namelen;
};

/* A growable run of bytes. */
struct vcard_buf {
	unsigned char *data;
	size_t length;
	size_t size; /* allocated */
};

/* Every card of an input, in their order. */
struct vcard_book {
	vcard_buf text; /* the cards' texts, one after another */
	vcard_card *cards;
	size_t count;
	size_t room; /* cards allocated */
};

/* The first fault of an input: its line (1 for the first), or 0. */
struct vcard_fault {
	long line;
	const char *what;
};

/*
 * Converts every card of the input into the book (empty at the call) and
 * returns true, or returns false with the fault set.  A lack of memory
 * ends the process with a message.
 */
bool vcard_convert(const unsigned char *input, size_t length, vcard_book *book,
    vcard_fault *fault);

/* Frees what the book holds and empties it. */
void vcard_free(vcard_book *book);

/*
 * The whole of a file (standard input for "-" or nullptr), in a block that
 * lives until the process ends; a file that cannot be opened or read ends
 * the process with a message.
 */
const unsigned char *vcard_load(const char *path, size_t *length);

/*
 * vcard_load and vcard_convert for a program: every card of the file, or
 * the process ends with the fault and its line ("line 57: card without
 * END:VCARD").
 */
void vcard_read_book(const char *path, vcard_book *book);

/* Room for count bytes more, and appends; a lack of memory ends the
 * process. */
void vcard_reserve(vcard_buf *b, size_t count);
void vcard_put(vcard_buf *b, const void *data, size_t count);
void vcard_putc(vcard_buf *b, int c);
void vcard_puts(vcard_buf *b, std::string_view s);

/*
 * The 2.1 writer: one property line, ended by CR LF: the name, each type
 * as a bare parameter, and the value, its parts joined by ';' (a ';' within
 * a part of a structured value written "\;").  A value that is not plain
 * printable ASCII, or that holds a line end, is sent as quoted-printable
 * in the given charset (UTF-8 when it is empty), in lines of at most 76
 * characters.
 */
void vcard_write_prop(vcard_buf *out, std::string_view name,
    std::span<const std::string_view> types,
    std::span<const std::string_view> parts, bool structured,
    std::string_view charset);

/* The bytes of the UTF-8 character that starts at p, or 1 for a byte
 * that starts none. */
size_t vcard_char_length(const unsigned char *p, const unsigned char *end);

/* Where a text of `length` bytes may be cut, at most at `max`, so that no
 * UTF-8 character is split. */
size_t vcard_cut(const char *text, size_t length, size_t max);

#endif
