/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The vCard reader: cards of version 2.1, 3.0 and 4.0, as exporters write
 * them, each turned into a 2.1 card by the writer.
 *
 * An input is taken in three steps.  Lines end at CR LF, LF or CR.  A card
 * runs from BEGIN:VCARD to END:VCARD, and is looked over first for its
 * VERSION, which decides how its lines unfold and its values unescape.
 * Then each property (a line, its continuations, and for quoted-printable
 * the lines its soft breaks join) is read, decoded, and written again in
 * 2.1's form, or left out where 2.1 has no place for it.
 */
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "fd.h"
#include "proc.h"
#include "vcard.h"

using std::string_view;

namespace
{

/* A physical line and where it lies. */
struct line {
	string_view text;
	long number;
};

/* Lines as they come, each without its line end. */
struct lines {
	const char *pos;
	const char *end;
	long number; /* of the last line given out */
};

bool
next_line(lines *l, line *out)
{
	if (l->pos >= l->end)
		return false;
	const char *p = l->pos;
	while (p < l->end && *p != '\r' && *p != '\n')
		p++;
	out->text = string_view(l->pos, (size_t)(p - l->pos));
	out->number = ++l->number;
	/* CR LF is one line end; LF CR two. */
	if (p < l->end && *p == '\r')
		p++;
	if (p < l->end && *p == '\n')
		p++;
	l->pos = p;
	return true;
}

char
upper(char c)
{
	return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

bool
same(string_view a, string_view b)
{
	if (a.size() != b.size())
		return false;
	for (size_t i = 0; i < a.size(); i++)
		if (upper(a[i]) != upper(b[i]))
			return false;
	return true;
}

bool
starts(string_view s, string_view prefix)
{
	return s.size() >= prefix.size() &&
	    same(s.substr(0, prefix.size()), prefix);
}

string_view
trim(string_view s)
{
	while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
		s.remove_prefix(1);
	while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
		s.remove_suffix(1);
	return s;
}

bool
blank(string_view s)
{
	return trim(s).empty();
}

bool
is_begin(string_view s)
{
	return same(trim(s), "BEGIN:VCARD");
}

bool
is_end(string_view s)
{
	return same(trim(s), "END:VCARD");
}

/*
 * The first line of a card inside a card: 2.1's AGENT may hold one, whose
 * lines follow up to its own END:VCARD.
 */
bool
opens_inner(string_view s)
{
	size_t dot = s.find('.');
	if (dot != string_view::npos && dot < s.find(':'))
		s.remove_prefix(dot + 1);
	s = trim(s);
	return starts(s, "AGENT") && s.size() >= 17 &&
	    (s[5] == ':' || s[5] == ';') &&
	    same(s.substr(s.size() - 12), ":BEGIN:VCARD");
}

enum version { V21, V30, V40 };

/* How a property's value is read and written. */
enum kind {
	K_DROP, /* left out */
	K_TEXT, /* one text */
	K_STRUCT, /* parts separated by ';' */
	K_TEL,
	K_EMAIL,
	K_ADR,
	K_LABEL,
	K_DATE,
	K_TZ,
	K_GEO,
	K_IMPP,
};

struct prop_map {
	const char *in;
	const char *out;
	kind k;
};

/*
 * Every property that is kept, with its 2.1 name; one that is not here is
 * left out, unless it is an X- property of the input, which is kept as
 * text.  PHOTO, LOGO and SOUND are left out (phones choke on them, and most
 * drop them anyway), and so are KEY and AGENT, which no old device uses.
 */
constexpr prop_map prop_table[] = {
	{ "N", "N", K_STRUCT },
	{ "FN", "FN", K_TEXT },
	{ "TEL", "TEL", K_TEL },
	{ "EMAIL", "EMAIL", K_EMAIL },
	{ "ADR", "ADR", K_ADR },
	{ "LABEL", "LABEL", K_LABEL },
	{ "ORG", "ORG", K_STRUCT },
	{ "TITLE", "TITLE", K_TEXT },
	{ "ROLE", "ROLE", K_TEXT },
	{ "NOTE", "NOTE", K_TEXT },
	{ "URL", "URL", K_TEXT },
	{ "UID", "UID", K_TEXT },
	{ "MAILER", "MAILER", K_TEXT },
	{ "REV", "REV", K_TEXT },
	{ "BDAY", "BDAY", K_DATE },
	{ "TZ", "TZ", K_TZ },
	{ "GEO", "GEO", K_GEO },
	/* 3.0 and 4.0 only: the X- forms that 2.1 readers pass over. */
	{ "NICKNAME", "X-NICKNAME", K_TEXT },
	{ "CATEGORIES", "X-CATEGORIES", K_TEXT },
	{ "ANNIVERSARY", "X-ANNIVERSARY", K_DATE },
	{ "IMPP", "X-IMPP", K_IMPP },
};

/* The types 2.1 knows for a telephone number, and for an address. */
constexpr string_view tel_types[] = { "PREF", "WORK", "HOME", "VOICE", "FAX",
	"MSG", "CELL", "PAGER", "BBS", "MODEM", "CAR", "ISDN", "VIDEO" };
constexpr string_view adr_types[] = { "DOM", "INTL", "POSTAL", "PARCEL", "HOME",
	"WORK", "PREF" };
constexpr string_view email_types[] = { "HOME", "WORK", "PREF" };

/* Instant messaging: the X- property that 2.1 writers used per scheme. */
struct impp_map {
	const char *scheme;
	const char *out;
};
constexpr impp_map impp_table[] = {
	{ "xmpp:", "X-JABBER" },
	{ "aim:", "X-AIM" },
	{ "icq:", "X-ICQ" },
	{ "msnim:", "X-MSN" },
	{ "ymsgr:", "X-YAHOO" },
	{ "skype:", "X-SKYPE" },
	{ "sip:", "X-SIP" },
};

constexpr int TYPES_MAX = 16;
constexpr int PARTS_MAX = 32;

enum encoding { E_NONE, E_QP, E_BASE64 };

/* A property line taken apart: views into the line, or into `decoded`. */
struct prop {
	string_view name;
	string_view types[TYPES_MAX];
	int ntypes;
	encoding enc;
	string_view charset;
	string_view value_type; /* VALUE= */
	string_view label; /* 4.0's LABEL= of an address, raw */
	bool pref; /* 4.0's PREF=1 */
	string_view value;
};

string_view
unquote(string_view v)
{
	if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
		v = v.substr(1, v.size() - 2);
	return v;
}

/* Takes one parameter's value apart at its commas, quotes removed. */
template <class F>
void
each_item(string_view v, F f)
{
	v = unquote(v);
	while (!v.empty()) {
		size_t comma = v.find(',');
		string_view item = unquote(trim(v.substr(0, comma)));
		if (!item.empty())
			f(item);
		v = comma == string_view::npos ? string_view()
					       : v.substr(comma + 1);
	}
}

bool
name_char(char c)
{
	return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
	    (c >= '0' && c <= '9') || c == '-' || c == '_';
}

void
add_type(prop *p, string_view t)
{
	for (int i = 0; i < p->ntypes; i++)
		if (same(p->types[i], t))
			return;
	if (p->ntypes < TYPES_MAX)
		p->types[p->ntypes++] = t;
}

/*
 * [group.]NAME[;param...]:value.  Parameters come as 2.1's bare types and
 * encodings (CELL, QUOTED-PRINTABLE), as NAME=value, with lists separated
 * by commas, and with quoted values that may hold ';', ':' and ','.
 */
bool
parse_prop(string_view s, prop *p)
{
	size_t i = 0;

	*p = prop{};
	while (i < s.size() && name_char(s[i]))
		i++;
	if (i == 0)
		return false;
	if (i < s.size() && s[i] == '.') {
		size_t start = ++i;
		while (i < s.size() && name_char(s[i]))
			i++;
		if (i == start)
			return false;
		p->name = s.substr(start, i - start);
	} else {
		p->name = s.substr(0, i);
	}
	while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
		i++;
	while (i < s.size() && s[i] == ';') {
		size_t start = ++i;
		bool quoted = false;
		while (
		    i < s.size() && (quoted || (s[i] != ';' && s[i] != ':'))) {
			if (s[i] == '"')
				quoted = !quoted;
			i++;
		}
		if (quoted)
			return false;
		string_view param = trim(s.substr(start, i - start));
		size_t eq = param.find('=');
		string_view key = trim(param.substr(0, eq));
		string_view v = eq == string_view::npos
		    ? string_view()
		    : trim(param.substr(eq + 1));
		if (eq == string_view::npos) {
			if (same(key, "QUOTED-PRINTABLE"))
				p->enc = E_QP;
			else if (same(key, "BASE64"))
				p->enc = E_BASE64;
			else if (!same(key, "7BIT") && !same(key, "8BIT") &&
			    !key.empty())
				add_type(p, key);
		} else if (same(key, "TYPE")) {
			each_item(v, [&](string_view t) { add_type(p, t); });
		} else if (same(key, "ENCODING")) {
			if (same(v, "QUOTED-PRINTABLE"))
				p->enc = E_QP;
			else if (same(v, "BASE64") || same(v, "B"))
				p->enc = E_BASE64;
		} else if (same(key, "CHARSET")) {
			each_item(v, [&](string_view t) { p->charset = t; });
		} else if (same(key, "VALUE")) {
			p->value_type = v;
		} else if (same(key, "PREF")) {
			p->pref = v == "1";
		} else if (same(key, "LABEL")) {
			p->label = unquote(v);
		}
	}
	if (i >= s.size() || s[i] != ':')
		return false;
	p->value = s.substr(i + 1);
	return true;
}

int
hex_value(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	c = upper(c);
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

/* Quoted-printable into out; false for a '=' that starts no escape. */
bool
decode_qp(string_view v, vcard_buf *out)
{
	for (size_t i = 0; i < v.size(); i++) {
		if (v[i] != '=') {
			vcard_putc(out, v[i]);
			continue;
		}
		if (blank(v.substr(i + 1)))
			break; /* a soft break that nothing follows */
		if (i + 2 >= v.size() || hex_value(v[i + 1]) < 0 ||
		    hex_value(v[i + 2]) < 0)
			return false;
		vcard_putc(out, hex_value(v[i + 1]) << 4 | hex_value(v[i + 2]));
		i += 2;
	}
	return true;
}

/*
 * Whether a value is base64: blanks anywhere, padding only at the end, and
 * left out by some writers.
 */
bool
valid_base64(string_view v)
{
	size_t digits = 0, pad = 0;
	for (char c : v) {
		if (c == ' ' || c == '\t')
			continue;
		bool digit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
		    (c >= '0' && c <= '9') || c == '+' || c == '/';
		if (c == '=' && pad < 2)
			pad++;
		else if (!digit || pad != 0)
			return false;
		else
			digits++;
	}
	return pad == 0 ? digits % 4 != 1 : (digits + pad) % 4 == 0;
}

/*
 * A decoded value cut into its parts, each unescaped as its version says:
 * 3.0 and 4.0 take \n and \N for a line end and \x for x; 2.1 knows only
 * \; within a part of a structured value.  An unstructured value is one
 * part.
 */
struct parts {
	string_view part[PARTS_MAX];
	int count;
	vcard_buf bytes;
};

void
split_value(string_view v, version ver, bool structured, parts *out)
{
	/*
	 * Room for all at once (a line end may double), so that the views
	 * stay where they point.
	 */
	out->bytes.length = 0;
	vcard_reserve(&out->bytes, 2 * v.size() + 1);
	char *base = reinterpret_cast<char *>(out->bytes.data);
	size_t start = 0;
	out->count = 0;
	for (size_t i = 0; i < v.size(); i++) {
		char c = v[i];
		if (c == '\\' && i + 1 < v.size() &&
		    (ver != V21 || (structured && v[i + 1] == ';'))) {
			c = v[++i];
			if (ver != V21 && (c == 'n' || c == 'N'))
				c = '\n';
		} else if (c == '\r' && i + 1 < v.size() && v[i + 1] == '\n') {
			continue; /* its LF follows */
		} else if (c == ';' && structured &&
		    out->count < PARTS_MAX - 1) {
			/*
			 * 2.1 reads a backslash before a separator as its
			 * escape and has none for a backslash: a part that
			 * ends in one (3.0's "\\;") loses it, or it would
			 * join the next part.
			 */
			while (out->bytes.length > start &&
			    base[out->bytes.length - 1] == '\\')
				out->bytes.length--;
			out->part[out->count++] = string_view(base + start,
			    out->bytes.length - start);
			start = out->bytes.length;
			continue;
		}
		/* Every line end as CR LF, as the card will carry it. */
		if (c == '\r' || c == '\n') {
			base[out->bytes.length++] = '\r';
			c = '\n';
		}
		base[out->bytes.length++] = c;
	}
	out->part[out->count++] =
	    string_view(base + start, out->bytes.length - start);
}

bool
all_empty(const parts &p)
{
	for (int i = 0; i < p.count; i++)
		if (!p.part[i].empty())
			return false;
	return true;
}

/*
 * An address's LABEL parameter, as 4.0 writers escape it: ^n, ^^ and ^'
 * (for '"'), and \n as in a value.
 */
void
decode_label(string_view v, vcard_buf *out)
{
	for (size_t i = 0; i < v.size(); i++) {
		if (v[i] == '\\' && i + 1 < v.size()) {
			i++;
			vcard_putc(out,
			    v[i] == 'n' || v[i] == 'N' ? '\n' : v[i]);
		} else if (v[i] == '^' && i + 1 < v.size() &&
		    (v[i + 1] == 'n' || v[i + 1] == '^' || v[i + 1] == '\'')) {
			i++;
			vcard_putc(out,
			    v[i] == 'n'        ? '\n'
				: v[i] == '\'' ? '"'
					       : '^');
		} else {
			vcard_putc(out, v[i]);
		}
	}
}

bool
digits(string_view s)
{
	for (char c : s)
		if (c < '0' || c > '9')
			return false;
	return !s.empty();
}

/* A date as 2.1 writes it, YYYYMMDD, or empty when there is no year. */
string_view
date_21(string_view v, char *out)
{
	v = v.substr(0, v.find('T'));
	if (v.size() == 10 && v[4] == '-' && v[7] == '-' &&
	    digits(v.substr(0, 4)) && digits(v.substr(5, 2)) &&
	    digits(v.substr(8, 2))) {
		memcpy(out, v.data(), 4);
		memcpy(out + 4, v.data() + 5, 2);
		memcpy(out + 6, v.data() + 8, 2);
		return string_view(out, 8);
	}
	if (v.size() == 8 && digits(v))
		return v;
	return {};
}

/* A UTC offset, +hh, +hhmm or +hh:mm; anything else has no 2.1 form. */
bool
utc_offset(string_view v)
{
	if (v.size() < 3 || (v[0] != '+' && v[0] != '-') ||
	    !digits(v.substr(1, 2)))
		return false;
	v.remove_prefix(3);
	if (!v.empty() && v[0] == ':')
		v.remove_prefix(1);
	return v.empty() || (v.size() == 2 && digits(v));
}

/* A decimal number, as a coordinate is written. */
bool
decimal(string_view v)
{
	if (!v.empty() && (v[0] == '-' || v[0] == '+'))
		v.remove_prefix(1);
	size_t dot = v.find('.');
	return digits(v.substr(0, dot)) &&
	    (dot == string_view::npos || digits(v.substr(dot + 1)));
}

/*
 * A position, latitude and longitude separated by ',' or ';', as 2.1
 * writes it ("lat,lon") in out; false when it is no such pair.
 */
bool
geo_21(string_view v, char (&out)[2 * 32 + 2])
{
	size_t sep = v.find_first_of(",;");
	if (sep == string_view::npos)
		return false;
	string_view lat = trim(v.substr(0, sep)), lon = trim(v.substr(sep + 1));
	if (!decimal(lat) || !decimal(lon) || lat.size() > 32 ||
	    lon.size() > 32)
		return false;
	memcpy(out, lat.data(), lat.size());
	out[lat.size()] = ',';
	memcpy(out + lat.size() + 1, lon.data(), lon.size());
	out[lat.size() + 1 + lon.size()] = '\0';
	return true;
}

/* A charset name fit to stand in a parameter, or empty. */
string_view
charset_name(string_view cs)
{
	for (char c : cs)
		if (!name_char(c) && c != '.' && c != ':')
			return {};
	return cs;
}

/* Whether bytes are UTF-8 (ASCII is). */
bool
valid_utf8(string_view v)
{
	const unsigned char *p =
	    reinterpret_cast<const unsigned char *>(v.data());
	const unsigned char *end = p + v.size();
	while (p < end) {
		if (*p < 0x80) {
			p++;
			continue;
		}
		size_t n = vcard_char_length(p, end);
		if (n == 1)
			return false;
		p += n;
	}
	return true;
}

bool
utf8(string_view cs)
{
	return cs.empty() || same(cs, "UTF-8");
}

/* What one card is becoming. */
struct card {
	version ver;
	vcard_buf n_line, fn_line; /* written first, so devices find them */
	vcard_buf rest; /* every other line */
	bool has_n, has_fn, has_org;
	/* The decoded names and organisation, for the object's name and for
	 * a missing N or FN, with their charsets. */
	vcard_buf n[5], fn, org;
	char n_charset[64], fn_charset[64], org_charset[64];
};

string_view
view(const vcard_buf &b)
{
	return string_view(reinterpret_cast<const char *>(b.data), b.length);
}

void
keep(vcard_buf *b, string_view s)
{
	b->length = 0;
	vcard_puts(b, s);
}

void
keep_charset(char (&room)[64], string_view cs)
{
	size_t n = cs.size() < sizeof(room) ? cs.size() : 0;
	if (n != 0)
		memcpy(room, cs.data(), n);
	room[n] = '\0';
}

/* Converts one property line of a card. */
bool
convert_prop(card *c, const prop &p, vcard_fault *fault, long number)
{
	static vcard_buf decoded, label;
	static parts value;
	string_view v = p.value;

	if (p.enc == E_BASE64) {
		/* Binary values are photos, sounds and keys: all left out. */
		if (!valid_base64(v)) {
			*fault = { number, "bad base64 value" };
			return false;
		}
		return true;
	}
	if (p.enc == E_QP) {
		decoded.length = 0;
		if (!decode_qp(v, &decoded)) {
			*fault = { number, "bad quoted-printable value" };
			return false;
		}
		v = string_view(reinterpret_cast<char *>(decoded.data),
		    decoded.length);
	}

	const prop_map *m = nullptr;
	for (const prop_map &e : prop_table)
		if (same(p.name, e.in))
			m = &e;
	string_view name;
	kind k;
	if (m != nullptr) {
		name = m->out;
		k = m->k;
	} else if (starts(p.name, "X-") && !same(p.name, "X-ABLabel")) {
		/* Kept as text; without its group a label labels nothing. */
		name = p.name;
		k = K_TEXT;
	} else {
		return true;
	}

	/*
	 * A value in no charset that is not UTF-8 either is taken for the
	 * ISO-8859-1 that such writers meant, so that a device does not
	 * decode it as UTF-8.
	 */
	string_view charset = charset_name(p.charset);
	if (charset.empty() && !valid_utf8(v))
		charset = "ISO-8859-1";
	string_view types[TYPES_MAX + 1];
	int ntypes = 0;
	auto pick = [&](std::span<const string_view> allowed) {
		for (int i = 0; i < p.ntypes; i++)
			for (string_view a : allowed)
				if (same(p.types[i], a))
					types[ntypes++] = a;
		if (p.pref && ntypes < TYPES_MAX) {
			bool have = false;
			for (int i = 0; i < ntypes; i++)
				have = have || types[i] == "PREF";
			if (!have)
				types[ntypes++] = "PREF";
		}
	};
	bool structured = k == K_STRUCT || k == K_ADR;
	split_value(v, c->ver, structured, &value);
	char date[8];
	char geo[2 * 32 + 2];
	string_view one;

	switch (k) {
	case K_DROP:
		return true;
	case K_TEXT:
	case K_STRUCT:
		break;
	case K_TEL:
		one = value.part[0];
		if (starts(one, "tel:")) {
			one.remove_prefix(4);
			one = one.substr(0, one.find(';'));
		}
		value.part[0] = one;
		pick(tel_types);
		break;
	case K_EMAIL: {
		bool x400 = false;
		for (int i = 0; i < p.ntypes; i++)
			x400 = x400 || same(p.types[i], "X400");
		types[ntypes++] = x400 ? "X400" : "INTERNET";
		pick(email_types);
		break;
	}
	case K_ADR:
	case K_LABEL:
		pick(adr_types);
		break;
	case K_DATE:
		one = date_21(value.part[0], date);
		if (one.empty())
			return true;
		value.part[0] = one;
		break;
	case K_TZ:
		if (!utc_offset(trim(value.part[0])))
			return true;
		value.part[0] = trim(value.part[0]);
		break;
	case K_GEO:
		/* 2.1 writes lat,lon; 3.0 lat;lon; 4.0 geo:lat,lon. */
		one = value.part[0];
		if (starts(one, "geo:")) {
			one.remove_prefix(4);
			one = one.substr(0, one.find(';'));
		}
		if (!geo_21(one, geo))
			return true;
		value.part[0] = string_view(geo);
		break;
	case K_IMPP:
		for (const impp_map &e : impp_table)
			if (starts(value.part[0], e.scheme)) {
				name = e.out;
				value.part[0].remove_prefix(strlen(e.scheme));
				break;
			}
		break;
	}
	if (all_empty(value))
		return true;

	std::span<const string_view> vparts(value.part, (size_t)value.count);
	std::span<const string_view> vtypes(types, (size_t)ntypes);
	if (name == "N" || name == "FN") {
		bool n = name == "N";
		if (n ? c->has_n : c->has_fn)
			return true;
		vcard_write_prop(n ? &c->n_line : &c->fn_line, name, {}, vparts,
		    n, charset);
		if (n) {
			c->has_n = true;
			for (int i = 0; i < 5; i++)
				keep(&c->n[i],
				    i < value.count ? value.part[i] : "");
			keep_charset(c->n_charset, charset);
		} else {
			c->has_fn = true;
			keep(&c->fn, value.part[0]);
			keep_charset(c->fn_charset, charset);
		}
		return true;
	}
	if (name == "ORG" && !c->has_org) {
		c->has_org = true;
		keep(&c->org, value.part[0]);
		keep_charset(c->org_charset, charset);
	}
	vcard_write_prop(&c->rest, name, vtypes, vparts, structured, charset);
	if (k == K_ADR && !p.label.empty()) {
		label.length = 0;
		decode_label(p.label, &label);
		string_view l(reinterpret_cast<char *>(label.data),
		    label.length);
		vcard_write_prop(&c->rest, "LABEL", vtypes,
		    std::span<const string_view>(&l, 1), false, charset);
	}
	return true;
}

} // namespace

namespace
{

/*
 * A card looked over, from the line after its BEGIN:VCARD up to the next
 * line that ends or begins a card: the version it names (3.0's rules where
 * it names none), which decides how its lines unfold and so is needed
 * before them; and false when no END:VCARD comes first, since a card cut
 * short is better named so than by the line it was cut in.
 */
bool
scan_card(lines l, version *ver)
{
	line cur;
	bool seen = false;

	*ver = V30;
	while (next_line(&l, &cur)) {
		if (is_end(cur.text))
			return true;
		if (is_begin(cur.text))
			return false;
		if (!seen && starts(cur.text, "VERSION:")) {
			string_view v = trim(cur.text.substr(8));
			*ver = v.starts_with('2') ? V21
			    : v.starts_with('4')  ? V40
						  : V30;
			seen = true;
		}
	}
	return false;
}

/*
 * The bytes that end a line of quoted-printable in a soft break: its '='
 * and the blanks that some writers leave after it, or 0 for none.
 */
size_t
soft_break(string_view v)
{
	size_t end = v.find_last_not_of(" \t");
	return end != string_view::npos && v[end] == '=' ? v.size() - end : 0;
}

bool
continues(string_view s)
{
	return !s.empty() && (s[0] == ' ' || s[0] == '\t');
}

/* The names of N in the order a person is called by them. */
void
put_full_name(vcard_buf *out, const card &c)
{
	static constexpr int order[] = { 3, 1, 2, 0, 4 };
	bool first = true;
	for (int i : order) {
		if (c.n[i].length == 0)
			continue;
		if (!first)
			vcard_putc(out, ' ');
		vcard_put(out, c.n[i].data, c.n[i].length);
		first = false;
	}
}

/* The card's object name: first and last name, else the organisation. */
void
card_name(const card &c, vcard_card *out)
{
	static vcard_buf name;
	const char *charset = "";

	name.length = 0;
	string_view family = c.has_n ? view(c.n[0]) : string_view();
	string_view given = c.has_n ? view(c.n[1]) : string_view();
	if (!given.empty() || !family.empty()) {
		vcard_puts(&name, given);
		if (!given.empty() && !family.empty())
			vcard_putc(&name, ' ');
		vcard_puts(&name, family);
		charset = c.n_charset;
	} else if (c.has_fn) {
		/* An N of a prefix or middle names alone names nobody. */
		vcard_puts(&name, view(c.fn));
		charset = c.fn_charset;
	} else if (c.has_n) {
		/* The FN that the card gets from its N, as a device shows it.
		 */
		put_full_name(&name, c);
		charset = c.n_charset;
	} else if (c.has_org) {
		vcard_puts(&name, view(c.org));
		charset = c.org_charset;
	}
	/*
	 * A line end or other control byte has no place in a name that a
	 * receiver shows and may file under: between words a run of them is
	 * one space, at either end nothing.
	 */
	size_t kept = 0;
	bool gap = false;
	for (size_t i = 0; i < name.length; i++) {
		unsigned char b = name.data[i];
		if (b < ' ' || b == 0x7F) {
			gap = true;
			continue;
		}
		if (gap && kept != 0 && name.data[kept - 1] != ' ' && b != ' ')
			name.data[kept++] = ' ';
		name.data[kept++] = b;
		gap = false;
	}
	name.length = kept;
	const char *text = reinterpret_cast<const char *>(name.data);
	size_t n = utf8(charset) ? vcard_cut(text, name.length, VCARD_NAME_MAX)
	    : name.length < VCARD_NAME_MAX ? name.length
					   : VCARD_NAME_MAX;
	if (n != 0)
		memcpy(out->name, text, n);
	out->namelen = (int)n;
}

/*
 * Converts the card whose lines follow in l, up to its END:VCARD, and adds
 * it to the book; `begin` is the line of its BEGIN:VCARD.
 */
bool
convert_card(lines *l, long begin, vcard_book *book, vcard_fault *fault)
{
	static card c;
	static vcard_buf logical;
	line cur;
	prop p;

	if (!scan_card(*l, &c.ver)) {
		*fault = { begin, "card without END:VCARD" };
		return false;
	}
	c.n_line.length = c.fn_line.length = c.rest.length = 0;
	c.has_n = c.has_fn = c.has_org = false;

	bool have = next_line(l, &cur);
	for (;;) {
		if (!have || is_begin(cur.text)) {
			*fault = { begin, "card without END:VCARD" };
			return false;
		}
		if (is_end(cur.text))
			break;
		if (blank(cur.text)) {
			have = next_line(l, &cur);
			continue;
		}
		if (continues(cur.text)) {
			*fault = { cur.number,
				"neither a property nor a continuation" };
			return false;
		}
		if (opens_inner(cur.text)) {
			/* AGENT's card: left out, with every card inside. */
			long inner = cur.number;
			for (int depth = 1; depth > 0;) {
				if (!(have = next_line(l, &cur))) {
					*fault = { inner,
						"card without END:VCARD" };
					return false;
				}
				if (is_end(cur.text))
					depth--;
				else if (opens_inner(cur.text))
					depth++;
			}
			have = next_line(l, &cur);
			continue;
		}

		/*
		 * One property: its line, then what continues it: the next
		 * line whole after a soft break of quoted-printable, a folded
		 * line (whose blank 3.0 and 4.0 drop and 2.1 keeps), and the
		 * bare lines of 2.1's base64, which an empty line ends.
		 */
		long number = cur.number;
		keep(&logical, cur.text);
		have = next_line(l, &cur);
		for (;;) {
			bool ok = parse_prop(view(logical), &p);
			size_t drop =
			    ok && p.enc == E_QP ? soft_break(p.value) : 0;
			if (drop != 0 && have && !is_end(cur.text)) {
				logical.length -= drop;
				vcard_puts(&logical, cur.text);
			} else if (have && continues(cur.text)) {
				vcard_puts(&logical,
				    c.ver == V21 ? cur.text
						 : cur.text.substr(1));
			} else if (ok && have && p.enc == E_BASE64 &&
			    c.ver == V21 && !blank(cur.text) &&
			    cur.text.find(':') == string_view::npos) {
				vcard_puts(&logical, cur.text);
			} else if (!ok) {
				*fault = {
					number,
					"neither a property nor a continuation"
				};
				return false;
			} else {
				break;
			}
			have = next_line(l, &cur);
		}
		if (!convert_prop(&c, p, fault, number))
			return false;
	}

	vcard_buf *out = &book->text;
	size_t start = out->length;
	vcard_puts(out, "BEGIN:VCARD\r\nVERSION:2.1\r\n");
	/* A device shows a card by its N or its FN: each gets the other. */
	if (c.has_n) {
		vcard_put(out, c.n_line.data, c.n_line.length);
	} else if (c.has_fn) {
		string_view fn = view(c.fn);
		vcard_write_prop(out, "N", {},
		    std::span<const string_view>(&fn, 1), true, c.fn_charset);
	}
	if (c.has_fn) {
		vcard_put(out, c.fn_line.data, c.fn_line.length);
	} else if (c.has_n) {
		static vcard_buf full;
		full.length = 0;
		put_full_name(&full, c);
		string_view fn = view(full);
		vcard_write_prop(out, "FN", {},
		    std::span<const string_view>(&fn, 1), false, c.n_charset);
	}
	vcard_put(out, c.rest.data, c.rest.length);
	vcard_puts(out, "END:VCARD\r\n");

	if (book->count == book->room) {
		size_t room = book->room != 0 ? book->room * 2 : 64;
		void *q = realloc(book->cards, room * sizeof(vcard_card));
		if (q == nullptr || room > SIZE_MAX / sizeof(vcard_card))
			proc_fatal("out of memory");
		book->cards = static_cast<vcard_card *>(q);
		book->room = room;
	}
	vcard_card *vc = &book->cards[book->count++];
	vc->start = start;
	vc->length = out->length - start;
	card_name(c, vc);
	return true;
}

} // namespace

bool
vcard_convert(const unsigned char *input, size_t length, vcard_book *book,
    vcard_fault *fault)
{
	const char *text = reinterpret_cast<const char *>(input);
	lines l = { text, text + length, 0 };
	line cur;

	if (length >= 3 && memcmp(input, "\xEF\xBB\xBF", 3) == 0)
		l.pos += 3;
	while (next_line(&l, &cur)) {
		if (blank(cur.text))
			continue;
		if (!is_begin(cur.text)) {
			*fault = { cur.number, "text outside a card" };
			return false;
		}
		if (!convert_card(&l, cur.number, book, fault))
			return false;
	}
	if (book->count == 0) {
		*fault = { 0, "no card in the input" };
		return false;
	}
	return true;
}

void
vcard_free(vcard_book *book)
{
	free(book->text.data);
	free(book->cards);
	*book = vcard_book{};
}

size_t
vcard_cut(const char *text, size_t length, size_t max)
{
	if (length <= max)
		return length;
	/* Back to the first byte of the character that the cut would split;
	 * a text that is not UTF-8 there is cut where it stands. */
	size_t n = max;
	while (n > 0 && max - n < 4 && (text[n] & 0xC0) == 0x80)
		n--;
	return max - n < 4 ? n : max;
}

const unsigned char *
vcard_load(const char *path, size_t *length)
{
	bool is_stdin = path == nullptr || strcmp(path, "-") == 0;
	int fd = is_stdin ? STDIN_FILENO : open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		proc_fatal("cannot open `%s': %s", proc_shown(path),
		    strerror(errno));
	/* Kept here, where it stays reachable until the process ends. */
	static vcard_buf in;
	ssize_t n;

	in.length = 0;
	do {
		vcard_reserve(&in, 64 * 1024);
		n = fd_read(fd, in.data + in.length, in.size - in.length);
		if (n > 0)
			in.length += (size_t)n;
	} while (n > 0);
	if (n < 0) {
		if (is_stdin)
			proc_fatal("cannot read standard input: %s",
			    strerror(errno));
		proc_fatal("cannot read `%s': %s", proc_shown(path),
		    strerror(errno));
	}
	if (!is_stdin)
		close(fd);
	*length = in.length;
	return in.data != nullptr ? in.data
				  : reinterpret_cast<const unsigned char *>("");
}

void
vcard_read_book(const char *path, vcard_book *book)
{
	size_t length;
	const unsigned char *input = vcard_load(path, &length);
	vcard_fault fault;

	if (vcard_convert(input, length, book, &fault))
		return;
	if (fault.line > 0)
		proc_fatal("line %ld: %s", fault.line, fault.what);
	proc_fatal("%s", fault.what);
}
