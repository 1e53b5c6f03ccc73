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
