/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-memo through the built program: the worked objects byte for byte,
 * the option rules, and the failures that must not pass for success.
 */
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "runner.h"

static const std::string usage =
    "Format Palm Pilot memo from stdin or command line\n"
    "Usage: fmt-memo [-n name] [text ...]\n";
static const std::string memo = hex("CF 6D 65 6D 6F");

/* A memo object: Name when given, the creator "memo", the text. */
static std::string
memo_object(std::optional<std::string> name, std::string_view text)
{
	return object(
	    { .name = name, .creator = "memo", .payload = std::string(text) });
}

static const CaseRun memo_cases[] = {
	/* The worked examples, every byte spelled out. */
	{ .name = "WorkedExample",
	    .args = { "-n", "shop", "milk", "eggs" },
	    .out = hex("01 00 0D 00 73 00 68 00 6F 00 70 00 00") + memo +
		hex("49 00 0E") + "milk eggs\r\n" },
	{ .name = "ShoppingFromStandardInput",
	    .args = { "-n", "Shopping" },
	    .input = "milk\neggs\n",
	    .out = hex("01 00 15 00 53 00 68 00 6F 00 70 00 70 00 69 00 6E"
		       "00 67 00 00 CF 6D 65 6D 6F 49 00 0F") +
		"milk\r\neggs\r\n" },
	{ .name = "EmptyInput", .out = memo + hex("49 00 03") },

	/* Standard input: every line end becomes CR LF, nothing is added. */
	{ .name = "EmptyInputWithName",
	    .args = { "-n", "x" },
	    .out = memo_object("x", "") },
	{ .name = "InputKeepsItsLastLineOpen",
	    .input = "one\ntwo",
	    .out = memo_object({}, "one\r\ntwo") },
	{ .name = "InputLoneCrCompleted",
	    .input = "a\r\rb\r",
	    .out = memo_object({}, "a\r\n\r\nb\r\n") },
	{ .name = "InputNulKept",
	    .input = std::string("a\0b", 3),
	    .out = memo_object({}, std::string("a\0b", 3)) },

	/* Words: joined by spaces, ended by a line end. */
	{ .name = "WordsLeaveInputUnread",
	    .args = { "hi" },
	    .input = "unread",
	    .out = memo_object({}, "hi\r\n") },
	{ .name = "SingleEmptyWord",
	    .args = { "" },
	    .out = memo_object({}, "\r\n") },
	{ .name = "EmptyWordKeepsItsSpaces",
	    .args = { "a", "", "b" },
	    .out = memo_object({}, "a  b\r\n") },
	{ .name = "WordWithLineFeed",
	    .args = { "a\nb" },
	    .out = memo_object({}, "a\r\nb\r\n") },
	{ .name = "WordEndingInCr",
	    .args = { "x\r", "y" },
	    .out = memo_object({}, "x\r\n y\r\n") },
	{ .name = "LastWordEndingInCr",
	    .args = { "x\r" },
	    .out = memo_object({}, "x\r\n") },

	/* The name: a name of 24 bytes stays whole, a longer one is cut. */
	{ .name = "NameCutTo24Bytes",
	    .args = { "-n", "abcdefghijklmnopqrstuvwxyz0123", "" },
	    .out = memo_object("abcdefghijklmnopqrstuvwx", "\r\n") },
	{ .name = "NameOfExactly24Bytes",
	    .args = { "-n", "abcdefghijklmnopqrstuvwx", "" },
	    .out = memo_object("abcdefghijklmnopqrstuvwx", "\r\n") },
	{ .name = "EmptyName",
	    .args = { "-n", "", "" },
	    .out = memo_object("", "\r\n") },
	{ .name = "NameBytesWidenAsLatin1",
	    .args = { "-n", "\xC3\xA9\xFF", "" },
	    .out = memo_object("\xC3\xA9\xFF", "\r\n") },
	{ .name = "LastNameCounts",
	    .args = { "-n", "a", "-nb", "" },
	    .out = memo_object("b", "\r\n") },

	/* Options. */
	{ .name = "OptionsEndAtTheFirstWord",
	    .args = { "note", "-n", "x" },
	    .out = memo_object({}, "note -n x\r\n") },
	{ .name = "DoubleHyphenEndsOptions",
	    .args = { "--", "-n", "x" },
	    .out = memo_object({}, "-n x\r\n") },
	{ .name = "LoneHyphenIsAWord",
	    .args = { "-" },
	    .out = memo_object({}, "-\r\n") },
	{ .name = "HelpWinsOverEverything",
	    .args = { "-n", "x", "-h", "words" },
	    .input = "unread",
	    .err = usage },
};

class Memo : public testing::TestWithParam<CaseRun>
{
};

TEST_P(Memo, WritesTheObject)
{
	expect_case("fmt-memo", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, Memo, testing::ValuesIn(memo_cases),
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
