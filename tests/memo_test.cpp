/*
 * fmt-memo through the built program: the worked objects byte for byte,
 * the option rules, and the failures that must not pass for success.
 */
#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "runner.h"

static const std::string usage =
    "Format Palm Pilot memo from stdin or command line\n"
    "Usage: fmt-memo [-n name] [text ...]\n";
static const std::string memo = hex("CF 6D 65 6D 6F");

/* A memo of one empty line named by the letters a to x. */
static const std::string name24_object =
    hex("01 00 35 00 61 00 62 00 63 00 64 00 65 00 66 00 67 00 68"
	"00 69 00 6A 00 6B 00 6C 00 6D 00 6E 00 6F 00 70 00 71"
	"00 72 00 73 00 74 00 75 00 76 00 77 00 78 00 00") +
    memo + hex("49 00 05 0D 0A");

class Memo : public testing::TestWithParam<CaseRun>
{
};

TEST_P(Memo, WritesTheObject)
{
	expect_case("fmt-memo", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, Memo,
    testing::Values(CaseRun{ "WorkedExample", { "-n", "shop", "milk", "eggs" },
			"",
			hex("01 00 0D 00 73 00 68 00 6F 00 70 00 00") + memo +
			    hex("49 00 0E") + "milk eggs\r\n" },
	CaseRun{ "ShoppingFromStandardInput", { "-n", "Shopping" },
	    "milk\neggs\n",
	    hex("01 00 15 00 53 00 68 00 6F 00 70 00 70 00 69 00 6E 00 67"
		"00 00 CF 6D 65 6D 6F 49 00 0F") +
		"milk\r\neggs\r\n" },
	CaseRun{ "EmptyInput", {}, "", memo + hex("49 00 03") },
	CaseRun{ "EmptyInputWithName", { "-n", "x" }, "",
	    hex("01 00 07 00 78 00 00") + memo + hex("49 00 03") },
	CaseRun{ "InputKeepsItsLastLineOpen", {}, "one\ntwo",
	    memo + hex("49 00 0B") + "one\r\ntwo" },
	CaseRun{ "InputLoneCrCompleted", {}, "a\r\rb\r",
	    memo + hex("49 00 0B") + "a\r\n\r\nb\r\n" },
	CaseRun{ "InputNulKept", {}, std::string("a\0b", 3),
	    memo + hex("49 00 06 61 00 62") },
	CaseRun{ "WordsLeaveInputUnread", { "hi" }, "unread",
	    memo + hex("49 00 07") + "hi\r\n" },
	CaseRun{ "SingleEmptyWord", { "" }, "", memo + hex("49 00 05 0D 0A") },
	CaseRun{ "EmptyWordKeepsItsSpaces", { "a", "", "b" }, "",
	    memo + hex("49 00 09") + "a  b\r\n" },
	CaseRun{ "WordWithLineFeed", { "a\nb" }, "",
	    memo + hex("49 00 09") + "a\r\nb\r\n" },
	CaseRun{ "WordEndingInCr", { "x\r", "y" }, "",
	    memo + hex("49 00 0A") + "x\r\n y\r\n" },
	CaseRun{ "LastWordEndingInCr", { "x\r" }, "",
	    memo + hex("49 00 06") + "x\r\n" },
	/* A name of 24 bytes stays whole, a longer one is cut to 24. */
	CaseRun{ "NameCutTo24Bytes",
	    { "-n", "abcdefghijklmnopqrstuvwxyz0123", "" }, "", name24_object },
	CaseRun{ "NameOfExactly24Bytes",
	    { "-n", "abcdefghijklmnopqrstuvwx", "" }, "", name24_object },
	CaseRun{ "EmptyName", { "-n", "", "" }, "",
	    hex("01 00 05 00 00") + memo + hex("49 00 05 0D 0A") },
	CaseRun{ "NameBytesWidenAsLatin1", { "-n", "\xC3\xA9\xFF", "" }, "",
	    hex("01 00 0B 00 C3 00 A9 00 FF 00 00") + memo +
		hex("49 00 05 0D 0A") },
	CaseRun{ "LastNameCounts", { "-n", "a", "-nb", "" }, "",
	    hex("01 00 07 00 62 00 00") + memo + hex("49 00 05 0D 0A") },
	CaseRun{ "OptionsEndAtTheFirstWord", { "note", "-n", "x" }, "",
	    memo + hex("49 00 0E") + "note -n x\r\n" },
	CaseRun{ "DoubleHyphenEndsOptions", { "--", "-n", "x" }, "",
	    memo + hex("49 00 09") + "-n x\r\n" },
	CaseRun{ "LoneHyphenIsAWord", { "-" }, "",
	    memo + hex("49 00 06") + "-\r\n" },
	CaseRun{ "HelpWinsOverEverything", { "-n", "x", "-h", "words" },
	    "unread", "", usage },
	CaseRun{ "UnknownOption", { "-x", "words" }, "", "", usage, 0, true },
	CaseRun{ "NameWithoutItsValue", { "-n" }, "", "", usage, 0, true }),
    CaseName());

/* A payload too long for one header goes out as Body headers first. */
TEST(MemoLongText, SplitsIntoBodyHeaders)
{
	auto [input, text] = long_text();
	/* 70,700 bytes of text: one full Body header, then the rest. */
	RunOptions options;
	options.input = input;
	RunResult r = run_program("fmt-memo", {}, options);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::string expected = memo + hex("48 FF FF") + text.substr(0, 65532) +
	    hex("49 14 33") + text.substr(65532);
	EXPECT_TRUE(r.out == expected) << r.out.size() << " bytes";
}

TEST(MemoLongText, LongestSingleHeaderPayloadStaysWhole)
{
	RunOptions options;
	options.input = std::string(65532, 'y');
	RunResult r = run_program("fmt-memo", {}, options);
	EXPECT_TRUE(r.out == memo + hex("49 FF FF") + options.input);
}

TEST(MemoFailures, BrokenOutputIsAnError)
{
	/* A short text goes through the stream's buffer, a long one past it. */
	struct {
		std::vector<std::string> args;
		size_t input;
	} cases[] = { { { "hello" }, 0 }, { {}, 100000 } };
	for (const auto &c : cases) {
		RunOptions options;
		options.stdout_broken = true;
		options.input = std::string(c.input, 'x');
		RunResult r = run_program("fmt-memo", c.args, options);
		EXPECT_EQ(r.err,
		    std::string("fmt-memo: cannot write to standard "
				"output: ") +
			strerror(EPIPE) + "\n")
		    << c.input;
		EXPECT_EQ(r.status, 1) << c.input;
	}
}

TEST(MemoFailures, UnreadableInputIsNotAnEmptyText)
{
	RunOptions options;
	options.stdin_path = temp_dir();
	RunResult r = run_program("fmt-memo", {}, options);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err,
	    std::string("fmt-memo: cannot read standard input: ") +
		strerror(EISDIR) + "\n");
	EXPECT_EQ(r.status, 1);
}

#if defined(__SANITIZE_ADDRESS__)
#define FMT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FMT_ASAN 1
#endif
#endif

TEST(MemoFailures, OutOfMemoryIsReported)
{
	RunOptions options;
	options.input = std::string(48 << 20, 'm');
#ifdef FMT_ASAN
	/* The sanitizer's shadow memory cannot live under an address limit. */
	options.env.push_back("ASAN_OPTIONS=allocator_may_return_null=1:"
			      "max_allocation_size_mb=16");
#else
	options.memory_limit = 32ul << 20;
#endif
	RunResult r = run_program("fmt-memo", {}, options);
	EXPECT_TRUE(r.out.empty()) << r.out.size() << " bytes written";
#ifdef FMT_ASAN
	/* The sanitizer announces the failed allocation in its own line. */
	if (r.err.rfind("==", 0) == 0)
		r.err.erase(0, r.err.find('\n') + 1);
#endif
	EXPECT_EQ(r.err, "fmt-memo: out of memory\n");
	EXPECT_EQ(r.status, 1);
}

TEST(MemoFailures, EmptyArgumentVectorUsesTheProgramsOwnName)
{
	RunOptions options;
	options.empty_argv = true;
	options.stdout_broken = true;
	options.input = "text";
	RunResult r = run_program("fmt-memo", {}, options);
	EXPECT_EQ(r.err,
	    std::string("fmt-memo: cannot write to standard "
			"output: ") +
		strerror(EPIPE) + "\n");
	EXPECT_EQ(r.status, 1);
}
