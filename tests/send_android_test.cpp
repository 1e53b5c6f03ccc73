/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Every program's object through fmt-send into a scripted receiver that
 * keeps the rules of Android's Object Push server, the receiver most
 * phones run today, on a socketpair (fd:N).  As Android's OBEX layer does,
 * it answers Continue until a packet brings payload or is the final one,
 * and then decides on all the headers it has:
 *
 *   no Length                      Internal Server Error (0xD0): the
 *                                  missing value fails a comparison
 *   a Length of 0                  Length Required (0xCB)
 *   no Name, or an empty one       Bad Request (0xC0)
 *   no '.' in the Name, no Type    Bad Request (0xC0)
 *   the type: from the Name's extension (lower-cased) when it is one of
 *   vcf, vcs, ics, txt, else from the Type header; none, or one outside
 *   its list                       Unsupported Media Type (0xCF)
 *
 * and it stores the payload up to the Length announced.  fmt-send must
 * complete each object so that it is taken, byte-exact; with -r each goes
 * as it came and is refused as Android refuses the programs' own output.
 */
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "device.h"
#include "obex_walk.h"
#include "runner.h"

namespace
{

/* What the receiver did with one PUT. */
struct Taken {
	int answer = 0; /* Success (0xA0) when stored, else the refusal */
	std::string headers; /* all but Body, End of Body, Connection ID */
	std::string stored;
};

/* The part of a Name after its last '.', lower-cased, or nullopt. */
std::optional<std::string>
extension(const std::string &name)
{
	size_t dot = name.rfind('.');
	if (dot == std::string::npos)
		return std::nullopt;
	std::string e = name.substr(dot + 1);
	for (char &c : e)
		if (c >= 'A' && c <= 'Z')
			c = (char)(c - 'A' + 'a');
	return e;
}

/* Android's acceptance list, the entries that matter here. */
bool
acceptable(std::string_view type)
{
	static const char *const list[] = { "image/*", "video/*", "audio/*",
		"text/x-vcard", "text/x-vcalendar", "text/calendar",
		"text/plain", "text/html", "text/xml", "application/zip",
		"application/pdf" };
	for (std::string_view l : list) {
		if (l.back() == '*' ? type.substr(0, l.size() - 1) ==
			    l.substr(0, l.size() - 1)
				    : type == l)
			return true;
	}
	return false;
}

/* The headers that the decision reads, gathered over packets. */
struct Seen {
	std::optional<std::string> name; /* each unit's low byte */
	std::optional<std::string> type; /* without its final zero */
	std::optional<uint32_t> length;
};

int
decide(const Seen &s)
{
	if (!s.length)
		return 0xD0;
	if (*s.length == 0)
		return 0xCB;
	if (!s.name || s.name->empty())
		return 0xC0;
	std::optional<std::string> ext = extension(*s.name);
	if (!ext && !s.type)
		return 0xC0;
	std::string type;
	if (ext == "vcf")
		type = "text/x-vcard";
	else if (ext == "vcs")
		type = "text/x-vcalendar";
	else if (ext == "ics")
		type = "text/calendar";
	else if (ext == "txt")
		type = "text/plain";
	else if (s.type)
		type = *s.type;
	return !type.empty() && acceptable(type) ? 0xA0 : 0xCF;
}

/* Plays the receiver on fd until DISCONNECT or the end of the link. */
std::vector<Taken>
play_android(int fd)
{
	std::vector<Taken> taken;
	Seen seen;
	bool in_put = false, decided = false;
	for (;;) {
		std::string req = read_request(fd);
		if (req.size() < 3)
			break;
		int op = (unsigned char)req[0];
		std::string answer = packet(0xA0);
		if (op == 0x80) {
			/* Android's own packet size. */
			answer = connected(0xFFFE);
		} else if ((op & 0x7F) == 0x02) {
			if (!in_put) {
				taken.emplace_back();
				seen = {};
				in_put = true;
				decided = false;
			}
			Taken &t = taken.back();
			bool payload = false;
			bool ok = true;
			for (const ObexPiece &p :
			    obex_walk(std::string_view(req).substr(3), ok)) {
				if (p.id == 0x48 || p.id == 0x49) {
					payload = true;
					t.stored += p.data;
					continue;
				}
				if (p.id == 0xCB)
					continue;
				t.headers += p.header;
				if (p.id == 0x01) {
					std::string n;
					for (size_t i = 1;
					     i + 2 < p.data.size(); i += 2)
						n += p.data[i];
					seen.name = n;
				} else if (p.id == 0x42) {
					std::string_view v = p.data;
					if (!v.empty() && v.back() == '\0')
						v.remove_suffix(1);
					seen.type = std::string(v);
				} else if (p.id == 0xC3) {
					uint32_t v = 0;
					for (unsigned char c : p.data)
						v = v << 8 | c;
					seen.length = v;
				}
			}
			EXPECT_TRUE(ok) << "a PUT packet that does not frame";
			bool final = op == 0x82;
			int code = final ? 0xA0 : 0x90;
			if (!decided && (payload || final)) {
				decided = true;
				int verdict = decide(seen);
				if (verdict != 0xA0)
					code = verdict;
			}
			if (code != 0x90 && code != 0xA0)
				t.stored.clear();
			t.answer = code;
			if (code != 0x90)
				in_put = false;
			/* What it keeps: the payload up to the Length. */
			if (seen.length && t.stored.size() > *seen.length)
				t.stored.resize(*seen.length);
			answer = packet(code);
		}
		write_all(fd, answer);
		if (op == 0x81)
			break;
	}
	return taken;
}

struct AndroidRun {
	RunResult run;
	std::vector<Taken> taken;
};

AndroidRun
android(const std::vector<std::string> &options, const std::string &object)
{
	int sv[2];
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
		ADD_FAILURE() << "socketpair: " << strerror(errno);
		return {};
	}
	fcntl(sv[1], F_SETFD, 0);
	std::vector<std::string> args = options;
	args.push_back("fd:" + std::to_string(sv[1]));
	Child child = start_send(args, object);
	close(sv[1]);
	std::vector<Taken> taken = play_android(sv[0]);
	close(sv[0]);
	return { finish_send(child), taken };
}

/* One program's object, and what becomes of it with and without -r. */
struct Phone {
	const char *name;
	const char *program;
	std::vector<std::string> args;
	std::string input = {};
	std::string
	    added = {}; /* the headers fmt-send puts before the payload */
	std::string said = {}; /* -v's line about them, without "NAME: " */
	int answer = 0xA0; /* Android's answer to the completed object */
	int raw = 0; /* and to the object as the program wrote it */
	std::string file = {}; /* for fmt-database, written out, path last */
};

void
PrintTo(const Phone &p, std::ostream *os)
{
	*os << p.name;
}

const LongText long_memo = long_text();

const Phone phones[] = {
	{ .name = "Memo",
	    .program = "fmt-memo",
	    .args = { "-n", "Shopping", "milk", "eggs" },
	    .added = type_header("text/plain") + length_header(11),
	    .said = "added Type text/plain and Length 11",
	    .raw = 0xD0 },
	/* Full Body headers and an End-of-Body: held, then counted. */
	{ .name = "MemoOfSeveralHeaders",
	    .program = "fmt-memo",
	    .args = { "-n", "Notes" },
	    .input = long_memo.input,
	    .added = type_header("text/plain") + length_header(70700),
	    .said = "added Type text/plain and Length 70700",
	    .raw = 0xD0 },
	/* The extension first, whatever its case, then the Creator ID. */
	{ .name = "MemoNamedWithAnExtension",
	    .program = "fmt-memo",
	    .args = { "-n", "Trip.ICS", "x" },
	    .added = type_header("text/calendar") + length_header(3),
	    .said = "added Type text/calendar and Length 3",
	    .raw = 0xD0 },
	{ .name = "MemoNamedWithADotInside",
	    .program = "fmt-memo",
	    .args = { "-n", "Dr. Lee", "x" },
	    .added = type_header("text/plain") + length_header(3),
	    .said = "added Type text/plain and Length 3",
	    .raw = 0xD0 },
	/* Android takes no object without a Name, and none that is empty. */
	{ .name = "MemoUnnamed",
	    .program = "fmt-memo",
	    .args = { "x" },
	    .added = type_header("text/plain") + length_header(3),
	    .said = "added Type text/plain and Length 3",
	    .answer = 0xC0,
	    .raw = 0xD0 },
	{ .name = "MemoEmpty",
	    .program = "fmt-memo",
	    .args = { "-n", "Empty" },
	    .added = type_header("text/plain") + length_header(0),
	    .said = "added Type text/plain and Length 0",
	    .answer = 0xCB,
	    .raw = 0xD0 },
	{ .name = "Address",
	    .program = "fmt-address",
	    .args = { "-f", "Ann", "-l", "Lee", "-c", "Oslo" },
	    .added = type_header("text/x-vcard"),
	    .said = "added Type text/x-vcard",
	    .raw = 0xC0 },
	{ .name = "Date",
	    .program = "fmt-date",
	    .args = { "-n", "Team", "-d", "20240315", "-t", "0930-1030", "Team",
		"meeting" },
	    .added = type_header("text/x-vcalendar") + length_header(145),
	    .said = "added Type text/x-vcalendar and Length 145",
	    .raw = 0xD0 },
	{ .name = "Todo",
	    .program = "fmt-todo",
	    .args = { "-n", "Milk", "-d", "20240315", "Buy", "milk" },
	    .added = type_header("text/x-vcalendar") + length_header(160),
	    .said = "added Type text/x-vcalendar and Length 160",
	    .raw = 0xD0 },
	{ .name = "Phonecard",
	    .program = "fmt-phonecard",
	    .args = { "-n", "Home", "-t", "555-0100" },
	    .added = type_header("text/x-vcard") + length_header(59),
	    .said = "added Type text/x-vcard and Length 59",
	    .raw = 0xD0 },
	/* A Palm database is no type Android takes: it goes as it is. */
	{ .name = "Database",
	    .program = "fmt-database",
	    .args = {},
	    .answer = 0xC0,
	    .raw = 0xC0,
	    .file = palm_file("Sample", 1700) },
};

class AndroidTakes : public testing::TestWithParam<Phone>
{
};

/* The headers of an object other than its payload's, in their order. */
std::string
headers_of(std::string_view object)
{
	bool framed;
	std::string h;
	for (const ObexPiece &p : obex_walk(object, framed))
		if (p.id != 0x48 && p.id != 0x49)
			h += p.header;
	EXPECT_TRUE(framed);
	return h;
}

std::string
refusal(int code)
{
	return code == 0xD0 ? "Internal Server Error (0xD0)"
	    : code == 0xC0  ? "Bad Request (0xC0)"
	    : code == 0xCB  ? "Length Required (0xCB)"
			    : "Unsupported Media Type (0xCF)";
}

} // namespace

TEST_P(AndroidTakes, WhatFmtSendCompletes)
{
	const Phone &p = GetParam();
	std::vector<std::string> args = p.args;
	if (!p.file.empty()) {
		std::string path = temp_dir() + "/" + p.name + ".pdb";
		write_file(path, p.file);
		args.push_back(path);
	}
	std::string object = output_of(p.program, args, p.input);
	bool ok;
	std::string payload = obex_payload(object, ok);
	ASSERT_TRUE(ok);
	/* The object as messages name it. */
	std::string shown = "object 1", named = "object 1";
	for (const ObexPiece &h : obex_walk(object, ok))
		if (h.id == 0x01) {
			shown.clear();
			for (size_t i = 1; i + 2 < h.data.size(); i += 2)
				shown += h.data[i];
			named = "`" + shown + "'";
		}

	for (bool raw : { false, true }) {
		SCOPED_TRACE(raw ? "-r" : "completed");
		AndroidRun a =
		    android(raw ? std::vector<std::string>{ "-r", "-v" }
				: std::vector<std::string>{ "-v" },
			object);
		ASSERT_EQ(a.taken.size(), 1u) << a.run.err;
		const Taken &t = a.taken[0];
		int want = raw ? p.raw : p.answer;
		EXPECT_EQ(t.answer, want);
		EXPECT_EQ(printable(t.headers),
		    printable(headers_of(object) + (raw ? "" : p.added)));
		if (want == 0xA0) {
			EXPECT_EQ(a.run.status, 0) << a.run.err;
			EXPECT_TRUE(t.stored == payload)
			    << t.stored.size() << " bytes stored of "
			    << payload.size();
		} else {
			EXPECT_EQ(a.run.status, 1);
			EXPECT_NE(a.run.err.find(
				      "fmt-send: the device refused " + named +
				      ": " + refusal(want) + "\n"),
			    std::string::npos)
			    << a.run.err;
		}
		/* -v names what was added; nothing, when nothing was. */
		std::vector<std::string> said;
		for (size_t at = 0, end;
		     (end = a.run.err.find('\n', at)) != std::string::npos;
		     at = end + 1)
			if (a.run.err.find(": added ", at) < end)
				said.push_back(a.run.err.substr(at, end - at));
		if (raw || p.said.empty())
			EXPECT_TRUE(said.empty()) << a.run.err;
		else
			EXPECT_EQ(said,
			    std::vector<std::string>{ shown + ": " + p.said });
	}
}

INSTANTIATE_TEST_SUITE_P(Programs, AndroidTakes, testing::ValuesIn(phones),
    CaseName());

/*
 * A payload cut into small Body headers (a database from a pipe) gives no
 * size before its end: such an object goes as it is.
 */
TEST(AndroidTakesNot, ADatabaseOfUnknownSize)
{
	std::string object = name_header("Piped") + creator_header("lnch");
	for (int i = 0; i < 3; i++)
		object += body_header(std::string(500, (char)('a' + i)));
	object += end_of_body("");
	AndroidRun a = android({ "-v" }, object);
	ASSERT_EQ(a.taken.size(), 1u) << a.run.err;
	EXPECT_EQ(a.taken[0].answer, 0xD0);
	EXPECT_EQ(printable(a.taken[0].headers), printable(headers_of(object)));
	EXPECT_EQ(a.run.status, 1);
	EXPECT_EQ(a.run.err.find(": added "), std::string::npos) << a.run.err;
}
