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
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runner.h"
#include "link.h"

namespace
{

const std::string usage =
    "Send OBEX objects from stdin or file to a device\n"
    "Usage: fmt-send [-v] [-m size] [-w seconds] destination [file]\n";

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

std::string
packet(int code, std::string_view contents = {})
{
	return (char)code + be16((unsigned)contents.size() + 3) +
	    std::string(contents);
}

const std::string success = packet(0xA0);
const std::string cont = packet(0x90);
std::string
connected(unsigned mtu, std::string_view headers = {})
{
	return packet(0xA0, hex("10 00") + be16(mtu) + std::string(headers));
}

/* A child running fmt-send, its standard error kept in a file. */
struct Child {
	pid_t pid;
	std::string err_path;
};

Child
start_send(const std::vector<std::string> &args, const std::string &input)
{
	static int serial;
	std::string base = temp_dir() + "/send" + std::to_string(++serial);
	write_file(base + ".in", input);
	std::vector<std::string> words{ "fmt-send" };
	words.insert(words.end(), args.begin(), args.end());
	std::vector<char *> argv;
	for (auto &w : words)
		argv.push_back(w.data());
	argv.push_back(nullptr);
	std::string path = program_path("fmt-send");
	fflush(nullptr);
	pid_t pid = fork();
	if (pid == 0) {
		int in = open((base + ".in").c_str(), O_RDONLY);
		int err = open((base + ".err").c_str(),
		    O_WRONLY | O_CREAT | O_TRUNC, 0600);
		int out = open("/dev/null", O_WRONLY);
		if (in < 0 || err < 0 || out < 0 || dup2(in, 0) < 0 ||
		    dup2(out, 1) < 0 || dup2(err, 2) < 0)
			_exit(125);
		execv(path.c_str(), argv.data());
		_exit(126);
	}
	return { pid, base + ".err" };
}

/* Its exit status and standard error; killed after 30 s, status 137. */
RunResult
finish_send(const Child &c)
{
	RunResult r{};
	int wstatus = 0;
	for (int i = 0; i < 3000; i++) {
		pid_t w = waitpid(c.pid, &wstatus, WNOHANG);
		if (w == c.pid)
			break;
		if (i == 2999) {
			kill(c.pid, SIGKILL);
			waitpid(c.pid, &wstatus, 0);
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	r.status =
	    WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
	FILE *f = fopen(c.err_path.c_str(), "rb");
	char buf[4096];
	size_t n;
	while (f != nullptr && (n = fread(buf, 1, sizeof(buf), f)) > 0)
		r.err.append(buf, n);
	if (f != nullptr)
		fclose(f);
	return r;
}

/*
 * Bytes from fd within 10 s: the whole of one request, or "" at the end;
 * `slow` reads it as a slow line would carry it.
 */
std::string
read_request(int fd, bool slow = false)
{
	std::string p;
	size_t want = 3;
	while (p.size() < want) {
		struct pollfd pf = { fd, POLLIN, 0 };
		if (poll(&pf, 1, 10000) <= 0)
			return "";
		if (slow)
			std::this_thread::sleep_for(
			    std::chrono::milliseconds(100));
		char buf[65536];
		size_t most = slow ? 4096 : sizeof(buf);
		ssize_t n = read(fd, buf, std::min(most, want - p.size()));
		if (n <= 0)
			return "";
		p.append(buf, (size_t)n);
		if (p.size() == 3)
			want = (unsigned char)p[1] << 8 | (unsigned char)p[2];
		if (want < 3)
			return p;
	}
	return p;
}

void
write_all(int fd, std::string_view bytes)
{
	while (!bytes.empty()) {
		ssize_t n = write(fd, bytes.data(), bytes.size());
		if (n <= 0)
			return;
		bytes.remove_prefix((size_t)n);
	}
}

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
	/* Reads 4 KiB at a time, ten times a second: a slow line. */
	bool slow = false;
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
play(int fd, const Script &script)
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
				if (script.act == SILENCE) {
					/* Until fmt-send gives up. */
					read_request(fd);
					break;
				}
				if (script.act == HANG_UP)
					break;
				answer = packet(script.refusal);
			}
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
	Seen seen = play(sv[0], script);
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
	EXPECT_EQ(o.seen.requests[1], packet(0x82, shopping));
	EXPECT_EQ(o.seen.requests[2], packet(0x81));
}

/* -v: a line for each object, with its total when it has a Length. */
TEST(SendScripted, VerboseSaysEachObject)
{
	std::string card = name_header("Ann Lee") + hex("C3 00 00 00 02") +
	    hex("49 00 05") + "hi";
	Outcome o =
	    exchange({ "-v" }, shopping + card + hex("49 00 04 78"), {});
	EXPECT_EQ(o.run.status, 0);
	std::vector<std::string> lines;
	for (size_t at = 0, end;
	     (end = o.run.err.find('\n', at)) != std::string::npos;
	     at = end + 1)
		lines.push_back(o.run.err.substr(at, end - at));
	ASSERT_EQ(lines.size(), 3u) << o.run.err;
	EXPECT_EQ(lines[0].rfind("Shopping: 12 bytes, ", 0), 0u) << lines[0];
	EXPECT_EQ(lines[1].rfind("Ann Lee: 2 of 2 bytes, ", 0), 0u) << lines[1];
	EXPECT_EQ(lines[2].rfind("object 3: 1 byte, ", 0), 0u) << lines[2];
	for (const std::string &l : lines)
		EXPECT_NE(l.find("B/s"), std::string::npos) << l;
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
		EXPECT_EQ(first.headers, shopping_headers);
		EXPECT_EQ(first.payload, "milk\r\neggs\r\n");
		EXPECT_TRUE(second.headers == hex("CF 6D 65 6D 6F"));
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
	/* Packets have gone out: the device must hear that it is over. */
	{ .name = "InputCutOffInsideAnObject",
	    .input = long_memo.substr(0, 150000),
	    .err = "fmt-send: offset 131075: Body header's length 65535 runs "
		   "past the end of the input (18925 bytes left)\n"
		   "fmt-send: object 1 was aborted\n",
	    .log = "80 02 02 FF 81" },
	{ .name = "InputMalformedInTheSecondObject",
	    .input = shopping + hex("01 00 04"),
	    .err = "fmt-send: offset 41: Name header's length 4 is less than "
		   "5\nfmt-send: 1 object was delivered before the failure\n",
	    .log = "80 82 81" },
	/* Nothing to send: the device is never called. */
	{ .name = "EmptyInput",
	    .input = "",
	    .err = "fmt-send: offset 0: no End of Body header at the end of "
		   "the input\n",
	    .log = "" },
	{ .name = "MalformedFromTheStart",
	    .input = hex("42 00 03"),
	    .err = "fmt-send: offset 0: unknown header 0x42\n",
	    .log = "" },
};
INSTANTIATE_TEST_SUITE_P(Cases, SendFault, testing::ValuesIn(faults),
    CaseName());

/* A serial line in raw mode: every byte goes through as it is. */
TEST(SendSerial, EveryByteThroughAPseudoTerminal)
{
	int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	ASSERT_GE(master, 0);
	ASSERT_EQ(grantpt(master), 0);
	ASSERT_EQ(unlockpt(master), 0);
	std::string slave = ptsname(master);
	std::string payload;
	for (int c = 0; c < 256; c++)
		payload += (char)c;
	payload += "\r\n\n\r\x03\x04\x11\x13\x1A\x7F";
	std::string object = name_header("every") + "\x49" +
	    be16((unsigned)payload.size() + 3) + payload;

	Child child = start_send({ "tty:" + slave }, object);
	Seen seen = play(master, {});
	RunResult r = finish_send(child);
	close(master);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(seen.log, "80 82 81");
	size_t i = 1;
	Put put = reassemble(seen.requests, i, 65535);
	EXPECT_TRUE(put.payload == payload) << printable(put.payload);
}

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
		   "tcp:HOST[:PORT], bt:ADDR[:CHANNEL], fd:N or tty:PATH\n",
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
	Unreachable{ "DescriptorReadOnly", "fd:0",
	    "the descriptor is not open for reading and writing" },
	Unreachable{ "NotATerminal", "tty:/dev/null", strerror(ENOTTY) },
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
