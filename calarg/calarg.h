/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Date and time arguments of the calendar programs: -d [[[cc]yy]mm]dd and
 * -t hh[mm]-hh[mm], turned into the fixed-width texts that a vCalendar
 * entry carries (YYYYMMDD and hhmmss).  Every character must be a digit,
 * the date a day of the calendar and the times times of day.
 *
 * calarg_date_at and calarg_time_range_parse are pure: they report a bad
 * argument by their result and touch nothing else.  calarg_date and
 * calarg_time_range are what the programs call: they end the process on a
 * bad argument, with the one-line message and status -1, and on a clock
 * that has no four-digit year with a message that says so and status 1.
 */
#ifndef CALARG_H
#define CALARG_H

#include <ctime>

/* Room for a date text (YYYYMMDD) and a time text (hhmmss), NUL included. */
inline constexpr int CALARG_DATE_SIZE = 9;
inline constexpr int CALARG_TIME_SIZE = 7;

/*
 * The date text for the -d argument `arg` (nullptr when -d was not given)
 * on the local date of `now`: the argument replaces the rightmost fields of
 * that date.  CALARG_BAD_DATE when the argument's length is not 0, 2, 4, 6
 * or 8, when it holds anything but digits, or when the text is no day of
 * the calendar (a month outside 01 to 12, a day that its month lacks);
 * CALARG_BAD_CLOCK when the local date of `now` is needed but has no
 * four-digit year.  `date` is unspecified unless the result is CALARG_DATE.
 */
enum calarg_result { CALARG_DATE, CALARG_BAD_DATE, CALARG_BAD_CLOCK };
calarg_result calarg_date_at(const char *arg, time_t now,
    char date[CALARG_DATE_SIZE]);

/*
 * The start and end time texts for the -t argument `arg`: the parts before
 * and after its first '-', each hh or hhmm in digits (hours 00 to 23,
 * minutes 00 to 59), filled up with zeros.  False, with the texts
 * unspecified, for any other form.
 */
bool calarg_time_range_parse(const char *arg, char start[CALARG_TIME_SIZE],
    char end[CALARG_TIME_SIZE]);

/* As calarg_date_at on the clock read once now; a bad date ends the run. */
void calarg_date(const char *arg, char date[CALARG_DATE_SIZE]);

/* As calarg_time_range_parse; a bad time range ends the run. */
void calarg_time_range(const char *arg, char start[CALARG_TIME_SIZE],
    char end[CALARG_TIME_SIZE]);

#endif
