/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-date -i and fmt-todo -i: calendars as their producers write them go
 * in, and every object that comes out is read back by libical's vCalendar
 * 1.0 reader (the versit parser and its conversion to iCalendar), which
 * must find the instants, the texts and the days of repeats of the input,
 * as libical's iCalendar parser reads the input.  Then the rules that
 * vCalendar 1.0 can say, what it cannot say, and the faults.
 *
 * The instants of the input and of the output are compared as time_t:
 * floating times are taken in the TZ that the conversion ran under, which
 * this process sets for itself too.
 *
 * What libical 3.0.16 is known to do when it reads vCalendar 1.0, so that
 * the checks look at the objects and not at the reader: it turns floating
 * times of alarms and of a rule's end into UTC by the local zone, and
 * drops an AALARM that names no sound; so the alarms are read here from
 * the versit parser's own tree, their run times as local time.
 */
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <libical/ical.h>
#include <libical/vcc.h>
extern "C" {
#include <libical/icalvcal.h>
}

#include "obex_walk.h"
#include "runner.h"

namespace
{

/* The objects of a stream: their Name texts and their payloads. */
struct Got {
	std::string name; /* "-" for none */
	std::string payload;
};

std::vector<Got>
objects_of(std::string_view stream)
{
	bool framed;
	std::vector<Got> objects;
	Got o{ "-", "" };
	for (const ObexPiece &p : obex_walk(stream, framed)) {
		if (p.id == 0x01) {
			o.name.clear();
			for (size_t i = 1; i + 2 < p.data.size(); i += 2)
				o.name += p.data[i];
		} else if (p.id == 0x48 || p.id == 0x49) {
			o.payload += p.data;
		}
		if (p.id == 0x49) {
			objects.push_back(o);
			o = { "-", "" };
		}
	}
	EXPECT_TRUE(framed);
	return objects;
}

RunResult
convert(const char *program, const std::string &ics, const char *tz,
    std::vector<std::string> args = { "-i" })
{
	RunOptions options;
	options.input = ics;
	options.env = { std::string("TZ=") + tz };
	return run_program(program, args, options);
}

/* This process's local time, for floating times, as the conversion's. */
void
use_zone(const char *tz)
{
	setenv("TZ", tz, 1);
	tzset();
}

/* An instant of a libical time; a floating one in the local time here. */
time_t
instant(icaltimetype t)
{
	if (t.zone != nullptr)
		return icaltime_as_timet_with_zone(t, t.zone);
	struct tm tm = {};
	tm.tm_year = t.year - 1900;
	tm.tm_mon = t.month - 1;
	tm.tm_mday = t.day;
	if (!t.is_date) {
		tm.tm_hour = t.hour;
		tm.tm_min = t.minute;
		tm.tm_sec = t.second;
	}
	tm.tm_isdst = -1;
	return mktime(&tm);
}

/* A time as a comparable text: a date stays a date, the rest an instant. */
std::string
when(icaltimetype t)
{
	if (icaltime_is_null_time(t))
		return "none";
	if (t.is_date)
		return icaltime_as_ical_string(t);
	time_t s = instant(t);
	struct tm tm;
	localtime_r(&s, &tm);
	char buf[40];
	strftime(buf, sizeof(buf), "%Y%m%dT%H%M%S", &tm);
	return buf;
}

/* The local day of a time. */
std::string
day(icaltimetype t)
{
	return when(t).substr(0, 8);
}

std::string
text_of(icalcomponent *c, icalproperty_kind k)
{
	icalproperty *p = icalcomponent_get_first_property(c, k);
	const char *s = p != nullptr
	    ? icalvalue_get_text(icalproperty_get_value(p))
	    : nullptr;
	return s != nullptr ? s : "";
}

/*
 * What a reader should find in an event or to-do: its kind, summary,
 * start, end or due, its alarms' instants, the days of its first repeats
 * and its categories.
 */
struct Seen {
	std::string summary, start, end, location, categories;
	std::multiset<std::string> alarms;
	std::vector<std::string> days;
	bool operator==(const Seen &) const = default;
};

void
PrintTo(const Seen &s, std::ostream *os)
{
	*os << "summary \"" << s.summary << "\" start " << s.start << " end "
	    << s.end << " location \"" << s.location << "\" categories \""
	    << s.categories << "\" alarms";
	for (const std::string &a : s.alarms)
		*os << " " << a;
	*os << " days";
	for (const std::string &d : s.days)
		*os << " " << d;
}

/* The days of the first repeats that `exclude` leaves, up to eight. */
std::vector<std::string>
repeat_days(icalcomponent *c, const std::set<std::string> &exclude)
{
	std::vector<std::string> days;
	icalproperty *p =
	    icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY);
	if (p == nullptr)
		return days;
	icaltimetype start = icalcomponent_get_dtstart(c);
	icalrecurrencetype r = icalproperty_get_rrule(p);
	if (!icaltime_is_null_time(r.until) && r.until.zone == nullptr &&
	    !r.until.is_date)
		r.until.zone = start.zone;
	icalrecur_iterator *it = icalrecur_iterator_new(r, start);
	for (int n = 0; it != nullptr && days.size() < 8 && n < 100; n++) {
		icaltimetype t = icalrecur_iterator_next(it);
		if (icaltime_is_null_time(t))
			break;
		t.zone = start.zone;
		if (!exclude.contains(when(t)))
			days.push_back(day(t));
	}
	icalrecur_iterator_free(it);
	return days;
}

std::string
categories_of(icalcomponent *c)
{
	std::string s;
	for (icalproperty *p =
		 icalcomponent_get_first_property(c, ICAL_CATEGORIES_PROPERTY);
	     p != nullptr;
	     p = icalcomponent_get_next_property(c, ICAL_CATEGORIES_PROPERTY))
		s += std::string(s.empty() ? "" : ",") +
		    icalproperty_get_categories(p);
	return s;
}

/* What the input holds, as libical's iCalendar parser reads it. */
Seen
seen_in_input(icalcomponent *c, icalcomponent *calendar)
{
	Seen s;
	bool todo = icalcomponent_isa(c) == ICAL_VTODO_COMPONENT;
	icaltimetype start = icalcomponent_get_dtstart(c);
	icaltimetype end =
	    todo ? icalcomponent_get_due(c) : icalcomponent_get_dtend(c);
	s.summary = text_of(c, ICAL_SUMMARY_PROPERTY);
	s.location = text_of(c, ICAL_LOCATION_PROPERTY);
	s.categories = categories_of(c);
	/* A to-do of no category is filed as fmt-todo files it. */
	if (todo && s.categories.empty())
		s.categories = "X-Unfiled";
	/* A day's event without an end lasts that day. */
	if (!todo && start.is_date && icaltime_is_null_time(end))
		end = icaltime_add(start, icaldurationtype_from_int(86400));
	s.start = when(start);
	s.end = when(end);

	for (icalcomponent *a =
		 icalcomponent_get_first_component(c, ICAL_VALARM_COMPONENT);
	     a != nullptr;
	     a = icalcomponent_get_next_component(c, ICAL_VALARM_COMPONENT)) {
		icaltriggertype t = icalproperty_get_trigger(
		    icalcomponent_get_first_property(a, ICAL_TRIGGER_PROPERTY));
		if (!icaltime_is_null_time(t.time)) {
			s.alarms.insert(when(t.time));
			continue;
		}
		icaltimetype base = start;
		base.is_date = 0;
		time_t at = instant(base) + icaldurationtype_as_int(t.duration);
		s.alarms.insert(when(icaltime_from_timet_with_zone(at, 0,
		    icaltimezone_get_utc_timezone())));
	}

	/* Its exceptions, and the occurrences changed elsewhere in the file. */
	std::set<std::string> exclude;
	for (icalproperty *p =
		 icalcomponent_get_first_property(c, ICAL_EXDATE_PROPERTY);
	     p != nullptr;
	     p = icalcomponent_get_next_property(c, ICAL_EXDATE_PROPERTY))
		exclude.insert(
		    when(icalproperty_get_datetime_with_component(p, c)));
	const char *uid = icalcomponent_get_uid(c);
	for (icalcomponent *o = icalcomponent_get_first_component(calendar,
		 icalcomponent_isa(c));
	     o != nullptr && uid != nullptr;
	     o = icalcomponent_get_next_component(calendar,
		 icalcomponent_isa(c))) {
		icalproperty *rid = icalcomponent_get_first_property(o,
		    ICAL_RECURRENCEID_PROPERTY);
		const char *ouid = icalcomponent_get_uid(o);
		if (rid != nullptr && ouid != nullptr && strcmp(uid, ouid) == 0)
			exclude.insert(when(
			    icalproperty_get_datetime_with_component(rid, o)));
	}
	s.days = repeat_days(c, exclude);
	return s;
}

/* The versit parser's complaints, but the one it makes at every end. */
std::string versit_errors;

void
note_versit_error(char *message)
{
	if (std::string_view(message).starts_with("pop on empty Object Stack"))
		return;
	versit_errors += message;
	versit_errors += '\n';
}

std::string
versit_value(VObject *o)
{
	if (vObjectValueType(o) == VCVT_STRINGZ)
		return vObjectStringZValue(o);
	if (vObjectValueType(o) != VCVT_USTRINGZ)
		return "";
	char *t = fakeCString(vObjectUStringZValue(o));
	std::string s = t;
	deleteStr(t);
	return s;
}

/* What a converted object holds, as libical's vCalendar reader reads it. */
Seen
seen_in_object(const std::string &payload, bool todo)
{
	Seen s;
	versit_errors.clear();
	registerMimeErrorHandler(note_versit_error);
	VObject *v = Parse_MIME(payload.data(), payload.size());
	EXPECT_NE(v, nullptr) << printable(payload);
	if (v == nullptr)
		return s;
	EXPECT_EQ(versit_errors, "") << printable(payload);
	EXPECT_EQ(nextVObjectInList(v), nullptr) << "one calendar per object";

	/* The alarms, from the parser's tree: run times are local. */
	VObjectIterator i, j;
	initPropIterator(&i, v);
	while (moreIteration(&i)) {
		VObject *comp = nextVObject(&i);
		initPropIterator(&j, comp);
		while (moreIteration(&j)) {
			VObject *p = nextVObject(&j);
			std::string_view name = vObjectName(p);
			if (name != "AALARM" && name != "DALARM")
				continue;
			VObject *run = isAPropertyOf(p, "RUNTIME");
			EXPECT_NE(run, nullptr);
			if (run != nullptr)
				s.alarms.insert(when(icaltime_from_string(
				    versit_value(run).c_str())));
		}
	}

	icalcomponent *cal = icalvcal_convert(v);
	cleanVObjects(v);
	cleanStrTbl();
	EXPECT_NE(cal, nullptr);
	if (cal == nullptr)
		return s;
	icalcomponent *c = icalcomponent_get_first_component(cal,
	    todo ? ICAL_VTODO_COMPONENT : ICAL_VEVENT_COMPONENT);
	EXPECT_NE(c, nullptr) << printable(payload);
	if (c != nullptr) {
		icaltimetype start = icalcomponent_get_dtstart(c);
		icaltimetype end = todo ? icalcomponent_get_due(c)
					: icalcomponent_get_dtend(c);
		/* A day's event carries its day alone, as fmt-date writes it.
		 */
		if (!todo && start.is_date && icaltime_is_null_time(end))
			end = icaltime_add(start,
			    icaldurationtype_from_int(86400));
		s.summary = text_of(c, ICAL_SUMMARY_PROPERTY);
		s.location = text_of(c, ICAL_LOCATION_PROPERTY);
		s.categories = categories_of(c);
		s.start = when(start);
		s.end = when(end);
		std::set<std::string> exclude;
		for (icalproperty *p = icalcomponent_get_first_property(c,
			 ICAL_EXDATE_PROPERTY);
		     p != nullptr; p = icalcomponent_get_next_property(c,
				       ICAL_EXDATE_PROPERTY))
			exclude.insert(when(icalproperty_get_exdate(p)));
		s.days = repeat_days(c, exclude);
		for (icalproperty *p = icalcomponent_get_first_property(c,
			 ICAL_XLICERROR_PROPERTY);
		     p != nullptr; p = icalcomponent_get_next_property(c,
				       ICAL_XLICERROR_PROPERTY)) {
			std::string e = icalproperty_get_xlicerror(p);
			/* It decodes these, and says it does not. */
			EXPECT_TRUE(
			    e == "Unsupported vCal property: ENCODING" ||
			    e == "Unsupported vCal property: CHARSET")
			    << e << " in " << printable(payload);
		}
	}
	icalcomponent_free(cal);
	return s;
}

/* Every line of a payload CR LF ended, printable ASCII, at most 76 bytes
 * where it is quoted-printable. */
void
expect_plain_lines(const std::string &payload)
{
	size_t pos = 0;
	bool qp = false;
	while (pos < payload.size()) {
		size_t end = payload.find("\r\n", pos);
		ASSERT_NE(end, std::string::npos) << printable(payload);
		std::string line = payload.substr(pos, end - pos);
		for (unsigned char c : line)
			ASSERT_TRUE(c >= 0x20 && c < 0x7F) << printable(line);
		bool continued = qp && pos > 0 && payload[pos - 3] == '=';
		bool quoted = line.find("ENCODING=QUOTED-PRINTABLE:") !=
		    std::string::npos;
		if (quoted || continued) {
			EXPECT_LE(line.size(), 76u) << printable(line);
		}
		qp = line.find("ENCODING=QUOTED-PRINTABLE:") !=
			std::string::npos ||
		    continued;
		pos = end + 2;
	}
}

/* One producer's calendar and what the conversion makes of it. */
struct Producer {
	const char *name;
	const char *program;
	std::string ics;
	std::vector<std::string> names; /* the objects' Name texts, "-": none */
	std::vector<std::string> args = { "-i" };
	std::string err = {};
};

void
PrintTo(const Producer &p, std::ostream *os)
{
	*os << p.name;
}

/* The zone the producers' calendars are converted in. */
constexpr const char *HERE = "Europe/Oslo";

class ProducerRead : public testing::TestWithParam<Producer>
{
};

TEST_P(ProducerRead, SameInstantsTextsAndDays)
{
	const Producer &p = GetParam();
	bool todo = std::string_view(p.program) == "fmt-todo";
	RunResult r = convert(p.program, p.ics, HERE, p.args);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, p.err);

	use_zone(HERE);
	icalcomponent *cal = icalparser_parse_string(p.ics.c_str());
	ASSERT_NE(cal, nullptr);
	std::vector<Got> got = objects_of(r.out);
	std::vector<std::string> names;
	/* Listed first: reading one walks the calendar's list too. */
	std::vector<icalcomponent *> comps;
	icalcomponent_kind kind =
	    todo ? ICAL_VTODO_COMPONENT : ICAL_VEVENT_COMPONENT;
	for (icalcomponent *c = icalcomponent_get_first_component(cal, kind);
	     c != nullptr; c = icalcomponent_get_next_component(cal, kind))
		comps.push_back(c);
	size_t k = 0;
	for (; k < comps.size(); k++) {
		ASSERT_LT(k, got.size()) << "objects missing";
		SCOPED_TRACE("object " + std::to_string(k + 1));
		names.push_back(got[k].name);
		expect_plain_lines(got[k].payload);
		EXPECT_EQ(seen_in_object(got[k].payload, todo),
		    seen_in_input(comps[k], cal))
		    << printable(got[k].payload);
	}
	EXPECT_EQ(k, got.size()) << "objects without a component";
	EXPECT_EQ(names, p.names);
	icalcomponent_free(cal);
}

/* A time zone of its rules, as producers put them into their files. */
std::string
vtimezone(const char *tzid, const char *standard, const char *daylight,
    const char *to_daylight, const char *to_standard)
{
	return std::string("BEGIN:VTIMEZONE\nTZID:") + tzid +
	    "\nBEGIN:DAYLIGHT\nTZOFFSETFROM:" + standard +
	    "\nTZOFFSETTO:" + daylight +
	    "\nDTSTART:19700101T020000\nRRULE:" + to_daylight +
	    "\nEND:DAYLIGHT\nBEGIN:STANDARD\nTZOFFSETFROM:" + daylight +
	    "\nTZOFFSETTO:" + standard +
	    "\nDTSTART:19700101T030000\nRRULE:" + to_standard +
	    "\nEND:STANDARD\nEND:VTIMEZONE\n";
}

const std::string new_york = vtimezone("America/New_York", "-0500", "-0400",
    "FREQ=YEARLY;BYMONTH=3;BYDAY=2SU", "FREQ=YEARLY;BYMONTH=11;BYDAY=1SU");
const std::string berlin = vtimezone("Europe/Berlin", "+0100", "+0200",
    "FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU", "FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU");
const std::string w_europe = vtimezone("W. Europe Standard Time", "+0100",
    "+0200", "FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=3",
    "FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=10");

/* A web calendar's export: its own zone, a weekly meeting with a moved
 * occurrence and an exception, UTC times, a holiday. */
const std::string web_export =
    "BEGIN:VCALENDAR\n"
    "PRODID:-//Google Inc//Google Calendar 70.9054//EN\n"
    "VERSION:2.0\nCALSCALE:GREGORIAN\nMETHOD:PUBLISH\n"
    "X-WR-CALNAME:Work\nX-WR-TIMEZONE:America/New_York\n" +
    new_york +
    "BEGIN:VEVENT\n"
    "DTSTART;TZID=America/New_York:20240311T090000\n"
    "DTEND;TZID=America/New_York:20240311T093000\n"
    "RRULE:FREQ=WEEKLY;WKST=SU;COUNT=6;BYDAY=MO,WE\n"
    "EXDATE;TZID=America/New_York:20240318T090000\n"
    "DTSTAMP:20240301T120000Z\nUID:standup@example.com\n"
    "CREATED:20240301T115900Z\nDESCRIPTION:Daily sync\\, short\n"
    "LAST-MODIFIED:20240301T120000Z\nLOCATION:\nSEQUENCE:0\n"
    "STATUS:CONFIRMED\nSUMMARY:Standup\nTRANSP:OPAQUE\n"
    "END:VEVENT\n"
    "BEGIN:VEVENT\n"
    "DTSTART;TZID=America/New_York:20240313T100000\n"
    "DTEND;TZID=America/New_York:20240313T103000\n"
    "DTSTAMP:20240301T120000Z\nUID:standup@example.com\n"
    "RECURRENCE-ID;TZID=America/New_York:20240313T090000\n"
    "SUMMARY:Standup (moved)\nSEQUENCE:1\n"
    "END:VEVENT\n"
    "BEGIN:VEVENT\n"
    "DTSTART:20240320T230000Z\nDTEND:20240321T000000Z\n"
    "DTSTAMP:20240301T120000Z\nUID:tokyo@example.com\n"
    "SUMMARY:Call with Tokyo\nLOCATION:https://meet.example.com/abc\n"
    "END:VEVENT\n"
    "BEGIN:VEVENT\n"
    "DTSTART;VALUE=DATE:20240704\nDTEND;VALUE=DATE:20240705\n"
    "DTSTAMP:20240301T120000Z\nUID:july4@example.com\n"
    "SUMMARY:Independence Day\nTRANSP:TRANSPARENT\n"
    "END:VEVENT\n"
    "END:VCALENDAR\n";

/* A desktop client's: alarms of both kinds, floating times, a monthly rule
 * by position, to-dos. */
const std::string desktop =
    "BEGIN:VCALENDAR\n"
    "PRODID:-//Mozilla.org/NONSGML Mozilla Calendar V1.1//EN\n"
    "VERSION:2.0\n" +
    berlin +
    "BEGIN:VEVENT\n"
    "CREATED:20240301T100000Z\nLAST-MODIFIED:20240301T100000Z\n"
    "DTSTAMP:20240301T100000Z\nUID:dentist@example.org\n"
    "SUMMARY:Dentist\n"
    "DTSTART;TZID=Europe/Berlin:20240410T161500\n"
    "DTEND;TZID=Europe/Berlin:20240410T170000\n"
    "CATEGORIES:Health,Appointments\nCLASS:PRIVATE\n"
    "LOCATION:Hauptstra\xC3\x9F"
    "e 5\nDESCRIPTION:Bring the card\nX-MOZ-GENERATION:2\n"
    "BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER;VALUE=DURATION:-PT30M\n"
    "DESCRIPTION:Default Mozilla Description\nEND:VALARM\n"
    "BEGIN:VALARM\nACTION:AUDIO\nTRIGGER;VALUE=DATE-TIME:20240410T100000Z\n"
    "END:VALARM\n"
    "END:VEVENT\n"
    "BEGIN:VEVENT\n"
    "UID:books@example.org\nDTSTAMP:20240301T100000Z\n"
    "SUMMARY:Book club\nDTSTART:20240409T190000\nDTEND:20240409T210000\n"
    "RRULE:FREQ=MONTHLY;BYDAY=2TU;COUNT=5\n"
    "BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER:-P1D\n"
    "DESCRIPTION:Book club tomorrow\nEND:VALARM\n"
    "END:VEVENT\n"
    "BEGIN:VTODO\n"
    "UID:taxes@example.org\nDTSTAMP:20240301T100000Z\n"
    "SUMMARY:File taxes\nDUE;VALUE=DATE:20240430\nPRIORITY:1\n"
    "STATUS:NEEDS-ACTION\nCATEGORIES:Home\n"
    "BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER;VALUE=DATE-TIME:20240429T060000Z\n"
    "DESCRIPTION:Taxes\nEND:VALARM\n"
    "END:VTODO\n"
    "BEGIN:VTODO\n"
    "UID:passport@example.org\nDTSTAMP:20240301T100000Z\n"
    "SUMMARY:Renew passport\nDTSTART:20240101T090000\n"
    "DUE;TZID=Europe/Berlin:20240315T170000\n"
    "COMPLETED:20240310T120000Z\nSTATUS:COMPLETED\nPERCENT-COMPLETE:100\n"
    "PRIORITY:5\n"
    "END:VTODO\n"
    "END:VCALENDAR\n";

/* An invitation: who invites and who is asked, which need -l. */
const std::string invitation = "BEGIN:VCALENDAR\nMETHOD:REQUEST\n"
			       "PRODID:Microsoft Exchange Server 2010\n"
			       "VERSION:2.0\n" +
    w_europe +
    "BEGIN:VEVENT\n"
    "ORGANIZER;CN=Kari Nordmann:mailto:kari@example.com\n"
    "ATTENDEE;ROLE=REQ-PARTICIPANT;PARTSTAT=NEEDS-ACTION;RSVP=TRUE;CN=Ola:"
    "mailto:ola@example.com\n"
    "ATTENDEE;ROLE=OPT-PARTICIPANT;CN=Per:mailto:per@example.com\n"
    "DESCRIPTION;LANGUAGE=en-US:Quarterly review\\n\\nSlides to follow\n"
    "UID:040000008200E00074C5B7101A82E008\n"
    "SUMMARY;LANGUAGE=en-US:Q2 review\n"
    "DTSTART;TZID=W. Europe Standard Time:20240612T130000\n"
    "DTEND;TZID=W. Europe Standard Time:20240612T143000\n"
    "CLASS:PUBLIC\nPRIORITY:5\nDTSTAMP:20240601T080000Z\n"
    "TRANSP:OPAQUE\nSTATUS:CONFIRMED\nSEQUENCE:0\n"
    "LOCATION;LANGUAGE=en-US:Meeting room 2\n"
    "X-MICROSOFT-CDO-APPT-SEQUENCE:0\nX-MICROSOFT-CDO-BUSYSTATUS:TENTATIVE\n"
    "BEGIN:VALARM\nDESCRIPTION:REMINDER\nTRIGGER;RELATED=START:-PT15M\n"
    "ACTION:DISPLAY\nEND:VALARM\n"
    "END:VEVENT\n"
    "END:VCALENDAR\n";

/* Days: one, several, and a birthday every year, with a morning alarm. */
const std::string days =
    "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//x//y//EN\n"
    "BEGIN:VEVENT\nUID:a\nDTSTAMP:20240101T000000Z\n"
    "DTSTART;VALUE=DATE:20240812\nDTEND;VALUE=DATE:20240817\n"
    "SUMMARY:Holiday in Bergen\nEND:VEVENT\n"
    "BEGIN:VEVENT\nUID:b\nDTSTAMP:20240101T000000Z\n"
    "DTSTART;VALUE=DATE:19900214\nRRULE:FREQ=YEARLY\n"
    "SUMMARY:Ann's birthday\n"
    "BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER:PT8H\nEND:VALARM\n"
    "END:VEVENT\n"
    "BEGIN:VEVENT\nUID:c\nDTSTAMP:20240101T000000Z\n"
    "DTSTART;VALUE=DATE:20241224\nSUMMARY:Christmas Eve\n"
    "END:VEVENT\n"
    "END:VCALENDAR\n";

/* A phone's vCalendar 1.0: UTC and floating times, alarms as phones write
 * them, quoted-printable UTF-8. */
const std::string phone =
    "BEGIN:VCALENDAR\r\nVERSION:1.0\r\n"
    "BEGIN:VEVENT\r\nDTSTART:20240505T080000Z\r\nDTEND:20240505T090000Z\r\n"
    "SUMMARY:Run\r\nRRULE:W1 SU #4\r\nAALARM:20240505T074500Z;;;\r\n"
    "END:VEVENT\r\n"
    "BEGIN:VEVENT\r\nDTSTART:20240601T120000\r\nDTEND:20240601T130000\r\n"
    "SUMMARY;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:Sm=C3=B8rbr=C3=B8d\r\n"
    "DALARM:20240601T114500;;;Lunch\r\n"
    "END:VEVENT\r\n"
    "END:VCALENDAR\r\n";

const std::string invitation_losses =
    "fmt-date: event 1 \"Q2 review\": cannot carry its organizer "
    "(ORGANIZER): left out\n"
    "fmt-date: event 1 \"Q2 review\": cannot carry its attendees "
    "(ATTENDEE): left out\n";

INSTANTIATE_TEST_SUITE_P(Cases, ProducerRead,
    testing::Values(Producer{ "WebExport", "fmt-date", web_export,
			{ "Standup", "Standup (moved)", "Call with Tokyo",
			    "Independence Day" } },
	Producer{ "DesktopEvents", "fmt-date", desktop,
	    { "Dentist", "Book club" } },
	Producer{ "DesktopTodos", "fmt-todo", desktop,
	    { "File taxes", "Renew passport" } },
	Producer{ "InvitationLossy", "fmt-date", invitation, { "Q2 review" },
	    { "-i", "-l" }, invitation_losses },
	Producer{ "Days", "fmt-date", days,
	    { "Holiday in Bergen", "Ann's birthday", "Christmas Eve" } }),
    CaseName());

/* The phone's own calendar goes in through the vCalendar 1.0 reader. */
TEST(VersitIn, SameInstantsAndTexts)
{
	RunResult r = convert("fmt-date", phone, HERE);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	use_zone(HERE);
	std::vector<Got> got = objects_of(r.out);
	ASSERT_EQ(got.size(), 2u);
	Seen run = seen_in_object(got[0].payload, false);
	Seen lunch = seen_in_object(got[1].payload, false);
	EXPECT_EQ(run.start, "20240505T100000");
	EXPECT_EQ(run.end, "20240505T110000");
	EXPECT_EQ(run.alarms,
	    (std::multiset<std::string>{ "20240505T094500" }));
	EXPECT_EQ(run.days,
	    (std::vector<std::string>{ "20240505", "20240512", "20240519",
		"20240526" }));
	EXPECT_EQ(lunch.summary,
	    "Sm\xC3\xB8rbr\xC3\xB8"
	    "d");
	EXPECT_EQ(lunch.start, "20240601T120000");
	EXPECT_EQ(lunch.alarms,
	    (std::multiset<std::string>{ "20240601T114500" }));
	EXPECT_EQ(got[1].name,
	    "Sm\xC3\xB8rbr\xC3\xB8"
	    "d");
}

/*
 * libical's versit reader never returns from some malformed
 * quoted-printable: such values reach it mended, and lines it would
 * misread do not reach it at all.
 */
TEST(VersitIn, MalformedQuotedPrintableMendedOrRefused)
{
	std::string head = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n"
			   "DTSTART:20240601T120000\r\n";
	std::string tail = "END:VEVENT\r\nEND:VCALENDAR\r\n";
	RunResult r = convert("fmt-date",
	    head +
		"SUMMARY;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:x=K3 y=c3=b8 "
		"z=\r\n=3D\r\n" +
		tail,
	    HERE);
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<Got> got = objects_of(r.out);
	ASSERT_EQ(got.size(), 1u);
	use_zone(HERE);
	EXPECT_EQ(seen_in_object(got[0].payload, false).summary,
	    "x=K3 y\xC3\xB8 z=");

	r = convert("fmt-date", head + "SUMMARY;ENCODING=\x81:x\r\n" + tail,
	    HERE);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err,
	    "fmt-date: standard input cannot be read as vCalendar 1.0: line 5 "
	    "is not a property\n");
}

/*
 * Converted in two zones, the objects name the same instants (floating
 * times, the same wall-clock time anywhere, are no instants).
 */
TEST(TimeZones, SameInstantsInEither)
{
	for (const std::string *ics : { &web_export, &invitation }) {
		std::vector<Seen> seen[2];
		const char *zones[2] = { "Asia/Tokyo", "America/Los_Angeles" };
		for (int z = 0; z < 2; z++) {
			RunResult r =
			    convert("fmt-date", *ics, zones[z], { "-il" });
			ASSERT_EQ(r.status, 0) << r.err;
			use_zone(zones[z]);
			for (const Got &g : objects_of(r.out)) {
				Seen s = seen_in_object(g.payload, false);
				/* As instants, not as the wall-clock times. */
				auto utc = [](const std::string &t) {
					if (t.size() < 15)
						return t;
					icaltimetype lt =
					    icaltime_from_string(t.c_str());
					return std::to_string(instant(lt));
				};
				s.start = utc(s.start);
				s.end = utc(s.end);
				std::multiset<std::string> alarms;
				for (const std::string &a : s.alarms)
					alarms.insert(utc(a));
				s.alarms = alarms;
				s.days.clear();
				seen[z].push_back(s);
			}
		}
		EXPECT_EQ(seen[0], seen[1]);
	}
}

/* The worked object: fmt-date's own lines, then what the input adds. */
TEST(Form, AsFmtDateWritesIt)
{
	std::string ics = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\n"
			  "BEGIN:VEVENT\nUID:1\nDTSTAMP:20240101T000000Z\n"
			  "DTSTART:20240315T093000\nDTEND:20240315T103000\n"
			  "SUMMARY:Team meeting\nLOCATION:Room 4\n"
			  "END:VEVENT\nEND:VCALENDAR\n";
	RunResult r = convert("fmt-date", ics, HERE);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(printable(r.out),
	    printable(object({ .name = "Team meeting",
		.creator = "date",
		.payload = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n"
			   "DTSTART:20240315T093000\r\n"
			   "DTEND:20240315T103000\r\n"
			   "DESCRIPTION:Team meeting\r\n"
			   "SUMMARY:Team meeting\r\n"
			   "LOCATION:Room 4\r\n"
			   "END:VEVENT\r\nEND:VCALENDAR\r\n" })));
}

/* The text of a value that is not plain ASCII, and the object's name. */
TEST(Form, QuotedPrintableAndName)
{
	std::string summary = "Sm\xC3\xB8rbr\xC3\xB8"
			      "d med K\xC3\xA5re i \xC3\x85sen = lunsj";
	std::string ics = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\n"
			  "BEGIN:VEVENT\nUID:1\nDTSTAMP:20240101T000000Z\n"
			  "DTSTART:20240315T093000\nSUMMARY:" +
	    summary +
	    "\nDESCRIPTION:line one\\nline two\\, which is long enough to need "
	    "a soft line break\n"
	    "END:VEVENT\nEND:VCALENDAR\n";
	RunResult r = convert("fmt-date", ics, HERE);
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<Got> got = objects_of(r.out);
	ASSERT_EQ(got.size(), 1u);
	/* 24 bytes would cut the second byte of an å off its first. */
	EXPECT_EQ(got[0].name,
	    "Sm\xC3\xB8rbr\xC3\xB8"
	    "d med K\xC3\xA5re i ");
	expect_plain_lines(got[0].payload);
	use_zone(HERE);
	versit_errors.clear();
	VObject *v = Parse_MIME(got[0].payload.data(), got[0].payload.size());
	ASSERT_NE(v, nullptr);
	icalcomponent *cal = icalvcal_convert(v);
	cleanVObjects(v);
	ASSERT_NE(cal, nullptr);
	icalcomponent *c =
	    icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT);
	EXPECT_EQ(text_of(c, ICAL_SUMMARY_PROPERTY), summary);
	/* The reader gives each line end as CR LF. */
	EXPECT_EQ(text_of(c, ICAL_DESCRIPTION_PROPERTY),
	    summary +
		"\r\nline one\r\nline two, which is long enough to need "
		"a soft line break");
	icalcomponent_free(cal);
}

/* The rules vCalendar 1.0 can say, each read back to the same days. */
struct RuleCase {
	const char *name;
	std::string start; /* DTSTART, property parameters and all */
	std::string rrule;
	std::string vcal; /* the RRULE line written */
};

void
PrintTo(const RuleCase &c, std::ostream *os)
{
	*os << c.name;
}

class Rule : public testing::TestWithParam<RuleCase>
{
};

TEST_P(Rule, SaysTheSameDays)
{
	const RuleCase &c = GetParam();
	std::string ics = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\n"
			  "BEGIN:VEVENT\nUID:1\nDTSTAMP:20240101T000000Z\n"
			  "DTSTART" +
	    c.start + "\nRRULE:" + c.rrule +
	    "\nSUMMARY:x\nEND:VEVENT\nEND:VCALENDAR\n";
	RunResult r = convert("fmt-date", ics, HERE);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	std::vector<Got> got = objects_of(r.out);
	ASSERT_EQ(got.size(), 1u);
	EXPECT_NE(got[0].payload.find("\r\nRRULE:" + c.vcal + "\r\n"),
	    std::string::npos)
	    << printable(got[0].payload);
	use_zone(HERE);
	icalcomponent *cal = icalparser_parse_string(ics.c_str());
	icalcomponent *e =
	    icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT);
	EXPECT_EQ(seen_in_object(got[0].payload, false).days,
	    seen_in_input(e, cal).days);
	icalcomponent_free(cal);
}

INSTANTIATE_TEST_SUITE_P(Cases, Rule,
    testing::Values(
	/* 11 March 2024 is a Monday. */
	RuleCase{ "EveryOtherDay", ":20240311T090000",
	    "FREQ=DAILY;INTERVAL=2;COUNT=5", "D2 #5" },
	RuleCase{ "WorkingDays", ":20240311T090000",
	    "FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR", "W1 MO TU WE TH FR #0" },
	RuleCase{ "WeeklyUntil", ":20240311T090000",
	    "FREQ=WEEKLY;BYDAY=MO,WE;UNTIL=20240410T090000",
	    "W1 MO WE 20240410T090000" },
	RuleCase{ "FortnightlyOnItsDay", ":20240311T090000",
	    "FREQ=WEEKLY;INTERVAL=2", "W2 MO #0" },
	RuleCase{ "MonthlyOnTheFifteenth", ":20240315T090000",
	    "FREQ=MONTHLY;BYMONTHDAY=15", "MD1 15 #0" },
	RuleCase{ "LastDayOfTheMonth", ":20240331T090000",
	    "FREQ=MONTHLY;BYMONTHDAY=-1;COUNT=3", "MD1 1- #3" },
	RuleCase{ "FirstMonday", ":20240304T090000", "FREQ=MONTHLY;BYDAY=1MO",
	    "MP1 1+ MO #0" },
	RuleCase{ "LastFriday", ":20240329T090000",
	    "FREQ=MONTHLY;BYDAY=-1FR;COUNT=4", "MP1 1- FR #4" },
	RuleCase{ "ThirdThursdayBySetPos", ":20240321T090000",
	    "FREQ=MONTHLY;BYDAY=TH;BYSETPOS=3", "MP1 3+ TH #0" },
	RuleCase{ "SecondAndFourthTuesday", ":20240312T090000",
	    "FREQ=MONTHLY;BYDAY=2TU,4TU;COUNT=6", "MP1 2+ 4+ TU #6" },
	RuleCase{ "DaysOfTheMonth", ":20240301T090000",
	    "FREQ=MONTHLY;BYMONTHDAY=1,15,-1;COUNT=7", "MD1 1 15 1- #7" },
	RuleCase{ "DayOfTheYear", ";VALUE=DATE:20240409",
	    "FREQ=YEARLY;BYYEARDAY=100;COUNT=3", "YD1 100 #3" },
	RuleCase{ "YearlyInJune", ";VALUE=DATE:20240612",
	    "FREQ=YEARLY;BYMONTH=6", "YM1 6 #0" },
	RuleCase{ "EveryFourYears", ";VALUE=DATE:20240229",
	    "FREQ=YEARLY;INTERVAL=4", "YM4 2 #0" },
	/* Monday 23:30 UTC is Tuesday in Oslo: the weekday moves with it. */
	RuleCase{ "WeekdayMovedByTheZone", ":20240311T233000Z",
	    "FREQ=WEEKLY;BYDAY=MO;COUNT=3", "W1 TU #3" }),
    CaseName());

/* What vCalendar 1.0 cannot say: named, and nothing written without -l. */
struct LossCase {
	const char *name;
	std::string
	    lines; /* the component's lines, between its DTSTAMP and END */
	std::string what; /* the loss, as named */
	std::string near; /* what -l writes instead */
	const char *program = "fmt-date";
	bool dropped = false; /* -l writes no object for it */
};

void
PrintTo(const LossCase &c, std::ostream *os)
{
	*os << c.name;
}

class Loss : public testing::TestWithParam<LossCase>
{
};

TEST_P(Loss, NamedAndRefusedOrWrittenNear)
{
	const LossCase &c = GetParam();
	bool todo = std::string_view(c.program) == "fmt-todo";
	const char *kind = todo ? "VTODO" : "VEVENT";
	std::string ics = std::string("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\n"
				      "BEGIN:") +
	    kind + "\nUID:1\nDTSTAMP:20240101T000000Z\nSUMMARY:Lost\n" +
	    c.lines + "END:" + kind +
	    "\nBEGIN:VEVENT\nUID:2\nDTSTAMP:20240101T000000Z\n"
	    "DTSTART:20240301T100000\nSUMMARY:Fine\nEND:VEVENT\n"
	    "BEGIN:VTODO\nUID:3\nDTSTAMP:20240101T000000Z\nSUMMARY:Fine\n"
	    "END:VTODO\nEND:VCALENDAR\n";
	std::string ref = std::string(c.program) +
	    (todo ? ": to-do 1" : ": event 1") + " \"Lost\": " + c.what;

	RunResult r = convert(c.program, ics, HERE);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err,
	    ref + "\n" + c.program + ": nothing written: 1 " +
		(todo ? "to-do" : "event") +
		" holds what vCalendar 1.0 cannot say; -l writes what it "
		"can\n");

	r = convert(c.program, ics, HERE, { "-i", "-l" });
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, ref + ": " + c.near + "\n");
	std::vector<Got> got = objects_of(r.out);
	size_t written = c.dropped ? 1 : 2;
	ASSERT_EQ(got.size(), written) << printable(r.out);
	if (written == 2)
		seen_in_object(got[0].payload, todo);
	EXPECT_EQ(got.back().name, "Fine");
}

INSTANTIATE_TEST_SUITE_P(Cases, Loss,
    testing::Values(LossCase{ "LastWorkingDayBySetPos",
			"DTSTART:20240329T090000\n"
			"RRULE:FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1\n",
			"cannot carry "
			"RRULE:FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1 "
			"(BYSETPOS)",
			"written as its first occurrence alone" },
	LossCase{ "SecondTuesdayFourthThursday",
	    "DTSTART:20240312T090000\nRRULE:FREQ=MONTHLY;BYDAY=2TU,4TH\n",
	    "cannot carry RRULE:FREQ=MONTHLY;BYDAY=2TU,4TH (BYDAY with other "
	    "weekdays at each position)",
	    "written as its first occurrence alone" },
	LossCase{ "Hourly",
	    "DTSTART:20240329T090000\nRRULE:FREQ=HOURLY;COUNT=3\n",
	    "cannot carry RRULE:FREQ=HOURLY;COUNT=3 (FREQ=HOURLY)",
	    "written as its first occurrence alone" },
	LossCase{ "MothersDay",
	    "DTSTART;VALUE=DATE:20240512\n"
	    "RRULE:FREQ=YEARLY;BYMONTH=5;BYDAY=2SU\n",
	    "cannot carry RRULE:FREQ=YEARLY;BYDAY=2SU;BYMONTH=5 (BYDAY with a "
	    "position)",
	    "written as its first occurrence alone" },
	LossCase{ "MonthlyRuleMovedByTheZone",
	    "DTSTART:20240315T233000Z\nRRULE:FREQ=MONTHLY\n",
	    "cannot carry RRULE:FREQ=MONTHLY (its days fall on other days in "
	    "this time "
	    "zone)",
	    "written as its first occurrence alone" },
	LossCase{ "ExtraDates",
	    "DTSTART:20240301T090000\nRDATE:20240305T090000,20240307T090000\n",
	    "cannot carry extra dates (RDATE)", "left out" },
	LossCase{ "AlarmAfterTheEnd",
	    "DTSTART:20240301T090000\nDTEND:20240301T100000\n"
	    "BEGIN:VALARM\nACTION:DISPLAY\nDESCRIPTION:x\n"
	    "TRIGGER;RELATED=END:PT5M\nEND:VALARM\n",
	    "cannot carry an alarm relative to the end",
	    "written at the instant it names" },
	LossCase{ "Attendees",
	    "DTSTART:20240301T090000\nATTENDEE:mailto:a@example.com\n"
	    "ATTENDEE:mailto:b@example.com\n",
	    "cannot carry its attendees (ATTENDEE)", "left out" },
	LossCase{ "UnknownZone", "DTSTART;TZID=Mars/Olympus:20240301T090000\n",
	    "cannot carry the time zone Mars/Olympus (unknown)",
	    "its times taken as local time" },
	LossCase{ "EmailAlarm",
	    "DTSTART:20240301T090000\nBEGIN:VALARM\nACTION:EMAIL\n"
	    "DESCRIPTION:x\nSUMMARY:y\nATTENDEE:mailto:a@example.com\n"
	    "TRIGGER:-PT5M\nEND:VALARM\n",
	    "cannot carry an alarm of ACTION:EMAIL",
	    "written as a display alarm" },
	LossCase{ "NoStart", "LOCATION:Somewhere\n", "has no start (DTSTART)",
	    "left out", "fmt-date", true },
	LossCase{ "CancelledToDo", "STATUS:CANCELLED\n",
	    "cannot carry STATUS:CANCELLED", "written as DECLINED",
	    "fmt-todo" },
	LossCase{ "HalfDone", "STATUS:IN-PROCESS\n",
	    "cannot carry STATUS:IN-PROCESS", "written as NEEDS ACTION",
	    "fmt-todo" }),
    CaseName());

/* Faults of the command line and of the input: a message, status 1, and
 * nothing on standard output. */
TEST(Faults, MessageAndNothingWritten)
{
	std::string dir = temp_dir();
	write_file(dir + "/none.ics",
	    "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\nBEGIN:VTODO\nUID:1\n"
	    "DTSTAMP:20240101T000000Z\nSUMMARY:x\nEND:VTODO\nEND:VCALENDAR\n");
	std::string usage =
	    "Format Palm Pilot date from stdin or command line\n"
	    "Usage: fmt-date [-n name] [-d [[[cc]yy]mm]dd] [-t hh[mm]-hh[mm]] "
	    "[text ...]\n";
	const CaseRun cases[] = {
		{ .name = "NotACalendar",
		    .args = { "-i" },
		    .input = "Hello\n",
		    .err = "fmt-date: standard input is not an iCalendar or "
			   "vCalendar file\n",
		    .status = 1 },
		{ .name = "DashIsStandardInput",
		    .args = { "-i", "-" },
		    .input = "Hello\n",
		    .err = "fmt-date: standard input is not an iCalendar or "
			   "vCalendar file\n",
		    .status = 1 },
		{ .name = "BinaryInput",
		    .args = { "-i" },
		    .input = std::string("BEGIN:VCALENDAR\n\0", 17),
		    .err = "fmt-date: standard input is not a text file\n",
		    .status = 1 },
		{ .name = "NoEvent",
		    .args = { "-i", dir + "/none.ics" },
		    .err = "fmt-date: `" + dir + "/none.ics' holds no event\n",
		    .status = 1 },
		{ .name = "NoFile",
		    .args = { "-i", dir + "/missing\n.ics" },
		    .err = "fmt-date: cannot open `" + dir +
			"/missing\\n.ics': No such file or directory\n",
		    .status = 1 },
		{ .name = "LossyAlone",
		    .args = { "-l" },
		    .err = usage,
		    .status = 1 },
		{ .name = "WithADate",
		    .args = { "-i", "-d", "20240315" },
		    .err = usage,
		    .status = 1 },
		{ .name = "TwoFiles",
		    .args = { "-i", "a.ics", "b.ics" },
		    .err = usage,
		    .status = 1 },
	};
	for (const CaseRun &c : cases) {
		SCOPED_TRACE(c.name);
		expect_case("fmt-date", c);
	}
	CaseRun todo = { .name = "NoToDo",
		.args = { "-i", "-l" },
		.input = web_export,
		.err = "fmt-todo: standard input holds no to-do\n",
		.status = 1 };
	expect_case("fmt-todo", todo);
}

} // namespace
