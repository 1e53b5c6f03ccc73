/*
 * fmt-phonecard through the built program: the card and its name byte for
 * byte, the option rules, and a card too long for one header.
 */
#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "runner.h"

static const std::string usage =
    "Format Nokia telephone number from stdin or command line\n"
    "Usage: fmt-phonecard -n name -t tel\n";

/*
 * The object for a short card: the Name header of `name` with ".vcf" after
 * it, and the card whose lines (each ended by CR LF) are `lines`.
 */
static std::string
object(std::string_view name, std::string_view lines)
{
	std::string card = "BEGIN:VCARD\r\nVERSION:2.1\r\n" +
	    std::string(lines) + "END:VCARD\r\n";
	return name_header(std::string(name) + ".vcf") + "\x49" +
	    be16((unsigned)card.size() + 3) + card;
}

/* The object of name x and number 1. */
static const std::string x_object = object("x", "N:x\r\nTEL:1\r\n");
static const std::string name24_object = object("abcdefghijklmnopqrstuvwx",
    "N:abcdefghijklmnopqrstuvwx\r\nTEL:\r\n");

class Phonecard : public testing::TestWithParam<CaseRun>
{
};

TEST_P(Phonecard, WritesTheObject)
{
	expect_case("fmt-phonecard", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, Phonecard,
    testing::Values(
	CaseRun{ "WorkedExample", { "-n", "Home", "-t", "555-0100" }, "",
	    hex("01 00 15 00 48 00 6F 00 6D 00 65 00 2E 00 76 00 63 00 66"
		"00 00 49 00 3E") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Home\r\nTEL:555-0100\r\n"
		"END:VCARD\r\n" },
	CaseRun{ "StandardInputUnread", { "-n", "x", "-t", "1" }, "ignored",
	    x_object },
	CaseRun{ "LastOptionsCount", { "-n", "a", "-t", "0", "-nx", "-t1" }, "",
	    x_object },
	CaseRun{ "WordsAfterOptionsIgnored",
	    { "-n", "x", "-t", "1", "more", "-h" }, "", x_object },
	/* A name of 24 bytes stays whole, a longer one is cut to 24. */
	CaseRun{ "NameOfExactly24Bytes",
	    { "-n", "abcdefghijklmnopqrstuvwx", "-t", "" }, "", name24_object },
	CaseRun{ "NameCutTo24Bytes",
	    { "-n", "abcdefghijklmnopqrstuvwxyz0123", "-t", "" }, "",
	    name24_object },
	/* The cut counts bytes: the 2-byte character at 24 is split. */
	CaseRun{ "CutSplitsACharacter",
	    { "-n", "abcdefghijklmnopqrstuvw\xC3\xA9", "-t", "1" }, "",
	    object("abcdefghijklmnopqrstuvw\xC3",
		"N:abcdefghijklmnopqrstuvw\xC3\r\nTEL:1\r\n") },
	CaseRun{ "EmptyValues", { "-n", "", "-t", "" }, "",
	    object("", "N:\r\nTEL:\r\n") },
	CaseRun{ "HighBytesWidenAsLatin1", { "-n", "\xE9\xFF", "-t", "1" }, "",
	    object("\xE9\xFF", "N:\xE9\xFF\r\nTEL:1\r\n") },
	/* Line ends inside values start new card lines, sent as CR LF. */
	CaseRun{ "NameWithLineFeed", { "-n", "a\nb", "-t", "1" }, "",
	    object("a\nb", "N:a\r\nb\r\nTEL:1\r\n") },
	CaseRun{ "NameEndingInCr", { "-n", "a\r", "-t", "1" }, "",
	    object("a\r", "N:a\r\nTEL:1\r\n") },
	CaseRun{ "TelWithLoneCrAndCrLf", { "-n", "x", "-t", "1\r2\r\n3\r" }, "",
	    object("x", "N:x\r\nTEL:1\r\n2\r\n3\r\n") },
	CaseRun{ "OnlyName", { "-n", "x" }, "", "", usage },
	CaseRun{ "OnlyTel", { "-t", "1" }, "", "", usage },
	CaseRun{ "WordBeforeOptions", { "call", "-n", "x", "-t", "1" }, "", "",
	    usage },
	CaseRun{ "HelpWithCompleteOptions", { "-n", "x", "-t", "1", "-h" }, "",
	    "", usage },
	CaseRun{ "UnknownOption", { "-n", "x", "-t", "1", "-x" }, "", "", usage,
	    0, true },
	CaseRun{ "TelWithoutItsValue", { "-n", "x", "-t" }, "", "", usage, 0,
	    true }),
    CaseName());

/* A card past 65,532 bytes goes out as a Body header, then the rest. */
TEST(PhonecardLongCard, SplitsIntoBodyHeaders)
{
	std::string tel(70000, '5');
	RunResult r = run_program("fmt-phonecard", { "-n", "x", "-t", tel });
	std::string card = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:x\r\nTEL:" + tel +
	    "\r\nEND:VCARD\r\n";
	/* 70,048 bytes of card: 65,532 in the Body, 4,516 left. */
	std::string expected = name_header("x.vcf") + hex("48 FF FF") +
	    card.substr(0, 65532) + hex("49 11 A7") + card.substr(65532);
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
