/* SPDX-License-Identifier: BSD-2-Clause */
#include "mime.h"

#include <string_view>

#include "obex.h"

/*
 * Android, the most common receiver, reads the type from these
 * extensions first (in any case of letters), and from the Type header
 * only when the extension says nothing; so a Type from the Creator ID
 * never contradicts a Name that names its own type.
 */
static constexpr struct {
	std::string_view extension;
	const char *type;
} mime_extensions[] = {
	{ "vcf", "text/x-vcard" },
	{ "vcs", "text/x-vcalendar" },
	{ "ics", "text/calendar" },
	{ "txt", "text/plain" },
};

/* The creator codes of the programs that write text. */
static constexpr struct {
	unsigned char code[5]; /* its four letters, first byte first */
	const char *type;
} mime_creators[] = {
	{ "addr", "text/x-vcard" },
	{ "date", "text/x-vcalendar" },
	{ "todo", "text/x-vcalendar" },
	{ "memo", "text/plain" },
};

/* The extension after the Name's last '.', lower-cased; "" if none fits. */
static std::string_view
mime_extension(const unsigned char *units, size_t size, char *buf, size_t n)
{
	size_t dot = size;
	for (size_t i = 0; i + 1 < size; i += 2)
		if (units[i] == 0 && units[i + 1] == '.')
			dot = i;
	if (dot == size || (size - dot) / 2 - 1 > n)
		return {};
	size_t k = 0;
	for (size_t i = dot + 2; i + 1 < size; i += 2) {
		unsigned c = units[i + 1];
		if (units[i] != 0)
			return {};
		buf[k++] = (char)(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
	}
	return { buf, k };
}

const char *
mime_of_name(const unsigned char *units, size_t size)
{
	char buf[8];
	std::string_view ext = mime_extension(units, size, buf, sizeof(buf));
	for (const auto &e : mime_extensions)
		if (!ext.empty() && ext == e.extension)
			return e.type;
	return nullptr;
}

const char *
mime_of_creator(uint32_t creator)
{
	for (const auto &c : mime_creators)
		if (creator == obex_get32(c.code))
			return c.type;
	return nullptr;
}
