/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-phonecard through the built program: the card and its name byte for
 * byte, the option rules, and a card too long for one header.
 */
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "runner.h"

static const std::string usage =
    "Format Nokia telephone number from stdin or command line\n"
    "Usage: fmt-phonecard -n name -t tel\n";

/*
 * The object for a card: the Name header of `name` with ".vcf" after it,
 * and the card whose lines (each ended by CR LF) are `lines`.
 */
static std::string
phonecard_object(std::string_view name, std::string_view lines)
{
	return object({ .name = std::string(name) + ".vcf",
	    .payload = "BEGIN:VCARD\r\nVERSION:2.1\r\n" + std::string(lines) +
		"END:VCARD\r\n" });
}

/* The object of name x and number 1. */
static const std::string x_object = phonecard_object("x", "N:x\r\nTEL:1\r\n");
static const std::string name24_object =
    phonecard_object("abcdefghijklmnopqrstuvwx",
	"N:abcdefghijklmnopqrstuvwx\r\nTEL:\r\n");

static const CaseRun phonecard_cases[] = {
	{ .name = "WorkedExample",
	    .args = { "-n", "Home", "-t", "555-0100" },
	    .out = hex("01 00 15 00 48 00 6F 00 6D 00 65 00 2E 00 76 00 63"
		       "00 66 00 00 49 00 3E") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Home\r\nTEL:555-0100\r\n"
		"END:VCARD\r\n" },
	{ .name = "StandardInputUnread",
	    .args = { "-n", "x", "-t", "1" },
	    .input = "ignored",
	    .out = x_object },
	{ .name = "LastOptionsCount",
	    .args = { "-n", "a", "-t", "0", "-nx", "-t1" },
	    .out = x_object },
	{ .name = "WordsAfterOptionsIgnored",
	    .args = { "-n", "x", "-t", "1", "more", "-h" },
	    .out = x_object },

	/* A name of 24 bytes stays whole, a longer one is cut to 24. */
	{ .name = "NameOfExactly24Bytes",
	    .args = { "-n", "abcdefghijklmnopqrstuvwx", "-t", "" },
	    .out = name24_object },
	{ .name = "NameCutTo24Bytes",
	    .args = { "-n", "abcdefghijklmnopqrstuvwxyz0123", "-t", "" },
	    .out = name24_object },
	/* The cut counts bytes: the 2-byte character at 24 is split. */
	{ .name = "CutSplitsACharacter",
	    .args = { "-n", "abcdefghijklmnopqrstuvw\xC3\xA9", "-t", "1" },
	    .out = phonecard_object("abcdefghijklmnopqrstuvw\xC3",
		"N:abcdefghijklmnopqrstuvw\xC3\r\nTEL:1\r\n") },
	{ .name = "EmptyValues",
	    .args = { "-n", "", "-t", "" },
	    .out = phonecard_object("", "N:\r\nTEL:\r\n") },
	{ .name = "HighBytesWidenAsLatin1",
	    .args = { "-n", "\xE9\xFF", "-t", "1" },
	    .out = phonecard_object("\xE9\xFF", "N:\xE9\xFF\r\nTEL:1\r\n") },

	/* Line ends inside values start new card lines, sent as CR LF. */
	{ .name = "NameWithLineFeed",
	    .args = { "-n", "a\nb", "-t", "1" },
	    .out = phonecard_object("a\nb", "N:a\r\nb\r\nTEL:1\r\n") },
	{ .name = "NameEndingInCr",
	    .args = { "-n", "a\r", "-t", "1" },
	    .out = phonecard_object("a\r", "N:a\r\nTEL:1\r\n") },
	{ .name = "TelWithLoneCrAndCrLf",
	    .args = { "-n", "x", "-t", "1\r2\r\n3\r" },
	    .out = phonecard_object("x", "N:x\r\nTEL:1\r\n2\r\n3\r\n") },

	/* The command line refused. */
	{ .name = "OnlyName",
	    .args = { "-n", "x" },
	    .err = usage,
	    .status = 1 },
	{ .name = "OnlyTel", .args = { "-t", "1" }, .err = usage, .status = 1 },
	{ .name = "WordBeforeOptions",
	    .args = { "call", "-n", "x", "-t", "1" },
	    .err = usage,
	    .status = 1 },
	{ .name = "HelpWithCompleteOptions",
	    .args = { "-n", "x", "-t", "1", "-h" },
	    .err = usage },
};

class Phonecard : public testing::TestWithParam<CaseRun>
{
};

TEST_P(Phonecard, WritesTheObject)
{
	expect_case("fmt-phonecard", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, Phonecard, testing::ValuesIn(phonecard_cases),
    CaseName());

/* A card past 65,532 bytes goes out as a Body header, then the rest. */
TEST(PhonecardLongCard, SplitsIntoBodyHeaders)
{
	std::string tel(70000, '5');
	RunResult r = run_program("fmt-phonecard", { "-n", "x", "-t", tel });
	std::string card = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:x\r\nTEL:" + tel +
	    "\r\nEND:VCARD\r\n";
	std::string expected = object({ .name = "x.vcf", .payload = card });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_TRUE(r.out == expected) << r.out.size() << " bytes";
}

TEST(PhonecardFailures, BrokenOutputIsAnError)
{
	RunOptions options;
	options.stdout_broken = true;
	RunResult r =
	    run_program("fmt-phonecard", { "-n", "x", "-t", "1" }, options);
	EXPECT_EQ(r.err,
	    std::string("fmt-phonecard: cannot write to standard output: ") +
		strerror(EPIPE) + "\n");
	EXPECT_EQ(r.status, 1);
}
