/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-dump: the objects of every program described, payloads given back
 * byte for byte, each kind of malformed stream named with its offset, and
 * streams of several objects; then the reader itself on every cut and
 * every one-byte change of an object, read in pieces of every size.
 */
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "objread.h"
#include "objwrite.h"
#include "runner.h"

static const std::string usage = "Describe OBEX objects from stdin or file\n"
				 "Usage: fmt-dump [-p] [file]\n";
static const std::string title = "offset  id    header       length  value\n";

/* fmt-memo -n Shopping with milk and eggs on standard input: 41 bytes. */
static const std::string shopping =
    hex("01 00 15 00 53 00 68 00 6F 00 70 00 70 00 69 00 6E 00 67 00 00"
	"CF 6D 65 6D 6F 49 00 0F") +
    "milk\r\neggs\r\n";
static const std::string shopping_name =
    "     0  0x01  Name             21  \"Shopping\"\n";
static const std::string shopping_creator =
    "    21  0xCF  Creator ID        5  \"memo\"\n";
static const std::string shopping_listing = title + shopping_name +
    shopping_creator + "    26  0x49  End of Body      15  12 bytes of text\n";
static const std::string shopping_shown =
    "milk\\r\\n\neggs\\r\\n\npayload: 12 bytes\n";

/* fmt-address -f Ann -l Lee -c Oslo: Name, Length, Creator ID, a card. */
static const std::string card_text = "BEGIN:VCARD\r\nVERSION:2.1\r\n"
				     "N:Lee;Ann\r\nADR:;;;Oslo;;;\r\nEND:VCARD";
static const std::string card_head =
    hex("01 00 13 00 41 00 6E 00 6E 00 20 00 4C 00 65 00 65 00 00");
static const std::string card_tail = hex("CF 61 64 64 72 49 00 41") + card_text;
static const std::string card_name_line =
    "     0  0x01  Name             19  \"Ann Lee\"\n";
static const std::string card_after_length =
    "    24  0xCF  Creator ID        5  \"addr\"\n"
    "    29  0x49  End of Body      65  62 bytes of text\n";
static const std::string card_listing = title + card_name_line +
    "    19  0xC3  Length            5  62\n" + card_after_length;

/* A Palm database file's first bytes: its name in a field of 32. */
static const std::string sample_db =
    std::string("Sample") + std::string(26, '\0') + "DATAdata";

class DumpObject : public testing::TestWithParam<CaseRun>
{
};

TEST_P(DumpObject, DescribesIt)
{
	expect_case("fmt-dump", GetParam());
}

static const CaseRun well_formed[] = {
	{ .name = "Memo",
	    .input = shopping,
	    .out = shopping_listing + shopping_shown },
	{ .name = "AddressCard",
	    .input = card_head + hex("C3 00 00 00 3E") + card_tail,
	    .out = card_listing +
		"BEGIN:VCARD\\r\\n\nVERSION:2.1\\r\\n\nN:Lee;Ann\\r\\n\n"
		"ADR:;;;Oslo;;;\\r\\n\nEND:VCARD\npayload: 62 bytes\n" },
	{ .name = "AddressEmptyStream",
	    .input = hex("C3 00 00 00 00 CF 61 64 64 72 49 00 03"),
	    .out = title +
		"     0  0xC3  Length            5  0\n"
		"     5  0xCF  Creator ID        5  \"addr\"\n"
		"    10  0x49  End of Body       3  0 bytes\n"
		"payload: 0 bytes\n" },
	{ .name = "DateEvent",
	    .input = hex("01 00 0D 00 54 00 65 00 61 00 6D 00 00 CF 64 61 74 65"
			 "49 00 94") +
		"BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n"
		"DTSTART:20240315T093000\r\nDTEND:20240315T103000\r\n"
		"DESCRIPTION:Team meeting\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
	    .out = title +
		"     0  0x01  Name             13  \"Team\"\n"
		"    13  0xCF  Creator ID        5  \"date\"\n"
		"    18  0x49  End of Body     148  145 bytes of text\n"
		"BEGIN:VCALENDAR\\r\\n\nVERSION:1.0\\r\\n\nBEGIN:VEVENT\\r\\n\n"
		"DTSTART:20240315T093000\\r\\n\nDTEND:20240315T103000\\r\\n\n"
		"DESCRIPTION:Team meeting\\r\\n\nEND:VEVENT\\r\\n\n"
		"END:VCALENDAR\\r\\n\npayload: 145 bytes\n" },
	{ .name = "PhoneCardWithoutCreator",
	    .input = hex("01 00 15 00 48 00 6F 00 6D 00 65 00 2E 00 76 00 63"
			 "00 66 00 00 49 00 3E") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Home\r\nTEL:555-0100\r\n"
		"END:VCARD\r\n",
	    .out = title +
		"     0  0x01  Name             21  \"Home.vcf\"\n"
		"    21  0x49  End of Body      62  59 bytes of text\n"
		"BEGIN:VCARD\\r\\n\nVERSION:2.1\\r\\n\nN:Home\\r\\n\n"
		"TEL:555-0100\\r\\n\nEND:VCARD\\r\\n\npayload: 59 bytes\n" },
	/* Each Body header's data under its line, in payload offsets. */
	{ .name = "DatabaseInBodyHeaders",
	    .input = hex("01 00 11 00 53 00 61 00 6D 00 70 00 6C 00 65 00 00"
			 "C3 00 00 00 2C CF 7A 72 43 54 48 00 2B") +
		sample_db + hex("48 00 07 01 02 03 04 49 00 03"),
	    .out = title +
		"     0  0x01  Name             17  \"Sample\"\n"
		"    17  0xC3  Length            5  44\n"
		"    22  0xCF  Creator ID        5  \"zrCT\"\n"
		"    27  0x48  Body             43  40 bytes of binary data\n"
		"       0  53 61 6D 70 6C 65 00 00  00 00 00 00 00 00 00 00  "
		"|Sample..........|\n"
		"      16  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  "
		"|................|\n"
		"      32  44 41 54 41 64 61 74 61                           "
		"|DATAdata|\n"
		"    70  0x48  Body              7  4 bytes of binary data\n"
		"      40  01 02 03 04                                       "
		"|....|\n"
		"    77  0x49  End of Body       3  0 bytes\n"
		"payload: 44 bytes\n" },
	{ .name = "EmptyDatabase",
	    .input =
		hex("01 00 05 00 00 C3 00 00 00 00 CF 6C 6E 63 68 49 00 03"),
	    .out = title +
		"     0  0x01  Name              5  \"\"\n"
		"     5  0xC3  Length            5  0\n"
		"    10  0xCF  Creator ID        5  \"lnch\"\n"
		"    15  0x49  End of Body       3  0 bytes\n"
		"payload: 0 bytes\n" },
	/* Nothing that could act on a terminal is shown as it stands. */
	{ .name = "UnprintableShownEscaped",
	    .input = hex("01 00 0F 00 22 00 5C 00 E9 01 00 00 09 00 00"
			 "49 00 08 61 09 62 E9 0D"),
	    .out = title +
		"     0  0x01  Name             15  "
		R"("\"\\\xE9\u0100\t")"
		"\n"
		"    15  0x49  End of Body       8  5 bytes of text\n"
		R"(a\tb\xE9\r)"
		"\npayload: 5 bytes\n" },
	{ .name = "OneByte",
	    .input = hex("49 00 04 78"),
	    .out = title +
		"     0  0x49  End of Body       4  1 byte of text\n"
		"x\npayload: 1 byte\n" },
	{ .name = "NulMakesItBinary",
	    .input = hex("49 00 06 61 00 62"),
	    .out = title +
		"     0  0x49  End of Body       6  3 bytes of binary data\n"
		"       0  61 00 62                                          "
		"|a.b|\npayload: 3 bytes\n" },
	/* Each object in turn, offsets counted from the stream's start. */
	{ .name = "TwoObjects",
	    .input = shopping + hex("49 00 04 78"),
	    .out = shopping_listing + shopping_shown + "\n" + title +
		"    41  0x49  End of Body       4  1 byte of text\n"
		"x\npayload: 1 byte\n" },
	{ .name = "RawPayload",
	    .args = { "-p" },
	    .input = card_head + hex("C3 00 00 00 3E") + card_tail,
	    .out = card_text },
	{ .name = "RawEmptyPayload",
	    .args = { "-p" },
	    .input = hex("49 00 03"),
	    .out = "" },
	{ .name = "RawTwoObjects",
	    .args = { "-p" },
	    .input = shopping + shopping,
	    .out = "milk\r\neggs\r\nmilk\r\neggs\r\n" },
	{ .name = "DashIsStandardInput",
	    .args = { "-p", "-" },
	    .input = shopping,
	    .out = "milk\r\neggs\r\n" },
};
INSTANTIATE_TEST_SUITE_P(WellFormed, DumpObject, testing::ValuesIn(well_formed),
    CaseName());

/*
 * Each fault in its own stream.  The headers before it are listed, since
 * they show where the stream went wrong, and the payloads of the objects
 * before it are shown; the object at fault shows none of its End-of-Body
 * data, with or without -p.
 */
static const CaseRun malformed[] = {
	{ .name = "EmptyInput",
	    .out = "",
	    .err = "fmt-dump: offset 0: the input is empty, no object at all\n",
	    .status = 1 },
	{ .name = "CutShort",
	    .input = shopping.substr(0, 39),
	    .out = title + shopping_name + shopping_creator,
	    .err = "fmt-dump: offset 26: End of Body header's length 15 runs "
		   "past the end of the input (13 bytes left)\n",
	    .status = 1 },
	{ .name = "CutShortRaw",
	    .args = { "-p" },
	    .input = shopping.substr(0, 39),
	    .out = "",
	    .err = "fmt-dump: offset 26: End of Body header's length 15 runs "
		   "past the end of the input (13 bytes left)\n",
	    .status = 1 },
	{ .name = "CutInLengthField",
	    .input = hex("49 00"),
	    .out = "",
	    .err = "fmt-dump: offset 0: End of Body header needs at least 3 "
		   "bytes, only 2 left\n",
	    .status = 1 },
	{ .name = "CutAfterIdentifier",
	    .input = hex("01"),
	    .out = "",
	    .err = "fmt-dump: offset 0: Name header needs at least 5 bytes, "
		   "only 1 left\n",
	    .status = 1 },
	{ .name = "CutInFourByteValue",
	    .input = hex("CF 6D 65"),
	    .out = "",
	    .err = "fmt-dump: offset 0: Creator ID header needs 5 bytes, only "
		   "3 left\n",
	    .status = 1 },
	{ .name = "ZeroLength",
	    .input = hex("48 00 00 49 00 03"),
	    .out = "",
	    .err = "fmt-dump: offset 0: Body header's length 0 is less than "
		   "3\n",
	    .status = 1 },
	{ .name = "LengthBelowByteHeader",
	    .input = hex("49 00 02"),
	    .out = "",
	    .err = "fmt-dump: offset 0: End of Body header's length 2 is less "
		   "than 3\n",
	    .status = 1 },
	{ .name = "NameWithoutRoomForItsZero",
	    .input = hex("01 00 03 49 00 03"),
	    .out = "",
	    .err = "fmt-dump: offset 0: Name header's length 3 is less than "
		   "5\n",
	    .status = 1 },
	{ .name = "NameOfOddLength",
	    .input = hex("01 00 06 00 61 00 49 00 03"),
	    .out = "",
	    .err = "fmt-dump: offset 0: Name header's text has an odd length "
		   "(3 bytes)\n",
	    .status = 1 },
	{ .name = "NameWithoutItsZero",
	    .input = hex("01 00 07 00 61 00 62 49 00 03"),
	    .out = "",
	    .err = "fmt-dump: offset 0: Name header's text does not end in a "
		   "zero\n",
	    .status = 1 },
	/* The last unit is 0x0100: a zero byte, but no zero unit. */
	{ .name = "NameEndingInUnit0100",
	    .input = hex("01 00 07 00 61 01 00 49 00 03"),
	    .out = "",
	    .err = "fmt-dump: offset 0: Name header's text does not end in a "
		   "zero\n",
	    .status = 1 },
	{ .name = "UnknownHeader",
	    .input = hex("42 00 03 49 00 03"),
	    .out = "",
	    .err = "fmt-dump: offset 0: unknown header 0x42\n",
	    .status = 1 },
	{ .name = "OneByteKind",
	    .input = hex("8F 00 49 00 03"),
	    .out = "",
	    .err = "fmt-dump: offset 0: unknown header 0x8F\n",
	    .status = 1 },
	{ .name = "DescriptionNeverWritten",
	    .input = hex("05 00 07 00 64 00 00 49 00 03"),
	    .out = "",
	    .err = "fmt-dump: offset 0: unexpected Description header "
		   "(0x05)\n",
	    .status = 1 },
	{ .name = "TimeNeverWritten",
	    .input = shopping.substr(0, 21) + hex("C4 00 00 00 01 49 00 03"),
	    .out = title + shopping_name,
	    .err = "fmt-dump: offset 21: unexpected Time header (0xC4)\n",
	    .status = 1 },
	{ .name = "NameAfterCreator",
	    .input = hex("CF 6D 65 6D 6F 01 00 05 00 00 49 00 03"),
	    .out = title + "     0  0xCF  Creator ID        5  \"memo\"\n",
	    .err = "fmt-dump: offset 5: Name header after the Creator ID "
		   "header\n",
	    .status = 1 },
	{ .name = "LengthAfterBody",
	    .input = hex("48 00 04 78 C3 00 00 00 01 49 00 03"),
	    .out = title +
		"     0  0x48  Body              4  1 byte of text\n"
		"x\n",
	    .err = "fmt-dump: offset 4: Length header after the Body header\n",
	    .status = 1 },
	{ .name = "SecondName",
	    .input = hex("01 00 05 00 00 01 00 05 00 00 49 00 03"),
	    .out = title + "     0  0x01  Name              5  \"\"\n",
	    .err = "fmt-dump: offset 5: second Name header\n",
	    .status = 1 },
	{ .name = "NoEndOfBody",
	    .input = shopping.substr(0, 26),
	    .out = title + shopping_name + shopping_creator,
	    .err = "fmt-dump: offset 26: no End of Body header at the end of "
		   "the input\n",
	    .status = 1 },
	{ .name = "EndsWithBody",
	    .input = hex("48 00 04 78"),
	    .out = title +
		"     0  0x48  Body              4  1 byte of text\n"
		"x\n",
	    .err = "fmt-dump: offset 4: no End of Body header at the end of "
		   "the input\n",
	    .status = 1 },
	/* After an object, a stray byte is where the next one goes wrong. */
	{ .name = "LineFeedAfterTheObject",
	    .input = shopping + "\n",
	    .out = shopping_listing + shopping_shown,
	    .err = "fmt-dump: offset 41: unknown header 0x0A\n",
	    .status = 1 },
	{ .name = "SecondObjectCutShort",
	    .input = shopping + shopping.substr(0, 39),
	    .out = shopping_listing + shopping_shown + "\n" + title +
		"    41  0x01  Name             21  \"Shopping\"\n"
		"    62  0xCF  Creator ID        5  \"memo\"\n",
	    .err = "fmt-dump: offset 67: End of Body header's length 15 runs "
		   "past the end of the input (13 bytes left)\n",
	    .status = 1 },
	/* -p streams: the objects before the fault are out already. */
	{ .name = "SecondObjectCutShortRaw",
	    .args = { "-p" },
	    .input = shopping + shopping.substr(0, 39),
	    .out = "milk\r\neggs\r\n",
	    .err = "fmt-dump: offset 67: End of Body header's length 15 runs "
		   "past the end of the input (13 bytes left)\n",
	    .status = 1 },
	{ .name = "BodyAfterEndOfBody",
	    .input = hex("49 00 03 48 00 03"),
	    .out = title +
		"     0  0x49  End of Body       3  0 bytes\n"
		"payload: 0 bytes\n\n" +
		title + "     3  0x48  Body              3  0 bytes\n",
	    .err = "fmt-dump: offset 6: no End of Body header at the end of "
		   "the input\n",
	    .status = 1 },
	{ .name = "LengthDisagrees",
	    .input = card_head + hex("C3 00 00 00 3F") + card_tail,
	    .out = title + card_name_line +
		"    19  0xC3  Length            5  63\n" + card_after_length,
	    .err = "fmt-dump: offset 19: Length header says 63 bytes, the "
		   "payload has 62\n",
	    .status = 1 },
	{ .name = "LengthDisagreesRaw",
	    .args = { "-p" },
	    .input = card_head + hex("C3 00 00 00 3F") + card_tail,
	    .out = "",
	    .err = "fmt-dump: offset 19: Length header says 63 bytes, the "
		   "payload has 62\n",
	    .status = 1 },
	/* A Body past the Length is wrong at once, before its data. */
	{ .name = "PayloadPassesItsLength",
	    .input = hex("C3 00 00 00 0A 48 FF FF") + std::string(30, 'x'),
	    .out = title + "     0  0xC3  Length            5  10\n",
	    .err = "fmt-dump: offset 0: Length header says 10 bytes, the "
		   "payload has more\n",
	    .status = 1 },
	{ .name = "LengthOfOneByte",
	    .input = hex("C3 00 00 00 01 49 00 03"),
	    .out = title +
		"     0  0xC3  Length            5  1\n"
		"     5  0x49  End of Body       3  0 bytes\n",
	    .err = "fmt-dump: offset 0: Length header says 1 byte, the "
		   "payload has 0\n",
	    .status = 1 },
};
INSTANTIATE_TEST_SUITE_P(Malformed, DumpObject, testing::ValuesIn(malformed),
    CaseName());

/* Only -h alone is not misuse. */
static const CaseRun command_line[] = {
	{ .name = "Help",
	    .args = { "-p", "-h" },
	    .input = shopping,
	    .out = "",
	    .err = usage },
	{ .name = "TwoOperands",
	    .args = { "a", "b" },
	    .input = shopping,
	    .out = "",
	    .err = usage,
	    .status = 1 },
	{ .name = "OptionAfterOperandIsAnOperand",
	    .args = { "-", "-p" },
	    .input = shopping,
	    .out = "",
	    .err = usage,
	    .status = 1 },
};
INSTANTIATE_TEST_SUITE_P(CommandLine, DumpObject,
    testing::ValuesIn(command_line), CaseName());

/* Objects that the real fmt-memo writes: -p gives back their payload. */
struct RoundTrip {
	const char *name;
	std::vector<std::string> args;
	std::string input;
	std::string payload;
};

void
PrintTo(const RoundTrip &c, std::ostream *os)
{
	*os << c.name;
}

static std::string
every_byte_but_line_ends()
{
	std::string s;
	for (int c = 0; c < 256; c++)
		if (c != '\r' && c != '\n')
			s.push_back((char)c);
	return s;
}

class DumpRoundTrip : public testing::TestWithParam<RoundTrip>
{
};

TEST_P(DumpRoundTrip, RawPayloadIsWhatWasSent)
{
	const RoundTrip &c = GetParam();
	RunOptions memo;
	memo.input = c.input;
	RunResult object = run_program("fmt-memo", c.args, memo);
	ASSERT_EQ(object.status, 0);

	RunOptions dump;
	dump.input = object.out;
	RunResult raw = run_program("fmt-dump", { "-p" }, dump);
	EXPECT_EQ(raw.err, "");
	EXPECT_EQ(raw.status, 0);
	EXPECT_TRUE(raw.out == c.payload)
	    << raw.out.size() << " bytes, not " << c.payload.size();

	RunResult shown = run_program("fmt-dump", {}, dump);
	EXPECT_EQ(shown.err, "");
	EXPECT_EQ(shown.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Memo, DumpRoundTrip,
    testing::Values(RoundTrip{ "Shopping", { "-n", "Shopping" }, "milk\neggs\n",
			"milk\r\neggs\r\n" },
	RoundTrip{ "Words", { "hi", "there" }, "", "hi there\r\n" },
	RoundTrip{ "Empty", {}, "", "" },
	RoundTrip{ "EveryByte", {}, every_byte_but_line_ends(),
	    every_byte_but_line_ends() },
	RoundTrip{ "LongestSingleHeader", {}, std::string(65532, 'y'),
	    std::string(65532, 'y') },
	RoundTrip{ "OneByteMoreThanAHeader", {}, std::string(65533, 'z'),
	    std::string(65533, 'z') },
	RoundTrip{ "TwoFullBodyHeaders", {}, std::string(2 * 65532 + 7, 'w'),
	    std::string(2 * 65532 + 7, 'w') }),
    CaseName());

/* Text as fmt-dump shows it: line ends escaped, each line on its own. */
static std::string
shown_text(std::string_view text)
{
	std::string s;
	for (char c : text) {
		if (c == '\r')
			s += "\\r";
		else if (c == '\n')
			s += "\\n\n";
		else
			s += c;
	}
	if (!text.empty() && text.back() != '\n')
		s += '\n';
	return s;
}

/* A long memo: each header's text under its line, cut where it is cut. */
TEST(DumpLongPayload, TextUnderEachHeader)
{
	RunOptions memo;
	memo.input = long_text().input;
	RunResult object = run_program("fmt-memo", {}, memo);
	RunOptions dump;
	dump.input = object.out;
	RunResult r = run_program("fmt-dump", {}, dump);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	std::string text = long_text().text;
	std::string expected = title +
	    "     0  0xCF  Creator ID        5  \"memo\"\n"
	    "     5  0x48  Body          65535  65532 bytes of text\n" +
	    shown_text(text.substr(0, 65532)) +
	    " 65540  0x49  End of Body    5171  5168 bytes of text\n" +
	    shown_text(text.substr(65532)) + "payload: 70700 bytes\n";
	EXPECT_TRUE(r.out == expected) << r.out.substr(0, 400);
}

/* A database in 500-byte Body headers, with a Length for all of them. */
TEST(DumpLongPayload, DatabaseComesBackWhole)
{
	std::string file;
	for (int i = 0; i < 700; i++)
		file.push_back((char)(i * 7 + i / 256));
	RunOptions dump;
	dump.input =
	    hex("01 00 05 00 00 C3 00 00 02 BC CF 6C 6E 63 68 48 01 F7") +
	    file.substr(0, 500) + hex("48 00 CB") + file.substr(500) +
	    hex("49 00 03");
	RunResult raw = run_program("fmt-dump", { "-p" }, dump);
	EXPECT_EQ(raw.status, 0);
	EXPECT_TRUE(raw.out == file);

	/* The header lines, and the rows of the second Body go on at 496. */
	RunResult shown = run_program("fmt-dump", {}, dump);
	EXPECT_EQ(shown.status, 0);
	std::string headers;
	size_t second = std::string::npos;
	for (size_t at = 0; at < shown.out.size();) {
		size_t end = shown.out.find('\n', at) + 1;
		std::string line = shown.out.substr(at, end - at);
		if (line.compare(6, 4, "  0x") == 0 || line[0] == 'o' ||
		    line[0] == 'p')
			headers += line;
		if (line.compare(0, 10, "   518  0x") == 0)
			second = end;
		at = end;
	}
	EXPECT_EQ(headers,
	    title +
		"     0  0x01  Name              5  \"\"\n"
		"     5  0xC3  Length            5  700\n"
		"    10  0xCF  Creator ID        5  \"lnch\"\n"
		"    15  0x48  Body            503  500 bytes of binary data\n"
		"   518  0x48  Body            203  200 bytes of binary data\n"
		"   721  0x49  End of Body       3  0 bytes\n"
		"payload: 700 bytes\n");
	ASSERT_NE(second, std::string::npos);
	EXPECT_EQ(shown.out.substr(second, 10), "     500  ");
}

TEST(DumpFiles, OperandIsReadLikeStandardInput)
{
	std::string path = temp_dir() + "/shopping.obex";
	write_file(path, shopping);
	RunResult r = run_program("fmt-dump", { path });
	EXPECT_EQ(r.out, shopping_listing + shopping_shown);
	EXPECT_EQ(r.status, 0);
	r = run_program("fmt-dump", { "-p", "--", path });
	EXPECT_EQ(r.out, "milk\r\neggs\r\n");
	EXPECT_EQ(r.status, 0);
}

TEST(DumpFiles, FailuresAreNamed)
{
	std::string missing = temp_dir() + "/missing\n.obex";
	RunResult r = run_program("fmt-dump", { missing });
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err,
	    "fmt-dump: cannot open `" + temp_dir() +
		"/missing\\n.obex': " + strerror(ENOENT) + "\n");
	EXPECT_EQ(r.status, 1);

	/* A directory opens, but it must not pass for an empty object. */
	r = run_program("fmt-dump", { temp_dir() });
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err,
	    "fmt-dump: cannot read `" + temp_dir() + "': " + strerror(EISDIR) +
		"\n");
	EXPECT_EQ(r.status, 1);

	RunOptions options;
	options.stdin_path = temp_dir();
	r = run_program("fmt-dump", {}, options);
	EXPECT_EQ(r.err,
	    std::string("fmt-dump: cannot read standard input: ") +
		strerror(EISDIR) + "\n");
	EXPECT_EQ(r.status, 1);
}

/* The reason of a write error, whatever the size of what is written. */
TEST(DumpFiles, WriteErrorsKeepTheirReason)
{
	RunOptions memo;
	memo.input = std::string(200000, 'w');
	std::string big = run_program("fmt-memo", {}, memo).out;
	for (const std::string &input : { shopping, big }) {
		for (const char *raw : { "-p", "--" }) {
			RunOptions options;
			options.input = input;
			options.stdout_broken = true;
			RunResult r = run_program("fmt-dump", { raw }, options);
			EXPECT_EQ(r.err,
			    std::string("fmt-dump: cannot write to standard "
					"output: ") +
				strerror(EPIPE) + "\n")
			    << input.size() << " bytes, " << raw;
			EXPECT_EQ(r.status, 1);
		}
	}
}

/*
 * The reader itself, on bytes in memory handed over `chunk` bytes a read:
 * it never reads past them, a fault lies within them, and what it accepts
 * is read as headers that follow one another to the end, their data in
 * pieces that add up to each header's count, and objects back to back.
 * Whole and piecewise reading see the same stream.
 */
struct Memory {
	std::string_view bytes;
	size_t chunk;
};

static ssize_t
memory_read(void *context, void *buf, size_t count)
{
	Memory *m = static_cast<Memory *>(context);
	size_t n = std::min({ count, m->chunk, m->bytes.size() });
	if (n != 0)
		memcpy(buf, m->bytes.data(), n);
	m->bytes.remove_prefix(n);
	return (ssize_t)n;
}

/* What the reader made of a stream, in a form to compare. */
static std::string
read_stream(std::string_view bytes, size_t chunk, bool whole, size_t most)
{
	/* A block of its own, so that the sanitizer sees a read past it. */
	std::vector<char> block(bytes.begin(), bytes.end());
	Memory m{ { block.data(), block.size() }, chunk };
	static objread r;
	objread_init_source(r, memory_read, &m);
	r.whole = whole;
	std::string seen;
	uint64_t pos = 0, left = 0;
	for (;;) {
		switch (objread_next(r, most)) {
		case OBJREAD_HEADER:
			EXPECT_EQ(left, 0u);
			EXPECT_EQ(r.header.offset, pos) << printable(bytes);
			pos += r.header.bytes != nullptr ? r.header.length : 3;
			left = r.header.bytes != nullptr ? 0 : r.header.count;
			seen += "H" + std::to_string(r.header.offset) + " ";
			break;
		case OBJREAD_DATA:
			EXPECT_GE(r.count, 1u);
			EXPECT_LE(r.count, left);
			EXPECT_TRUE(whole ? r.count == left : r.count <= most);
			left -= r.count;
			pos += r.count;
			break;
		case OBJREAD_END:
			EXPECT_EQ(left, 0u);
			seen += "E ";
			break;
		case OBJREAD_DONE:
			EXPECT_EQ(pos, bytes.size());
			return seen + "done";
		case OBJREAD_FAULT:
			EXPECT_LE(r.fault_offset, bytes.size());
			EXPECT_NE(r.fault[0], '\0');
			return seen + "fault " +
			    std::to_string(r.fault_offset) + ": " + r.fault;
		case OBJREAD_ERROR:
			ADD_FAILURE() << "memory does not fail";
			return seen;
		}
	}
}

static void
check_read(std::string_view bytes)
{
	std::string whole = read_stream(bytes, SIZE_MAX, true, SIZE_MAX);
	ASSERT_EQ(read_stream(bytes, 1, true, SIZE_MAX), whole);
	ASSERT_EQ(read_stream(bytes, 3, false, 2), whole);
	ASSERT_EQ(read_stream(bytes, 7, false, SIZE_MAX), whole);
}

TEST(DumpParse, EveryCutAndEveryByteChange)
{
	std::string object =
	    hex("01 00 09 00 61 00 62 00 00 C3 00 00 00 05 CF 6C 6E 63 68"
		"48 00 06 31 32 33 48 00 04 34 49 00 04 35");
	EXPECT_EQ(read_stream(object + object, 2, false, 1),
	    "H0 H9 H14 H19 H25 H29 E H33 H42 H47 H52 H58 H62 E done");
	for (size_t n = 0; n < object.size(); n++) {
		std::string cut = read_stream(object.substr(0, n), 5, true, 1);
		EXPECT_NE(cut.find("fault"), std::string::npos) << n;
		check_read(object.substr(0, n));
	}
	for (size_t i = 0; i < object.size(); i++) {
		for (int c = 0; c < 256; c++) {
			std::string changed = object;
			changed[i] = (char)c;
			check_read(changed);
			check_read(object + changed);
		}
	}
}
