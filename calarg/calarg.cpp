/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The date and time arguments of fmt-date and fmt-todo.
 *
 * A date argument is laid over the right end of today's local date, so
 * that the user types only the fields that differ from today: dd, mmdd,
 * yymmdd or ccyymmdd.  A two-digit year takes the current century, with no
 * window.  What comes out must be a real date and real times of day, all
 * digits: a handheld given 20241301 or 2599 files the entry under some
 * other day or drops it, and a word such as "-t" taken for the day loses
 * the time that followed it.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "calarg.h"
#include "objwrite.h"
#include "proc.h"

static constexpr size_t DATE_LEN = CALARG_DATE_SIZE - 1;

/* n decimal digits of v, zero-padded, with no terminator. */
static void
put_digits(char *p, long v, int n)
{
	while (n-- > 0) {
		p[n] = (char)('0' + v % 10);
		v /= 10;
	}
}

static bool
all_digits(const char *p, size_t n)
{
	for (size_t i = 0; i < n; i++)
		if (p[i] < '0' || p[i] > '9')
			return false;
	return true;
}

/* The value of n decimal digits. */
static int
digits_value(const char *p, int n)
{
	int v = 0;

	for (int i = 0; i < n; i++)
		v = v * 10 + (p[i] - '0');
	return v;
}

/* Whether a date text, all digits, names a day of the calendar. */
static bool
real_date(const char *date)
{
	static constexpr int days[12] = { 31, 29, 31, 30, 31, 30, 31, 31, 30,
		31, 30, 31 };
	int year = digits_value(date, 4);
	int month = digits_value(date + 4, 2);
	int day = digits_value(date + 6, 2);

	if (month < 1 || month > 12 || day < 1 || day > days[month - 1])
		return false;
	if (month == 2 && day == 29)
		return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
	return true;
}

calarg_result
calarg_date_at(const char *arg, time_t now, char date[CALARG_DATE_SIZE])
{
	size_t len = arg != nullptr ? strnlen(arg, DATE_LEN + 1) : 0;

	if (len > DATE_LEN || len % 2 != 0 || !all_digits(arg, len))
		return CALARG_BAD_DATE;
	if (len < DATE_LEN) {
		struct tm tm;

		/*
		 * Only a year of four digits fills its four characters: a
		 * clock far outside this era must not yield a longer text.
		 * The digits are put by hand; formatted output would cost
		 * every start of the program more than the rest of its date.
		 */
		if (localtime_r(&now, &tm) == nullptr || tm.tm_year < -1900 ||
		    tm.tm_year > 9999 - 1900)
			return CALARG_BAD_CLOCK;
		put_digits(date, (long)tm.tm_year + 1900, 4);
		put_digits(date + 4, tm.tm_mon + 1, 2);
		put_digits(date + 6, tm.tm_mday, 2);
	}
	memcpy(date + DATE_LEN - len, arg != nullptr ? arg : "", len + 1);
	/* Today's fields count too: 29 is no day of a February of 2023. */
	return real_date(date) ? CALARG_DATE : CALARG_BAD_DATE;
}

/* One side of a time range: hh or hhmm, a time of day, becomes hhmmss. */
static bool
time_part(const char *part, size_t len, char time[CALARG_TIME_SIZE])
{
	if ((len != 2 && len != 4) || !all_digits(part, len) ||
	    digits_value(part, 2) > 23 ||
	    (len == 4 && digits_value(part + 2, 2) > 59))
		return false;
	memcpy(time, part, len);
	memcpy(time + len, "0000", CALARG_TIME_SIZE - 1 - len);
	time[CALARG_TIME_SIZE - 1] = '\0';
	return true;
}

bool
calarg_time_range_parse(const char *arg, char start[CALARG_TIME_SIZE],
    char end[CALARG_TIME_SIZE])
{
	const char *dash = strchr(arg, '-');

	if (dash == nullptr)
		return false;
	/* The end part runs to the end of the argument, any '-' in it too. */
	return time_part(arg, (size_t)(dash - arg), start) &&
	    time_part(dash + 1, strnlen(dash + 1, 5), end);
}

/*
 * The messages are the whole of what the user sees, without the program's
 * name; the status is -1, which the shell sees as 255.
 */
[[noreturn]] static void
bad(const char *message)
{
	fputs(message, stderr);
	exit(-1);
}

void
calarg_date(const char *arg, char date[CALARG_DATE_SIZE])
{
	/* localtime_r need not look at TZ by itself. */
	tzset();
	switch (calarg_date_at(arg, time(nullptr), date)) {
	case CALARG_DATE:
		break;
	case CALARG_BAD_DATE:
		bad("Bad date format\n");
	case CALARG_BAD_CLOCK:
		/* No fault of the argument: the machine's clock is wrong. */
		proc_fatal("cannot take today's date: the clock is outside the "
			   "years 0000 to 9999");
	}
}

void
calarg_time_range(const char *arg, char start[CALARG_TIME_SIZE],
    char end[CALARG_TIME_SIZE])
{
	if (!calarg_time_range_parse(arg, start, end))
		bad("Bad time format\n");
}
