/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-date and fmt-todo through the built programs: the worked objects
 * byte for byte, the option and argument rules, and the rules the two
 * share (description, line ends, name, today's date, long texts, output
 * errors), each table run against both programs.
 *
 * Dates given in full (YYYYMMDD) make objects that do not depend on the
 * day the tests run; where the date comes from the clock, the expected
 * date is taken before and after the run, so that a run across midnight
 * passes too.
 */
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "runner.h"

static const std::string date_usage =
    "Format Palm Pilot date from stdin or command line\n"
    "Usage: fmt-date [-n name] [-d [[[cc]yy]mm]dd] [-t hh[mm]-hh[mm]] "
    "[text ...]\n";
static const std::string todo_usage =
    "Format Palm Pilot todo item from stdin or command line\n"
    "Usage: fmt-todo [-n name] [-d [[[cc]yy]mm]dd] [text ...]\n";
static const std::string bad_date = "Bad date format\n";
static const std::string bad_time = "Bad time format\n";

/* The worked objects, as literal bytes. */
static const std::string team_meeting_timed = hex("CF 64 61 74 65 49 00 94") +
    "BEGIN:VCALENDAR\r\n"
    "VERSION:1.0\r\n"
    "BEGIN:VEVENT\r\n"
    "DTSTART:20240315T093000\r\n"
    "DTEND:20240315T103000\r\n"
    "DESCRIPTION:Team meeting\r\n"
    "END:VEVENT\r\n"
    "END:VCALENDAR\r\n";
static const std::string team_meeting = hex("CF 64 61 74 65 49 00 76") +
    "BEGIN:VCALENDAR\r\n"
    "VERSION:1.0\r\n"
    "BEGIN:VEVENT\r\n"
    "DTSTART:20240315\r\n"
    "DESCRIPTION:Team meeting\r\n"
    "END:VEVENT\r\n"
    "END:VCALENDAR\r\n";
static const std::string buy_milk = hex("CF 74 6F 64 6F 49 00 A3") +
    "BEGIN:VCALENDAR\r\n"
    "VERSION:1.0\r\n"
    "BEGIN:VTODO\r\n"
    "CATEGORIES:X-Unfiled\r\n"
    "DUE:20240315\r\n"
    "STATUS:NEEDS ACTION\r\n"
    "PRIORITY:1\r\n"
    "DESCRIPTION:Buy milk\r\n"
    "END:VTODO\r\n"
    "END:VCALENDAR\r\n";

/* An event on `date` without times; `text` is the description's lines. */
static std::string
event(const std::string &date, const std::string &text)
{
	return object({ .creator = "date",
	    .payload = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n"
		       "DTSTART:" +
		date + "\r\nDESCRIPTION:" + text +
		"END:VEVENT\r\nEND:VCALENDAR\r\n" });
}

static std::string
event_at(const std::string &date, const std::string &start,
    const std::string &end, const std::string &text)
{
	return object({ .creator = "date",
	    .payload = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n"
		       "DTSTART:" +
		date + "T" + start + "\r\nDTEND:" + date + "T" + end +
		"\r\nDESCRIPTION:" + text +
		"END:VEVENT\r\nEND:VCALENDAR\r\n" });
}

static std::string
todo(const std::string &date, const std::string &text)
{
	return object({ .creator = "todo",
	    .payload = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VTODO\r\n"
		       "CATEGORIES:X-Unfiled\r\nDUE:" +
		date +
		"\r\nSTATUS:NEEDS ACTION\r\nPRIORITY:1\r\n"
		"DESCRIPTION:" +
		text + "END:VTODO\r\nEND:VCALENDAR\r\n" });
}

static const CaseRun date_cases[] = {
	{ .name = "WorkedExample",
	    .args = { "-d", "20240315", "-t", "0930-1030", "Team", "meeting" },
	    .out = team_meeting_timed },
	{ .name = "WorkedExampleWithoutTime",
	    .args = { "-d", "20240315", "Team", "meeting" },
	    .out = team_meeting },
	{ .name = "WorkedExampleWithName",
	    .args = { "-n", "Team", "-d", "20240315", "Team", "meeting" },
	    .out =
		hex("01 00 0D 00 54 00 65 00 61 00 6D 00 00") + team_meeting },
	{ .name = "EndBeforeStart",
	    .args = { "-d", "20240315", "-t", "12-10", "x" },
	    .out = event_at("20240315", "120000", "100000", "x\r\n") },
	/* A word is no date, and a time of day ends at 23:59. */
	{ .name = "OptionLetterIsNoDay",
	    .args = { "-d", "-t", "0930-1030", "Meeting" },
	    .err = bad_date,
	    .status = 255 },
	{ .name = "MonthThirteen",
	    .args = { "-d", "20241301", "-t", "0930-1030", "x" },
	    .err = bad_date,
	    .status = 255 },
	{ .name = "HourPastTheDay",
	    .args = { "-d", "20240315", "-t", "2599-9999", "x" },
	    .err = bad_time,
	    .status = 255 },
	{ .name = "SecondHyphenInTheEndPart",
	    .args = { "-d", "20240315", "-t", "09-12-3", "x" },
	    .err = bad_time,
	    .status = 255 },
	{ .name = "LastDateAndTimeCount",
	    .args = { "-d", "1", "-t", "9", "-d", "20240315", "-t", "0930-1030",
		"Team", "meeting" },
	    .out = team_meeting_timed },
	{ .name = "TimeAfterTheWordsIsText",
	    .args = { "-d", "20240315", "Lunch", "-t", "0900" },
	    .out = event("20240315", "Lunch -t 0900\r\n") },
	{ .name = "DoubleHyphenEndsOptions",
	    .args = { "-d", "20240315", "--", "-t", "x" },
	    .out = event("20240315", "-t x\r\n") },
	{ .name = "OddDate",
	    .args = { "-d", "1234567", "x" },
	    .input = "unread",
	    .err = bad_date,
	    .status = 255 },
	{ .name = "LongDate",
	    .args = { "-d", "202403150", "x" },
	    .err = bad_date,
	    .status = 255 },
	{ .name = "TimeWithoutHyphen",
	    .args = { "-t", "0900", "x" },
	    .err = bad_time,
	    .status = 255 },
	{ .name = "ShortEndTime",
	    .args = { "-d", "20240315", "-t", "09-5" },
	    .err = bad_time,
	    .status = 255 },
	{ .name = "DateJudgedBeforeTime",
	    .args = { "-t", "0900", "-d", "1" },
	    .err = bad_date,
	    .status = 255 },
	{ .name = "HelpWithBadDateAndTime",
	    .args = { "-d", "1", "-t", "9", "-h" },
	    .err = date_usage },
	{ .name = "UnknownOptionWithBadDate",
	    .args = { "-d", "1", "-x" },
	    .err = date_usage,
	    .status = 1,
	    .err_tail = true },
};

class Date : public testing::TestWithParam<CaseRun>
{
};

TEST_P(Date, WritesTheObject)
{
	expect_case("fmt-date", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, Date, testing::ValuesIn(date_cases),
    CaseName());

static const CaseRun todo_cases[] = {
	{ .name = "WorkedExample",
	    .args = { "-d", "20240315", "Buy", "milk" },
	    .out = buy_milk },
	{ .name = "WorkedExampleWithName",
	    .args = { "-n", "Milk", "-d", "20240315", "Buy", "milk" },
	    .out = hex("01 00 0D 00 4D 00 69 00 6C 00 6B 00 00") + buy_milk },
	{ .name = "LastDateCounts",
	    .args = { "-d", "1", "-d", "20240315", "Buy", "milk" },
	    .out = buy_milk },
	{ .name = "OddDate",
	    .args = { "-d", "123", "x" },
	    .input = "unread",
	    .err = bad_date,
	    .status = 255 },
	{ .name = "NoSuchDay",
	    .args = { "-d", "20230229", "x" },
	    .err = bad_date,
	    .status = 255 },
	{ .name = "LongDate",
	    .args = { "-d", "1234567890" },
	    .err = bad_date,
	    .status = 255 },
	{ .name = "HelpWithBadDate",
	    .args = { "-h", "-d", "1" },
	    .err = todo_usage },
	{ .name = "NoTimeOption",
	    .args = { "-t", "0900-1000", "x" },
	    .err = todo_usage,
	    .status = 1,
	    .err_tail = true },
};

class Todo : public testing::TestWithParam<CaseRun>
{
};

TEST_P(Todo, WritesTheObject)
{
	expect_case("fmt-todo", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, Todo, testing::ValuesIn(todo_cases),
    CaseName());

/* What the two programs share is checked against both. */
struct Tool {
	const char *name; /* for test names */
	const char *program;
	std::string (*object)(const std::string &date, const std::string &text);
};

static void
PrintTo(const Tool &tool, std::ostream *os)
{
	*os << tool.program;
}

static const Tool tools[] = {
	{ "Date", "fmt-date", event },
	{ "Todo", "fmt-todo", todo },
};

template <class Row> struct ToolCaseName {
	std::string operator()(
	    const testing::TestParamInfo<std::tuple<Tool, Row>> &info) const
	{
		return std::string(std::get<0>(info.param).name) + "_" +
		    std::get<1>(info.param).name;
	}
};

/*
 * The description, from the words or from standard input, and the line
 * ends around it: `text` is what lies between "DESCRIPTION:" and the next
 * "END:".  The normalisation runs on into the closing text, so a lone CR
 * at the end is completed by the closing line end, not doubled.
 */
struct Text {
	const char *name = "";
	std::vector<std::string> words = {};
	std::string input = {};
	std::string text = {};
};

static void
PrintTo(const Text &row, std::ostream *os)
{
	*os << row.name;
}

class Description : public testing::TestWithParam<std::tuple<Tool, Text>>
{
};

TEST_P(Description, EndsLinesWithCrLf)
{
	const auto &[tool, row] = GetParam();
	std::vector<std::string> args{ "-d", "20240315" };
	args.insert(args.end(), row.words.begin(), row.words.end());
	expect_case(tool.program,
	    { .name = row.name,
		.args = args,
		.input = row.input,
		.out = tool.object("20240315", row.text) });
}

static const Text texts[] = {
	{ .name = "EmptyInput", .text = "\r\n" },
	{ .name = "InputLine", .input = "Lunch\n", .text = "Lunch\r\n\r\n" },
	{ .name = "InputLastLineOpen",
	    .input = "one\ntwo",
	    .text = "one\r\ntwo\r\n" },
	{ .name = "InputMixedLineEnds",
	    .input = "a\nb\rc\r\nd",
	    .text = "a\r\nb\r\nc\r\nd\r\n" },
	{ .name = "InputEndsInLoneCr", .input = "x\r", .text = "x\r\n" },
	{ .name = "InputEndsInCrLf", .input = "x\r\n", .text = "x\r\n\r\n" },
	{ .name = "InputPassesUnescaped",
	    .input = "a,b;c:d\\e",
	    .text = "a,b;c:d\\e\r\n" },
	{ .name = "WordsJoined",
	    .words = { "a", "", "b" },
	    .text = "a  b\r\n" },
	{ .name = "WordsLeaveInputUnread",
	    .words = { "" },
	    .input = "unread",
	    .text = "\r\n" },
	{ .name = "WordWithLineFeed",
	    .words = { "a\nb" },
	    .text = "a\r\nb\r\n" },
	{ .name = "LastWordEndingInCr", .words = { "x\r" }, .text = "x\r\n" },
};

INSTANTIATE_TEST_SUITE_P(Texts, Description,
    testing::Combine(testing::ValuesIn(tools), testing::ValuesIn(texts)),
    ToolCaseName<Text>());

/* The Name header: only with -n, and cut to 24 bytes. */
struct Name {
	const char *name = "";
	std::vector<std::string> args = {};
	std::string header = {};
};

static void
PrintTo(const Name &row, std::ostream *os)
{
	*os << row.name;
}

class ObjectName : public testing::TestWithParam<std::tuple<Tool, Name>>
{
};

TEST_P(ObjectName, LeadsTheObject)
{
	const auto &[tool, row] = GetParam();
	std::vector<std::string> args = row.args;
	args.insert(args.end(), { "-d", "20240315", "x" });
	expect_case(tool.program,
	    { .name = row.name,
		.args = args,
		.out = row.header + tool.object("20240315", "x\r\n") });
}

static const Name names[] = {
	{ .name = "None" },
	{ .name = "Empty", .args = { "-n", "" }, .header = name_header("") },
	{ .name = "CutTo24Bytes",
	    .args = { "-n", "abcdefghijklmnopqrstuvwxyz0123" },
	    .header = name_header("abcdefghijklmnopqrstuvwx") },
	{ .name = "LastCounts",
	    .args = { "-n", "a", "-nb" },
	    .header = name_header("b") },
};

INSTANTIATE_TEST_SUITE_P(Names, ObjectName,
    testing::Combine(testing::ValuesIn(tools), testing::ValuesIn(names)),
    ToolCaseName<Name>());

/* Today's local date, as the programs read it from the clock. */
static std::string
local_today()
{
	time_t now = time(nullptr);
	struct tm tm;
	char date[16];
	localtime_r(&now, &tm);
	strftime(date, sizeof(date), "%Y%m%d", &tm);
	return date;
}

/*
 * Dates taken wholly or partly from today: the argument replaces as many
 * characters at the end of today's date as it has.
 */
struct Today {
	const char *name = "";
	std::vector<std::string> args = {};
	std::string tail = {}; /* what replaces the end of today's date */
	std::string text = {};
};

static void
PrintTo(const Today &row, std::ostream *os)
{
	*os << row.name;
}

class TodaysDate : public testing::TestWithParam<std::tuple<Tool, Today>>
{
};

TEST_P(TodaysDate, FillsTheLeadingFields)
{
	const auto &[tool, row] = GetParam();
	std::string before = local_today();
	RunResult r = run_program(tool.program, row.args);
	std::string after = local_today();

	size_t keep = 8 - row.tail.size();
	std::string on_before =
	    tool.object(before.substr(0, keep) + row.tail, row.text);
	std::string on_after =
	    tool.object(after.substr(0, keep) + row.tail, row.text);
	EXPECT_TRUE(r.out == on_before || r.out == on_after)
	    << printable(r.out) << "\nexpected\n"
	    << printable(on_before);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
}

static const Today todays[] = {
	{ .name = "NoDate", .args = { "x" }, .text = "x\r\n" },
	{ .name = "EmptyDate", .args = { "-d", "", "x" }, .text = "x\r\n" },
	{ .name = "Day",
	    .args = { "-d", "07", "x" },
	    .tail = "07",
	    .text = "x\r\n" },
	{ .name = "TwoDigitYearTakesThisCentury",
	    .args = { "-d", "991231", "x" },
	    .tail = "991231",
	    .text = "x\r\n" },
	{ .name = "OptionsStopAtTheFirstWord",
	    .args = { "Lunch", "-d", "15" },
	    .text = "Lunch -d 15\r\n" },
};

INSTANTIATE_TEST_SUITE_P(Dates, TodaysDate,
    testing::Combine(testing::ValuesIn(tools), testing::ValuesIn(todays)),
    ToolCaseName<Today>());

class Shared : public testing::TestWithParam<Tool>
{
};

/* A description too long for one header goes out as Body headers first. */
TEST_P(Shared, LongDescriptionSplitsIntoBodyHeaders)
{
	const Tool &tool = GetParam();
	auto [input, text] = long_text();
	RunOptions options;
	options.input = input;
	RunResult r = run_program(tool.program, { "-d", "20240315" }, options);

	/* A full Body header, then the rest in the End-of-Body header. */
	std::string expected = tool.object("20240315", text + "\r\n");
	EXPECT_TRUE(r.out == expected) << r.out.size() << " bytes";
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
}

TEST_P(Shared, BrokenOutputIsAnError)
{
	const Tool &tool = GetParam();
	RunOptions options;
	options.stdout_broken = true;
	RunResult r =
	    run_program(tool.program, { "-d", "20240315", "x" }, options);
	EXPECT_EQ(r.err,
	    std::string(tool.program) +
		": cannot write to standard output: " + strerror(EPIPE) + "\n");
	EXPECT_EQ(r.status, 1);
}

INSTANTIATE_TEST_SUITE_P(Tools, Shared, testing::ValuesIn(tools), CaseName());
