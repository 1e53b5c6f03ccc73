/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Calendars in: the events or to-dos of an iCalendar 2.0 (or vCalendar
 * 1.0) file, each turned into one vCalendar 1.0 object in the form that
 * fmt-date or fmt-todo writes, for devices that take nothing newer.
 *
 * libical reads the input and does the hard part (time zones, durations,
 * recurrence rules); this module decides what each component becomes, and
 * names what vCalendar 1.0 cannot say instead of dropping it.
 *
 * libical and the C++ library it drags in cost every start of a program
 * that links them some milliseconds, so the programs do not: the
 * conversion lives in a module of its own that vcal_run loads only when
 * -i asks for it.  A build without libical has no module, and vcal_run
 * says so.
 */
#ifndef VCAL_H
#define VCAL_H

#include <string>
#include <string_view>
#include <vector>

enum vcal_kind { VCAL_EVENTS, VCAL_TODOS };

/* Something a component holds that its object cannot carry. */
struct vcal_loss {
	std::string what; /* "cannot carry" and what, in the input's words */
	std::string near; /* what the object holds instead ("left out") */
};

/* One component of the input, as its object. */
struct vcal_object {
	std::string ref; /* the component for messages: event 3 "Lunch" */
	bool named = false; /* the object has a Name header */
	std::string name; /* its text, at most 24 bytes */
	std::string payload; /* the vCalendar text, CR LF line ends */
	bool written = true; /* false: not even a near object can be made */
	std::vector<vcal_loss> losses;
};

/*
 * The whole conversion of an input: one object for each component of the
 * kind, in the input's order, times in the local time of the zone that TZ
 * names (tzset is called).  False with `fault` set when the input cannot
 * be read as a calendar or holds no component of the kind; nothing is
 * half-done then.  `tidy` cleared leaves libical's reading of the input
 * allocated, for a program that ends next: freeing it, piece by piece,
 * costs a large calendar a tenth of its conversion.
 */
bool vcal_convert(std::string_view input, vcal_kind kind,
    std::vector<vcal_object> &objects, std::string &fault, bool tidy = true);

/*
 * The -i mode of fmt-date and fmt-todo: reads `path` (standard input when
 * null), converts it, and writes every object, or with `lossy` clear
 * writes nothing when any component holds what cannot be carried.  Each
 * such component and what it lacks is named on standard error.  Returns
 * the exit status for main to return; the process may also end with a
 * message and status 1.
 */
int vcal_run(vcal_kind kind, const char *path, bool lossy);

#endif
