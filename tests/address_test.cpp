/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-address through the built program: the worked objects byte for byte,
 * the card layout and object-name rules as one table, stream mode, a payload
 * too long for one header, and an output error.
 */
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "runner.h"

static const std::string usage =
    "Format Palm Pilot address from stdin or command line\n"
    "Usage: fmt-address [-a addr] [-c city] [-C country] [-f first-name] "
    "[-l last-name] [-n obj-name] [-o company] [-s state] [-t title] "
    "[-z zip]\n";
/*
 * The object for a payload: a Name header when `name` is not empty, then
 * Length, Creator ID and the payload.
 */
static std::string
address_object(std::string_view name, std::string_view payload)
{
	return object({ .name = name.empty() ? std::nullopt
					     : std::optional(std::string(name)),
	    .length = (uint32_t)payload.size(),
	    .creator = "addr",
	    .payload = std::string(payload) });
}

/* A card whose field lines (each ended by CR LF) are `lines`. */
static std::string
card(std::string_view lines)
{
	return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + std::string(lines) +
	    "END:VCARD";
}

static const CaseRun address_cases[] = {
	/* The worked objects, every byte spelled out. */
	{ .name = "WorkedCard",
	    .args = { "-f", "Ann", "-l", "Lee", "-c", "Oslo" },
	    .out = hex("01 00 13 00 41 00 6E 00 6E 00 20 00 4C 00 65 00 65"
		       "00 00 C3 00 00 00 3E CF 61 64 64 72 49 00 41") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\n"
		"ADR:;;;Oslo;;;\r\nEND:VCARD" },
	{ .name = "WorkedStream",
	    .args = { "-n", "x" },
	    .input = "a\nb\r",
	    .out = hex("01 00 07 00 78 00 00 C3 00 00 00 06 CF 61 64 64 72"
		       "49 00 09 61 0D 0A 62 0D 0A") },
	{ .name = "NothingAtAll",
	    .out = hex("C3 00 00 00 00 CF 61 64 64 72 49 00 03") },

	/* Card layout: every line, and absent against empty values. */
	{ .name = "EveryField",
	    .args = { "-t", "Boss", "-o", "Acme", "-C", "Norway", "-z", "0150",
		"-s", "OS", "-c", "Oslo", "-a", "1 Main St", "-l", "Lee", "-f",
		"Ann" },
	    .out = address_object("Ann Lee",
		card("N:Lee;Ann\r\nADR:;;1 Main St;Oslo;OS;0150;Norway\r\n"
		     "ORG:Acme\r\nTITLE:Boss\r\n")) },
	{ .name = "AbsentAddressFieldsKeepTheirSeparators",
	    .args = { "-C", "Norway" },
	    .out = address_object("", card("ADR:;;;;;;Norway\r\n")) },
	{ .name = "EmptyValueStillGivesItsLine",
	    .args = { "-a", "" },
	    .out = address_object("", card("ADR:;;;;;;\r\n")) },
	{ .name = "TitleAloneGivesNoName",
	    .args = { "-t", "Boss" },
	    .out = address_object("", card("TITLE:Boss\r\n")) },
	{ .name = "EmptyCompanyGivesNoName",
	    .args = { "-o", "" },
	    .out = address_object("", card("ORG:\r\n")) },

	/* The object name: -n, else the names, else the company. */
	{ .name = "GivenNameAlone",
	    .args = { "-f", "Ann" },
	    .out = address_object("Ann", card("N:;Ann\r\n")) },
	{ .name = "FamilyNameAlone",
	    .args = { "-l", "Lee" },
	    .out = address_object("Lee", card("N:Lee;\r\n")) },
	{ .name = "BothNamesEmptyGiveASpace",
	    .args = { "-f", "", "-l", "", "-o", "Acme" },
	    .out = address_object(" ", card("N:;\r\nORG:Acme\r\n")) },
	{ .name = "EmptyNameFallsBackToCompany",
	    .args = { "-f", "", "-o", "Acme" },
	    .out = address_object("Acme", card("N:;\r\nORG:Acme\r\n")) },
	{ .name = "CompanyTakenLiterallyAndCut",
	    .args = { "-o", "%s%n 100%% Fruit & Co. Ltd" },
	    .out = address_object("%s%n 100%% Fruit & Co. L",
		card("ORG:%s%n 100%% Fruit & Co. Ltd\r\n")) },
	{ .name = "NameOptionWins",
	    .args = { "-f", "Ann", "-o", "Acme", "-n", "Mine" },
	    .out = address_object("Mine", card("N:;Ann\r\nORG:Acme\r\n")) },
	{ .name = "EmptyNameOptionLeavesTheCardsName",
	    .args = { "-n", "", "-l", "Lee" },
	    .out = address_object("Lee", card("N:Lee;\r\n")) },
	{ .name = "NameOptionCutTo24Bytes",
	    .args = { "-n", "abcdefghijklmnopqrstuvwxyz", "-t", "" },
	    .out = address_object("abcdefghijklmnopqrstuvwx",
		card("TITLE:\r\n")) },
	/* "ö" and "Ö" are two bytes each; the cut splits the "Ö". */
	{ .name = "NamesCutTo24BytesWithTheSpace",
	    .args = { "-f", "Anna-Karina", "-l",
		"Lindstr\xC3\xB6m-\xC3\x96"
		"berg" },
	    .out = address_object("Anna-Karina Lindstr\xC3\xB6m-\xC3",
		card("N:Lindstr\xC3\xB6m-\xC3\x96"
		     "berg;Anna-Karina\r\n")) },

	/*
	 * Line ends inside values: the card is normalised as one text, so a
	 * CR before a separator gets its LF and one before the card's own
	 * line feed gets no second CR.  The name keeps the bytes as given.
	 */
	{ .name = "LineEndsInsideValues",
	    .args = { "-l", "Lee\r", "-f", "Ann", "-o", "Acme\nLtd", "-t",
		"Boss\r" },
	    .out = address_object("Ann Lee\r",
		card("N:Lee\r\n;Ann\r\nORG:Acme\r\nLtd\r\n"
		     "TITLE:Boss\r\n")) },

	/* Option parsing. */
	{ .name = "LastOccurrenceCounts",
	    .args = { "-n", "x", "-f", "Ann", "-f", "Bob", "-n", "" },
	    .out = address_object("Bob", card("N:;Bob\r\n")) },
	{ .name = "WordBeforeOptionsMeansStreamMode",
	    .args = { "word", "-f", "Ann" },
	    .input = "text\n",
	    .out = address_object("", "text\r\n") },
	{ .name = "OptionsEndAtTheFirstWord",
	    .args = { "-f", "Ann", "word", "-l", "Lee" },
	    .out = address_object("Ann", card("N:;Ann\r\n")) },
	{ .name = "CardModeLeavesInputUnread",
	    .args = { "-c", "Oslo" },
	    .input = "BEGIN:VCARD\nEND:VCARD\n",
	    .out = address_object("", card("ADR:;;;Oslo;;;\r\n")) },
	{ .name = "HelpWithFieldOptions",
	    .args = { "-f", "Ann", "-h", "-o", "Acme" },
	    .input = "unread",
	    .err = usage },

	/* Stream mode: only the line ends change. */
	{ .name = "StreamEveryLineEnd",
	    .input = "lf\ncrlf\r\ncrcr\r\rcr\r",
	    .out = address_object("", "lf\r\ncrlf\r\ncrcr\r\n\r\ncr\r\n") },
	{ .name = "StreamNulBytes",
	    .input = std::string("\0a\0\n\0", 5),
	    .out = address_object("", std::string("\0a\0\r\n\0", 6)) },
	{ .name = "StreamCardPassesThrough",
	    .args = { "-n", "Ann" },
	    .input = "BEGIN:VCARD\nN:Lee;Ann;;;\nEND:VCARD",
	    .out = address_object("Ann",
		"BEGIN:VCARD\r\nN:Lee;Ann;;;\r\nEND:VCARD") },
};

class Address : public testing::TestWithParam<CaseRun>
{
};

TEST_P(Address, WritesTheObject)
{
	expect_case("fmt-address", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, Address, testing::ValuesIn(address_cases),
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
	EXPECT_TRUE(r.out == address_object("big", text))
	    << r.out.size() << " bytes";
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
