/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-send against a scripted receiver: the test plays the device on the
 * other end of a socketpair (fd:N) or of a pseudo-terminal (tty:PATH),
 * answers each request as the case says, and keeps every request it got.
 * So each fault a device can show is met on purpose: a refused CONNECT, a
 * refusal at a chosen packet, silence, a hang-up, a Connection ID to
 * echo, a small packet size; and an input that is cut off must be
 * ABORTed.  The command line, the destinations and the failures to
 * connect are checked through the program's messages.
 */
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client.h"
#include "device.h"
#include "obex_walk.h"
#include "runner.h"
#include "link.h"

namespace
{

const std::string usage =
    "Send OBEX objects from stdin or file to a device\n"
    "Usage: fmt-send [-rv] [-m size] [-w seconds] destination [file]\n";

/* fmt-memo -n Shopping with milk and eggs: 41 bytes. */
const std::string shopping = name_header("Shopping") +
    hex("CF 6D 65 6D 6F 49 00 0F") + "milk\r\neggs\r\n";
const std::string shopping_headers =
    name_header("Shopping") + hex("CF 6D 65 6D 6F");

/* A memo of `size` bytes as fmt-memo writes it: full Body headers. */
std::string
memo_object(size_t size)
{
	std::string text;
	for (size_t i = 0; i < size; i++)
		text += (char)('a' + i % 23);
	std::string object = hex("CF 6D 65 6D 6F");
	size_t at = 0;
	for (; size - at > 65532; at += 65532)
		object += "\x48" + be16(65535) + text.substr(at, 65532);
	return object + "\x49" + be16((unsigned)(size - at + 3)) +
	    text.substr(at);
}

const std::string success = packet(0xA0);
const std::string cont = packet(0x90);

/*
 * What the device does at a PUT packet, counted from 1 over all PUTs: it
 * answers, stays silent after reading it, hangs up, or stops reading
 * before it (and holds the link open until fmt-send is done).
 */
enum Act { ANSWER, SILENCE, HANG_UP, STALL };

struct Script {
	std::string connect_response = connected(65535);
	int at = 0; /* the PUT packet that gets `act` or `refusal` */
	Act act = ANSWER;
	int refusal = 0; /* its response code, if it is answered */
	std::string answer = {}; /* or these bytes, if not empty */
	/* Reads 4 KiB at a time, ten times a second: a slow line. */
	bool slow = false;
	/* Sent to fmt-send when PUT packet `at` has come, before it is
	 * answered. */
	int signal = 0;
	bool silent_disconnect = false; /* DISCONNECT read, never answered */
};

/* What the device saw. */
struct Seen {
	std::vector<std::string> requests;
	std::string log; /* each request's code in hexadecimal */
};

/*
 * Plays the device on fd until DISCONNECT, the end of the link, or the
 * script's silence or hang-up.
 */
Seen
play(int fd, const Script &script, pid_t child = -1)
{
	Seen seen;
	int puts = 0;
	for (;;) {
		if (script.act == STALL && !seen.requests.empty() &&
		    puts + 1 == script.at)
			break;
		std::string req = read_request(fd, script.slow);
		if (req.empty())
			break;
		char code[8];
		snprintf(code, sizeof(code), "%s%02X",
		    seen.log.empty() ? "" : " ", (unsigned char)req[0]);
		seen.log += code;
		seen.requests.push_back(req);
		int op = (unsigned char)req[0];
		std::string answer = success;
		if (op == 0x80) {
			answer = script.connect_response;
		} else if ((op & 0x7F) == 0x02) {
			puts++;
			answer = op == 0x02 ? cont : success;
			if (puts == script.at) {
				if (script.signal != 0)
					kill(child, script.signal);
				if (script.act == SILENCE) {
					/* Until fmt-send gives up. */
					read_request(fd);
					break;
				}
				if (script.act == HANG_UP)
					break;
				if (!script.answer.empty())
					answer = script.answer;
				else if (script.refusal != 0)
					answer = packet(script.refusal);
			}
		}
		if (op == 0x81 && script.silent_disconnect) {
			/* Until fmt-send goes. */
			read_request(fd);
			break;
		}
		write_all(fd, answer);
		if (op == 0x81)
			break;
	}
	return seen;
}

/* One run against a device on a socketpair. */
struct Outcome {
	RunResult run;
	Seen seen;
};

Outcome
exchange(const std::vector<std::string> &options, const std::string &input,
    const Script &script)
{
	int sv[2];
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
		ADD_FAILURE() << "socketpair: " << strerror(errno);
		return {};
	}
	/* Only fmt-send's end goes to fmt-send. */
	fcntl(sv[1], F_SETFD, 0);
	/* A device that reads slowly, or not at all, must hold it up. */
	if (script.slow || script.act == STALL) {
		int size = 4096;
		setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
	}
	std::vector<std::string> args = options;
	args.push_back("fd:" + std::to_string(sv[1]));
	Child child = start_send(args, input);
	close(sv[1]);
	Seen seen = play(sv[0], script, child.pid);
	if (script.act != STALL)
		close(sv[0]);
	RunResult run = finish_send(child);
	if (script.act == STALL)
		close(sv[0]);
	return { run, seen };
}

/* The payload of a PUT: its Body and End-of-Body data, and the rest. */
struct Put {
	std::string headers; /* the headers other than Body, End of Body */
	std::string payload;
	bool ended = false; /* End of Body seen, in the final packet */
};

Put
reassemble(const std::vector<std::string> &requests, size_t &i, size_t mtu)
{
	Put put;
	for (; i < requests.size(); i++) {
		const std::string &p = requests[i];
		int op = (unsigned char)p[0];
		if ((op & 0x7F) != 0x02)
			break;
		EXPECT_LE(p.size(), mtu) << "a packet above the size";
		for (size_t at = 3; at < p.size();) {
			int id = (unsigned char)p[at];
			size_t len = (id & 0xC0) == 0xC0
			    ? 5
			    : (size_t)((unsigned char)p[at + 1] << 8 |
				  (unsigned char)p[at + 2]);
			if (len < 3 || at + len > p.size()) {
				ADD_FAILURE() << "a header that does not fit";
				return put;
			}
			if (id == 0x48 || id == 0x49) {
				EXPECT_FALSE(put.ended);
				EXPECT_FALSE(id == 0x48 && len == 3)
				    << "an empty Body header, of no use";
				put.payload += p.substr(at + 3, len - 3);
				put.ended = id == 0x49;
				EXPECT_EQ(id == 0x49, op == 0x82)
				    << "End of Body is in the final packet";
			} else if (id != 0xCB) {
				EXPECT_TRUE(put.payload.empty())
				    << "a header after the payload began";
				put.headers += p.substr(at, len);
			}
			at += len;
		}
		if (op == 0x82) {
			i++;
			break;
		}
	}
	return put;
}

} // namespace

TEST(SendScripted, DeliversAndDisconnects)
{
	Outcome o = exchange({}, shopping, {});
	EXPECT_EQ(o.run.err, "");
	EXPECT_EQ(o.run.status, 0);
	EXPECT_EQ(o.seen.log, "80 82 81");
	ASSERT_EQ(o.seen.requests.size(), 3u);
	/* OBEX 1.0, no flags, our size; no Target header. */
	EXPECT_EQ(o.seen.requests[0], packet(0x80, hex("10 00 FF FF")));
	/* The headers it lacked go before its payload. */
	EXPECT_EQ(printable(o.seen.requests[1]),
	    printable(packet(0x82,
		shopping_headers + type_header("text/plain") +
		    length_header(12) + end_of_body("milk\r\neggs\r\n"))));
	EXPECT_EQ(o.seen.requests[2], packet(0x81));
}

/*
 * -v: a line for each object, with its total when it has a Length, after
 * one that names the headers added to it, if any.
 */
TEST(SendScripted, VerboseSaysEachObject)
{
	std::string card = name_header("Ann Lee") + hex("C3 00 00 00 02") +
	    hex("49 00 05") + "hi";
	for (bool raw : { false, true }) {
		Outcome o =
		    exchange(raw ? std::vector<std::string>{ "-v", "-r" }
				 : std::vector<std::string>{ "-v" },
			shopping + card + hex("49 00 04 78"), {});
		EXPECT_EQ(o.run.status, 0);
		std::vector<std::string> lines;
		for (size_t at = 0, end;
		     (end = o.run.err.find('\n', at)) != std::string::npos;
		     at = end + 1)
			lines.push_back(o.run.err.substr(at, end - at));
		std::vector<std::string> want = raw
		    ? std::vector<std::string>{ "Shopping: 12 bytes, ",
			      "Ann Lee: 2 of 2 bytes, ", "object 3: 1 byte, " }
		    : std::vector<std::string>{
			      "Shopping: added Type text/plain and Length 12",
			      "Shopping: 12 of 12 bytes, ",
			      "Ann Lee: 2 of 2 bytes, ",
			      "object 3: added Length 1",
			      "object 3: 1 of 1 byte, ",
		      };
		ASSERT_EQ(lines.size(), want.size()) << o.run.err;
		for (size_t i = 0; i < want.size(); i++) {
			EXPECT_EQ(lines[i].rfind(want[i], 0), 0u) << lines[i];
			EXPECT_EQ(lines[i].find(": added ") ==
				std::string::npos,
			    lines[i].find("B/s") != std::string::npos)
			    << lines[i];
		}
	}
}

/* The Connection ID leads the first packet of every later request. */
TEST(SendScripted, EchoesTheConnectionId)
{
	std::string cid = hex("CB 12 34 56 78");
	Script script;
	script.connect_response = connected(65535, cid + hex("4A 00 05 AB CD"));
	std::string object = memo_object(70000);
	Outcome o = exchange({}, object + shopping, script);
	EXPECT_EQ(o.run.err, "");
	EXPECT_EQ(o.run.status, 0);
	EXPECT_EQ(o.seen.log, "80 02 82 82 81");
	for (size_t i = 1; i < o.seen.requests.size(); i++) {
		bool first = i != 2;
		EXPECT_EQ(o.seen.requests[i].compare(3, 5, cid) == 0, first)
		    << "request " << i;
	}
}

/*
 * A text in full Body headers is held back to be counted as long as it
 * fits the hold, and goes without a Length once it does not; whole either
 * way.
 */
TEST(SendScripted, CountsALongTextWhileItFitsTheHold)
{
	/* The most full Body headers the hold takes, and an End of Body. */
	size_t bodies = CLIENT_HOLD_MAX / 65532;
	for (size_t size : { (bodies + 1) * 65532, (bodies + 1) * 65532 + 1 }) {
		std::string object = memo_object(size);
		Outcome o = exchange({}, object, {});
		EXPECT_EQ(o.run.err, "");
		EXPECT_EQ(o.run.status, 0);
		size_t i = 1;
		Put put = reassemble(o.seen.requests, i, 65535);
		std::string added = type_header("text/plain");
		if (size == (bodies + 1) * 65532)
			added += length_header((uint32_t)size);
		EXPECT_EQ(printable(put.headers),
		    printable(hex("CF 6D 65 6D 6F") + added))
		    << size;
		bool ok;
		EXPECT_TRUE(put.payload == obex_payload(object, ok)) << size;
	}
}

/*
 * A slow line: the time allowed runs from the last byte the device took,
 * not from the start of a packet that takes longer than that to carry.
 */
TEST(SendScripted, WaitsForASlowLine)
{
	Script script;
	script.slow = true;
	Outcome o = exchange({ "-w", "1" }, memo_object(70000), script);
	EXPECT_EQ(o.run.err, "");
	EXPECT_EQ(o.run.status, 0);
	EXPECT_EQ(o.seen.log, "80 02 82 81");
}

/* The lesser of the two sizes, and the payload whole across packets. */
TEST(SendScripted, KeepsToTheDevicesPacketSize)
{
	std::string object = memo_object(2000);
	for (unsigned device : { 255u, 256u, 300u }) {
		Script script;
		script.connect_response = connected(device);
		Outcome o =
		    exchange({ "-m", "400" }, shopping + object, script);
		EXPECT_EQ(o.run.err, "");
		EXPECT_EQ(o.run.status, 0);
		ASSERT_GE(o.seen.requests.size(), 1u);
		EXPECT_EQ(o.seen.requests[0], packet(0x80, hex("10 00 01 90")));
		size_t i = 1;
		Put first = reassemble(o.seen.requests, i, device);
		Put second = reassemble(o.seen.requests, i, device);
		std::string memo_type = type_header("text/plain");
		EXPECT_EQ(first.headers,
		    shopping_headers + memo_type + length_header(12));
		EXPECT_EQ(first.payload, "milk\r\neggs\r\n");
		EXPECT_TRUE(second.headers ==
		    hex("CF 6D 65 6D 6F") + memo_type + length_header(2000));
		EXPECT_EQ(second.payload.size(), 2000u);
		EXPECT_TRUE(first.ended && second.ended);
		EXPECT_EQ(i + 1, o.seen.requests.size()) << "then DISCONNECT";
	}
}

struct Fault {
	const char *name;
	std::vector<std::string> options = {};
	std::string input;
	Script script = {};
	std::string err;
	std::string log;
};

void
PrintTo(const Fault &f, std::ostream *os)
{
	*os << f.name;
}

class SendFault : public testing::TestWithParam<Fault>
{
};

TEST_P(SendFault, IsNamed)
{
	const Fault &f = GetParam();
	Outcome o = exchange(f.options, f.input, f.script);
	EXPECT_EQ(o.run.err, f.err);
	EXPECT_EQ(o.run.status, 1);
	EXPECT_EQ(o.seen.log, f.log);
}

const std::string long_memo = memo_object(200000);
const std::string two_objects =
    shopping + name_header("Home.vcf") + hex("49 00 04 78");

/* An object whose Length says `length`, with `size` bytes of payload. */
std::string
announced(uint32_t length, size_t size)
{
	std::string object = name_header("big") + length_header(length);
	for (; size > 60000; size -= 60000)
		object += body_header(std::string(60000, 'b'));
	return object + end_of_body(std::string(size, 'e'));
}

const Fault faults[] = {
	{ .name = "ConnectRefused",
	    .input = shopping,
	    .script = { .connect_response = packet(0xC3) },
	    .err = "fmt-send: the device refused the connection: Forbidden "
		   "(0xC3)\n",
	    .log = "80" },
	{ .name = "ConnectAnsweredShort",
	    .input = shopping,
	    .script = { .connect_response = packet(0xA0, hex("10")) },
	    .err = "fmt-send: malformed response from the device: CONNECT "
		   "answered in 4 bytes\n",
	    .log = "80" },
	{ .name = "PacketSizeBelowTheLeast",
	    .input = shopping,
	    .script = { .connect_response = connected(254) },
	    .err = "fmt-send: malformed response from the device: packet size "
		   "254, less than 255\n",
	    .log = "80" },
	/* Garbage is malformed at its first three bytes, not silence. */
	{ .name = "GarbageForAnAnswer",
	    .input = shopping,
	    .script = { .connect_response = "hello world" },
	    .err = "fmt-send: malformed response from the device: code 0x68 "
		   "without its final bit\n",
	    .log = "80" },
	{ .name = "AnswerLongerThanOurPackets",
	    .options = { "-m", "255" },
	    .input = shopping,
	    .script = { .at = 1, .answer = packet(0xA0, std::string(253, 0)) },
	    .err = "fmt-send: malformed response from the device: length 256, "
		   "not 3 to 255\n",
	    .log = "80 82" },
	/* One request, one answer: a second one is no answer to the next. */
	{ .name = "BytesAfterAnAnswer",
	    .input = two_objects,
	    .script = { .at = 1, .answer = success + success },
	    .err = "fmt-send: malformed response from the device: more bytes "
		   "than its length says\n"
		   "fmt-send: 1 object was delivered before the failure\n",
	    .log = "80 82" },
	{ .name = "ResponseLengthTooShort",
	    .input = shopping,
	    .script = { .connect_response = hex("A0 00 02") },
	    .err = "fmt-send: malformed response from the device: length 2, "
		   "not 3 to 65535\n",
	    .log = "80" },
	{ .name = "ForbiddenAtTheLastPacket",
	    .input = shopping,
	    .script = { .at = 1, .refusal = 0xC3 },
	    .err = "fmt-send: the device refused `Shopping': Forbidden "
		   "(0xC3)\n",
	    .log = "80 82 81" },
	{ .name = "TooLargeAtTheSecondPacket",
	    .input = long_memo,
	    .script = { .at = 2, .refusal = 0xCD },
	    .err = "fmt-send: the device refused object 1: Request Entity Too "
		   "Large (0xCD)\n",
	    .log = "80 02 02 81" },
	{ .name = "RefusedAfterOneDelivered",
	    .input = two_objects,
	    .script = { .at = 2, .refusal = 0xCF },
	    .err = "fmt-send: the device refused `Home.vcf': Unsupported "
		   "Media Type (0xCF)\nfmt-send: 1 object was delivered "
		   "before the failure\n",
	    .log = "80 82 82 81" },
	{ .name = "UnknownResponse",
	    .input = shopping,
	    .script = { .at = 1, .refusal = 0xEE },
	    .err = "fmt-send: the device refused `Shopping': unknown response "
		   "(0xEE)\n",
	    .log = "80 82 81" },
	{ .name = "SuccessTooEarly",
	    .input = long_memo,
	    .script = { .at = 1, .refusal = 0xA0 },
	    .err = "fmt-send: the device answered Success (0xA0) to a packet "
		   "of object 1, not Continue\n",
	    .log = "80 02 81" },
	/* A refusal ends the PUT: nothing is left to ABORT. */
	{ .name = "RefusedAtAPacketOfHeadersAlone",
	    .input = name_header(std::string(122, 'n')) +
		hex("CF 6D 65 6D 6F 49 00 03"),
	    .script = { .connect_response = connected(255),
		.at = 1,
		.refusal = 0xC3 },
	    .err = "fmt-send: the device refused `" + std::string(95, 'n') +
		"': Forbidden (0xC3)\n",
	    .log = "80 02 81" },
	/* Continue to the final packet leaves the PUT open: ABORT it. */
	{ .name = "ContinueToTheFinalPacket",
	    .input = shopping,
	    .script = { .at = 1, .refusal = 0x90 },
	    .err = "fmt-send: the device answered Continue (0x90) to a packet "
		   "of `Shopping', not Success\n"
		   "fmt-send: `Shopping' was aborted\n",
	    .log = "80 82 FF 81" },
	{ .name = "Silence",
	    .options = { "-w", "1" },
	    .input = shopping,
	    .script = { .at = 1, .act = SILENCE },
	    .err = "fmt-send: no answer from the device within 1 second during "
		   "`Shopping'\n",
	    .log = "80 82" },
	/* The link is blocking, as a caller may hand it over. */
	{ .name = "DeviceTakesNothing",
	    .options = { "-w", "1" },
	    .input = long_memo,
	    .script = { .at = 1, .act = STALL },
	    .err = "fmt-send: the device took nothing within 1 second during "
		   "object 1\n",
	    .log = "80" },
	{ .name = "HangUpInsideAnObject",
	    .input = long_memo,
	    .script = { .at = 2, .act = HANG_UP },
	    .err = "fmt-send: the device hung up during object 1\n",
	    .log = "80 02 02" },
	{ .name = "HangUpAfterOneDelivered",
	    .input = two_objects,
	    .script = { .at = 2, .act = HANG_UP },
	    .err = "fmt-send: the device hung up during `Home.vcf'\n"
		   "fmt-send: 1 object was delivered before the failure\n",
	    .log = "80 82 82" },
	/* A header that no packet of the device can hold. */
	{ .name = "NameTooLongForThePackets",
	    .input = name_header(std::string(130, 'n')) + hex("49 00 03"),
	    .script = { .connect_response = connected(255) },
	    .err = "fmt-send: the Name header of `" + std::string(95, 'n') +
		"' (265 bytes) does not fit in the device's packets of 255 "
		"bytes\n",
	    .log = "80 81" },
	/* However long the name is shown, the sizes stay in the message. */
	{ .name = "NameOfEscapesTooLongForThePackets",
	    .input = name_header(std::string(130, '\x1B')) + hex("49 00 03"),
	    .script = { .connect_response = connected(255) },
	    .err =
		[] {
			std::string e;
			for (int i = 0; i < 95; i++)
				e += "\\x1B";
			return "fmt-send: the Name header of `" + e +
			    "' (265 bytes) does not fit in the device's "
			    "packets "
			    "of 255 bytes\n";
		}(),
	    .log = "80 81" },
	/* A wrong Length is found at the Body that passes it. */
	{ .name = "PayloadPassesItsLengthInTheFirstObject",
	    .input = announced(130000, 240000),
	    .err = "fmt-send: offset 11: Length header says 130000 bytes, the "
		   "payload has more\n"
		   "fmt-send: `big' was aborted\n",
	    .log = "80 02 FF 81" },
	{ .name = "PayloadPassesItsLengthInTheSecondObject",
	    .input = shopping + announced(10, 240000),
	    .err = "fmt-send: offset 52: Length header says 10 bytes, the "
		   "payload has more\n"
		   "fmt-send: 1 object was delivered before the failure\n",
	    .log = "80 82 81" },
	/* Packets have gone out: the device must hear that it is over. */
	{ .name = "InputCutOffInsideAnObject",
	    .options = { "-r" },
	    .input = long_memo.substr(0, 150000),
	    .err = "fmt-send: offset 131075: Body header's length 65535 runs "
		   "past the end of the input (18925 bytes left)\n"
		   "fmt-send: object 1 was aborted\n",
	    .log = "80 02 02 FF 81" },
	/* Held back to be counted, nothing of it has gone out. */
	{ .name = "InputCutOffWhileHeld",
	    .input = long_memo.substr(0, 150000),
	    .err = "fmt-send: offset 131075: Body header's length 65535 runs "
		   "past the end of the input (18925 bytes left)\n",
	    .log = "80 81" },
	{ .name = "InputMalformedInTheSecondObject",
	    .input = shopping + hex("01 00 04"),
	    .err = "fmt-send: offset 41: Name header's length 4 is less than "
		   "5\nfmt-send: 1 object was delivered before the failure\n",
	    .log = "80 82 81" },
	/*
	 * Nothing to send, or a first object whose headers or first
	 * packet's worth of payload are malformed: the device is never
	 * called.
	 */
	{ .name = "FirstObjectCutShort",
	    .input = shopping.substr(0, 39),
	    .err = "fmt-send: offset 26: End of Body header's length 15 runs "
		   "past the end of the input (13 bytes left)\n",
	    .log = "" },
	{ .name = "FirstObjectShorterThanItsLength",
	    .input = name_header("big") + length_header(3) + end_of_body("xy"),
	    .err = "fmt-send: offset 11: Length header says 3 bytes, the "
		   "payload has 2\n",
	    .log = "" },
	{ .name = "FirstObjectLongerThanItsLength",
	    .input = announced(10, 240000),
	    .err = "fmt-send: offset 11: Length header says 10 bytes, the "
		   "payload has more\n",
	    .log = "" },
	{ .name = "FirstObjectALoneBody",
	    .input = hex("48 00 04 78"),
	    .err = "fmt-send: offset 4: no End of Body header at the end of "
		   "the input\n",
	    .log = "" },
	{ .name = "FirstObjectCutInItsFirstPacket",
	    .input = long_memo.substr(0, 40000),
	    .err = "fmt-send: offset 5: Body header's length 65535 runs past "
		   "the end of the input (39995 bytes left)\n",
	    .log = "" },
	{ .name = "EmptyInput",
	    .input = "",
	    .err = "fmt-send: offset 0: the input is empty, no object at all\n",
	    .log = "" },
	{ .name = "MalformedFromTheStart",
	    .input = hex("42 00 03"),
	    .err = "fmt-send: offset 0: unknown header 0x42\n",
	    .log = "" },
};
INSTANTIATE_TEST_SUITE_P(Cases, SendFault, testing::ValuesIn(faults),
    CaseName());

/* A pseudo-terminal's master side, and the path of its slave. */
struct Pty {
	int master = -1;
	std::string slave;
};

Pty
open_pty()
{
	Pty p;
	p.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	if (p.master < 0 || grantpt(p.master) != 0 || unlockpt(p.master) != 0) {
		ADD_FAILURE() << "no pseudo-terminal: " << strerror(errno);
		return p;
	}
	p.slave = ptsname(p.master);
	return p;
}

/* Every byte value, and the bytes a terminal would take for controls. */
std::string
every_byte()
{
	std::string payload;
	for (int c = 0; c < 256; c++)
		payload += (char)c;
	return payload + "\r\n\n\r\x03\x04\x11\x13\x1A\x7F";
}

const std::string every_object = name_header("every") + "\x49" +
    be16((unsigned)every_byte().size() + 3) + every_byte();

/* A serial line in raw mode: every byte goes through as it is. */
TEST(SendSerial, EveryByteThroughAPseudoTerminal)
{
	Pty pty = open_pty();
	ASSERT_GE(pty.master, 0);
	Child child = start_send({ "tty:" + pty.slave }, every_object);
	Seen seen = play(pty.master, {});
	RunResult r = finish_send(child);
	close(pty.master);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(seen.log, "80 82 81");
	size_t i = 1;
	Put put = reassemble(seen.requests, i, 65535);
	EXPECT_TRUE(put.payload == every_byte()) << printable(put.payload);
}

/*
 * A phone on its data cable, played on a pseudo-terminal: it takes AT
 * commands, each ended by CR, until one switches it to OBEX.  Each reply
 * answers the command of its place; an empty one is silence.
 */
struct AtPhone {
	const char *name;
	std::vector<std::string> replies;
	bool echo = false; /* each command comes back before its answer */
	std::string commands; /* that the phone got, each ended by a space */
	std::string why = {}; /* after "cannot connect to `at:PATH': " */
};

void
PrintTo(const AtPhone &p, std::ostream *os)
{
	*os << p.name;
}

/* A command up to its CR, within 10 s; "" at the end of the line. */
std::string
read_command(int fd)
{
	std::string c;
	char ch;
	for (;;) {
		struct pollfd pf = { fd, POLLIN, 0 };
		if (poll(&pf, 1, 10000) <= 0 || read(fd, &ch, 1) != 1)
			return "";
		if (ch == '\r')
			return c;
		c += ch;
	}
}

class SendAt : public testing::TestWithParam<AtPhone>
{
};

TEST_P(SendAt, SwitchesThePhoneOrSaysWhy)
{
	const AtPhone &phone = GetParam();
	Pty pty = open_pty();
	ASSERT_GE(pty.master, 0);
	Child child =
	    start_send({ "-w", "1", "at:" + pty.slave }, every_object);
	std::string commands;
	bool silent = false;
	for (const std::string &reply : phone.replies) {
		std::string c = read_command(pty.master);
		if (c.empty())
			break;
		commands += c + " ";
		if (phone.echo)
			write_all(pty.master, c + "\r");
		if (reply.empty()) {
			silent = true;
			break;
		}
		write_all(pty.master, reply);
	}
	Seen seen;
	if (phone.why.empty() && !silent)
		seen = play(pty.master, {});
	RunResult r = finish_send(child);
	close(pty.master);
	EXPECT_EQ(commands, phone.commands);
	if (phone.why.empty()) {
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(seen.log, "80 82 81");
		size_t i = 1;
		Put put = reassemble(seen.requests, i, 65535);
		EXPECT_TRUE(put.payload == every_byte())
		    << printable(put.payload);
	} else {
		EXPECT_EQ(r.err,
		    "fmt-send: cannot connect to `at:" + pty.slave +
			"': " + phone.why + "\n");
		EXPECT_EQ(r.status, 1);
	}
}

const AtPhone at_phones[] = {
	{ .name = "TakesCprot",
	    .replies = { "\r\nCONNECT\r\n" },
	    .commands = "AT+CPROT=0 " },
	{ .name = "TakesEobex",
	    .replies = { "\r\nERROR\r\n", "\r\nCONNECT\r\n" },
	    .commands = "AT+CPROT=0 AT*EOBEX " },
	/* An extended error, as a phone told to give them says it. */
	{ .name = "TakesEobexAfterAnExtendedError",
	    .replies = { "\r\n+CME ERROR: 4\r\n", "\r\nCONNECT\r\n" },
	    .commands = "AT+CPROT=0 AT*EOBEX " },
	{ .name = "Echoes",
	    .replies = { "\r\nERROR\r\n", "\r\nCONNECT\r\n" },
	    .echo = true,
	    .commands = "AT+CPROT=0 AT*EOBEX " },
	{ .name = "RefusesBoth",
	    .replies = { "\r\nERROR\r\n", "\r\nERROR\r\n" },
	    .echo = true,
	    .commands = "AT+CPROT=0 AT*EOBEX ",
	    .why = "the phone answered `ERROR' to AT+CPROT=0 and to "
		   "AT*EOBEX" },
	{ .name = "AnswersSomethingElse",
	    .replies = { "\r\nOK\x1B[2J\r\n" },
	    .commands = "AT+CPROT=0 ",
	    .why = "the phone answered `OK\\x1B[2J' to AT+CPROT=0" },
	{ .name = "Silent",
	    .replies = { "" },
	    .commands = "AT+CPROT=0 ",
	    .why = "no answer from the phone to AT+CPROT=0 within 1 second" },
	{ .name = "SilentAfterAnError",
	    .replies = { "\r\nERROR\r\n", "" },
	    .commands = "AT+CPROT=0 AT*EOBEX ",
	    .why = "no answer from the phone to AT*EOBEX within 1 second" },
};
INSTANTIATE_TEST_SUITE_P(Phones, SendAt, testing::ValuesIn(at_phones),
    CaseName());

/* Command lines and destinations, each with its message. */
class SendCommandLine : public testing::TestWithParam<CaseRun>
{
};

TEST_P(SendCommandLine, Fails)
{
	expect_case("fmt-send", GetParam());
}

const CaseRun command_lines[] = {
	{ .name = "NoDestination", .err = usage, .status = 1 },
	{ .name = "TooManyOperands",
	    .args = { "fd:0", "a", "b" },
	    .err = usage,
	    .status = 1 },
	{ .name = "SizeTooSmall",
	    .args = { "-m", "254", "fd:0" },
	    .err = "fmt-send: bad packet size `254': not 255 to 65535\n",
	    .status = 1 },
	{ .name = "SizeNotANumber",
	    .args = { "-m", "1k", "fd:0" },
	    .err = "fmt-send: bad packet size `1k': not 255 to 65535\n",
	    .status = 1 },
	{ .name = "WaitOfZero",
	    .args = { "-w", "0", "fd:0" },
	    .err = "fmt-send: bad time-out `0': not 1 to 86400 seconds\n",
	    .status = 1 },
	{ .name = "UnknownKind",
	    .args = { "irda:\x1b[2J" },
	    .err = "fmt-send: bad destination `irda:\\x1B[2J': not "
		   "tcp:HOST[:PORT], bt:ADDR[:CHANNEL], fd:N, tty:PATH or "
		   "at:PATH\n",
	    .status = 1 },
	{ .name = "TcpWithoutHost",
	    .args = { "tcp:" },
	    .err = "fmt-send: bad destination `tcp:': no host\n",
	    .status = 1 },
	{ .name = "TcpWithEmptyPort",
	    .args = { "tcp:phone:" },
	    .err = "fmt-send: bad destination `tcp:phone:': no port after the "
		   "colon\n",
	    .status = 1 },
	{ .name = "TcpIpv6Unclosed",
	    .args = { "tcp:[::1:650" },
	    .err = "fmt-send: bad destination `tcp:[::1:650': an IPv6 address "
		   "goes in brackets, [ADDR]:PORT\n",
	    .status = 1 },
	/* Ports wrap in the resolver: never let them. */
	{ .name = "TcpPortAbove65535",
	    .args = { "tcp:127.0.0.1:99999" },
	    .err = "fmt-send: bad destination `tcp:127.0.0.1:99999': port 1 "
		   "to 65535\n",
	    .status = 1 },
	{ .name = "TcpPortThatWrapsTo650",
	    .args = { "tcp:[::1]:65536650" },
	    .err = "fmt-send: bad destination `tcp:[::1]:65536650': port 1 to "
		   "65535\n",
	    .status = 1 },
	{ .name = "TcpPortZero",
	    .args = { "tcp:127.0.0.1:0" },
	    .err = "fmt-send: bad destination `tcp:127.0.0.1:0': port 1 to "
		   "65535\n",
	    .status = 1 },
	{ .name = "TcpPortNegative",
	    .args = { "tcp:127.0.0.1:-1" },
	    .err = "fmt-send: bad destination `tcp:127.0.0.1:-1': no TCP "
		   "service `-1'\n",
	    .status = 1 },
	{ .name = "TcpServiceUnknown",
	    .args = { "tcp:127.0.0.1:nosuchservice" },
	    .err = "fmt-send: bad destination `tcp:127.0.0.1:nosuchservice': "
		   "no TCP service `nosuchservice'\n",
	    .status = 1 },
	{ .name = "FdNotANumber",
	    .args = { "fd:x" },
	    .err = "fmt-send: bad destination `fd:x': a descriptor is a "
		   "number\n",
	    .status = 1 },
	{ .name = "BluetoothAddressShort",
	    .args = { "bt:00:11:22:33:44" },
	    .err = "fmt-send: bad destination `bt:00:11:22:33:44': a Bluetooth "
		   "address is six hexadecimal pairs, 00:11:22:33:44:55\n",
	    .status = 1 },
	{ .name = "BluetoothAddressNotHex",
	    .args = { "bt:00:11:22:33:44:5G" },
	    .err = "fmt-send: bad destination `bt:00:11:22:33:44:5G': a "
		   "Bluetooth address is six hexadecimal pairs, "
		   "00:11:22:33:44:55\n",
	    .status = 1 },
	{ .name = "BluetoothChannelZero",
	    .args = { "bt:00:11:22:33:44:55:0" },
	    .err = "fmt-send: bad destination `bt:00:11:22:33:44:55:0': an "
		   "RFCOMM channel is 1 to 30\n",
	    .status = 1 },
	{ .name = "BluetoothChannel31",
	    .args = { "bt:00:11:22:33:44:55:31" },
	    .err = "fmt-send: bad destination `bt:00:11:22:33:44:55:31': an "
		   "RFCOMM channel is 1 to 30\n",
	    .status = 1 },
};
INSTANTIATE_TEST_SUITE_P(Cases, SendCommandLine,
    testing::ValuesIn(command_lines), CaseName());

/* Failures to reach the destination, once the input has an object. */
struct Unreachable {
	const char *name;
	std::string dest;
	std::string reason;
};

void
PrintTo(const Unreachable &u, std::ostream *os)
{
	*os << u.name;
}

class SendUnreachable : public testing::TestWithParam<Unreachable>
{
};

TEST_P(SendUnreachable, SaysWhy)
{
	const Unreachable &u = GetParam();
	RunOptions options;
	options.input = shopping;
	RunResult r = run_program("fmt-send", { u.dest }, options);
	EXPECT_EQ(r.err,
	    "fmt-send: cannot connect to `" + u.dest + "': " + u.reason + "\n");
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
}

/* A loopback port that nothing listens on, for as long as the test runs. */
std::string
closed_port()
{
	int s = socket(AF_INET, SOCK_STREAM, 0);
	struct sockaddr_in a = {};
	a.sin_family = AF_INET;
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	socklen_t len = sizeof(a);
	if (s < 0 || bind(s, (struct sockaddr *)&a, sizeof(a)) != 0 ||
	    getsockname(s, (struct sockaddr *)&a, &len) != 0)
		return "1";
	close(s);
	return std::to_string(ntohs(a.sin_port));
}

/* This machine has no Bluetooth: the kernel says so, with or without SDP. */
INSTANTIATE_TEST_SUITE_P(Cases, SendUnreachable,
    testing::Values(Unreachable{ "TcpRefused", "tcp:127.0.0.1:" + closed_port(),
			strerror(ECONNREFUSED) },
	Unreachable{ "BluetoothWithChannel", "bt:00:11:22:33:44:55:9",
	    strerror(EAFNOSUPPORT) },
	Unreachable{ "BluetoothLookedUp", "bt:0A:1b:2C:3d:4E:5f",
	    strerror(EAFNOSUPPORT) },
	Unreachable{ "DescriptorNotOpen", "fd:999", strerror(EBADF) },
	Unreachable{ "NoSuchTerminal", "tty:/nonexistent", strerror(ENOENT) }),
    CaseName());

TEST(SendFiles, MissingFileIsNamed)
{
	std::string missing = temp_dir() + "/no\tsuch.obex";
	RunResult r = run_program("fmt-send", { "fd:0", missing });
	EXPECT_EQ(r.err,
	    "fmt-send: cannot open `" + temp_dir() +
		"/no\\tsuch.obex': " + strerror(ENOENT) + "\n");
	EXPECT_EQ(r.status, 1);
}

/*
 * The RFCOMM channel in an Object Push record's protocol descriptor list,
 * as an SDP search hands it back: L2CAP, then RFCOMM and its channel, then
 * OBEX.
 */
TEST(SendSdp, FindsTheRfcommChannel)
{
	const struct {
		const char *name;
		const char *bytes;
		int channel;
	} cases[] = {
		{ "typical",
		    "35 11 35 03 19 01 00 35 05 19 00 03 08 0C 35 03 19 "
		    "00 08",
		    12 },
		{ "channel cut off", "35 11 35 03 19 01 00 35 05 19 00 03 08",
		    -1 },
		{ "channel 0", "35 05 19 00 03 08 00", -1 },
		{ "channel 30", "35 05 19 00 03 08 1E", 30 },
		{ "channel 31", "35 05 19 00 03 08 1F", -1 },
		{ "no RFCOMM", "35 03 19 01 00", -1 },
		{ "empty", "", -1 },
	};
	for (const auto &c : cases) {
		std::string b = hex(c.bytes);
		EXPECT_EQ(link_sdp_channel(reinterpret_cast<
					       const unsigned char *>(b.data()),
			      b.size()),
		    c.channel)
		    << c.name;
	}
}

/*
 * A descriptor or a line that is no device, or is the input itself, is
 * refused before a byte is written to it: a CONNECT written into a file
 * would overwrite its start.
 */
TEST(SendDestination, NoDeviceIsWrittenTo)
{
	std::string file = temp_dir() + "/dest.obex";
	write_file(file, shopping);
	int rw = open(file.c_str(), O_RDWR);
	int dir = open(temp_dir().c_str(), O_RDONLY);
	int p[2], sv[2];
	ASSERT_EQ(pipe(p), 0);
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
	ASSERT_GE(rw, 0);
	ASSERT_GE(dir, 0);
	/* The input as standard input, and as a file after the destination. */
	write_all(sv[0], shopping);
	shutdown(sv[0], SHUT_WR);
	const struct {
		const char *name;
		std::vector<std::string> args;
		int stdin_fd;
		std::string err;
	} cases[] = {
		{ "regular file", { "fd:" + std::to_string(rw) }, -1,
		    "fmt-send: fd:" + std::to_string(rw) +
			" is a regular file, not a device\n" },
		{ "the input file itself",
		    { "-w", "2", "fd:" + std::to_string(rw), file }, -1,
		    "fmt-send: fd:" + std::to_string(rw) +
			" is a regular file, not a device\n" },
		{ "directory", { "fd:" + std::to_string(dir) }, -1,
		    "fmt-send: fd:" + std::to_string(dir) +
			" is a directory, not a device\n" },
		{ "write-only", { "fd:" + std::to_string(p[1]) }, -1,
		    "fmt-send: cannot connect to `fd:" + std::to_string(p[1]) +
			"': the descriptor is not open for reading and "
			"writing\n" },
		{ "read-only", { "fd:" + std::to_string(p[0]) }, -1,
		    "fmt-send: cannot connect to `fd:" + std::to_string(p[0]) +
			"': the descriptor is not open for reading and "
			"writing\n" },
		{ "a socket that is the input", { "fd:0" }, sv[1],
		    "fmt-send: fd:0 is the input itself\n" },
		{ "no terminal", { "tty:/dev/null" }, -1,
		    "fmt-send: cannot connect to `tty:/dev/null': not a "
		    "terminal\n" },
		{ "no terminal, a file", { "tty:" + file }, -1,
		    "fmt-send: cannot connect to `tty:" + file +
			"': not a terminal\n" },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		RunOptions options;
		options.input = shopping;
		options.stdin_fd = c.stdin_fd;
		RunResult r = run_program("fmt-send", c.args, options);
		EXPECT_EQ(r.err, c.err);
		EXPECT_EQ(r.status, 1);
	}
	/* Nothing reached the file, the pipe or the socket. */
	close(p[1]);
	char buf[64];
	EXPECT_EQ(read(p[0], buf, sizeof(buf)), 0);
	close(sv[1]);
	EXPECT_EQ(read(sv[0], buf, sizeof(buf)), 0);
	close(rw);
	close(dir);
	close(p[0]);
	close(sv[0]);
	std::string after;
	FILE *f = fopen(file.c_str(), "rb");
	size_t n;
	while (f != nullptr && (n = fread(buf, 1, sizeof(buf), f)) > 0)
		after.append(buf, n);
	if (f != nullptr)
		fclose(f);
	EXPECT_TRUE(after == shopping) << printable(after);
}

/*
 * A full packet never ends in an empty Body header: with the headers
 * leaving 5 to 0 bytes of a 255-byte packet, the payload begins in the
 * next.
 */
TEST(SendScripted, NoEmptyBodyAtTheEndOfAPacket)
{
	std::string payload = memo_object(600).substr(5);
	for (size_t n = 118; n <= 123; n++) {
		for (bool creator : { false, true }) {
			SCOPED_TRACE(
			    std::to_string(n) + (creator ? " +C" : ""));
			std::string object = name_header(std::string(n, 'n')) +
			    (creator ? hex("CF 6D 65 6D 6F") : "") + payload;
			Script script;
			script.connect_response = connected(255);
			Outcome o = exchange({ "-m", "255" }, object, script);
			EXPECT_EQ(o.run.err, "");
			EXPECT_EQ(o.run.status, 0);
			size_t i = 1;
			Put put = reassemble(o.seen.requests, i, 255);
			EXPECT_EQ(put.payload.size(), 600u);
			EXPECT_TRUE(put.ended);
		}
	}
}

/*
 * Once every object is delivered, a DISCONNECT that gets no answer holds
 * the program for a moment, not for the whole time of -w.
 */
TEST(SendScripted, SilentDisconnectHoldsBriefly)
{
	Script script;
	script.silent_disconnect = true;
	auto begun = std::chrono::steady_clock::now();
	Outcome o = exchange({ "-w", "30" }, shopping, script);
	auto took = std::chrono::steady_clock::now() - begun;
	EXPECT_EQ(o.run.err, "");
	EXPECT_EQ(o.run.status, 0);
	EXPECT_EQ(o.seen.log, "80 82 81");
	EXPECT_LT(took, std::chrono::seconds(10));
}

/*
 * -v on a file: progress lines at a modest rate while a large object goes
 * out in thousands of packets, not one per packet, nor only at its end.
 */
TEST(SendScripted, VerboseOnAFileShowsProgress)
{
	std::string object = announced(1000000, 1000000);
	Outcome o = exchange({ "-v", "-m", "255" }, object, {});
	EXPECT_EQ(o.run.status, 0);
	std::vector<std::string> lines;
	for (size_t at = 0, end;
	     (end = o.run.err.find('\n', at)) != std::string::npos;
	     at = end + 1)
		lines.push_back(o.run.err.substr(at, end - at));
	ASSERT_GE(lines.size(), 5u) << o.run.err;
	EXPECT_LE(lines.size(), 12u) << o.run.err;
	EXPECT_EQ(lines.back().rfind("big: 1000000 of 1000000 bytes, ", 0), 0u)
	    << lines.back();
	for (size_t i = 0; i + 1 < lines.size(); i++)
		EXPECT_EQ(lines[i].rfind("big: ", 0), 0u) << lines[i];
}

/*
 * A standard error that nobody reads must not kill the program by
 * SIGPIPE: the failure still ends with status 1.
 */
TEST(SendScripted, ClosedStandardErrorIsNoSignal)
{
	int sv[2];
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
	fcntl(sv[1], F_SETFD, 0);
	Child child =
	    start_send({ "fd:" + std::to_string(sv[1]) }, shopping, true);
	close(sv[1]);
	Script script;
	script.at = 1;
	script.refusal = 0xC3;
	Seen seen = play(sv[0], script, child.pid);
	close(sv[0]);
	EXPECT_EQ(finish_send(child).status, 1);
	EXPECT_EQ(seen.log, "80 82 81");
	Child bad = start_send({ "-m", "1", "fd:0" }, shopping, true);
	EXPECT_EQ(finish_send(bad).status, 1);
}

/*
 * A signal in the middle of a transfer: the PUT the device holds open is
 * ABORTed, DISCONNECT follows, the messages say what was delivered, and
 * the program then dies by the same signal, as a shell expects.
 */
struct Interruption {
	const char *name;
	int signal;
	std::string input;
	int at;
	std::string err;
	std::string log;
};

void
PrintTo(const Interruption &c, std::ostream *os)
{
	*os << c.name;
}

class SendInterrupted : public testing::TestWithParam<Interruption>
{
};

TEST_P(SendInterrupted, AbortsAndDiesByTheSignal)
{
	const Interruption &c = GetParam();
	Script script;
	script.at = c.at;
	script.signal = c.signal;
	Outcome o = exchange({}, c.input, script);
	EXPECT_EQ(o.run.err, c.err);
	EXPECT_EQ(o.run.status, 128 + c.signal);
	EXPECT_EQ(o.seen.log, c.log);
}

INSTANTIATE_TEST_SUITE_P(Cases, SendInterrupted,
    testing::Values(Interruption{ "Int", SIGINT, long_memo, 2,
			"fmt-send: interrupted by SIGINT during object 1\n"
			"fmt-send: object 1 was aborted\n"
			"fmt-send: no object was delivered\n",
			"80 02 02 FF 81" },
	Interruption{ "Term", SIGTERM, shopping + long_memo, 2,
	    "fmt-send: interrupted by SIGTERM during object 2\n"
	    "fmt-send: object 2 was aborted\n"
	    "fmt-send: 1 object was delivered before the interruption\n",
	    "80 82 02 FF 81" },
	/* The final packet's answer comes: that object is delivered. */
	Interruption{ "HupAtTheLastPacket", SIGHUP, two_objects, 1,
	    "fmt-send: interrupted by SIGHUP\n"
	    "fmt-send: 1 object was delivered before the interruption\n",
	    "80 82 81" }),
    CaseName());

/*
 * Interrupted while it waits for input, and on a serial line: the line is
 * given back as it was found.
 */
TEST(SendInterrupted, WaitingForInputOnASerialLine)
{
	int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	ASSERT_GE(master, 0);
	ASSERT_EQ(grantpt(master), 0);
	ASSERT_EQ(unlockpt(master), 0);
	std::string slave = ptsname(master);
	/* Held open here, so that its settings outlive fmt-send's use. */
	int line = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
	ASSERT_GE(line, 0);
	struct termios before;
	ASSERT_EQ(tcgetattr(line, &before), 0);
	ASSERT_NE(before.c_lflag & ICANON, 0u);

	int in[2];
	ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
	write_all(in[1], shopping);
	RunOptions options;
	options.stdin_fd = in[0];
	Running running =
	    start_program("fmt-send", { "tty:" + slave }, options);
	close(in[0]);
	Seen seen;
	for (int i = 0; i < 2; i++) {
		std::string req = read_request(master);
		ASSERT_FALSE(req.empty());
		seen.log += (i ? " " : "") +
		    std::string(req[0] == '\x80' ? "80" : "82");
		write_all(master, i == 0 ? connected(65535) : success);
	}
	/* The first object is delivered; the next is yet to come. */
	std::this_thread::sleep_for(std::chrono::milliseconds(200));
	kill(running.pid, SIGINT);
	std::string last = read_request(master);
	if (!last.empty() && last[0] == '\x81')
		write_all(master, success);
	RunResult r = finish_program(running);
	close(in[1]);
	EXPECT_EQ(seen.log, "80 82");
	EXPECT_EQ(printable(last.substr(0, 1)), "\\x81");
	EXPECT_EQ(r.err,
	    "fmt-send: interrupted by SIGINT\n"
	    "fmt-send: 1 object was delivered before the interruption\n");
	EXPECT_EQ(r.status, 128 + SIGINT);
	struct termios after;
	ASSERT_EQ(tcgetattr(line, &after), 0);
	EXPECT_EQ(after.c_lflag, before.c_lflag);
	EXPECT_EQ(after.c_iflag, before.c_iflag);
	EXPECT_EQ(after.c_oflag, before.c_oflag);
	close(line);
	close(master);
}

/*
 * A descriptor handed over blocking, whose device stops reading in the
 * middle of a packet: the write cannot be bounded, but a second signal
 * ends it.
 */
TEST(SendInterrupted, SecondSignalEndsABlockedWrite)
{
	int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	ASSERT_GE(master, 0);
	ASSERT_EQ(grantpt(master), 0);
	ASSERT_EQ(unlockpt(master), 0);
	int line = open(ptsname(master), O_RDWR | O_NOCTTY);
	ASSERT_GE(line, 0);
	struct termios t;
	ASSERT_EQ(tcgetattr(line, &t), 0);
	cfmakeraw(&t);
	ASSERT_EQ(tcsetattr(line, TCSANOW, &t), 0);
	Child child = start_send({ "fd:" + std::to_string(line) }, long_memo);
	close(line);
	std::string connect = read_request(master);
	EXPECT_EQ(printable(connect.substr(0, 1)), "\\x80");
	write_all(master, connected(65535));
	/* The PUT fills the line and its write blocks. */
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	kill(child.pid, SIGINT);
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	kill(child.pid, SIGINT);
	RunResult r = finish_send(child);
	close(master);
	EXPECT_EQ(r.status, 128 + SIGINT);
	EXPECT_EQ(r.err,
	    "fmt-send: interrupted by SIGINT during object 1\n"
	    "fmt-send: no object was delivered\n");
}
