/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The date and time arguments in process, on a clock and in a time zone
 * that the test sets, so that nothing depends on the day the tests run.
 * The time zones are POSIX TZ strings, which need no zone database.
 */
#include <cstdlib>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "calarg.h"

static void
set_zone(const char *tz)
{
	setenv("TZ", tz, 1);
	tzset();
}

/*
 * The date text for `arg`, or "(bad)" when the argument is refused, or
 * "(clock)" when the clock gives no date to lay it over.
 */
static std::string
date_text(const char *arg, time_t now)
{
	char date[CALARG_DATE_SIZE];
	switch (calarg_date_at(arg, now, date)) {
	case CALARG_DATE:
		return date;
	case CALARG_BAD_DATE:
		return "(bad)";
	case CALARG_BAD_CLOCK:
		return "(clock)";
	}
	return "(unknown result)";
}

/* 2024-03-15 12:00:00 UTC. */
static constexpr time_t MID_MARCH = 1710504000;

struct DateForm {
	const char *arg;
	const char *date; /* "(bad)" when refused */
};

TEST(CalargDate, FormsLaidOverToday)
{
	static const DateForm forms[] = {
		{ nullptr, "20240315" },
		{ "", "20240315" },
		{ "07", "20240307" },
		{ "1225", "20241225" },
		{ "991231", "20991231" }, /* the current century, no window */
		{ "19991231", "19991231" },
		/* Lengths. */
		{ "1", "(bad)" },
		{ "123", "(bad)" },
		{ "12345", "(bad)" },
		{ "1234567", "(bad)" },
		{ "123456789", "(bad)" },
		{ "1234567890", "(bad)" },
		{ "20240315202403152024031520240315", "(bad)" },
		/* Digits only: an option's letter is no day. */
		{ "-t", "(bad)" },
		{ "ab", "(bad)" },
		{ "+7", "(bad)" },
		{ " 7", "(bad)" },
		{ "2024-3-1", "(bad)" },
		{ "2024031\xB9", "(bad)" },
	};

	set_zone("UTC0");
	for (const DateForm &f : forms)
		EXPECT_EQ(date_text(f.arg, MID_MARCH), f.date)
		    << "argument " << (f.arg != nullptr ? f.arg : "(none)");
}

/* 2023-02-10 12:00:00 UTC, in a February of 28 days. */
static constexpr time_t FEBRUARY_2023 = 1676030400;

/* The month and day, typed or today's, must name a day of the calendar. */
TEST(CalargDate, DaysOfTheCalendar)
{
	static const struct {
		const char *arg;
		time_t now;
		const char *date; /* "(bad)" when refused */
	} forms[] = {
		{ "20241301", MID_MARCH, "(bad)" },
		{ "1332", MID_MARCH, "(bad)" },
		{ "20240001", MID_MARCH, "(bad)" },
		{ "20241231", MID_MARCH, "20241231" },
		{ "20240100", MID_MARCH, "(bad)" },
		{ "20240131", MID_MARCH, "20240131" },
		{ "20240132", MID_MARCH, "(bad)" },
		{ "20240430", MID_MARCH, "20240430" },
		{ "20240431", MID_MARCH, "(bad)" },
		/* Leap years: every fourth, but not every hundredth unless
		 * it is a four-hundredth. */
		{ "20240229", MID_MARCH, "20240229" },
		{ "20240230", MID_MARCH, "(bad)" },
		{ "20230229", MID_MARCH, "(bad)" },
		{ "19000229", MID_MARCH, "(bad)" },
		{ "20000229", MID_MARCH, "20000229" },
		{ "00000229", MID_MARCH, "00000229" },
		{ "99991231", MID_MARCH, "99991231" },
		/* Today's month and year count as much as the typed ones. */
		{ "0229", MID_MARCH, "20240229" },
		{ "0229", FEBRUARY_2023, "(bad)" },
		{ "29", FEBRUARY_2023, "(bad)" },
		{ "28", FEBRUARY_2023, "20230228" },
		{ "31", MID_MARCH, "20240331" },
		{ "240229", FEBRUARY_2023, "20240229" },
	};

	set_zone("UTC0");
	for (const auto &f : forms)
		EXPECT_EQ(date_text(f.arg, f.now), f.date)
		    << "argument " << f.arg << " at " << f.now;
}

struct LocalDay {
	const char *tz = "";
	time_t now = 0;
	const char *arg = "";
	const char *date = "";
	const char *what = "";
};

/* The date is the local one, on both sides of local and of UTC midnight. */
TEST(CalargDate, LocalDateAroundMidnight)
{
	static const LocalDay days[] = {
		{ .tz = "JST-9",
		    .now = 1710428400,
		    .date = "20240315",
		    .what = "00:00:00 local, still 2024-03-14 in UTC" },
		{ .tz = "JST-9",
		    .now = 1710428399,
		    .date = "20240314",
		    .what = "23:59:59 local, 14:59:59 UTC" },
		{ .tz = "EST5",
		    .now = 1710565199,
		    .date = "20240315",
		    .what = "23:59:59 local, already 2024-03-16 in UTC" },
		{ .tz = "EST5",
		    .now = 1710565200,
		    .date = "20240316",
		    .what = "00:00:00 local, 05:00:00 UTC" },
		{ .tz = "EST5",
		    .now = 1710565199,
		    .arg = "16",
		    .date = "20240316",
		    .what = "a day argument keeps the local month" },
		/* A two-digit year takes the century of the local year. */
		{ .tz = "JST-9",
		    .now = 946652400,
		    .arg = "991231",
		    .date = "20991231",
		    .what = "2000-01-01 00:00:00 local, still 1999 in UTC" },
		{ .tz = "JST-9",
		    .now = 946652399,
		    .arg = "000101",
		    .date = "19000101",
		    .what = "1999-12-31 23:59:59 local" },
		{ .tz = "EST5",
		    .now = 946702800,
		    .arg = "000101",
		    .date = "20000101",
		    .what = "2000-01-01 00:00:00 local, 05:00:00 UTC" },
		{ .tz = "EST5",
		    .now = 946702799,
		    .arg = "000101",
		    .date = "19000101",
		    .what = "1999-12-31 23:59:59 local, already 2000 in UTC" },
	};

	for (const LocalDay &d : days) {
		set_zone(d.tz);
		EXPECT_EQ(date_text(d.arg, d.now), d.date)
		    << d.tz << ", " << d.what;
	}
}

/*
 * A clock outside the years 0000 to 9999 has no eight-character date: the
 * text must not grow past its room, and the fault is the clock's, not the
 * argument's.  A full date needs no clock at all.
 */
TEST(CalargDate, ClockBeyondFourDigitYears)
{
	if (sizeof(time_t) < 8)
		GTEST_SKIP() << "time_t cannot reach these years";
	set_zone("UTC0");
	EXPECT_EQ(date_text("", (time_t)253402300799), "99991231");
	EXPECT_EQ(date_text("", (time_t)253402300800), "(clock)");
	EXPECT_EQ(date_text(nullptr, (time_t)253402300800), "(clock)");
	EXPECT_EQ(date_text("07", (time_t)253402300800), "(clock)");
	EXPECT_EQ(date_text("20240315", (time_t)253402300800), "20240315");
	EXPECT_EQ(date_text("ab", (time_t)253402300800), "(bad)");
	EXPECT_EQ(date_text("", (time_t)-62167219200), "00000101");
	EXPECT_EQ(date_text("", (time_t)-62167219201), "(clock)");
}

struct TimeForm {
	const char *arg;
	const char *start; /* nullptr when refused */
	const char *end;
};

TEST(CalargTime, Forms)
{
	static const TimeForm forms[] = {
		{ "09-17", "090000", "170000" },
		{ "0930-1715", "093000", "171500" },
		{ "09-1730", "090000", "173000" },
		{ "0930-17", "093000", "170000" },
		{ "12-10", "120000", "100000" }, /* the end may come first */
		{ "00-2359", "000000", "235900" },
		/* Lengths and the '-'. */
		{ "0900", nullptr, nullptr },
		{ "9-17", nullptr, nullptr },
		{ "09-5", nullptr, nullptr },
		{ "09-", nullptr, nullptr },
		{ "-17", nullptr, nullptr },
		{ "093-17", nullptr, nullptr },
		{ "09300-17", nullptr, nullptr },
		{ "09-17300", nullptr, nullptr },
		{ "09-1730-1800", nullptr, nullptr },
		{ "-", nullptr, nullptr },
		{ "", nullptr, nullptr },
		/* Digits only, hours to 23 and minutes to 59. */
		{ "09-12-3", nullptr, nullptr },
		{ "ab-cdef", nullptr, nullptr },
		{ "+9-17", nullptr, nullptr },
		{ "09-1 ", nullptr, nullptr },
		{ "24-10", nullptr, nullptr },
		{ "09-24", nullptr, nullptr },
		{ "0960-10", nullptr, nullptr },
		{ "09-1060", nullptr, nullptr },
		{ "2599-9999", nullptr, nullptr },
	};

	for (const TimeForm &f : forms) {
		char start[CALARG_TIME_SIZE], end[CALARG_TIME_SIZE];
		bool ok = calarg_time_range_parse(f.arg, start, end);
		EXPECT_EQ(ok, f.start != nullptr) << "argument " << f.arg;
		if (ok && f.start != nullptr) {
			EXPECT_STREQ(start, f.start) << "argument " << f.arg;
			EXPECT_STREQ(end, f.end) << "argument " << f.arg;
		}
	}
}
