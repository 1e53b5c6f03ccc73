/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The date and time argument parsers, fed any argument on any clock in a
 * few time zones.  Both must read no byte past the argument's terminator,
 * write no byte past their texts' room, and accept exactly what the rules
 * allow:
 *
 *  - a date argument of 0, 2, 4, 6 or 8 digits (or none), where all but 8
 *    also need today's local date, which a clock beyond the years 0000 to
 *    9999 does not have (a fault of the clock, reported apart); the text
 *    is then eight characters that end in the argument, begin with
 *    today's digits and name a day of the calendar, as the C library's
 *    own calendar arithmetic (timegm) judges it;
 *  - a time range with a '-' whose part before the first '-' and part
 *    after it are hh or hhmm in digits, hours to 23 and minutes to 59; the
 *    texts are those parts filled up with zeros to six characters.
 *
 * The input: a byte of flags (bit 0: no date argument at all; bits 1-2:
 * the time zone), eight bytes of the clock, little-endian, then the
 * argument, which ends at the input's end or at a NUL.
 */
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "calarg.h"

[[noreturn]] static void
fail(const char *what, const std::string &arg)
{
	fprintf(stderr, "calarg_fuzz: %s (argument \"%s\")\n", what,
	    arg.c_str());
	abort();
}

/* Exactly n bytes of heap, so that a step past them is caught. */
static char *
exact(size_t n)
{
	return static_cast<char *>(malloc(n));
}

static bool
digits(const std::string &s)
{
	return s.find_first_not_of("0123456789") == std::string::npos;
}

/* Whether eight digits YYYYMMDD name a day: timegm moves any other on. */
static bool
calendar_day(const char *date)
{
	int year = std::stoi(std::string(date, 4));
	int month = std::stoi(std::string(date + 4, 2));
	int day = std::stoi(std::string(date + 6, 2));
	struct tm tm = {};
	tm.tm_year = year - 1900;
	tm.tm_mon = month - 1;
	tm.tm_mday = day;
	tm.tm_hour = 12;
	timegm(&tm);
	return month >= 1 && month <= 12 && tm.tm_mon == month - 1 &&
	    tm.tm_mday == day;
}

static void
check_date(const char *arg, time_t now)
{
	std::string shown = arg != nullptr ? arg : "(none)";
	size_t len = arg != nullptr ? strlen(arg) : 0;
	struct tm tm;
	bool today = localtime_r(&now, &tm) != nullptr && tm.tm_year >= -1900 &&
	    tm.tm_year <= 9999 - 1900;
	bool form =
	    len <= 8 && len % 2 == 0 && digits(arg != nullptr ? arg : "");
	calarg_result should = !form ? CALARG_BAD_DATE
	    : len < 8 && !today      ? CALARG_BAD_CLOCK
				     : CALARG_DATE;

	char *date = exact(CALARG_DATE_SIZE);
	calarg_result got = calarg_date_at(arg, now, date);
	if (should == CALARG_DATE) {
		/* The text the argument and today make, judged apart. */
		char text[16];
		if (len < 8)
			snprintf(text, sizeof(text), "%04d%02d%02d",
			    tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
		memcpy(text + 8 - len, arg != nullptr ? arg : "", len + 1);
		if (!calendar_day(text))
			should = CALARG_BAD_DATE;
		else if (got == CALARG_DATE && strcmp(date, text) != 0)
			fail("date text wrong", shown);
	}
	if (got != should)
		fail(got == CALARG_DATE          ? "date accepted"
			: got == CALARG_BAD_DATE ? "date refused"
						 : "clock refused",
		    shown);
	free(date);
}

/* A part of a time range filled up with zeros to hhmmss. */
static std::string
time_text(const std::string &part)
{
	return part + std::string(6 - part.size(), '0');
}

static void
check_time(const char *arg)
{
	std::string a = arg;
	size_t dash = a.find('-');
	std::string start_part = a.substr(0, dash);
	std::string end_part =
	    dash != std::string::npos ? a.substr(dash + 1) : "";
	auto fits = [](const std::string &p) {
		return (p.size() == 2 || p.size() == 4) && digits(p) &&
		    std::stoi(p.substr(0, 2)) <= 23 &&
		    (p.size() == 2 || std::stoi(p.substr(2)) <= 59);
	};
	bool should =
	    dash != std::string::npos && fits(start_part) && fits(end_part);

	char *start = exact(CALARG_TIME_SIZE);
	char *end = exact(CALARG_TIME_SIZE);
	bool ok = calarg_time_range_parse(arg, start, end);
	if (ok != should)
		fail(ok ? "time accepted" : "time refused", a);
	if (ok &&
	    (start != time_text(start_part) || end != time_text(end_part)))
		fail("time texts wrong", a);
	free(start);
	free(end);
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	static const char *const zones[] = { "UTC0", "JST-9", "EST5",
		"<-12>12" };

	if (size < 9)
		return 0;
	unsigned flags = data[0];
	uint64_t clock = 0;
	for (int i = 8; i >= 1; i--)
		clock = clock << 8 | data[i];
	std::string text(reinterpret_cast<const char *>(data + 9), size - 9);
	text.resize(strlen(text.c_str()));

	setenv("TZ", zones[flags >> 1 & 3], 1);
	tzset();
	char *arg = exact(text.size() + 1);
	memcpy(arg, text.c_str(), text.size() + 1);
	check_date(flags & 1 ? nullptr : arg, (time_t)clock);
	check_time(arg);
	free(arg);
	return 0;
}
