/*
 * fmt-dump: the objects of every program described, payloads given back
 * byte for byte, and each kind of malformed stream named with its offset.
 */
#include <cerrno>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dump.h"
#include "objstream.h"
#include "runner.h"

static const std::string usage = "Describe OBEX object from stdin or file\n"
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
    shopping_creator + "    26  0x49  End of Body      15  12 bytes\n";
static const std::string shopping_shown =
    "payload: 12 bytes of text\nmilk\\r\\n\neggs\\r\\n\n";

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
    "    29  0x49  End of Body      65  62 bytes\n";
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

INSTANTIATE_TEST_SUITE_P(WellFormed, DumpObject,
    testing::Values(CaseRun{ "Memo", {}, shopping,
			shopping_listing + shopping_shown },
	CaseRun{ "AddressCard", {},
	    card_head + hex("C3 00 00 00 3E") + card_tail,
	    card_listing +
		"payload: 62 bytes of text\n"
		"BEGIN:VCARD\\r\\n\nVERSION:2.1\\r\\n\nN:Lee;Ann\\r\\n\n"
		"ADR:;;;Oslo;;;\\r\\n\nEND:VCARD\n" },
	CaseRun{ "AddressEmptyStream", {},
	    hex("C3 00 00 00 00 CF 61 64 64 72 49 00 03"),
	    title +
		"     0  0xC3  Length            5  0\n"
		"     5  0xCF  Creator ID        5  \"addr\"\n"
		"    10  0x49  End of Body       3  0 bytes\n"
		"payload: 0 bytes\n" },
	CaseRun{ "DateEvent", {},
	    hex("01 00 0D 00 54 00 65 00 61 00 6D 00 00 CF 64 61 74 65 49 00 "
		"94") +
		"BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n"
		"DTSTART:20240315T093000\r\nDTEND:20240315T103000\r\n"
		"DESCRIPTION:Team meeting\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
	    title +
		"     0  0x01  Name             13  \"Team\"\n"
		"    13  0xCF  Creator ID        5  \"date\"\n"
		"    18  0x49  End of Body     148  145 bytes\n"
		"payload: 145 bytes of text\n"
		"BEGIN:VCALENDAR\\r\\n\nVERSION:1.0\\r\\n\nBEGIN:VEVENT\\r\\n\n"
		"DTSTART:20240315T093000\\r\\n\nDTEND:20240315T103000\\r\\n\n"
		"DESCRIPTION:Team meeting\\r\\n\nEND:VEVENT\\r\\n\n"
		"END:VCALENDAR\\r\\n\n" },
	CaseRun{ "TodoWithoutName", {},
	    hex("CF 74 6F 64 6F 49 00 A3") +
		"BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VTODO\r\n"
		"CATEGORIES:X-Unfiled\r\nDUE:20240315\r\n"
		"STATUS:NEEDS ACTION\r\nPRIORITY:1\r\n"
		"DESCRIPTION:Buy milk\r\nEND:VTODO\r\nEND:VCALENDAR\r\n",
	    title +
		"     0  0xCF  Creator ID        5  \"todo\"\n"
		"     5  0x49  End of Body     163  160 bytes\n"
		"payload: 160 bytes of text\n"
		"BEGIN:VCALENDAR\\r\\n\nVERSION:1.0\\r\\n\nBEGIN:VTODO\\r\\n\n"
		"CATEGORIES:X-Unfiled\\r\\n\nDUE:20240315\\r\\n\n"
		"STATUS:NEEDS ACTION\\r\\n\nPRIORITY:1\\r\\n\n"
		"DESCRIPTION:Buy milk\\r\\n\nEND:VTODO\\r\\n\n"
		"END:VCALENDAR\\r\\n\n" },
	CaseRun{ "PhoneCardWithoutCreator", {},
	    hex("01 00 15 00 48 00 6F 00 6D 00 65 00 2E 00 76 00 63 00 66 00 00"
		"49 00 3E") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Home\r\nTEL:555-0100\r\n"
		"END:VCARD\r\n",
	    title +
		"     0  0x01  Name             21  \"Home.vcf\"\n"
		"    21  0x49  End of Body      62  59 bytes\n"
		"payload: 59 bytes of text\n"
		"BEGIN:VCARD\\r\\n\nVERSION:2.1\\r\\n\nN:Home\\r\\n\n"
		"TEL:555-0100\\r\\n\nEND:VCARD\\r\\n\n" },
	CaseRun{ "DatabaseInBodyHeaders", {},
	    hex("01 00 11 00 53 00 61 00 6D 00 70 00 6C 00 65 00 00"
		"C3 00 00 00 28 CF 7A 72 43 54 48 00 2B") +
		sample_db + hex("49 00 03"),
	    title +
		"     0  0x01  Name             17  \"Sample\"\n"
		"    17  0xC3  Length            5  40\n"
		"    22  0xCF  Creator ID        5  \"zrCT\"\n"
		"    27  0x48  Body             43  40 bytes\n"
		"    70  0x49  End of Body       3  0 bytes\n"
		"payload: 40 bytes of binary data\n"
		"       0  53 61 6D 70 6C 65 00 00  00 00 00 00 00 00 00 00  "
		"|Sample..........|\n"
		"      16  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  "
		"|................|\n"
		"      32  44 41 54 41 64 61 74 61                           "
		"|DATAdata|\n" },
	CaseRun{ "EmptyDatabase", {},
	    hex("01 00 05 00 00 C3 00 00 00 00 CF 6C 6E 63 68 49 00 03"),
	    title +
		"     0  0x01  Name              5  \"\"\n"
		"     5  0xC3  Length            5  0\n"
		"    10  0xCF  Creator ID        5  \"lnch\"\n"
		"    15  0x49  End of Body       3  0 bytes\n"
		"payload: 0 bytes\n" },
	/* Nothing that could act on a terminal is shown as it stands. */
	CaseRun{ "UnprintableShownEscaped", {},
	    hex("01 00 0F 00 22 00 5C 00 E9 01 00 00 09 00 00"
		"49 00 08 61 09 62 E9 0D"),
	    title +
		"     0  0x01  Name             15  "
		R"("\"\\\xE9\u0100\t")"
		"\n"
		"    15  0x49  End of Body       8  5 bytes\n"
		"payload: 5 bytes of text\n"
		R"(a\tb\xE9\r)"
		"\n" },
	CaseRun{ "OneByte", {}, hex("49 00 04 78"),
	    title +
		"     0  0x49  End of Body       4  1 byte\n"
		"payload: 1 byte of text\nx\n" },
	CaseRun{ "NulMakesItBinary", {}, hex("49 00 06 61 00 62"),
	    title +
		"     0  0x49  End of Body       6  3 bytes\n"
		"payload: 3 bytes of binary data\n"
		"       0  61 00 62                                          "
		"|a.b|\n" },
	CaseRun{ "RawPayload", { "-p" },
	    card_head + hex("C3 00 00 00 3E") + card_tail, card_text },
	CaseRun{ "RawEmptyPayload", { "-p" }, hex("49 00 03"), "" },
	CaseRun{ "DashIsStandardInput", { "-p", "-" }, shopping,
	    "milk\r\neggs\r\n" }),
    CaseName());

/*
 * Each fault in its own stream; the headers before it are listed, since
 * they show where the object went wrong, but -p writes nothing.
 */
INSTANTIATE_TEST_SUITE_P(Malformed, DumpObject,
    testing::Values(CaseRun{ "EmptyInput", {}, "", "",
			"fmt-dump: offset 0: no End of Body header at the end "
			"of the input\n",
			1 },
	CaseRun{ "CutShort", {}, shopping.substr(0, 39),
	    title + shopping_name + shopping_creator,
	    "fmt-dump: offset 26: End of Body header's length 15 runs past "
	    "the end of the input (13 bytes left)\n",
	    1 },
	CaseRun{ "CutShortRaw", { "-p" }, shopping.substr(0, 39), "",
	    "fmt-dump: offset 26: End of Body header's length 15 runs past "
	    "the end of the input (13 bytes left)\n",
	    1 },
	CaseRun{ "CutInLengthField", {}, hex("49 00"), "",
	    "fmt-dump: offset 0: End of Body header needs at least 3 bytes, "
	    "only 2 left\n",
	    1 },
	CaseRun{ "CutAfterIdentifier", {}, hex("01"), "",
	    "fmt-dump: offset 0: Name header needs at least 5 bytes, only 1 "
	    "left\n",
	    1 },
	CaseRun{ "CutInFourByteValue", {}, hex("CF 6D 65"), "",
	    "fmt-dump: offset 0: Creator ID header needs 5 bytes, only 3 "
	    "left\n",
	    1 },
	CaseRun{ "ZeroLength", {}, hex("48 00 00 49 00 03"), "",
	    "fmt-dump: offset 0: Body header's length 0 is less than 3\n", 1 },
	CaseRun{ "LengthBelowByteHeader", {}, hex("49 00 02"), "",
	    "fmt-dump: offset 0: End of Body header's length 2 is less than "
	    "3\n",
	    1 },
	CaseRun{ "NameWithoutRoomForItsZero", {}, hex("01 00 03 49 00 03"), "",
	    "fmt-dump: offset 0: Name header's length 3 is less than 5\n", 1 },
	CaseRun{ "NameOfOddLength", {}, hex("01 00 06 00 61 00 49 00 03"), "",
	    "fmt-dump: offset 0: Name header's text has an odd length (3 "
	    "bytes)\n",
	    1 },
	CaseRun{ "NameWithoutItsZero", {}, hex("01 00 07 00 61 00 62 49 00 03"),
	    "",
	    "fmt-dump: offset 0: Name header's text does not end in a "
	    "zero\n",
	    1 },
	CaseRun{ "UnknownHeader", {}, hex("42 00 03 49 00 03"), "",
	    "fmt-dump: offset 0: unknown header 0x42\n", 1 },
	CaseRun{ "OneByteKind", {}, hex("8F 00 49 00 03"), "",
	    "fmt-dump: offset 0: unknown header 0x8F\n", 1 },
	CaseRun{ "DescriptionNeverWritten", {},
	    hex("05 00 07 00 64 00 00 49 00 03"), "",
	    "fmt-dump: offset 0: unexpected Description header (0x05)\n", 1 },
	CaseRun{ "TimeNeverWritten", {},
	    shopping.substr(0, 21) + hex("C4 00 00 00 01 49 00 03"),
	    title + shopping_name,
	    "fmt-dump: offset 21: unexpected Time header (0xC4)\n", 1 },
	CaseRun{ "NameAfterCreator", {},
	    hex("CF 6D 65 6D 6F 01 00 05 00 00 49 00 03"),
	    title + "     0  0xCF  Creator ID        5  \"memo\"\n",
	    "fmt-dump: offset 5: Name header after the Creator ID header\n",
	    1 },
	CaseRun{ "LengthAfterBody", {},
	    hex("48 00 04 78 C3 00 00 00 01 49 00 03"),
	    title + "     0  0x48  Body              4  1 byte\n",
	    "fmt-dump: offset 4: Length header after the Body header\n", 1 },
	CaseRun{ "SecondName", {},
	    hex("01 00 05 00 00 01 00 05 00 00 49 00 03"),
	    title + "     0  0x01  Name              5  \"\"\n",
	    "fmt-dump: offset 5: second Name header\n", 1 },
	CaseRun{ "NoEndOfBody", {}, shopping.substr(0, 26),
	    title + shopping_name + shopping_creator,
	    "fmt-dump: offset 26: no End of Body header at the end of the "
	    "input\n",
	    1 },
	CaseRun{ "EndsWithBody", {}, hex("48 00 04 78"),
	    title + "     0  0x48  Body              4  1 byte\n",
	    "fmt-dump: offset 4: no End of Body header at the end of the "
	    "input\n",
	    1 },
	CaseRun{ "LineFeedAfterTheObject", {}, shopping + "\n",
	    shopping_listing,
	    "fmt-dump: offset 41: 1 byte after the End of Body header\n", 1 },
	CaseRun{ "TwoObjects", {}, shopping + shopping, shopping_listing,
	    "fmt-dump: offset 41: 41 bytes after the End of Body header\n", 1 },
	CaseRun{ "BodyAfterEndOfBody", {}, hex("49 00 03 48 00 03"),
	    title + "     0  0x49  End of Body       3  0 bytes\n",
	    "fmt-dump: offset 3: 3 bytes after the End of Body header\n", 1 },
	CaseRun{ "LengthDisagrees", {},
	    card_head + hex("C3 00 00 00 3F") + card_tail,
	    title + card_name_line + "    19  0xC3  Length            5  63\n" +
		card_after_length,
	    "fmt-dump: offset 19: Length header says 63 bytes, the payload "
	    "has 62\n",
	    1 },
	CaseRun{ "LengthDisagreesRaw", { "-p" },
	    card_head + hex("C3 00 00 00 3F") + card_tail, "",
	    "fmt-dump: offset 19: Length header says 63 bytes, the payload "
	    "has 62\n",
	    1 }),
    CaseName());

INSTANTIATE_TEST_SUITE_P(CommandLine, DumpObject,
    testing::Values(CaseRun{ "Help", { "-p", "-h" }, shopping, "", usage },
	CaseRun{ "UnknownOption", { "-x" }, shopping, "", usage, 0, true },
	CaseRun{ "TwoOperands", { "a", "b" }, shopping, "", usage },
	CaseRun{ "OptionAfterOperandIsAnOperand", { "-", "-p" }, shopping, "",
	    usage }),
    CaseName());

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

/* A long memo: Body and End-of-Body headers, one payload. */
TEST(DumpLongPayload, BodyHeadersAreJoined)
{
	RunOptions memo;
	memo.input = long_text().input;
	std::string shown_text;
	for (int i = 0; i < 700; i++)
		shown_text += std::string(99, 'x') + "\\r\\n\n";
	RunResult object = run_program("fmt-memo", {}, memo);
	RunOptions dump;
	dump.input = object.out;
	RunResult r = run_program("fmt-dump", {}, dump);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	std::string expected = title +
	    "     0  0xCF  Creator ID        5  \"memo\"\n"
	    "     5  0x48  Body          65535  65532 bytes\n"
	    " 65540  0x49  End of Body    5171  5168 bytes\n"
	    "payload: 70700 bytes of text\n" +
	    shown_text;
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

	RunResult shown = run_program("fmt-dump", {}, dump);
	EXPECT_EQ(shown.status, 0);
	EXPECT_EQ(shown.out.substr(0, shown.out.find("       0  ")),
	    title +
		"     0  0x01  Name              5  \"\"\n"
		"     5  0xC3  Length            5  700\n"
		"    10  0xCF  Creator ID        5  \"lnch\"\n"
		"    15  0x48  Body            503  500 bytes\n"
		"   518  0x48  Body            203  200 bytes\n"
		"   721  0x49  End of Body       3  0 bytes\n"
		"payload: 700 bytes of binary data\n");
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
	std::string missing = temp_dir() + "/missing.obex";
	RunResult r = run_program("fmt-dump", { missing });
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err,
	    "fmt-dump: cannot open `" + missing + "': " + strerror(ENOENT) +
		"\n");
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

	options = {};
	options.input = shopping;
	options.stdout_broken = true;
	r = run_program("fmt-dump", {}, options);
	EXPECT_EQ(r.err,
	    std::string("fmt-dump: cannot write to standard output: ") +
		strerror(EPIPE) + "\n");
	EXPECT_EQ(r.status, 1);
}

/*
 * The parser itself, on every cut and every one-byte change of an object
 * with each kind of header: it never reads past the input, a fault lies
 * within it, and what it accepts is read as headers that follow one
 * another to the end with their values inside them.
 */
static void
check_parse(std::string_view bytes)
{
	/* A block of its own, so that the sanitizer sees a read past it. */
	std::vector<unsigned char> block(bytes.begin(), bytes.end());
	std::span<const unsigned char> input(block);
	std::vector<dump_header> headers;
	dump_error error;

	if (!dump_parse(input, headers, error)) {
		ASSERT_LE(error.offset, bytes.size()) << printable(bytes);
		ASSERT_NE(error.text[0], '\0');
		return;
	}
	size_t pos = 0;
	for (const dump_header &h : headers) {
		ASSERT_EQ(h.offset, pos) << printable(bytes);
		size_t trailer = h.id == HDR_NAME ? 2 : 0;
		ASSERT_EQ(h.data - h.offset + h.count + trailer, h.length);
		pos += h.length;
	}
	ASSERT_EQ(pos, bytes.size()) << printable(bytes);
	ASSERT_EQ(headers.back().id, HDR_END_OF_BODY);
}

TEST(DumpParse, EveryCutAndEveryByteChange)
{
	std::string object =
	    hex("01 00 09 00 61 00 62 00 00 C3 00 00 00 05 CF 6C 6E 63 68"
		"48 00 06 31 32 33 48 00 04 34 49 00 04 35");
	check_parse(object);
	for (size_t n = 0; n < object.size(); n++) {
		std::vector<unsigned char> cut(object.begin(),
		    object.begin() + (long)n);
		std::vector<dump_header> headers;
		dump_error error;
		EXPECT_FALSE(dump_parse(cut, headers, error)) << n;
		EXPECT_LE(error.offset, n);
	}
	for (size_t i = 0; i < object.size(); i++) {
		for (int c = 0; c < 256; c++) {
			std::string changed = object;
			changed[i] = (char)c;
			check_parse(changed);
		}
	}
}
