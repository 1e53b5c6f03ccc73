/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The cards and calendars as an independent reader takes them: libical's
 * vCard and vCalendar 1.0 parser (libicalvcal, the "versit" parser) reads
 * the payload of each object, and the object kinds and property values it
 * reads must be those that the command line gave.
 *
 * What libical 3.0.16 is known to do, so that the cases check the payloads
 * and not the parser: it takes CR LF and bare line ends alike (so the line
 * ends are counted here), misreads an empty value that a line break
 * follows, takes a line break inside a DESCRIPTION for a syntax error,
 * reads the byte 0xFF as the end of the input, drops the blanks after a
 * semicolon in a value, and reports "pop on empty Object Stack" at the end
 * of every parse.  The cases keep to what it reads faithfully.
 */
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <libical/vcc.h>

#include "obex_walk.h"
#include "runner.h"

namespace
{

std::string parse_errors;

void
note_parse_error(char *message)
{
	std::string_view m(message);

	/* Said at the end of every parse, whatever the input. */
	if (m.starts_with("pop on empty Object Stack"))
		return;
	parse_errors += m;
	parse_errors += '\n';
}

void
list_object(VObject *o, const std::string &parent,
    std::vector<std::string> &lines)
{
	std::string path =
	    parent.empty() ? vObjectName(o) : parent + "/" + vObjectName(o);
	char *text;

	switch (vObjectValueType(o)) {
	case VCVT_NOVALUE:
		lines.push_back(path);
		break;
	case VCVT_STRINGZ:
		lines.push_back(path + "=" + vObjectStringZValue(o));
		break;
	case VCVT_USTRINGZ:
		text = fakeCString(vObjectUStringZValue(o));
		lines.push_back(path + "=" + text);
		deleteStr(text);
		break;
	default:
		lines.push_back(path + " with a value of type " +
		    std::to_string(vObjectValueType(o)));
		break;
	}
	VObjectIterator i;
	initPropIterator(&i, o);
	while (moreIteration(&i))
		list_object(nextVObject(&i), path, lines);
}

/*
 * What the parser read: one line per object and property, with the path
 * of names that leads to it ("VCARD/N/F" is the family name) and, where
 * it has one, "=" and its value; then any complaint of the parser.
 */
std::vector<std::string>
versit_read(std::string_view text)
{
	std::vector<std::string> lines;

	parse_errors.clear();
	registerMimeErrorHandler(note_parse_error);
	VObject *list = Parse_MIME(text.data(), text.size());
	for (VObject *o = list; o != nullptr; o = nextVObjectInList(o))
		list_object(o, "", lines);
	cleanVObjects(list);
	cleanStrTbl();
	if (!parse_errors.empty())
		lines.push_back("parse error: " + parse_errors);
	return lines;
}

/* Line ends other than CR LF, which the parser would take all the same. */
int
bare_line_ends(std::string_view text)
{
	int n = 0;
	for (size_t i = 0; i < text.size(); i++) {
		if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
			n++;
		if (text[i] == '\r' &&
		    (i + 1 == text.size() || text[i + 1] != '\n'))
			n++;
	}
	return n;
}

/* One program run whose payload goes to the parser. */
struct ReadCase {
	const char *name = "";
	std::vector<std::string> args = {};
	std::string input = {};
	std::vector<std::string> read = {};
};

void
PrintTo(const ReadCase &c, std::ostream *os)
{
	*os << c.name;
}

void
expect_read(std::string_view program, const ReadCase &c)
{
	RunOptions options;
	options.input = c.input;
	RunResult r = run_program(program, c.args, options);
	ASSERT_EQ(r.status, 0) << r.err;

	bool ok;
	std::string payload = obex_payload(r.out, ok);
	ASSERT_TRUE(ok) << "no payload in " << printable(r.out);
	EXPECT_EQ(bare_line_ends(payload), 0) << printable(payload);
	EXPECT_EQ(versit_read(payload), c.read) << printable(payload);
}

} // namespace

/* The reader and the comparison, on texts whose reading is known. */
TEST(VersitCheck, ReadsWhatTheTextSays)
{
	std::vector<std::string> card = { "VCARD", "VCARD/VERSION=2.1",
		"VCARD/N", "VCARD/N/F=Lee", "VCARD/N/G=Ann" };

	EXPECT_EQ(versit_read("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\n"
			      "END:VCARD"),
	    card);
	EXPECT_NE(versit_read("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\n"
			      "END:VCARDS"),
	    card);
	EXPECT_NE(versit_read("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee,Ann\r\n"
			      "END:VCARD"),
	    card);
	EXPECT_EQ(bare_line_ends("a\r\nb\r\n"), 0);
	EXPECT_EQ(bare_line_ends("a\nb\r"), 2);
}

static const ReadCase address_cases[] = {
	{ .name = "WorkedExample",
	    .args = { "-f", "Ann", "-l", "Lee", "-c", "Oslo" },
	    .read = { "VCARD", "VCARD/VERSION=2.1", "VCARD/N", "VCARD/N/F=Lee",
		"VCARD/N/G=Ann", "VCARD/ADR", "VCARD/ADR/L=Oslo" } },
	{ .name = "EveryField",
	    .args = { "-l", "Lee", "-f", "Ann", "-a", "1 Main St", "-c", "Oslo",
		"-s", "Viken", "-z", "0150", "-C", "Norway", "-o", "Acme, Inc.",
		"-t", "Chief engineer", "-n", "work" },
	    .read = { "VCARD", "VCARD/VERSION=2.1", "VCARD/N", "VCARD/N/F=Lee",
		"VCARD/N/G=Ann", "VCARD/ADR", "VCARD/ADR/STREET=1 Main St",
		"VCARD/ADR/L=Oslo", "VCARD/ADR/R=Viken", "VCARD/ADR/PC=0150",
		"VCARD/ADR/C=Norway", "VCARD/ORG",
		"VCARD/ORG/ORGNAME=Acme, Inc.",
		"VCARD/TITLE=Chief engineer" } },
	{ .name = "GivenNameInItsPlace",
	    .args = { "-f", "Ann" },
	    .read = { "VCARD", "VCARD/VERSION=2.1", "VCARD/N",
		"VCARD/N/G=Ann" } },
	{ .name = "CountryInItsPlace",
	    .args = { "-C", "Norway", "-c", "Troms\xC3\xB8" },
	    .read = { "VCARD", "VCARD/VERSION=2.1", "VCARD/ADR",
		"VCARD/ADR/L=Troms\xC3\xB8", "VCARD/ADR/C=Norway" } },
	{ .name = "CompanyAndTitle",
	    .args = { "-o", "Acme AS", "-t", "Engineer" },
	    .read = { "VCARD", "VCARD/VERSION=2.1", "VCARD/ORG",
		"VCARD/ORG/ORGNAME=Acme AS", "VCARD/TITLE=Engineer" } },
	{ .name = "CardFromStandardInput",
	    .input = "BEGIN:VCARD\nVERSION:2.1\nN:Lee;Ann\nTEL:555-0100\n"
		     "END:VCARD\n",
	    .read = { "VCARD", "VCARD/VERSION=2.1", "VCARD/N", "VCARD/N/F=Lee",
		"VCARD/N/G=Ann", "VCARD/TEL=555-0100" } },
};

class AddressRead : public testing::TestWithParam<ReadCase>
{
};

TEST_P(AddressRead, AsGiven)
{
	expect_read("fmt-address", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, AddressRead, testing::ValuesIn(address_cases),
    CaseName());

static const ReadCase date_cases[] = {
	{ .name = "WorkedExample",
	    .args = { "-d", "20240315", "-t", "0930-1030", "Team", "meeting" },
	    .read = { "VCALENDAR", "VCALENDAR/VERSION=1.0", "VCALENDAR/VEVENT",
		"VCALENDAR/VEVENT/DTSTART=20240315T093000",
		"VCALENDAR/VEVENT/DTEND=20240315T103000",
		"VCALENDAR/VEVENT/DESCRIPTION=Team meeting" } },
	{ .name = "WithoutTimes",
	    .args = { "-d", "20240315", "Team", "meeting" },
	    .read = { "VCALENDAR", "VCALENDAR/VERSION=1.0", "VCALENDAR/VEVENT",
		"VCALENDAR/VEVENT/DTSTART=20240315",
		"VCALENDAR/VEVENT/DESCRIPTION=Team meeting" } },
	{ .name = "DescriptionFromStandardInput",
	    .args = { "-n", "Dentist", "-d", "20241101", "-t", "1615-17" },
	    .input = "Dentist at 16:15, bring card\n",
	    .read = { "VCALENDAR", "VCALENDAR/VERSION=1.0", "VCALENDAR/VEVENT",
		"VCALENDAR/VEVENT/DTSTART=20241101T161500",
		"VCALENDAR/VEVENT/DTEND=20241101T170000",
		"VCALENDAR/VEVENT/DESCRIPTION=Dentist at 16:15, bring "
		"card" } },
};

class DateRead : public testing::TestWithParam<ReadCase>
{
};

TEST_P(DateRead, AsGiven)
{
	expect_read("fmt-date", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, DateRead, testing::ValuesIn(date_cases),
    CaseName());

static const ReadCase todo_cases[] = {
	{ .name = "WorkedExample",
	    .args = { "-d", "20240315", "Buy", "milk" },
	    .read = { "VCALENDAR", "VCALENDAR/VERSION=1.0", "VCALENDAR/VTODO",
		"VCALENDAR/VTODO/CATEGORIES=X-Unfiled",
		"VCALENDAR/VTODO/DUE=20240315",
		"VCALENDAR/VTODO/STATUS=NEEDS ACTION",
		"VCALENDAR/VTODO/PRIORITY=1",
		"VCALENDAR/VTODO/DESCRIPTION=Buy milk" } },
	{ .name = "DescriptionFromStandardInput",
	    .args = { "-n", "Tyres", "-d", "20241015" },
	    .input = "Change tyres: winter set, 4 bolts each\n",
	    .read = { "VCALENDAR", "VCALENDAR/VERSION=1.0", "VCALENDAR/VTODO",
		"VCALENDAR/VTODO/CATEGORIES=X-Unfiled",
		"VCALENDAR/VTODO/DUE=20241015",
		"VCALENDAR/VTODO/STATUS=NEEDS ACTION",
		"VCALENDAR/VTODO/PRIORITY=1",
		"VCALENDAR/VTODO/DESCRIPTION=Change tyres: winter set, 4 bolts "
		"each" } },
};

class TodoRead : public testing::TestWithParam<ReadCase>
{
};

TEST_P(TodoRead, AsGiven)
{
	expect_read("fmt-todo", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, TodoRead, testing::ValuesIn(todo_cases),
    CaseName());

static const ReadCase phonecard_cases[] = {
	{ .name = "WorkedExample",
	    .args = { "-n", "Home", "-t", "555-0100" },
	    .read = { "VCARD", "VCARD/VERSION=2.1", "VCARD/N", "VCARD/N/F=Home",
		"VCARD/TEL=555-0100" } },
	{ .name = "LongNameCut",
	    .args = { "-n", "Annabelle Lee-Winterbottom", "-t",
		"+47 555 0100" },
	    .read = { "VCARD", "VCARD/VERSION=2.1", "VCARD/N",
		"VCARD/N/F=Annabelle Lee-Winterbott",
		"VCARD/TEL=+47 555 0100" } },
};

class PhonecardRead : public testing::TestWithParam<ReadCase>
{
};

TEST_P(PhonecardRead, AsGiven)
{
	expect_read("fmt-phonecard", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, PhonecardRead,
    testing::ValuesIn(phonecard_cases), CaseName());

/*
 * Address books as exporters write them, through fmt-address -i and
 * fmt-phonecard -i: every object's card, read by the parser, must hold the
 * names, numbers, addresses and notes of the input's card.  The parser
 * takes a quoted-printable value whole, without cutting a structured one
 * at its ';' (devices cut it), so such a value is checked as one text; and
 * the charset and encoding it reports are left out of the comparison.
 */
struct BookCase {
	const char *name;
	std::string input;
	std::vector<std::vector<std::string>> cards;
};

void
PrintTo(const BookCase &c, std::ostream *os)
{
	*os << c.name;
}

/* The payload of every object in a run of them. */
static std::vector<std::string>
payloads(std::string_view objects)
{
	std::vector<std::string> out;
	bool framed;
	std::string payload;
	for (const ObexPiece &p : obex_walk(objects, framed)) {
		if (p.id == 0x48 || p.id == 0x49)
			payload += p.data;
		if (p.id == 0x49) {
			out.push_back(payload);
			payload.clear();
		}
	}
	EXPECT_TRUE(framed);
	return out;
}

static std::vector<std::string>
read_card(std::string_view payload)
{
	std::vector<std::string> lines;
	for (const std::string &l : versit_read(payload))
		if (l.find("/CHARSET=") == std::string::npos &&
		    l.find("/ENCODING=") == std::string::npos)
			lines.push_back(l);
	return lines;
}

class BookRead : public testing::TestWithParam<BookCase>
{
};

TEST_P(BookRead, EveryCardWhole)
{
	for (const char *program : { "fmt-address", "fmt-phonecard" }) {
		std::vector<std::vector<std::string>> got;
		for (const std::string &p :
		    payloads(output_of(program, { "-i" }, GetParam().input))) {
			EXPECT_EQ(bare_line_ends(p), 0) << printable(p);
			got.push_back(read_card(p));
		}
		EXPECT_EQ(got, GetParam().cards) << program;
	}
}

static const BookCase book_cases[] = {
	{ "PhoneExport21",
	    "BEGIN:VCARD\r\nVERSION:2.1\r\n"
	    "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C3=85se;Kari;;;\r\n"
	    "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Kari =C3=85se\r\n"
	    "TEL;CELL:+4790000001\r\nTEL;HOME:+4722000001\r\n"
	    "EMAIL;HOME:kari@example.no\r\n"
	    "ADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;Storgata 1;Tro"
	    "ms=C3=B8;;9008;Norge\r\n"
	    "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Ring etter kl. 18=0D="
	    "0AIkke s=C3=B8ndag\r\n"
	    "X-ANDROID-CUSTOM:vnd.android.cursor.item/nickname;Kari;1;;;;;;;;;"
	    "\r\n"
	    "PHOTO;ENCODING=BASE64;JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAMCAg"
	    "\r\n    "
	    "BAgGBgUGCQgKCgkICQkKDA8MCgsOCwkJDRENDg8QEBEQCgwSExIQEw8QEBD/"
	    "\r\n\r\nEND:VCARD\r\n"
	    "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Berg;Ola;;;\r\nFN:Ola Berg\r\n"
	    "TEL;WORK;VOICE:+4722000002\r\nORG:Berg AS\r\nEND:VCARD\r\n",
	    {
		{ "VCARD", "VCARD/VERSION=2.1", "VCARD/N",
		    "VCARD/N/F=\xC3\x85se;Kari;;;", "VCARD/FN=Kari \xC3\x85se",
		    "VCARD/TEL=+4790000001", "VCARD/TEL/CELL",
		    "VCARD/TEL=+4722000001", "VCARD/TEL/HOME",
		    "VCARD/EMAIL=kari@example.no", "VCARD/EMAIL/INTERNET",
		    "VCARD/EMAIL/HOME", "VCARD/ADR", "VCARD/ADR/HOME",
		    "VCARD/ADR/STREET=Storgata 1;Troms\xC3\xB8;;9008;Norge",
		    "VCARD/NOTE=Ring etter kl. 18\r\nIkke s\xC3\xB8ndag",
		    "VCARD/X-ANDROID-CUSTOM=vnd.android.cursor.item/"
		    "nickname;Kari;1" },
		{ "VCARD", "VCARD/VERSION=2.1", "VCARD/N", "VCARD/N/F=Berg",
		    "VCARD/N/G=Ola", "VCARD/FN=Ola Berg",
		    "VCARD/TEL=+4722000002", "VCARD/TEL/WORK",
		    "VCARD/TEL/VOICE", "VCARD/ORG",
		    "VCARD/ORG/ORGNAME=Berg AS" },
	    } },
	{ "WebAddressBook30",
	    "BEGIN:VCARD\nVERSION:3.0\nFN:Ann Lee\nN:Lee;Ann;;;\n"
	    "EMAIL;TYPE=INTERNET;TYPE=HOME:ann@example.org\n"
	    "EMAIL;TYPE=INTERNET;TYPE=WORK:ann.lee@acme.example\n"
	    "TEL;TYPE=CELL:+1 202 555 0100\nTEL;TYPE=WORK:+1 202 555 0199\n"
	    "ADR;TYPE=HOME:;;1 Main St;Springfield;IL;62701;USA\n"
	    "item1.ORG:Acme\nitem1.X-ABLabel:\nTITLE:Engineer\n"
	    "NOTE:Met at the fair\\, 2019.\\nLikes tea.\n"
	    "CATEGORIES:myContacts,Friends\nBDAY:1980-02-29\n"
	    "URL:https\\://ann.example.org/\nEND:VCARD\n"
	    "BEGIN:VCARD\nVERSION:3.0\nFN:Bob\nN:;Bob;;;\n"
	    "TEL;TYPE=CELL:555 0102\nEND:VCARD\n",
	    {
		{ "VCARD", "VCARD/VERSION=2.1", "VCARD/N", "VCARD/N/F=Lee",
		    "VCARD/N/G=Ann", "VCARD/FN=Ann Lee",
		    "VCARD/EMAIL=ann@example.org", "VCARD/EMAIL/INTERNET",
		    "VCARD/EMAIL/HOME", "VCARD/EMAIL=ann.lee@acme.example",
		    "VCARD/EMAIL/INTERNET", "VCARD/EMAIL/WORK",
		    "VCARD/TEL=+1 202 555 0100", "VCARD/TEL/CELL",
		    "VCARD/TEL=+1 202 555 0199", "VCARD/TEL/WORK", "VCARD/ADR",
		    "VCARD/ADR/HOME", "VCARD/ADR/STREET=1 Main St",
		    "VCARD/ADR/L=Springfield", "VCARD/ADR/R=IL",
		    "VCARD/ADR/PC=62701", "VCARD/ADR/C=USA", "VCARD/ORG",
		    "VCARD/ORG/ORGNAME=Acme", "VCARD/TITLE=Engineer",
		    "VCARD/NOTE=Met at the fair, 2019.\r\nLikes tea.",
		    "VCARD/X-CATEGORIES=myContacts,Friends",
		    "VCARD/BDAY=19800229",
		    "VCARD/URL=https://ann.example.org/" },
		{ "VCARD", "VCARD/VERSION=2.1", "VCARD/N", "VCARD/N/G=Bob",
		    "VCARD/FN=Bob", "VCARD/TEL=555 0102", "VCARD/TEL/CELL" },
	    } },
	{ "DesktopMailClient30",
	    "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Apple Inc.//macOS "
	    "14.0//EN\r\n"
	    "N:M\xC3\xBCller;J\xC3\xB6rg;;Dr.;\r\nFN:Dr. J\xC3\xB6rg "
	    "M\xC3\xBCller\r\n"
	    "ORG:M\xC3\xBCller & S\xC3\xB6hne GmbH;Vertrieb\r\n"
	    "item1.EMAIL;type=INTERNET;type=pref:joerg@example.de\r\n"
	    "item1.X-ABLabel:_$!<Other>!$_\r\n"
	    "item2.TEL;type=CELL;type=VOICE;type=pref:+49 170 5550100\r\n"
	    "item3.ADR;type=WORK;type=pref:;;Hauptstra\xC3\x9F"
	    "e 5;Berlin;;10115;Deutschland\r\n"
	    "item3.X-ABADR:de\r\nNOTE:Zweite Zeile folgt\\nund eine sehr lange "
	    "Zeile\\, die gefaltet\r\n  wurde.\r\n"
	    "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/"
	    "2wBDAAMCAgIC\r\n"
	    " AgMCAgIDAwMDBAYEBAQE\r\nEND:VCARD\r\n",
	    {
		{ "VCARD", "VCARD/VERSION=2.1", "VCARD/N",
		    "VCARD/N/F=M\xC3\xBCller;J\xC3\xB6rg;;Dr.;",
		    "VCARD/FN=Dr. J\xC3\xB6rg M\xC3\xBCller", "VCARD/ORG",
		    "VCARD/ORG/ORGNAME=M\xC3\xBCller & S\xC3\xB6hne "
		    "GmbH;Vertrieb",
		    "VCARD/EMAIL=joerg@example.de", "VCARD/EMAIL/INTERNET",
		    "VCARD/EMAIL/PREF", "VCARD/TEL=+49 170 5550100",
		    "VCARD/TEL/CELL", "VCARD/TEL/VOICE", "VCARD/TEL/PREF",
		    "VCARD/ADR", "VCARD/ADR/WORK", "VCARD/ADR/PREF",
		    "VCARD/ADR/STREET=Hauptstra\xC3\x9F"
		    "e 5;Berlin;;10115;Deutschland",
		    "VCARD/X-ABADR=de",
		    "VCARD/NOTE=Zweite Zeile folgt\r\nund eine sehr lange "
		    "Zeile, die gefaltet wurde." },
	    } },
	{ "Version40WithUrisAndGroups",
	    "BEGIN:VCARD\nVERSION:4.0\nKIND:individual\nFN:Siri Dahl\n"
	    "N:Dahl;Siri;;;\n"
	    "item1.TEL;VALUE=uri;TYPE=\"cell,voice\";PREF=1:tel:+47-555-0101\n"
	    "item2.TEL;VALUE=uri;TYPE=work:tel:+47-555-0102;ext=12\n"
	    "EMAIL;TYPE=work:siri@example.no\n"
	    "ADR;TYPE=home;LABEL=\"Kirkeveien 3\\n0368 Oslo\":;;Kirkeveien "
	    "3;Oslo"
	    ";;0368;Norway\n"
	    "NOTE:Allergic to nuts\nIMPP;PREF=1:xmpp:siri@example.no\n"
	    "PHOTO:data:image/jpeg;base64,/9j/4AAQ\nEND:VCARD\n",
	    {
		{ "VCARD", "VCARD/VERSION=2.1", "VCARD/N", "VCARD/N/F=Dahl",
		    "VCARD/N/G=Siri", "VCARD/FN=Siri Dahl",
		    "VCARD/TEL=+47-555-0101", "VCARD/TEL/CELL",
		    "VCARD/TEL/VOICE", "VCARD/TEL/PREF",
		    "VCARD/TEL=+47-555-0102", "VCARD/TEL/WORK",
		    "VCARD/EMAIL=siri@example.no", "VCARD/EMAIL/INTERNET",
		    "VCARD/EMAIL/WORK", "VCARD/ADR", "VCARD/ADR/HOME",
		    "VCARD/ADR/STREET=Kirkeveien 3", "VCARD/ADR/L=Oslo",
		    "VCARD/ADR/PC=0368", "VCARD/ADR/C=Norway",
		    "VCARD/LABEL=Kirkeveien 3\r\n0368 Oslo", "VCARD/LABEL/HOME",
		    "VCARD/NOTE=Allergic to nuts",
		    "VCARD/X-JABBER=siri@example.no" },
	    } },
	{ "Outlook21Latin1",
	    "BEGIN:VCARD\r\nVERSION:2.1\r\n"
	    "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Garc=EDa;Jos=E9\r\n"
	    "FN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Jos=E9 "
	    "Garc=EDa\r\n"
	    "ORG:Compa\xF1ia SA\r\nTEL;WORK;VOICE:+34 91 555 0100\r\n"
	    "TEL;CELL;VOICE:+34 600 555 010\r\n"
	    "ADR;WORK;ENCODING=QUOTED-PRINTABLE;CHARSET=ISO-8859-1:;;Calle "
	    "Mayor"
	    " 1;Le=F3n;;24001;Espa=F1a\r\n"
	    "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=ISO-8859-1:Primera "
	    "l=EDnea=0D"
	    "=0ASegunda l=EDnea, que es bastante larga y necesita un salto "
	    "su=\r\n"
	    "ave.\r\nEMAIL;PREF;INTERNET:jose@example.es\r\nEND:VCARD\r\n",
	    {
		{ "VCARD", "VCARD/VERSION=2.1", "VCARD/N",
		    "VCARD/N/F=Garc\xED"
		    "a;Jos\xE9",
		    "VCARD/FN=Jos\xE9 Garc\xED"
		    "a",
		    "VCARD/ORG", "VCARD/ORG/ORGNAME=Compa\xF1ia SA",
		    "VCARD/TEL=+34 91 555 0100", "VCARD/TEL/WORK",
		    "VCARD/TEL/VOICE", "VCARD/TEL=+34 600 555 010",
		    "VCARD/TEL/CELL", "VCARD/TEL/VOICE", "VCARD/ADR",
		    "VCARD/ADR/WORK",
		    "VCARD/ADR/STREET=Calle Mayor 1;Le\xF3n;;24001;Espa\xF1"
		    "a",
		    "VCARD/NOTE=Primera l\xEDnea\r\nSegunda l\xEDnea, que es "
		    "bastante larga y necesita un salto suave.",
		    "VCARD/EMAIL=jose@example.es", "VCARD/EMAIL/INTERNET",
		    "VCARD/EMAIL/PREF" },
	    } },
};

INSTANTIATE_TEST_SUITE_P(Cases, BookRead, testing::ValuesIn(book_cases),
    CaseName());

/*
 * Quoted-printable both ways: every byte value but those the parser cannot
 * take (NUL, and 0xFF, which it reads as the end), and a line end, in a
 * note long enough for many soft breaks, as a 3.0 card escapes them, comes
 * back from the parser byte for byte, its line end as CR LF.
 */
TEST(VersitQuotedPrintable, EveryByteComesBack)
{
	std::string bytes, escaped;
	for (int round = 0; round < 2; round++)
		for (int c = 1; c < 255; c++) {
			if (c == '\r')
				continue;
			bytes += c == '\n' ? std::string("\r\n")
					   : std::string(1, (char)c);
			escaped += c == '\n' ? "\\n"
			    : c == '\\' || c == ';' || c == ','
			    ? "\\" + std::string(1, (char)c)
			    : std::string(1, (char)c);
		}
	std::string out = output_of("fmt-address", { "-i" },
	    "BEGIN:VCARD\nVERSION:3.0\nFN:x\nNOTE:" + escaped +
		"\nEND:VCARD\n");
	std::vector<std::string> p = payloads(out);
	ASSERT_EQ(p.size(), 1u);
	EXPECT_EQ(read_card(p[0]),
	    (std::vector<std::string>{ "VCARD", "VCARD/VERSION=2.1", "VCARD/N",
		"VCARD/N/F=x", "VCARD/FN=x", "VCARD/NOTE=" + bytes }));
}
