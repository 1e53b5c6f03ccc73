/*
 * fmt-address through the built program: the worked objects byte for byte,
 * the card layout and object-name rules as one table, stream mode, a payload
 * too long for one header, and an output error.
 */
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "runner.h"

static const std::string usage =
    "Format Palm Pilot address from stdin or command line\n"
    "Usage: fmt-address [-a addr] [-c city] [-C country] [-f first-name] "
    "[-l last-name] [-n obj-name] [-o company] [-s state] [-t title] "
    "[-z zip]\n";
static const std::string addr = hex("CF 61 64 64 72");

/*
 * The expected object for a short payload: a Name header when `name` is
 * not empty (each byte widened to 16 bits), then Length, Creator ID and
 * End-of-Body.
 */
static std::string
object(std::string_view name, std::string_view payload)
{
	std::string out;
	if (!name.empty())
		out += name_header(name);
	out += "\xC3" + be32((uint32_t)payload.size());
	out += addr;
	out += "\x49" + be16(payload.size() + 3);
	out += payload;
	return out;
}

/* A card whose field lines (each ended by CR LF) are `lines`. */
static std::string
card(std::string_view lines)
{
	return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + std::string(lines) +
	    "END:VCARD";
}

class Address : public testing::TestWithParam<CaseRun>
{
};

TEST_P(Address, WritesTheObject)
{
	expect_case("fmt-address", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, Address,
    testing::Values(
	/* The two worked objects, every byte spelled out. */
	CaseRun{ "WorkedCard", { "-f", "Ann", "-l", "Lee", "-c", "Oslo" }, "",
	    hex("01 00 13 00 41 00 6E 00 6E 00 20 00 4C 00 65 00 65 00 00"
		"C3 00 00 00 3E CF 61 64 64 72 49 00 41") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\n"
		"ADR:;;;Oslo;;;\r\nEND:VCARD" },
	CaseRun{ "WorkedStream", { "-n", "x" }, "a\nb\r",
	    hex("01 00 07 00 78 00 00 C3 00 00 00 06 CF 61 64 64 72"
		"49 00 09 61 0D 0A 62 0D 0A") },
	CaseRun{ "NothingAtAll", {}, "",
	    hex("C3 00 00 00 00 CF 61 64 64 72 49 00 03") },

	/* Card layout: every line, and absent against empty values. */
	CaseRun{ "EveryField",
	    { "-t", "Boss", "-o", "Acme", "-C", "Norway", "-z", "0150", "-s",
		"OS", "-c", "Oslo", "-a", "1 Main St", "-l", "Lee", "-f",
		"Ann" },
	    "",
	    object("Ann Lee",
		card("N:Lee;Ann\r\nADR:;;1 Main St;Oslo;OS;0150;Norway\r\n"
		     "ORG:Acme\r\nTITLE:Boss\r\n")) },
	CaseRun{ "AbsentAddressFieldsKeepTheirSeparators", { "-C", "Norway" },
	    "", object("", card("ADR:;;;;;;Norway\r\n")) },
	CaseRun{ "EmptyValueStillGivesItsLine", { "-a", "" }, "",
	    object("", card("ADR:;;;;;;\r\n")) },
	CaseRun{ "TitleAloneGivesNoName", { "-t", "Boss" }, "",
	    object("", card("TITLE:Boss\r\n")) },
	CaseRun{ "EmptyCompanyGivesNoName", { "-o", "" }, "",
	    object("", card("ORG:\r\n")) },

	/* The object name: -n, else the names, else the company. */
	CaseRun{ "GivenNameAlone", { "-f", "Ann" }, "",
	    object("Ann", card("N:;Ann\r\n")) },
	CaseRun{ "FamilyNameAlone", { "-l", "Lee" }, "",
	    object("Lee", card("N:Lee;\r\n")) },
	CaseRun{ "BothNamesEmptyGiveASpace",
	    { "-f", "", "-l", "", "-o", "Acme" }, "",
	    object(" ", card("N:;\r\nORG:Acme\r\n")) },
	CaseRun{ "EmptyNameFallsBackToCompany", { "-f", "", "-o", "Acme" }, "",
	    object("Acme", card("N:;\r\nORG:Acme\r\n")) },
	CaseRun{ "CompanyTakenLiterallyAndCut",
	    { "-o", "%s%n 100%% Fruit & Co. Ltd" }, "",
	    object("%s%n 100%% Fruit & Co. L",
		card("ORG:%s%n 100%% Fruit & Co. Ltd\r\n")) },
	CaseRun{ "NameOptionWins", { "-f", "Ann", "-o", "Acme", "-n", "Mine" },
	    "", object("Mine", card("N:;Ann\r\nORG:Acme\r\n")) },
	CaseRun{ "EmptyNameOptionLeavesTheCardsName", { "-n", "", "-l", "Lee" },
	    "", object("Lee", card("N:Lee;\r\n")) },
	CaseRun{ "NameOptionCutTo24Bytes",
	    { "-n", "abcdefghijklmnopqrstuvwxyz", "-t", "" }, "",
	    object("abcdefghijklmnopqrstuvwx", card("TITLE:\r\n")) },
	/* "ö" and "Ö" are two bytes each; the cut splits the "Ö". */
	CaseRun{ "NamesCutTo24BytesWithTheSpace",
	    { "-f", "Anna-Karina", "-l",
		"Lindstr\xC3\xB6m-\xC3\x96"
		"berg" },
	    "",
	    object("Anna-Karina Lindstr\xC3\xB6m-\xC3",
		card("N:Lindstr\xC3\xB6m-\xC3\x96"
		     "berg;Anna-Karina\r\n")) },

	/*
	 * Line ends inside values: the card is normalised as one text, so a
	 * CR before a separator gets its LF and one before the card's own
	 * line feed gets no second CR.  The name keeps the bytes as given.
	 */
	CaseRun{ "LineEndsInsideValues",
	    { "-l", "Lee\r", "-f", "Ann", "-o", "Acme\nLtd", "-t", "Boss\r" },
	    "",
	    object("Ann Lee\r",
		card("N:Lee\r\n;Ann\r\nORG:Acme\r\nLtd\r\nTITLE:Boss\r\n")) },

	/* Option parsing. */
	CaseRun{ "LastOccurrenceCounts",
	    { "-n", "x", "-f", "Ann", "-f", "Bob", "-n", "" }, "",
	    object("Bob", card("N:;Bob\r\n")) },
	CaseRun{ "WordBeforeOptionsMeansStreamMode", { "word", "-f", "Ann" },
	    "text\n", object("", "text\r\n") },
	CaseRun{ "OptionsEndAtTheFirstWord",
	    { "-f", "Ann", "word", "-l", "Lee" }, "",
	    object("Ann", card("N:;Ann\r\n")) },
	CaseRun{ "CardModeLeavesInputUnread", { "-c", "Oslo" },
	    "BEGIN:VCARD\nEND:VCARD\n",
	    object("", card("ADR:;;;Oslo;;;\r\n")) },
	CaseRun{ "HelpWithFieldOptions", { "-f", "Ann", "-h", "-o", "Acme" },
	    "unread", "", usage },
	CaseRun{ "UnknownOption", { "-x", "-f", "Ann" }, "", "", usage, 0,
	    true },
	CaseRun{ "FieldOptionWithoutItsValue", { "-o" }, "", "", usage, 0,
	    true },

	/* Stream mode: only the line ends change. */
	CaseRun{ "StreamEveryLineEnd", {}, "lf\ncrlf\r\ncrcr\r\rcr\r",
	    object("", "lf\r\ncrlf\r\ncrcr\r\n\r\ncr\r\n") },
	CaseRun{ "StreamNulBytes", {}, std::string("\0a\0\n\0", 5),
	    object("", std::string("\0a\0\r\n\0", 6)) },
	CaseRun{ "StreamCardPassesThrough", { "-n", "Ann" },
	    "BEGIN:VCARD\nN:Lee;Ann;;;\nEND:VCARD",
	    object("Ann", "BEGIN:VCARD\r\nN:Lee;Ann;;;\r\nEND:VCARD") }),
    CaseName());

/*
 * A standard input too long for one End-of-Body header: the Length header
 * still counts the whole payload (after the line ends grew), and the
 * payload goes out as a full Body header and the rest.
 */
TEST(AddressLongStream, LengthCountsTheWholePayload)
{
	auto [input, text] = long_text();
	/* 70,000 bytes in, 70,700 bytes of payload. */
	RunOptions options;
	options.input = input;
	RunResult r = run_program("fmt-address", { "-n", "big" }, options);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::string expected = hex("01 00 0B 00 62 00 69 00 67 00 00"
				   "C3 00 01 14 2C CF 61 64 64 72 48 FF FF") +
	    text.substr(0, 65532) + hex("49 14 33") + text.substr(65532);
	EXPECT_TRUE(r.out == expected) << r.out.size() << " bytes";
}

TEST(AddressFailures, BrokenOutputIsAnError)
{
	RunOptions options;
	options.stdout_broken = true;
	RunResult r = run_program("fmt-address", { "-f", "Ann" }, options);
	EXPECT_EQ(r.err,
	    std::string("fmt-address: cannot write to standard output: ") +
		strerror(EPIPE) + "\n");
	EXPECT_EQ(r.status, 1);
}
