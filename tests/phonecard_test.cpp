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

/* The Name header of "x.vcf" and the card of name x and number 1. */
static const std::string x_vcf =
    hex("01 00 0F 00 78 00 2E 00 76 00 63 00 66 00 00");
static const std::string x_card =
    "BEGIN:VCARD\r\nVERSION:2.1\r\nN:x\r\nTEL:1\r\nEND:VCARD\r\n";

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
	    x_vcf + hex("49 00 34") + x_card },
	CaseRun{ "LastOptionsCount", { "-n", "a", "-t", "0", "-nx", "-t1" }, "",
	    x_vcf + hex("49 00 34") + x_card },
	CaseRun{ "WordsAfterOptionsIgnored",
	    { "-n", "x", "-t", "1", "more", "-h" }, "",
	    x_vcf + hex("49 00 34") + x_card },
	CaseRun{ "NameOfExactly24Bytes",
	    { "-n", "abcdefghijklmnopqrstuvwx", "-t", "" }, "",
	    hex("01 00 3D 00 61 00 62 00 63 00 64 00 65 00 66 00 67 00 68"
		"00 69 00 6A 00 6B 00 6C 00 6D 00 6E 00 6F 00 70 00 71"
		"00 72 00 73 00 74 00 75 00 76 00 77 00 78"
		"00 2E 00 76 00 63 00 66 00 00 49 00 4A") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:abcdefghijklmnopqrstuvwx"
		"\r\nTEL:\r\nEND:VCARD\r\n" },
	CaseRun{ "NameCutTo24Bytes",
	    { "-n", "abcdefghijklmnopqrstuvwxyz0123", "-t", "" }, "",
	    hex("01 00 3D 00 61 00 62 00 63 00 64 00 65 00 66 00 67 00 68"
		"00 69 00 6A 00 6B 00 6C 00 6D 00 6E 00 6F 00 70 00 71"
		"00 72 00 73 00 74 00 75 00 76 00 77 00 78"
		"00 2E 00 76 00 63 00 66 00 00 49 00 4A") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:abcdefghijklmnopqrstuvwx"
		"\r\nTEL:\r\nEND:VCARD\r\n" },
	/* The cut counts bytes: the 2-byte character at 24 is split. */
	CaseRun{ "CutSplitsACharacter",
	    { "-n", "abcdefghijklmnopqrstuvw\xC3\xA9", "-t", "1" }, "",
	    hex("01 00 3D 00 61 00 62 00 63 00 64 00 65 00 66 00 67 00 68"
		"00 69 00 6A 00 6B 00 6C 00 6D 00 6E 00 6F 00 70 00 71"
		"00 72 00 73 00 74 00 75 00 76 00 77 00 C3"
		"00 2E 00 76 00 63 00 66 00 00 49 00 4B") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:abcdefghijklmnopqrstuvw\xC3"
		"\r\nTEL:1\r\nEND:VCARD\r\n" },
	CaseRun{ "EmptyValues", { "-n", "", "-t", "" }, "",
	    hex("01 00 0D 00 2E 00 76 00 63 00 66 00 00 49 00 32") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:\r\nTEL:\r\nEND:VCARD\r\n" },
	CaseRun{ "HighBytesWidenAsLatin1", { "-n", "\xE9\xFF", "-t", "1" }, "",
	    hex("01 00 11 00 E9 00 FF 00 2E 00 76 00 63 00 66 00 00"
		"49 00 35") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:\xE9\xFF\r\nTEL:1\r\n"
		"END:VCARD\r\n" },
	/* Line ends inside values start new card lines, sent as CR LF. */
	CaseRun{ "NameWithLineFeed", { "-n", "a\nb", "-t", "1" }, "",
	    hex("01 00 13 00 61 00 0A 00 62 00 2E 00 76 00 63 00 66 00 00"
		"49 00 37") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:a\r\nb\r\nTEL:1\r\n"
		"END:VCARD\r\n" },
	CaseRun{ "NameEndingInCr", { "-n", "a\r", "-t", "1" }, "",
	    hex("01 00 11 00 61 00 0D 00 2E 00 76 00 63 00 66 00 00"
		"49 00 34") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:a\r\nTEL:1\r\n"
		"END:VCARD\r\n" },
	CaseRun{ "TelWithLoneCrAndCrLf", { "-n", "x", "-t", "1\r2\r\n3\r" }, "",
	    x_vcf + hex("49 00 3A") +
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:x\r\nTEL:1\r\n2\r\n3\r\n"
		"END:VCARD\r\n" },
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
	std::string expected = x_vcf + hex("48 FF FF") + card.substr(0, 65532) +
	    hex("49 11 A7") + card.substr(65532);
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
