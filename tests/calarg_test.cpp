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

/* The date text for `arg`, or "(bad)" when the argument is refused. */
static std::string
date_text(const char *arg, time_t now)
{
	char date[CALARG_DATE_SIZE];
	if (!calarg_date_at(arg, now, date))
		return "(bad)";
	return date;
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
		/* Only the length is judged. */
		{ "ab", "202403ab" },
		{ "1332", "20241332" },
		{ "2024-3-1", "2024-3-1" },
		{ "1", "(bad)" },
		{ "123", "(bad)" },
		{ "12345", "(bad)" },
		{ "1234567", "(bad)" },
		{ "123456789", "(bad)" },
		{ "1234567890", "(bad)" },
		{ "20240315202403152024031520240315", "(bad)" },
	};

	set_zone("UTC0");
	for (const DateForm &f : forms)
		EXPECT_EQ(date_text(f.arg, MID_MARCH), f.date)
		    << "argument " << (f.arg != nullptr ? f.arg : "(none)");
}

struct LocalDay {
	const char *tz;
	time_t now;
	const char *arg;
	const char *date;
	const char *what;
};

/* The date is the local one, on both sides of local and of UTC midnight. */
TEST(CalargDate, LocalDateAroundMidnight)
{
	static const LocalDay days[] = {
		{ "JST-9", 1710428400, "", "20240315",
		    "00:00:00 local, still 2024-03-14 in UTC" },
		{ "JST-9", 1710428399, "", "20240314",
		    "23:59:59 local, 14:59:59 UTC" },
		{ "EST5", 1710565199, "", "20240315",
		    "23:59:59 local, already 2024-03-16 in UTC" },
		{ "EST5", 1710565200, "", "20240316",
		    "00:00:00 local, 05:00:00 UTC" },
		{ "EST5", 1710565199, "16", "20240316",
		    "a day argument keeps the local month" },
		/* A two-digit year takes the century of the local year. */
		{ "JST-9", 946652400, "991231", "20991231",
		    "2000-01-01 00:00:00 local, still 1999 in UTC" },
		{ "JST-9", 946652399, "000101", "19000101",
		    "1999-12-31 23:59:59 local" },
		{ "EST5", 946702800, "000101", "20000101",
		    "2000-01-01 00:00:00 local, 05:00:00 UTC" },
		{ "EST5", 946702799, "000101", "19000101",
		    "1999-12-31 23:59:59 local, already 2000 in UTC" },
	};

	for (const LocalDay &d : days) {
		set_zone(d.tz);
		EXPECT_EQ(date_text(d.arg, d.now), d.date)
		    << d.tz << ", " << d.what;
	}
}

/*
 * A clock outside the years 0000 to 9999 has no eight-character date: the
 * text must not grow past its room.  A full date needs no clock at all.
 */
TEST(CalargDate, ClockBeyondFourDigitYears)
{
	if (sizeof(time_t) < 8)
		GTEST_SKIP() << "time_t cannot reach these years";
	set_zone("UTC0");
	EXPECT_EQ(date_text("", (time_t)253402300799), "99991231");
	EXPECT_EQ(date_text("", (time_t)253402300800), "(bad)");
	EXPECT_EQ(date_text("07", (time_t)253402300800), "(bad)");
	EXPECT_EQ(date_text("20240315", (time_t)253402300800), "20240315");
	EXPECT_EQ(date_text("", (time_t)-62167219200), "00000101");
	EXPECT_EQ(date_text("", (time_t)-62167219201), "(bad)");
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
		{ "09-12-3", "090000", "12-300" }, /* the first '-' splits */
		{ "ab-cdef", "ab0000", "cdef00" },
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
