/*
 * The date and time arguments of fmt-date and fmt-todo.
 *
 * A date argument is laid over the right end of today's local date, so
 * that the user types only the fields that differ from today: dd, mmdd,
 * yymmdd or ccyymmdd.  A two-digit year takes the current century, with no
 * window.  Nothing but the lengths is checked: the handheld is the judge of
 * what a date is, and the texts carry what was typed.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "calarg.h"

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

bool
calarg_date_at(const char *arg, time_t now, char date[CALARG_DATE_SIZE])
{
	size_t len = arg != nullptr ? strnlen(arg, DATE_LEN + 1) : 0;

	if (len > DATE_LEN || len % 2 != 0)
		return false;
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
			return false;
		put_digits(date, (long)tm.tm_year + 1900, 4);
		put_digits(date + 4, tm.tm_mon + 1, 2);
		put_digits(date + 6, tm.tm_mday, 2);
	}
	memcpy(date + DATE_LEN - len, arg != nullptr ? arg : "", len + 1);
	return true;
}

/* One side of a time range: hh or hhmm becomes hhmmss. */
static bool
time_part(const char *part, size_t len, char time[CALARG_TIME_SIZE])
{
	if (len != 2 && len != 4)
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
	/* The end part runs to the end of the argument, '-' and all. */
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
	if (!calarg_date_at(arg, time(nullptr), date))
		bad("Bad date format\n");
}

void
calarg_time_range(const char *arg, char start[CALARG_TIME_SIZE],
    char end[CALARG_TIME_SIZE])
{
	if (!calarg_time_range_parse(arg, start, end))
		bad("Bad time format\n");
}
