/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The conversion itself: libical's components in, vCalendar 1.0 texts
 * out.
 *
 * The devices keep local wall-clock time and nothing else, so every time
 * is written as the local time of TZ, without a zone; a floating time and
 * a date stay as they are.  Whatever a component holds is either written,
 * or known to carry nothing a device keeps (UID, DTSTAMP, vendors' X-
 * properties and the like), or named as a loss: a new property that
 * iCalendar grows is a loss until someone decides otherwise.
 */
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include <libical/ical.h>
#include <libical/vcc.h>
/* This one header of libical's declares its functions without C linkage. */
extern "C" {
#include <libical/icalvcal.h>
}

#include "vcal.h"

namespace
{

constexpr size_t NAME_MAX_BYTES = 24;
constexpr size_t QP_LINE = 76; /* the longest line of quoted-printable */

const char *const weekday_names[] = { "SU", "MO", "TU", "WE", "TH", "FR",
	"SA" };

/* A text libical may give as a null pointer, for an odd input. */
const char *
or_empty(const char *s)
{
	return s != nullptr ? s : "";
}

/* Days since 1970-01-01 of a day of the proleptic Gregorian calendar. */
long
days_from_civil(long y, int m, int d)
{
	y -= m <= 2;
	long era = (y >= 0 ? y : y - 399) / 400;
	long yoe = y - era * 400;
	long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
	long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
	return era * 146097 + doe - 719468;
}

/* The day of the week (0 Sunday) of a count from days_from_civil. */
int
weekday_of(long days)
{
	long w = (days + 4) % 7;
	return (int)(w < 0 ? w + 7 : w);
}

/* The wall-clock fields of a count of seconds on a clock without zones. */
void
wall_from_seconds(long long s, struct tm &tm)
{
	long long days = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
	long long rest = s - days * 86400;
	/* The inverse of days_from_civil. */
	long long z = days + 719468;
	long long era = (z >= 0 ? z : z - 146096) / 146097;
	long long doe = z - era * 146097;
	long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
	long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
	long long mp = (5 * doy + 2) / 153;
	int d = (int)(doy - (153 * mp + 2) / 5 + 1);
	int m = (int)(mp < 10 ? mp + 3 : mp - 9);
	long long y = yoe + era * 400 + (m <= 2);

	tm = {};
	tm.tm_year = (int)(y - 1900);
	tm.tm_mon = m - 1;
	tm.tm_mday = d;
	tm.tm_hour = (int)(rest / 3600);
	tm.tm_min = (int)(rest / 60 % 60);
	tm.tm_sec = (int)(rest % 60);
	tm.tm_wday = weekday_of((long)days);
}

long long
wall_seconds(const struct tm &tm)
{
	return (long long)days_from_civil(tm.tm_year + 1900L, tm.tm_mon + 1,
		   tm.tm_mday) *
	    86400 +
	    tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

/*
 * A time as an object carries it.  `absolute` times (UTC or of a zone)
 * are known as an instant, `utc`, and written in the local time of TZ;
 * floating times and dates are written as they stand.
 */
struct vtime {
	bool set = false; /* false: none, or none that can be written */
	bool date = false;
	bool absolute = false;
	time_t utc = 0;
	struct tm tm = {}; /* the wall-clock time written */
	long moved = 0; /* the day written less the day in its own zone */
	std::string text;
};

/* n decimal digits of v, zero-padded. */
void
put_digits(char *p, long v, int n)
{
	while (n-- > 0) {
		p[n] = (char)('0' + v % 10);
		v /= 10;
	}
}

/*
 * The text of a wall-clock time: YYYYMMDD, or YYYYMMDDThhmmss.  The
 * digits are put by hand: a calendar's every time comes through here.
 */
bool
vtime_text(vtime &v)
{
	char buf[15];
	long year = v.tm.tm_year + 1900L;

	if (year < 0 || year > 9999)
		return false;
	put_digits(buf, year, 4);
	put_digits(buf + 4, v.tm.tm_mon + 1, 2);
	put_digits(buf + 6, v.tm.tm_mday, 2);
	if (v.date) {
		v.text.assign(buf, 8);
		return true;
	}
	buf[8] = 'T';
	put_digits(buf + 9, v.tm.tm_hour, 2);
	put_digits(buf + 11, v.tm.tm_min, 2);
	put_digits(buf + 13, v.tm.tm_sec, 2);
	v.text.assign(buf, 15);
	return true;
}

/* An instant, in the local time of TZ. */
vtime
vtime_at(time_t utc)
{
	vtime v;
	if (localtime_r(&utc, &v.tm) == nullptr)
		return v;
	v.absolute = true;
	v.utc = utc;
	v.set = vtime_text(v);
	return v;
}

/* A time of the input, as the object writes it. */
vtime
vtime_of(icaltimetype t)
{
	vtime v;

	if (icaltime_is_null_time(t) || !icaltime_is_valid_time(t) ||
	    t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31)
		return v;
	if (t.is_date || t.zone == nullptr) {
		v.date = t.is_date != 0;
		v.tm.tm_year = t.year - 1900;
		v.tm.tm_mon = t.month - 1;
		v.tm.tm_mday = t.day;
		if (!v.date) {
			v.tm.tm_hour = t.hour;
			v.tm.tm_min = t.minute;
			v.tm.tm_sec = t.second;
		}
		v.tm.tm_wday =
		    weekday_of(days_from_civil(t.year, t.month, t.day));
		v.set = vtime_text(v);
		return v;
	}
	v = vtime_at(icaltime_as_timet_with_zone(t, t.zone));
	if (v.set)
		v.moved = days_from_civil(v.tm.tm_year + 1900L, v.tm.tm_mon + 1,
			      v.tm.tm_mday) -
		    days_from_civil(t.year, t.month, t.day);
	return v;
}

/* A time `seconds` after another, in the same kind of time. */
vtime
vtime_plus(const vtime &base, long long seconds)
{
	if (base.absolute)
		return vtime_at((time_t)(base.utc + seconds));
	vtime v;
	wall_from_seconds(wall_seconds(base.tm) + seconds, v.tm);
	v.set = vtime_text(v);
	return v;
}

bool
plain_text(std::string_view s)
{
	for (unsigned char c : s)
		if (c < 0x20 || c > 0x7E)
			return false;
	return true;
}

/* A property line of a value that needs no quoting. */
void
put_line(std::string &out, std::string_view head, std::string_view value)
{
	out += head;
	out += value;
	out += "\r\n";
}

/* A byte as quoted-printable writes it: =XX. */
size_t
put_hex(char *p, unsigned char c)
{
	p[0] = '=';
	p[1] = "0123456789ABCDEF"[c >> 4];
	p[2] = "0123456789ABCDEF"[c & 0xF];
	return 3;
}

/*
 * A property line: NAME, its value, CR LF.  A value that is not plain
 * printable ASCII goes as quoted-printable UTF-8, its line ends as
 * =0D=0A, in lines of at most 76 bytes joined by soft breaks.
 */
void
put_property(std::string &out, std::string_view name, std::string_view value)
{
	out += name;
	if (plain_text(value)) {
		out += ':';
		out += value;
		out += "\r\n";
		return;
	}
	out += ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";
	out.reserve(out.size() + 3 * value.size() + value.size() / 24 + 2);
	size_t line = name.size() +
	    sizeof(";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:") - 1;
	for (size_t i = 0; i < value.size(); i++) {
		unsigned char c = (unsigned char)value[i];
		char piece[7];
		size_t n;

		if (c == '\r' || c == '\n') {
			/* Every line end, CR LF or alone, is one CR LF. */
			if (c == '\r' && i + 1 < value.size() &&
			    value[i + 1] == '\n')
				i++;
			memcpy(piece, "=0D=0A", 6);
			n = 6;
		} else if (c == '=' || c < 0x20 || c > 0x7E ||
		    ((c == ' ' || c == '\t') && i + 1 == value.size())) {
			/* White space that ends the value would be lost. */
			n = put_hex(piece, c);
		} else {
			piece[0] = (char)c;
			n = 1;
		}
		/* Room for the piece and the soft break's "=". */
		if (line + n + 1 > QP_LINE) {
			out += "=\r\n";
			line = 0;
			/*
			 * A line that began with white space would read as a
			 * folded one to a reader that unfolds first.
			 */
			if (c == ' ' || c == '\t')
				n = put_hex(piece, c);
		}
		out.append(piece, n);
		line += n;
	}
	out += "\r\n";
}

/* What a component is called in messages. */
std::string
component_ref(vcal_kind kind, int number, const char *summary)
{
	std::string ref = kind == VCAL_EVENTS ? "event " : "to-do ";
	ref += std::to_string(number);
	if (summary != nullptr && *summary != '\0') {
		ref += " \"";
		ref += summary;
		ref += '"';
	}
	return ref;
}

/* The summary as an object name: 24 bytes, no character cut in two. */
std::string
object_name(std::string_view summary)
{
	size_t n = summary.size();
	if (n > NAME_MAX_BYTES) {
		n = NAME_MAX_BYTES;
		while (n > 0 && ((unsigned char)summary[n] & 0xC0) == 0x80)
			n--;
	}
	return std::string(summary.substr(0, n));
}

/* One component in conversion. */
struct conversion {
	icalcomponent *comp;
	vcal_object *obj;
	vtime start;
	const icaltimezone *start_zone = nullptr;
	std::string summary;
	bool has_summary = false;
	std::vector<std::string> exdates; /* the texts of EXDATE, as written */
};

void
lose(conversion &c, const std::string &what, std::string near = "left out")
{
	std::string said = "cannot carry " + what;
	for (const vcal_loss &l : c.obj->losses)
		if (l.what == said)
			return;
	c.obj->losses.push_back({ std::move(said), std::move(near) });
}

std::string
property_text(icalproperty *p)
{
	std::string s = or_empty(icalproperty_get_property_name(p));
	char *v = icalproperty_get_value_as_string_r(p);
	if (v != nullptr) {
		s += ':';
		s += v;
		free(v);
	}
	return s;
}

/*
 * A date or date-time property of the component, in the object's time,
 * and the zone libical found for it.  A TZID that neither the file nor libical
 * knows leaves the time floating: that is named, and the time is written as it
 * stands.
 */
vtime
property_time(conversion &c, icalproperty *p,
    const icaltimezone **zone = nullptr)
{
	icaltimetype t = icalproperty_get_datetime_with_component(p, c.comp);
	if (zone != nullptr)
		*zone = t.zone;
	icalparameter *tzid =
	    icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER);
	if (tzid != nullptr && t.zone == nullptr && !t.is_date) {
		std::string what = "the time zone ";
		what += or_empty(icalparameter_get_tzid(tzid));
		what += " (unknown)";
		lose(c, what, "its times taken as local time");
	}
	vtime v = vtime_of(t);
	if (!v.set && !icaltime_is_null_time(t))
		lose(c,
		    property_text(p) +
			" (a time outside the years 0000 to 9999)");
	return v;
}

/* The weekday of a BYDAY entry moved by `moved` days, as vCalendar names it. */
const char *
weekday_name(short by_day, long moved)
{
	int w = (int)icalrecurrencetype_day_day_of_week(by_day) - 1;
	long m = (w + moved) % 7;
	return weekday_names[m < 0 ? m + 7 : m];
}

size_t
by_count(const short *list, size_t size)
{
	size_t n = 0;
	while (n < size && list[n] != ICAL_RECURRENCE_ARRAY_MAX)
		n++;
	return n;
}

#define BY_COUNT(r, field)                                                     \
	by_count((r).field, sizeof((r).field) / sizeof(short))

/* A day of the month or the year in vCalendar's form: 15, or 1- for the last.
 */
std::string
day_number(int d)
{
	return d < 0 ? std::to_string(-d) + "-" : std::to_string(d);
}

/*
 * vCalendar 1.0's form of a rule, or false with `why` naming the part it
 * cannot say.  Its grammar knows a frequency (daily, weekly, monthly by
 * day or by position, yearly by month or by day) with its interval, a list
 * of days or months, and a count or an end; nothing finer.  The days were
 * days of the start's own zone: where the local time of TZ moves the start
 * to another day, the weekdays move with it, and the rules that count days
 * of a month cannot follow.
 */
bool
rule_text(const conversion &c, const icalrecurrencetype &r, std::string &rule,
    std::string &why)
{
	const vtime &s = c.start;
	std::string n = std::to_string(r.interval > 0 ? r.interval : 1);
	size_t days = BY_COUNT(r, by_day),
	       month_days = BY_COUNT(r, by_month_day),
	       year_days = BY_COUNT(r, by_year_day),
	       months = BY_COUNT(r, by_month),
	       set_pos = BY_COUNT(r, by_set_pos);

	if (r.freq != ICAL_DAILY_RECURRENCE &&
	    r.freq != ICAL_WEEKLY_RECURRENCE &&
	    r.freq != ICAL_MONTHLY_RECURRENCE &&
	    r.freq != ICAL_YEARLY_RECURRENCE) {
		why = std::string("FREQ=") +
		    or_empty(icalrecur_freq_to_string(r.freq));
		return false;
	}
	if (BY_COUNT(r, by_second) > 0 || BY_COUNT(r, by_minute) > 0 ||
	    BY_COUNT(r, by_hour) > 0) {
		why = "a time of day in the rule";
		return false;
	}
	if (BY_COUNT(r, by_week_no) > 0) {
		why = "BYWEEKNO";
		return false;
	}
	if (r.rscale != nullptr && strcmp(r.rscale, "GREGORIAN") != 0) {
		why = "RSCALE";
		return false;
	}
	for (size_t i = 0; i < months; i++)
		if (icalrecurrencetype_month_is_leap(r.by_month[i])) {
			why = "a leap month";
			return false;
		}
	/* BYSETPOS says only what an ordinal says: the nth such weekday. */
	int ordinal = 0;
	if (set_pos > 0) {
		if (r.freq != ICAL_MONTHLY_RECURRENCE || set_pos != 1 ||
		    days != 1 ||
		    icalrecurrencetype_day_position(r.by_day[0]) != 0 ||
		    r.by_set_pos[0] < -5 || r.by_set_pos[0] > 5 ||
		    month_days > 0) {
			why = "BYSETPOS";
			return false;
		}
		ordinal = r.by_set_pos[0];
	}
	for (size_t i = 0; i < days; i++)
		if (icalrecurrencetype_day_position(r.by_day[i]) != 0 &&
		    r.freq != ICAL_MONTHLY_RECURRENCE) {
			why = "BYDAY with a position";
			return false;
		}
	if (s.moved != 0 &&
	    (r.freq == ICAL_MONTHLY_RECURRENCE ||
		r.freq == ICAL_YEARLY_RECURRENCE ||
		(r.freq == ICAL_WEEKLY_RECURRENCE && r.interval > 1 &&
		    days > 1))) {
		why = "its days fall on other days in this time zone";
		return false;
	}

	switch (r.freq) {
	case ICAL_DAILY_RECURRENCE:
		if (months > 0 || month_days > 0 || year_days > 0) {
			why = "a daily rule limited to some days";
			return false;
		}
		if (days == 0) {
			rule = "D" + n;
			break;
		}
		/* Every working day, say: a weekly rule with those days. */
		if (r.interval > 1) {
			why = "BYDAY in a daily rule of an interval";
			return false;
		}
		rule = "W1";
		for (size_t i = 0; i < days; i++)
			rule += std::string(" ") +
			    weekday_name(r.by_day[i], s.moved);
		break;
	case ICAL_WEEKLY_RECURRENCE:
		if (months > 0 || month_days > 0 || year_days > 0) {
			why = "a weekly rule limited to some months or days";
			return false;
		}
		if (days > 1 && r.interval > 1 &&
		    r.week_start != ICAL_MONDAY_WEEKDAY &&
		    r.week_start != ICAL_NO_WEEKDAY) {
			why = "WKST";
			return false;
		}
		rule = "W" + n;
		if (days == 0)
			rule += std::string(" ") + weekday_names[s.tm.tm_wday];
		for (size_t i = 0; i < days; i++)
			rule += std::string(" ") +
			    weekday_name(r.by_day[i], s.moved);
		break;
	case ICAL_MONTHLY_RECURRENCE:
		if (months > 0 || year_days > 0) {
			why = "a monthly rule limited to some months";
			return false;
		}
		if (days > 0 && month_days > 0) {
			why = "BYDAY with BYMONTHDAY";
			return false;
		}
		if (days > 0) {
			/*
			 * Its form is a list of positions and a list of
			 * weekdays, each position with each weekday: 2+ 4+ TU
			 * is the second and the fourth Tuesday.
			 */
			std::vector<int> positions, weekdays;
			for (size_t i = 0; i < days; i++) {
				int pos = ordinal != 0
				    ? ordinal
				    : icalrecurrencetype_day_position(
					  r.by_day[i]);
				if (pos == 0 || pos < -5 || pos > 5) {
					why = "BYDAY without a position";
					return false;
				}
				int w = (int)icalrecurrencetype_day_day_of_week(
				    r.by_day[i]);
				if (std::find(positions.begin(),
					positions.end(),
					pos) == positions.end())
					positions.push_back(pos);
				if (std::find(weekdays.begin(), weekdays.end(),
					w) == weekdays.end())
					weekdays.push_back(w);
			}
			if (positions.size() * weekdays.size() != days) {
				why = "BYDAY with other weekdays at each "
				      "position";
				return false;
			}
			rule = "MP" + n;
			for (int pos : positions)
				rule += " " +
				    std::to_string(pos < 0 ? -pos : pos) +
				    (pos < 0 ? "-" : "+");
			for (int w : weekdays)
				rule += std::string(" ") + weekday_names[w - 1];
			break;
		}
		rule = "MD" + n;
		if (month_days == 0)
			rule += " " + std::to_string(s.tm.tm_mday);
		for (size_t i = 0; i < month_days; i++)
			rule += " " + day_number(r.by_month_day[i]);
		break;
	case ICAL_YEARLY_RECURRENCE:
		if (days > 0) {
			why = "BYDAY in a yearly rule";
			return false;
		}
		if (year_days > 0) {
			if (months > 0 || month_days > 0) {
				why = "BYYEARDAY with BYMONTH or BYMONTHDAY";
				return false;
			}
			rule = "YD" + n;
			for (size_t i = 0; i < year_days; i++)
				rule += " " + day_number(r.by_year_day[i]);
			break;
		}
		/* By month, on the day of the month the start falls on. */
		if (month_days > 1 ||
		    (month_days == 1 && r.by_month_day[0] != s.tm.tm_mday)) {
			why = "BYMONTHDAY in a yearly rule";
			return false;
		}
		rule = "YM" + n;
		if (months == 0)
			rule += " " + std::to_string(s.tm.tm_mon + 1);
		for (size_t i = 0; i < months; i++)
			rule += " " +
			    std::to_string(
				icalrecurrencetype_month_month(r.by_month[i]));
		break;
	default:
		break;
	}

	/* The end; left out, vCalendar 1.0 would mean two occurrences. */
	if (r.count > 0) {
		rule += " #" + std::to_string(r.count);
	} else if (!icaltime_is_null_time(r.until)) {
		icaltimetype until = r.until;
		if (!until.is_date && until.zone == nullptr)
			until.zone =
			    c.start_zone; /* a floating end, as the start */
		vtime u = vtime_of(until);
		if (!u.set) {
			why = "UNTIL outside the years 0000 to 9999";
			return false;
		}
		rule += " " + u.text;
	} else {
		rule += " #0";
	}
	return true;
}

/* The duration of an alarm's snooze in ISO 8601 form (PT5M). */
std::string
duration_text(icaldurationtype d)
{
	char *s = icaldurationtype_as_ical_string_r(d);
	std::string t = s != nullptr ? s : "";
	free(s);
	return t;
}

/*
 * An alarm: AALARM for a sound, DALARM for a display, at the instant the
 * trigger names (vCalendar 1.0 knows no other kind of trigger), with its
 * repetitions as snooze time and count.
 */
void
put_alarm(conversion &c, icalcomponent *alarm, const vtime &end,
    std::string &out)
{
	icalproperty *action =
	    icalcomponent_get_first_property(alarm, ICAL_ACTION_PROPERTY);
	icalproperty *trigger =
	    icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
	icalproperty_action a = action != nullptr
	    ? icalproperty_get_action(action)
	    : ICAL_ACTION_NONE;
	bool audio = a == ICAL_ACTION_AUDIO;

	if (a != ICAL_ACTION_AUDIO && a != ICAL_ACTION_DISPLAY)
		lose(c,
		    action != nullptr ? "an alarm of " + property_text(action)
				      : "an alarm without ACTION",
		    "written as a display alarm");
	if (trigger == nullptr) {
		lose(c, "an alarm without TRIGGER");
		return;
	}

	icaltriggertype t = icalproperty_get_trigger(trigger);
	vtime when;
	if (!icaltime_is_null_time(t.time)) {
		when = property_time(c, trigger);
	} else {
		icalparameter *related =
		    icalproperty_get_first_parameter(trigger,
			ICAL_RELATED_PARAMETER);
		bool to_end = related != nullptr &&
		    icalparameter_get_related(related) == ICAL_RELATED_END;
		const vtime &base = to_end ? end : c.start;
		if (!base.set) {
			lose(c,
			    std::string("an alarm relative to a ") +
				(to_end ? "end" : "start") +
				" it does not have");
			return;
		}
		if (to_end)
			lose(c, "an alarm relative to the end",
			    "written at the instant it names");
		vtime b = base;
		if (b.date) {
			/* A day's alarm counts from its midnight. */
			b.date = false;
		}
		when = vtime_plus(b, icaldurationtype_as_int(t.duration));
	}
	if (!when.set) {
		lose(c, "an alarm at a time that cannot be written");
		return;
	}

	std::string value = when.text;
	icalproperty *repeat =
	    icalcomponent_get_first_property(alarm, ICAL_REPEAT_PROPERTY);
	icalproperty *snooze =
	    icalcomponent_get_first_property(alarm, ICAL_DURATION_PROPERTY);
	bool repeats = repeat != nullptr && snooze != nullptr &&
	    icalproperty_get_repeat(repeat) > 0;
	if (repeats)
		value += ";" +
		    duration_text(icalproperty_get_duration(snooze)) + ";" +
		    std::to_string(icalproperty_get_repeat(repeat));
	if (!audio) {
		/* What the device shows: the alarm's own text, or the summary.
		 */
		const char *text = icalcomponent_get_description(alarm);
		std::string shown =
		    text != nullptr && *text != '\0' ? text : c.summary;
		if (!repeats)
			value += ";;";
		value += ';';
		for (char ch : shown) {
			if (ch == ';')
				value += '\\';
			value += ch;
		}
	}
	put_property(out, audio ? "AALARM" : "DALARM", value);
}

/* Properties that carry nothing a device keeps or shows. */
bool
bookkeeping(icalproperty_kind k)
{
	switch (k) {
	case ICAL_UID_PROPERTY:
	case ICAL_DTSTAMP_PROPERTY:
	case ICAL_CREATED_PROPERTY:
	case ICAL_LASTMODIFIED_PROPERTY:
	case ICAL_SEQUENCE_PROPERTY:
	case ICAL_TRANSP_PROPERTY:
	case ICAL_REQUESTSTATUS_PROPERTY:
	case ICAL_X_PROPERTY:
		return true;
	default:
		return false;
	}
}

/* What the input's words for a loss are, by property. */
std::string
loss_name(icalproperty *p)
{
	switch (icalproperty_isa(p)) {
	case ICAL_ATTENDEE_PROPERTY:
		return "its attendees (ATTENDEE)";
	case ICAL_ORGANIZER_PROPERTY:
		return "its organizer (ORGANIZER)";
	case ICAL_RDATE_PROPERTY:
		return "extra dates (RDATE)";
	case ICAL_EXRULE_PROPERTY:
		return "an exception rule (EXRULE)";
	case ICAL_XLICERROR_PROPERTY:
		return std::string("a line libical cannot read: ") +
		    or_empty(icalproperty_get_xlicerror(p));
	default:
		return or_empty(icalproperty_get_property_name(p));
	}
}

void
put_status(conversion &c, icalproperty *status, vcal_kind kind, bool completed,
    std::string &out)
{
	if (status == nullptr) {
		if (kind == VCAL_TODOS)
			out += completed ? "STATUS:COMPLETED\r\n"
					 : "STATUS:NEEDS ACTION\r\n";
		return;
	}
	switch (icalproperty_get_status(status)) {
	case ICAL_STATUS_NEEDSACTION:
		out += "STATUS:NEEDS ACTION\r\n";
		break;
	case ICAL_STATUS_COMPLETED:
		out += "STATUS:COMPLETED\r\n";
		break;
	case ICAL_STATUS_TENTATIVE:
		out += "STATUS:TENTATIVE\r\n";
		break;
	case ICAL_STATUS_CONFIRMED:
		out += "STATUS:CONFIRMED\r\n";
		break;
	case ICAL_STATUS_INPROCESS:
		lose(c, "STATUS:IN-PROCESS", "written as NEEDS ACTION");
		out += "STATUS:NEEDS ACTION\r\n";
		break;
	case ICAL_STATUS_CANCELLED:
		lose(c, "STATUS:CANCELLED", "written as DECLINED");
		out += "STATUS:DECLINED\r\n";
		break;
	default:
		lose(c, property_text(status));
		if (kind == VCAL_TODOS)
			out += "STATUS:NEEDS ACTION\r\n";
		break;
	}
}

/* All the values of a text property that may come more than once. */
std::vector<std::string>
all_texts(icalcomponent *comp, icalproperty_kind kind)
{
	std::vector<std::string> v;
	for (icalproperty *p = icalcomponent_get_first_property(comp, kind);
	     p != nullptr; p = icalcomponent_get_next_property(comp, kind)) {
		const char *s = icalvalue_get_text(icalproperty_get_value(p));
		if (s != nullptr && *s != '\0')
			v.push_back(s);
	}
	return v;
}

const char *
first_text(icalcomponent *comp, icalproperty_kind kind)
{
	icalproperty *p = icalcomponent_get_first_property(comp, kind);
	if (p == nullptr)
		return nullptr;
	return icalvalue_get_text(icalproperty_get_value(p));
}

/* Builds one component's object. */
void
convert_component(conversion &c, vcal_kind kind)
{
	icalcomponent *comp = c.comp;
	std::string &out = c.obj->payload;
	icalproperty *p;
	vtime end, due;

	/* The start, and with it the zone that a rule's days belong to. */
	p = icalcomponent_get_first_property(comp, ICAL_DTSTART_PROPERTY);
	if (p != nullptr) {
		c.start = property_time(c, p, &c.start_zone);
	}
	if (kind == VCAL_EVENTS && !c.start.set) {
		/* An event is when it is: without a start, there is none. */
		c.obj->losses.push_back(
		    { "has no start (DTSTART)", "left out" });
		c.obj->written = false;
	}

	/* The end: DTEND, or the start and DURATION. */
	if (kind == VCAL_EVENTS) {
		p = icalcomponent_get_first_property(comp, ICAL_DTEND_PROPERTY);
		icalproperty *d = icalcomponent_get_first_property(comp,
		    ICAL_DURATION_PROPERTY);
		if (p != nullptr)
			end = property_time(c, p);
		else if (d != nullptr && c.start.set) {
			long long secs = icaldurationtype_as_int(
			    icalproperty_get_duration(d));
			vtime b = c.start;
			if (b.date) {
				/* A duration of whole days ends on a day. */
				b.date = secs % 86400 == 0;
			}
			end = vtime_plus(b, secs);
			end.date = b.date;
			if (end.set)
				vtime_text(end);
		}
	} else {
		p = icalcomponent_get_first_property(comp, ICAL_DUE_PROPERTY);
		if (p != nullptr)
			due = property_time(c, p);
		else if (c.start.set &&
		    (p = icalcomponent_get_first_property(comp,
			 ICAL_DURATION_PROPERTY)) != nullptr)
			due = vtime_plus(c.start,
			    icaldurationtype_as_int(
				icalproperty_get_duration(p)));
	}

	const char *summary = first_text(comp, ICAL_SUMMARY_PROPERTY);
	c.has_summary = summary != nullptr && *summary != '\0';
	c.summary = c.has_summary ? summary : "";
	const char *description = first_text(comp, ICAL_DESCRIPTION_PROPERTY);
	std::string text = c.summary;
	if (description != nullptr && *description != '\0') {
		if (!text.empty())
			text += '\n';
		text += description;
	}
	std::string categories;
	for (const std::string &cat :
	    all_texts(comp, ICAL_CATEGORIES_PROPERTY)) {
		if (!categories.empty())
			categories += ';';
		categories += cat;
	}

	out = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\n";
	if (kind == VCAL_EVENTS) {
		out += "BEGIN:VEVENT\r\n";
		if (c.start.set)
			put_line(out, "DTSTART:", c.start.text);
		/* A day's event ends with its day, as fmt-date writes it. */
		bool one_day = c.start.date && end.set && end.date &&
		    wall_seconds(end.tm) - wall_seconds(c.start.tm) <= 86400;
		if (end.set && !one_day)
			put_line(out, "DTEND:", end.text);
		put_property(out, "DESCRIPTION", text);
	} else {
		out += "BEGIN:VTODO\r\n";
		put_property(out, "CATEGORIES",
		    categories.empty() ? std::string("X-Unfiled") : categories);
		if (due.set)
			put_line(out, "DUE:", due.text);
		icalproperty *done = icalcomponent_get_first_property(comp,
		    ICAL_COMPLETED_PROPERTY);
		put_status(c,
		    icalcomponent_get_first_property(comp,
			ICAL_STATUS_PROPERTY),
		    kind, done != nullptr, out);
		p = icalcomponent_get_first_property(comp,
		    ICAL_PRIORITY_PROPERTY);
		int priority = p != nullptr ? icalproperty_get_priority(p) : 0;
		/* 0 is no priority; a Palm gives a new item the first. */
		out += "PRIORITY:" +
		    std::to_string(
			priority > 0 && priority <= 9 ? priority : 1) +
		    "\r\n";
		put_property(out, "DESCRIPTION", text);
		if (c.start.set)
			put_line(out, "DTSTART:", c.start.text);
		if (done != nullptr) {
			vtime v = property_time(c, done);
			if (v.set)
				put_line(out, "COMPLETED:", v.text);
		}
	}
	if (c.has_summary)
		put_property(out, "SUMMARY", c.summary);
	const char *location = first_text(comp, ICAL_LOCATION_PROPERTY);
	if (location != nullptr && *location != '\0')
		put_property(out, "LOCATION", location);
	if (kind == VCAL_EVENTS && !categories.empty())
		put_property(out, "CATEGORIES", categories);
	const char *url = first_text(comp, ICAL_URL_PROPERTY);
	if ((p = icalcomponent_get_first_property(comp, ICAL_URL_PROPERTY)) !=
	    nullptr) {
		const char *u = icalproperty_get_url(p);
		if (u != nullptr && *u != '\0')
			put_property(out, "URL", u);
	}
	(void)url;
	if ((p = icalcomponent_get_first_property(comp, ICAL_CLASS_PROPERTY)) !=
	    nullptr) {
		switch (icalproperty_get_class(p)) {
		case ICAL_CLASS_PUBLIC:
			out += "CLASS:PUBLIC\r\n";
			break;
		case ICAL_CLASS_PRIVATE:
			out += "CLASS:PRIVATE\r\n";
			break;
		case ICAL_CLASS_CONFIDENTIAL:
			out += "CLASS:CONFIDENTIAL\r\n";
			break;
		default:
			lose(c, property_text(p));
			break;
		}
	}
	if (kind == VCAL_EVENTS) {
		p = icalcomponent_get_first_property(comp,
		    ICAL_PRIORITY_PROPERTY);
		if (p != nullptr && icalproperty_get_priority(p) > 0 &&
		    icalproperty_get_priority(p) <= 9)
			out += "PRIORITY:" +
			    std::to_string(icalproperty_get_priority(p)) +
			    "\r\n";
		put_status(c,
		    icalcomponent_get_first_property(comp,
			ICAL_STATUS_PROPERTY),
		    kind, false, out);
	}

	/* The repeats: one rule, and the occurrences it leaves out. */
	int rules = 0;
	for (p = icalcomponent_get_first_property(comp, ICAL_RRULE_PROPERTY);
	     p != nullptr;
	     p = icalcomponent_get_next_property(comp, ICAL_RRULE_PROPERTY)) {
		std::string rule, why;
		if (!c.start.set) {
			lose(c, property_text(p) + " (a rule without a start)");
		} else if (++rules > 1) {
			lose(c, property_text(p) + " (a second rule)");
		} else if (rule_text(c, icalproperty_get_rrule(p), rule, why)) {
			put_line(out, "RRULE:", rule);
		} else {
			lose(c, property_text(p) + " (" + why + ")",
			    "written as its first occurrence alone");
			rules = -1000; /* and so without its exceptions */
		}
	}
	if (rules > 0) {
		for (p = icalcomponent_get_first_property(comp,
			 ICAL_EXDATE_PROPERTY);
		     p != nullptr; p = icalcomponent_get_next_property(comp,
				       ICAL_EXDATE_PROPERTY)) {
			vtime v = property_time(c, p);
			if (v.set)
				c.exdates.push_back(v.text);
		}
	}

	for (icalcomponent *a =
		 icalcomponent_get_first_component(comp, ICAL_VALARM_COMPONENT);
	     a != nullptr;
	     a = icalcomponent_get_next_component(comp, ICAL_VALARM_COMPONENT))
		put_alarm(c, a, kind == VCAL_EVENTS ? end : due, out);

	/* What is left: known to be nothing, or named. */
	for (p = icalcomponent_get_first_property(comp, ICAL_ANY_PROPERTY);
	     p != nullptr;
	     p = icalcomponent_get_next_property(comp, ICAL_ANY_PROPERTY)) {
		icalproperty_kind k = icalproperty_isa(p);
		switch (k) {
		case ICAL_DTSTART_PROPERTY:
		case ICAL_SUMMARY_PROPERTY:
		case ICAL_DESCRIPTION_PROPERTY:
		case ICAL_LOCATION_PROPERTY:
		case ICAL_CATEGORIES_PROPERTY:
		case ICAL_URL_PROPERTY:
		case ICAL_CLASS_PROPERTY:
		case ICAL_PRIORITY_PROPERTY:
		case ICAL_STATUS_PROPERTY:
		case ICAL_RRULE_PROPERTY:
		case ICAL_EXDATE_PROPERTY:
		case ICAL_DURATION_PROPERTY:
		case ICAL_RECURRENCEID_PROPERTY:
			break;
		case ICAL_XLICERROR_PROPERTY:
			/* An empty value, which carries nothing anyway. */
			if (strncmp(or_empty(icalproperty_get_xlicerror(p)),
				"No value for ", 13) != 0)
				lose(c, loss_name(p));
			break;
		case ICAL_DTEND_PROPERTY:
			if (kind != VCAL_EVENTS)
				lose(c, loss_name(p));
			break;
		case ICAL_DUE_PROPERTY:
		case ICAL_COMPLETED_PROPERTY:
			if (kind != VCAL_TODOS)
				lose(c, loss_name(p));
			break;
		case ICAL_PERCENTCOMPLETE_PROPERTY:
			/* Nothing between not begun and done. */
			if (icalproperty_get_percentcomplete(p) != 0 &&
			    icalproperty_get_percentcomplete(p) != 100)
				lose(c, property_text(p));
			break;
		default:
			if (!bookkeeping(k))
				lose(c, loss_name(p));
			break;
		}
	}
	for (icalcomponent *sub =
		 icalcomponent_get_first_component(comp, ICAL_ANY_COMPONENT);
	     sub != nullptr;
	     sub = icalcomponent_get_next_component(comp, ICAL_ANY_COMPONENT))
		if (icalcomponent_isa(sub) != ICAL_VALARM_COMPONENT)
			lose(c,
			    std::string("a ") +
				or_empty(icalcomponent_kind_to_string(
				    icalcomponent_isa(sub))) +
				" inside it");
}

/* Where the errors of the vCalendar 1.0 reader go: nowhere but here. */
std::string versit_errors;

void
note_versit_error(char *message)
{
	/* Said at the end of every parse, whatever the input. */
	if (strncmp(message, "pop on empty Object Stack", 25) != 0)
		versit_errors += message;
}

void components_of(icalcomponent *root, icalcomponent_kind want,
    std::vector<icalcomponent *> &comps);

/* The text of a versit property, "" when it has none. */
std::string
versit_text(VObject *o)
{
	std::string s;
	if (o == nullptr)
		return s;
	if (vObjectValueType(o) == VCVT_STRINGZ) {
		s = vObjectStringZValue(o);
	} else if (vObjectValueType(o) == VCVT_USTRINGZ) {
		char *t = fakeCString(vObjectUStringZValue(o));
		if (t != nullptr)
			s = t;
		deleteStr(t);
	}
	return s;
}

std::string
versit_part(VObject *o, const char *name)
{
	return versit_text(isAPropertyOf(o, name));
}

/* The components of one kind of a versit calendar, in their order. */
std::vector<VObject *>
versit_components(VObject *calendar, const char *name)
{
	std::vector<VObject *> v;
	VObjectIterator i;
	initPropIterator(&i, calendar);
	while (moreIteration(&i)) {
		VObject *o = nextVObject(&i);
		if (strcmp(vObjectName(o), name) == 0)
			v.push_back(o);
	}
	return v;
}

/*
 * What libical's conversion of vCalendar 1.0 gets wrong, put right from
 * the versit objects: it drops every AALARM without a sound, which is how
 * devices write them.  The alarms are made again from their versit
 * parts; a time that cannot be read becomes a line libical could not
 * read, so that it is named.  (The floating times of alarms, COMPLETED
 * and a rule's end it takes as the local time of TZ and turns into UTC,
 * which comes back as the same local time.)
 */
void
versit_mend(VObject *o, icalcomponent *comp)
{
	std::vector<icalcomponent *> made;
	for (icalcomponent *a =
		 icalcomponent_get_first_component(comp, ICAL_VALARM_COMPONENT);
	     a != nullptr;
	     a = icalcomponent_get_next_component(comp, ICAL_VALARM_COMPONENT))
		made.push_back(a);
	for (icalcomponent *a : made) {
		icalcomponent_remove_component(comp, a);
		icalcomponent_free(a);
	}

	VObjectIterator i;
	initPropIterator(&i, o);
	while (moreIteration(&i)) {
		VObject *p = nextVObject(&i);
		const char *name = vObjectName(p);
		icalproperty_action action;
		if (strcmp(name, "AALARM") == 0)
			action = ICAL_ACTION_AUDIO;
		else if (strcmp(name, "DALARM") == 0)
			action = ICAL_ACTION_DISPLAY;
		else if (strcmp(name, "PALARM") == 0)
			action = ICAL_ACTION_PROCEDURE;
		else if (strcmp(name, "MALARM") == 0)
			action = ICAL_ACTION_EMAIL;
		else
			continue;
		std::string run = versit_part(p, "RUNTIME");
		icaltriggertype t = {};
		t.time = icaltime_from_string(run.c_str());
		if (icaltime_is_null_time(t.time)) {
			std::string why =
			    std::string(name) + " at `" + run + "'";
			icalcomponent_add_property(comp,
			    icalproperty_new_xlicerror(why.c_str()));
			continue;
		}
		icalcomponent *a = icalcomponent_new(ICAL_VALARM_COMPONENT);
		icalcomponent_add_property(a, icalproperty_new_action(action));
		icalcomponent_add_property(a, icalproperty_new_trigger(t));
		std::string snooze = versit_part(p, "SNOOZETIME");
		std::string count = versit_part(p, "REPEATCOUNT");
		if (!snooze.empty() && atoi(count.c_str()) > 0) {
			icalcomponent_add_property(a,
			    icalproperty_new_duration(
				icaldurationtype_from_string(snooze.c_str())));
			icalcomponent_add_property(a,
			    icalproperty_new_repeat(atoi(count.c_str())));
		}
		std::string text = versit_part(p, "DISPLAYSTRING");
		if (!text.empty())
			icalcomponent_add_property(a,
			    icalproperty_new_description(text.c_str()));
		icalcomponent_add_component(comp, a);
	}

	/* The encodings it decoded, it also reports as unsupported. */
	std::vector<icalproperty *> noise;
	for (icalproperty *e = icalcomponent_get_first_property(comp,
		 ICAL_XLICERROR_PROPERTY);
	     e != nullptr; e = icalcomponent_get_next_property(comp,
			       ICAL_XLICERROR_PROPERTY)) {
		const char *why = icalproperty_get_xlicerror(e);
		if (why != nullptr &&
		    (strcmp(why, "Unsupported vCal property: ENCODING") == 0 ||
			strcmp(why, "Unsupported vCal property: CHARSET") == 0))
			noise.push_back(e);
	}
	for (icalproperty *e : noise) {
		icalcomponent_remove_property(comp, e);
		icalproperty_free(e);
	}
}

/* Each component of a converted calendar mended from its versit object. */
void
versit_mend_all(VObject *calendar, icalcomponent *converted)
{
	static const struct {
		const char *name;
		icalcomponent_kind kind;
	} kinds[] = { { "VEVENT", ICAL_VEVENT_COMPONENT },
		{ "VTODO", ICAL_VTODO_COMPONENT } };

	for (const auto &k : kinds) {
		std::vector<VObject *> from =
		    versit_components(calendar, k.name);
		std::vector<icalcomponent *> to;
		components_of(converted, k.kind, to);
		/* Paired by their order, so only when none went missing. */
		if (from.size() != to.size())
			continue;
		for (size_t i = 0; i < from.size(); i++)
			versit_mend(from[i], to[i]);
	}
}

bool
holds_nocase(std::string_view s, std::string_view what)
{
	for (size_t i = 0; i + what.size() <= s.size(); i++) {
		size_t k = 0;
		while (k < what.size() &&
		    (s[i + k] == what[k] ||
			(s[i + k] >= 'a' && s[i + k] <= 'z' &&
			    s[i + k] - 'a' + 'A' == what[k])))
			k++;
		if (k == what.size())
			return true;
	}
	return false;
}

bool
hex_digit(char c)
{
	return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') ||
	    (c >= 'a' && c <= 'f');
}

/* What may stand in a property's name and parameters. */
bool
head_char(char c)
{
	return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
	    (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ';' ||
	    c == '=' || c == '.' || c == ',' || c == '/' || c == '+';
}

/*
 * libical's versit reader is the least sure-footed part of the way in:
 * on a quoted-printable '=' that two digits or capitals A to F do not
 * follow, or on the byte 0xFF, it never comes back and grows
 * its memory all the while, and what it makes of a line that is not a
 * property depends on what came before.  So it gets only plain lines: a
 * name and parameters of letters, digits and -_;=.,/+ up to the ':', a
 * value to the line's end, continued by a line that a blank begins
 * (folding) or, in quoted-printable, after a soft break; anything else is
 * refused, with its line.  In quoted-printable, hex digits in small
 * letters are given to it in capitals, and an '=' that two hex digits do
 * not follow (nor the line's end) can only stand for itself and is given
 * as =3D.
 */
bool
versit_safe(const std::string &text, std::string &out, std::string &fault)
{
	bool qp = false, soft = false, any = false;
	size_t i = 0;
	int number = 0;

	out.clear();
	out.reserve(text.size());
	while (i < text.size()) {
		size_t eol = text.find_first_of("\r\n", i);
		if (eol == std::string::npos)
			eol = text.size();
		std::string_view line(text.data() + i, eol - i);
		number++;
		size_t value = 0;
		if (line.find('\xFF') != std::string_view::npos) {
			fault = "line " + std::to_string(number) +
			    " holds the byte 0xFF";
			return false;
		}
		bool continued = any &&
		    (soft ||
			(!line.empty() && (line[0] == ' ' || line[0] == '\t')));
		if (!continued && !line.empty()) {
			size_t colon = line.find(':');
			size_t k = 0;
			while (
			    k < line.size() && k != colon && head_char(line[k]))
				k++;
			if (colon == std::string_view::npos || k != colon ||
			    colon == 0) {
				fault = "line " + std::to_string(number) +
				    " is not a property";
				return false;
			}
			qp = holds_nocase(line.substr(0, colon),
			    "QUOTED-PRINTABLE");
			value = colon + 1;
			any = true;
		}
		for (size_t k = 0; k < line.size(); k++) {
			out += line[k];
			if (!qp || k < value || line[k] != '=' ||
			    k + 1 == line.size())
				continue;
			/* Two hex digits, in capitals; else the '=' itself. */
			if (k + 2 < line.size() && hex_digit(line[k + 1]) &&
			    hex_digit(line[k + 2])) {
				for (int n = 0; n < 2; n++) {
					char d = line[++k];
					out += d >= 'a' && d <= 'f'
					    ? (char)(d - 'a' + 'A')
					    : d;
				}
			} else {
				out += "3D";
			}
		}
		soft = qp && !line.empty() && line.back() == '=' &&
		    (continued || line.size() > value);
		i = eol;
		if (i < text.size() && text[i] == '\r')
			out += text[i++];
		if (i < text.size() && text[i] == '\n')
			out += text[i++];
	}
	return true;
}

/*
 * The calendars of an input: iCalendar's parser first; a calendar that
 * says it is vCalendar 1.0 goes to libical's versit reader, whose
 * conversion gives iCalendar components again.
 */
bool
parse(const std::string &text, std::vector<icalcomponent *> &calendars,
    std::string &fault)
{
	icalcomponent *root = icalparser_parse_string(text.c_str());
	if (root == nullptr) {
		fault = "is not an iCalendar or vCalendar file";
		return false;
	}
	std::vector<icalcomponent *> found;
	if (icalcomponent_isa(root) == ICAL_VCALENDAR_COMPONENT)
		found.push_back(root);
	else
		for (icalcomponent *c = icalcomponent_get_first_component(root,
			 ICAL_VCALENDAR_COMPONENT);
		     c != nullptr; c = icalcomponent_get_next_component(root,
				       ICAL_VCALENDAR_COMPONENT))
			found.push_back(c);
	bool version1 = false;
	for (icalcomponent *c : found) {
		icalproperty *v =
		    icalcomponent_get_first_property(c, ICAL_VERSION_PROPERTY);
		const char *s =
		    v != nullptr ? icalproperty_get_version(v) : nullptr;
		if (s != nullptr && strcmp(s, "1.0") == 0)
			version1 = true;
	}
	if (found.empty()) {
		icalcomponent_free(root);
		fault = "is not an iCalendar or vCalendar file";
		return false;
	}
	if (!version1) {
		calendars.push_back(root);
		return true;
	}
	icalcomponent_free(root);

	versit_errors.clear();
	registerMimeErrorHandler(note_versit_error);
	std::string safe;
	if (!versit_safe(text, safe, fault)) {
		fault = "cannot be read as vCalendar 1.0: " + fault;
		return false;
	}
	VObject *list = Parse_MIME(safe.data(), (unsigned long)safe.size());
	if (list == nullptr || !versit_errors.empty()) {
		if (list != nullptr)
			cleanVObjects(list);
		fault = "cannot be read as vCalendar 1.0";
		if (!versit_errors.empty())
			fault += ": " + versit_errors;
		return false;
	}
	for (VObject *o = list; o != nullptr; o = nextVObjectInList(o)) {
		icalcomponent *c = icalvcal_convert(o);
		if (c != nullptr) {
			versit_mend_all(o, c);
			calendars.push_back(c);
		}
	}
	cleanVObjects(list);
	cleanStrTbl();
	return true;
}

/* The components of the kind in a calendar, or in each of an XROOT's. */
void
components_of(icalcomponent *root, icalcomponent_kind want,
    std::vector<icalcomponent *> &comps)
{
	if (icalcomponent_isa(root) != ICAL_VCALENDAR_COMPONENT) {
		for (icalcomponent *c = icalcomponent_get_first_component(root,
			 ICAL_VCALENDAR_COMPONENT);
		     c != nullptr; c = icalcomponent_get_next_component(root,
				       ICAL_VCALENDAR_COMPONENT))
			components_of(c, want, comps);
		return;
	}
	for (icalcomponent *c = icalcomponent_get_first_component(root, want);
	     c != nullptr; c = icalcomponent_get_next_component(root, want))
		comps.push_back(c);
}

/* Whether two components share a UID: one repeats, the other changes one. */
bool
same_uid(icalcomponent *a, icalcomponent *b)
{
	const char *x = icalcomponent_get_uid(a), *y = icalcomponent_get_uid(b);
	return x != nullptr && y != nullptr && strcmp(x, y) == 0;
}

} // namespace

bool
vcal_convert(std::string_view input, vcal_kind kind,
    std::vector<vcal_object> &objects, std::string &fault, bool tidy)
{
	tzset();
	objects.clear();
	if (input.find('\0') != std::string_view::npos) {
		fault = "is not a text file";
		return false;
	}
	std::string text(input);
	std::vector<icalcomponent *> calendars;
	if (!parse(text, calendars, fault))
		return false;

	icalcomponent_kind want =
	    kind == VCAL_EVENTS ? ICAL_VEVENT_COMPONENT : ICAL_VTODO_COMPONENT;
	std::vector<icalcomponent *> comps;
	for (icalcomponent *root : calendars)
		components_of(root, want, comps);

	std::vector<conversion> convs(comps.size());
	objects.resize(comps.size());
	for (size_t i = 0; i < comps.size(); i++) {
		conversion &c = convs[i];
		c.comp = comps[i];
		c.obj = &objects[i];
		const char *summary = first_text(c.comp, ICAL_SUMMARY_PROPERTY);
		c.obj->ref = component_ref(kind, (int)i + 1, summary);
		convert_component(c, kind);
		if (c.has_summary) {
			c.obj->named = true;
			c.obj->name = object_name(c.summary);
		}
	}

	/*
	 * A changed occurrence of a repeating component comes as a component
	 * of its own with the same UID and a RECURRENCE-ID: it is written as
	 * the single event it has become, and the repeating one leaves that
	 * occurrence out.
	 */
	for (size_t i = 0; i < comps.size(); i++) {
		icalproperty *rid = icalcomponent_get_first_property(comps[i],
		    ICAL_RECURRENCEID_PROPERTY);
		if (rid == nullptr)
			continue;
		if (icalproperty_get_first_parameter(rid,
			ICAL_RANGE_PARAMETER) != nullptr)
			lose(convs[i],
			    property_text(rid) +
				" (a change to every later occurrence)");
		for (size_t j = 0; j < comps.size(); j++) {
			if (j == i || !same_uid(comps[i], comps[j]) ||
			    icalcomponent_get_first_property(comps[j],
				ICAL_RECURRENCEID_PROPERTY) != nullptr)
				continue;
			vtime v = property_time(convs[j], rid);
			if (v.set)
				convs[j].exdates.push_back(v.text);
		}
	}
	for (conversion &c : convs) {
		std::string &out = c.obj->payload;
		for (const std::string &x : c.exdates)
			put_line(out, "EXDATE:", x);
		out += kind == VCAL_EVENTS ? "END:VEVENT\r\n" : "END:VTODO\r\n";
		out += "END:VCALENDAR\r\n";
	}

	/*
	 * Kept where they can still be reached, by a list that no destructor
	 * at exit takes away: nothing lost, only left.
	 */
	static std::vector<icalcomponent *> *kept =
	    new std::vector<icalcomponent *>;
	for (icalcomponent *root : calendars)
		if (tidy)
			icalcomponent_free(root);
		else
			kept->push_back(root);
	if (objects.empty()) {
		fault =
		    kind == VCAL_EVENTS ? "holds no event" : "holds no to-do";
		return false;
	}
	return true;
}
