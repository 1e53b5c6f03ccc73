/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-recv against a scripted sender: the test plays the device on the
 * other end of a socketpair (fd:N), sends each request of the case as
 * bytes, and checks each answer, what reached standard output or the
 * directory, the messages and the exit status.  Then fmt-send itself
 * into fmt-recv: every program's objects come out as they went in.  The
 * names a sender gives are checked directly against the rules that make
 * them safe.
 */
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "obex_walk.h"
#include "recv.h"
#include "runner.h"

namespace
{

const std::string usage =
    "Receive OBEX objects from a device, to stdout or a directory\n"
    "Usage: fmt-recv [-v] [-c count] [-d dir] [-m size] [-w seconds] "
    "source\n";

std::string
packet(int code, std::string_view contents = {})
{
	return (char)code + be16((unsigned)contents.size() + 3) +
	    std::string(contents);
}

const std::string connect_req = packet(0x80, hex("10 00 FF FF"));
const std::string connected = packet(0xA0, hex("10 00 FF FF"));
const std::string success = packet(0xA0);
const std::string cont = packet(0x90);
const std::string disconnect = packet(0x81);

std::string
read_file(const std::string &path)
{
	std::string s;
	FILE *f = fopen(path.c_str(), "rb");
	char buf[65536];
	size_t n;
	while (f != nullptr && (n = fread(buf, 1, sizeof(buf), f)) > 0)
		s.append(buf, n);
	if (f != nullptr)
		fclose(f);
	return s;
}

/* Every entry of a directory, hidden ones too, with its contents. */
std::map<std::string, std::string>
files_in(const std::string &dir)
{
	std::map<std::string, std::string> files;
	DIR *d = opendir(dir.c_str());
	while (d != nullptr) {
		struct dirent *e = readdir(d);
		if (e == nullptr)
			break;
		std::string name = e->d_name;
		if (name != "." && name != "..")
			files[name] = read_file(dir + "/" + name);
	}
	if (d != nullptr)
		closedir(d);
	return files;
}

std::string
fresh_dir()
{
	static int serial;
	std::string dir = temp_dir() + "/recv" + std::to_string(++serial);
	mkdir(dir.c_str(), 0700);
	return dir;
}

/* fmt-recv on one end of a socketpair, given as fd:3. */
struct Recv {
	pid_t pid = -1;
	int fd = -1; /* our end */
	std::string out_path, err_path;
};

Recv
start_recv(const std::vector<std::string> &args, rlim_t file_limit = 0)
{
	static int serial;
	Recv r;
	std::string base = temp_dir() + "/rx" + std::to_string(++serial);
	r.out_path = base + ".out";
	r.err_path = base + ".err";
	int sv[2];
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
		ADD_FAILURE() << "socketpair: " << strerror(errno);
		return r;
	}
	std::vector<std::string> words{ "fmt-recv" };
	words.insert(words.end(), args.begin(), args.end());
	words.push_back("fd:3");
	std::vector<char *> argv;
	for (auto &w : words)
		argv.push_back(w.data());
	argv.push_back(nullptr);
	std::string path = program_path("fmt-recv");
	fflush(nullptr);
	r.pid = fork();
	if (r.pid == 0) {
		int out = open(r.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
		    0600);
		int err = open(r.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
		    0600);
		if (out < 0 || err < 0 || dup2(out, 1) < 0 ||
		    dup2(err, 2) < 0 || dup2(sv[1], 3) < 0)
			_exit(125);
		if (file_limit != 0) {
			struct rlimit rl = { file_limit, file_limit };
			setrlimit(RLIMIT_FSIZE, &rl);
		}
		execv(path.c_str(), argv.data());
		_exit(126);
	}
	close(sv[1]);
	r.fd = sv[0];
	return r;
}

/* One whole response within 10 s, or "" when the link ends first. */
std::string
read_response(int fd, int timeout_ms = 10000)
{
	std::string p;
	size_t want = 3;
	while (p.size() < want) {
		struct pollfd pf = { fd, POLLIN, 0 };
		if (poll(&pf, 1, timeout_ms) <= 0)
			return "";
		char buf[65536];
		ssize_t n =
		    read(fd, buf, std::min(sizeof(buf), want - p.size()));
		if (n <= 0)
			return "";
		p.append(buf, (size_t)n);
		if (p.size() == 3)
			want = (unsigned char)p[1] << 8 | (unsigned char)p[2];
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
 * Its exit status, output and messages; killed after 30 s (137).  Our
 * end of the link is closed first, or with `linger` once it has ended.
 */
RunResult
finish_recv(Recv &r, bool linger = false)
{
	if (r.fd >= 0 && !linger)
		close(r.fd);
	RunResult res{};
	int wstatus = 0;
	for (int i = 0; i < 3000; i++) {
		if (waitpid(r.pid, &wstatus, WNOHANG) == r.pid)
			break;
		if (i == 2999) {
			kill(r.pid, SIGKILL);
			waitpid(r.pid, &wstatus, 0);
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	if (r.fd >= 0 && linger)
		close(r.fd);
	r.fd = -1;
	res.status =
	    WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
	res.out = read_file(r.out_path);
	res.err = read_file(r.err_path);
	return res;
}

/* One request and the answer it got ("" for none: the link ended). */
struct Step {
	std::string request;
	std::string answer;
};

/* A whole scripted exchange, and what it must leave. */
struct Case {
	const char *name;
	std::vector<std::string> args;
	std::vector<Step> steps;
	std::string out; /* standard output, unless with a directory */
	std::string err;
	int status = 0;
	/* With -d: the files left, every one (no temporary file). */
	std::map<std::string, std::string> files = {};
	bool dir = false;
	rlim_t file_limit = 0;
	int linger_ms = 0; /* before the test's end of the link closes */
};

void
PrintTo(const Case &c, std::ostream *os)
{
	*os << c.name;
}

const std::string memo = name_header("Shopping") + creator_header("memo") +
    end_of_body("milk\r\neggs\r\n");

/* A put of one packet. */
std::string
put(std::string_view headers, bool final = true)
{
	return packet(final ? 0x82 : 0x02, headers);
}

const Case cases[] = {
	{ .name = "one_object_to_stdout",
	    .args = {},
	    .steps = { { connect_req, connected }, { put(memo), success },
		{ disconnect, success } },
	    .out = memo,
	    .err = "" },
	{ .name = "object_in_three_packets",
	    .args = {},
	    .steps = { { connect_req, connected },
		{ put(name_header("a.txt") + length_header(5), false), cont },
		{ put(body_header("hel"), false), cont },
		{ put(end_of_body("lo")), success }, { disconnect, success } },
	    .out =
		name_header("a.txt") + length_header(5) + end_of_body("hello"),
	    .err = "" },
	/* Kept in their order, each as it came; the rest are dropped. */
	{ .name = "headers_in_order",
	    .args = {},
	    .steps = { { connect_req, connected },
		{ put(hex("CB 00 00 00 01") + length_header(2) +
		      hex("42 00 10") + "text/x-vcard" + std::string(1, 0) +
		      name_header("a.vcf") + hex("4C 00 04 00") +
		      end_of_body("hi")),
		    success },
		{ disconnect, success } },
	    .out = name_header("a.vcf") + hex("42 00 10") + "text/x-vcard" +
		std::string(1, 0) + length_header(2) + end_of_body("hi"),
	    .err = "" },
	{ .name = "no_connect_first",
	    .args = {},
	    .steps = { { put(memo), success } },
	    .out = memo,
	    .err = "" },
	{ .name = "target_refused_then_goes_on",
	    .args = {},
	    .steps = { { packet(0x80,
			     hex("10 00 FF FF 46 00 13 F9 EC 7B C4 95 3C 11 "
				 "D2 98 4E 52 54 00 DC 9E 09")),
			   packet(0xC6) },
		{ connect_req, connected }, { put(memo), success },
		{ disconnect, success } },
	    .out = memo,
	    .err = "fmt-recv: fd:3: refused a CONNECT to a service other than "
		   "Object Push (a Target header)\n" },
	{ .name = "get_and_setpath_not_implemented",
	    .args = {},
	    .steps = { { connect_req, connected },
		{ packet(0x83, name_header("x")), packet(0xD1) },
		{ packet(0x85, hex("02 00")), packet(0xD1) },
		{ put(memo), success }, { disconnect, success } },
	    .out = memo,
	    .err = "" },
	{ .name = "abort",
	    .args = {},
	    .steps = { { connect_req, connected },
		{ put(name_header("x") + body_header("abc"), false), cont },
		{ packet(0xFF), success }, { put(memo), success },
		{ disconnect, success } },
	    .out = memo,
	    .err = "fmt-recv: fd:3: `x' aborted by the sender\n" },
	{ .name = "cut_off",
	    .args = {},
	    .steps = { { connect_req, connected }, { put(memo), success },
		{ put(name_header("x") + body_header("abc"), false), cont } },
	    .out = memo,
	    .err = "fmt-recv: fd:3: `x' cut off: the sender hung up\n" },
	{ .name = "header_past_the_packet",
	    .args = {},
	    .steps = { { connect_req, connected },
		{ put(name_header("x") + hex("49 00 09 61")), packet(0xC0) },
		{ put(memo), "" } },
	    .out = "",
	    .err = "fmt-recv: fd:3: malformed request: header 0x49 at byte 10 "
		   "has length 9, not 3 to 4; connection closed\n" },
	{ .name = "odd_text",
	    .args = {},
	    .steps = { { put(hex("01 00 06 00 61 00") + end_of_body("")),
			   packet(0xC0) },
		{ put(memo), "" } },
	    .out = "",
	    .err = "fmt-recv: fd:3: malformed request: text header 0x01 at "
		   "byte 3 does not end in a zero unit; connection closed\n" },
	{ .name = "length_below_three",
	    .args = {},
	    .steps = { { hex("82 00 02"), packet(0xC0) }, { put(memo), "" } },
	    .out = "",
	    .err = "fmt-recv: fd:3: malformed request: length 2, less than 3; "
		   "connection closed\n" },
	{ .name = "connect_too_short",
	    .args = {},
	    .steps = { { packet(0x80, hex("10 00")), packet(0xC0) } },
	    .out = "",
	    .err = "fmt-recv: fd:3: malformed request: CONNECT in 5 bytes; "
		   "connection closed\n" },
	{ .name = "length_over_the_limit",
	    .args = { "-m", "100" },
	    .steps = { { connect_req, connected },
		{ put(name_header("big.pdb") + length_header(101), false),
		    packet(0xCD) },
		{ put(memo), success } },
	    .out = memo,
	    .err = "fmt-recv: fd:3: refused `big.pdb': larger than 100 "
		   "bytes\n" },
	{ .name = "payload_over_the_limit",
	    .args = { "-m", "1k" },
	    .steps = { { connect_req, connected },
		{ put(name_header("big") + body_header(std::string(1000, 'x')),
		      false),
		    cont },
		{ put(body_header(std::string(25, 'x')), false),
		    packet(0xCD) } },
	    .out = "",
	    .err = "fmt-recv: fd:3: refused `big': larger than 1024 bytes\n" },
	{ .name = "payload_past_its_length",
	    .args = {},
	    .steps = { { put(name_header("a") + length_header(2) +
			     end_of_body("abc")),
		packet(0xC0) } },
	    .out = "",
	    .err = "fmt-recv: fd:3: refused `a': more than the 2 bytes its "
		   "Length header says\n" },
	{ .name = "payload_short_of_its_length",
	    .args = {},
	    .steps = { { put(length_header(4) + end_of_body("abc")),
		packet(0xC0) } },
	    .out = "",
	    .err = "fmt-recv: fd:3: refused object 1: its Length header says 4 "
		   "bytes, the payload has 3\n" },
	{ .name = "put_without_a_body",
	    .args = {},
	    .steps = { { put(name_header("a")), packet(0xD1) } },
	    .out = "",
	    .err = "fmt-recv: fd:3: refused `a': a PUT without a body (a "
		   "delete)\n" },
	{ .name = "silent_sender",
	    .args = { "-w", "1" },
	    .steps = { { connect_req, connected },
		{ put(name_header("x") + body_header("abc"), false), cont } },
	    .out = "",
	    .err = "fmt-recv: fd:3: nothing came for 1 second; connection "
		   "closed\n",
	    .linger_ms = 1500 },
	/* After the last object asked for, DISCONNECT still gets its answer. */
	{ .name = "count",
	    .args = { "-c", "1" },
	    .steps = { { put(memo), success }, { disconnect, success } },
	    .out = memo,
	    .err = "" },
	{ .name = "count_then_no_more",
	    .args = { "-c", "1" },
	    .steps = { { put(memo), success }, { put(memo), packet(0xD3) } },
	    .out = memo,
	    .err = "" },
	{ .name = "dir_same_name_twice",
	    .args = { "-v" },
	    .steps = { { connect_req, connected },
		{ put(name_header("Ann Lee.vcf") + end_of_body("one")),
		    success },
		{ put(name_header("Ann Lee.vcf") + end_of_body("two")),
		    success },
		{ put(name_header("") + end_of_body("")), success },
		{ disconnect, success } },
	    .out = "DIR/Ann Lee.vcf 3\nDIR/Ann Lee (2).vcf 3\nDIR/object-3 "
		   "0\n",
	    .err = "fmt-recv: fd:3: connected\n"
		   "fmt-recv: fd:3: received `Ann Lee.vcf': 3 bytes\n"
		   "fmt-recv: fd:3: received `Ann Lee.vcf': 3 bytes\n"
		   "fmt-recv: fd:3: received object 3: 0 bytes\n"
		   "fmt-recv: fd:3: disconnected\n",
	    .files = { { "Ann Lee.vcf", "one" }, { "Ann Lee (2).vcf", "two" },
		{ "object-3", "" } },
	    .dir = true },
	{ .name = "dir_hostile_names",
	    .args = {},
	    .steps = { { put(name_header("../../x") + end_of_body("1")),
			   success },
		{ put(name_header("/etc/passwd") + end_of_body("2")), success },
		{ put(name_header("a\\b") + end_of_body("3")), success },
		{ put(name_header("a\nb\x1B[2J") + end_of_body("4")), success },
		{ put(name_header(".") + end_of_body("5")), success },
		{ put(name_header("..") + end_of_body("6")), success },
		{ put(name_header(".profile") + end_of_body("7")), success },
		{ put(name_header("dir/") + end_of_body("8")), success },
		{ put(name_header(std::string(300, 'n') + ".vcf") +
		      end_of_body("9")),
		    success } },
	    .out = "DIR/x 1\nDIR/passwd 1\nDIR/b 1\nDIR/a_b_[2J 1\n"
		   "DIR/object-5 1\nDIR/object-6 1\nDIR/profile 1\n"
		   "DIR/object-8 1\nDIR/" +
		std::string(251, 'n') + ".vcf 1\n",
	    .err = "",
	    .files = { { "x", "1" }, { "passwd", "2" }, { "b", "3" },
		{ "a_b_[2J", "4" }, { "object-5", "5" }, { "object-6", "6" },
		{ "profile", "7" }, { "object-8", "8" },
		{ std::string(251, 'n') + ".vcf", "9" } },
	    .dir = true },
	{ .name = "dir_abort_leaves_nothing",
	    .args = {},
	    .steps = { { put(name_header("x") + body_header("abc"), false),
			   cont },
		{ packet(0xFF), success } },
	    .out = "",
	    .err = "fmt-recv: fd:3: `x' aborted by the sender\n",
	    .files = {},
	    .dir = true },
	{ .name = "dir_cut_off_leaves_nothing",
	    .args = {},
	    .steps = { { put(name_header("x") + body_header("abc"), false),
		cont } },
	    .out = "",
	    .err = "fmt-recv: fd:3: `x' cut off: the sender hung up\n",
	    .files = {},
	    .dir = true },
	/* A full disk: the error answer, the part removed, then go on. */
	{ .name = "dir_full",
	    .args = {},
	    .steps = { { put(name_header("big") +
				 body_header(std::string(2000, 'x')),
			     false),
			   packet(0xE0) },
		{ put(name_header("small") + end_of_body("ok")), success } },
	    .out = "DIR/small 2\n",
	    .err = "fmt-recv: fd:3: cannot store `big' in `DIR': File too "
		   "large\n",
	    .files = { { "small", "ok" } },
	    .dir = true,
	    .file_limit = 1024 },
};

std::string
replace_all(std::string s, const std::string &from, const std::string &to)
{
	for (size_t at = 0; (at = s.find(from, at)) != std::string::npos;
	     at += to.size())
		s.replace(at, from.size(), to);
	return s;
}

class RecvScripted : public testing::TestWithParam<Case>
{
};

} // namespace

TEST_P(RecvScripted, AnswersAndKeeps)
{
	const Case &c = GetParam();
	signal(SIGPIPE, SIG_IGN);
	std::string dir = c.dir ? fresh_dir() : "";
	std::vector<std::string> args = c.args;
	if (c.dir) {
		args.push_back("-d");
		args.push_back(dir);
	}
	Recv r = start_recv(args, c.file_limit);
	for (size_t i = 0; i < c.steps.size(); i++) {
		write_all(r.fd, c.steps[i].request);
		EXPECT_EQ(printable(read_response(r.fd)),
		    printable(c.steps[i].answer))
		    << "answer " << i;
	}
	std::this_thread::sleep_for(std::chrono::milliseconds(c.linger_ms));
	RunResult res = finish_recv(r);
	EXPECT_EQ(printable(res.out),
	    printable(replace_all(c.out, "DIR", dir)));
	EXPECT_EQ(res.err, replace_all(c.err, "DIR", dir));
	EXPECT_EQ(res.status, c.status);
	if (c.dir) {
		EXPECT_EQ(files_in(dir), c.files);
	}
}

INSTANTIATE_TEST_SUITE_P(Cases, RecvScripted, testing::ValuesIn(cases),
    CaseName());

/* SIGTERM in the middle of an object: given up, nothing left, status 0. */
TEST(RecvSignal, StopsCleanly)
{
	std::string dir = fresh_dir();
	Recv r = start_recv({ "-d", dir });
	write_all(r.fd, put(name_header("x") + body_header("abc"), false));
	EXPECT_EQ(read_response(r.fd), cont);
	kill(r.pid, SIGTERM);
	RunResult res = finish_recv(r, true);
	EXPECT_EQ(res.err,
	    "fmt-recv: fd:3: `x' cut off: the receiver was "
	    "stopped\n");
	EXPECT_EQ(res.status, 0);
	EXPECT_TRUE(files_in(dir).empty());
}

TEST(RecvCommandLine, RefusesWhatCannotStart)
{
	const CaseRun rows[] = {
		{ .name = "no source", .args = {}, .err = usage, .status = 1 },
		{ .name = "two sources",
		    .args = { "tcp:", "tcp:" },
		    .err = usage,
		    .status = 1 },
		{ .name = "bad source",
		    .args = { "udp:1" },
		    .err =
			"fmt-recv: bad source `udp:1': not tcp:[HOST][:PORT], "
			"bt:[CHANNEL], fd:N or tty:PATH\n",
		    .status = 1 },
		{ .name = "bad channel",
		    .args = { "bt:31" },
		    .err =
			"fmt-recv: bad source `bt:31': an RFCOMM channel is 1 "
			"to 30\n",
		    .status = 1 },
		{ .name = "bad size",
		    .args = { "-m", "5x", "tcp:" },
		    .err =
			"fmt-recv: bad size `5x': not a number of bytes (k, M "
			"or G after it for 1024, 1024^2, 1024^3)\n",
		    .status = 1 },
		{ .name = "bad wait",
		    .args = { "-w", "0", "tcp:" },
		    .err =
			"fmt-recv: bad time-out `0': not 1 to 86400 seconds\n",
		    .status = 1 },
		{ .name = "bad count",
		    .args = { "-c", "0", "tcp:" },
		    .err = "fmt-recv: bad count `0': not a number from 1\n",
		    .status = 1 },
		{ .name = "closed descriptor",
		    .args = { "fd:9" },
		    .err = "fmt-recv: cannot use `fd:9': Bad file descriptor\n",
		    .status = 1 },
		{ .name = "read-only descriptor",
		    .args = { "fd:0" },
		    .err = "fmt-recv: cannot use `fd:0': the descriptor is not "
			   "open for reading and writing\n",
		    .status = 1 },
		{ .name = "no such tty",
		    .args = { "tty:/nonexistent/tty" },
		    .err = "fmt-recv: cannot open `/nonexistent/tty': No such "
			   "file or directory\n",
		    .status = 1 },
		{ .name = "no such host",
		    .args = { "tcp:no.such.host.invalid" },
		    .err = "",
		    .status = 1 },
	};
	for (const CaseRun &c : rows) {
		SCOPED_TRACE(c.name);
		RunResult r = run_program("fmt-recv", c.args);
		EXPECT_EQ(r.out, "");
		if (c.err.empty()) {
			EXPECT_EQ(r.err.rfind("fmt-recv: cannot listen on "
					      "`tcp:no.such.host.invalid': ",
				      0),
			    0u)
			    << r.err;
		} else {
			EXPECT_EQ(r.err, c.err);
		}
		EXPECT_EQ(r.status, c.status);
	}
}

/* No radio here: Bluetooth says why it cannot listen, and stops. */
TEST(RecvCommandLine, BluetoothWithoutARadio)
{
	RunResult r = run_program("fmt-recv", { "bt:" });
	EXPECT_EQ(r.status, 1);
	EXPECT_TRUE(r.err ==
		"fmt-recv: cannot listen on `bt:': Bluetooth is "
		"not supported by this build\n" ||
	    r.err.rfind("fmt-recv: cannot listen on `bt:': Address family not "
			"supported by protocol",
		0) == 0)
	    << r.err;
}

/* Under inetd the connection may be standard output too. */
TEST(RecvCommandLine, StandardOutputIsTheConnection)
{
	int sv[2];
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
	RunOptions o;
	o.stdout_fd = sv[1];
	RunResult r = run_program("fmt-recv", { "fd:1" }, o);
	EXPECT_EQ(r.err,
	    "fmt-recv: standard output is the connection `fd:1': "
	    "give -d DIR\n");
	EXPECT_EQ(r.status, 1);
	close(sv[0]);
	close(sv[1]);
}

TEST(RecvNames, MadeSafe)
{
	struct Row {
		const char *name;
		unsigned copy;
		size_t limit;
		const char *safe;
	} rows[] = {
		{ "Ann Lee.vcf", 1, 255, "Ann Lee.vcf" },
		{ "Ann Lee.vcf", 2, 255, "Ann Lee (2).vcf" },
		{ "Ann Lee", 12, 255, "Ann Lee (12)" },
		{ "../../x", 1, 255, "x" },
		{ "C:\\Users\\a.txt", 1, 255, "a.txt" },
		{ "...", 1, 255, "object-7" },
		{ "", 2, 255, "object-7 (2)" },
		{ "a\x7F\xC2\x85z", 1, 255, "a__z" },
		{ "caf\xC3\xA9\xC3\xA9.txt", 1, 10, "caf\xC3\xA9.txt" },
		{ "caf\xC3\xA9\xC3\xA9.txt", 2, 12, "caf (2).txt" },
		{ "abcdefgh.extension-far-too-long", 1, 10, "abcdefgh.e" },
		/* Never the extension alone, a hidden file. */
		{ "\xC3\xA9.txt", 1, 5, "\xC3\xA9.tx" },
	};
	for (const Row &r : rows) {
		char out[1024];
		size_t n = recv_safe_name(r.name, 7, r.copy, r.limit, out);
		EXPECT_EQ(std::string(out, n), r.safe) << r.name;
	}
	/* A 300-byte name of two-byte characters: 127 of them, 254 bytes. */
	std::string long_name;
	for (int i = 0; i < 150; i++)
		long_name += "\xC3\xA9";
	char out[1024];
	EXPECT_EQ(recv_safe_name(long_name.c_str(), 1, 1, 255, out), 254u);
}

TEST(RecvNames, FromTheNameHeader)
{
	struct Row {
		std::string units;
		const char *utf8;
	} rows[] = {
		/* The fmt-* programs' widened bytes, spelling UTF-8. */
		{ hex("00 5A 00 6F 00 C3 00 AB"), "Zo\xC3\xAB" },
		/* Latin-1, as UTF-16 gives it. */
		{ hex("00 5A 00 6F 00 EB"), "Zo\xC3\xAB" },
		{ hex("04 10 04 3D 04 4F"), "\xD0\x90\xD0\xBD\xD1\x8F" },
		{ hex("D8 3D DE 00"), "\xF0\x9F\x98\x80" },
		{ hex("D8 3D 00 41"),
		    "\xEF\xBF\xBD"
		    "A" },
		{ hex("00 61 00 00 00 62"), "a_b" },
	};
	for (const Row &r : rows) {
		char out[64];
		recv_name_utf8((const unsigned char *)r.units.data(),
		    r.units.size(), out, sizeof(out));
		EXPECT_EQ(printable(out), printable(r.utf8));
	}
}

namespace
{

/*
 * A stream as a list of objects, each its headers other than Body and
 * End of Body followed by its whole payload: what must survive a trip
 * over OBEX, where packets cut the payload anew.
 */
using Object = std::pair<std::string, std::string>; /* headers, payload */

std::vector<Object>
objects_of(std::string_view stream)
{
	bool framed;
	std::vector<ObexPiece> pieces = obex_walk(stream, framed);
	EXPECT_TRUE(framed);
	std::vector<Object> objects;
	std::string headers, payload;
	for (const ObexPiece &p : pieces) {
		if (p.id == 0x48 || p.id == 0x49) {
			payload += p.data;
		} else {
			headers += p.header;
		}
		if (p.id == 0x49) {
			objects.emplace_back(headers, payload);
			headers.clear();
			payload.clear();
		}
	}
	EXPECT_TRUE(headers.empty() && payload.empty()) << "a cut object";
	return objects;
}

/* Every program's objects, a long memo, and a 4 MiB database. */
std::string
every_object()
{
	static std::string stream;
	if (!stream.empty())
		return stream;
	std::string db = temp_dir() + "/rt.pdb";
	std::string file = "Sample";
	file.resize(32, '\0');
	for (size_t i = 0; file.size() < 4 * 1024 * 1024; i++)
		file.push_back((char)(i * 37 + i / 251));
	write_file(db, file);
	std::string long_memo;
	for (size_t i = 0; long_memo.size() < 200000; i++)
		long_memo += (char)('a' + i % 26);
	stream = output_of("fmt-memo", { "-n", "Shopping" }, "milk\neggs\n") +
	    output_of("fmt-address", { "-f", "Ann", "-l", "Lee" }) +
	    output_of("fmt-date",
		{ "-n", "Team", "-d", "20240315", "-t", "0930-1030", "Team" }) +
	    output_of("fmt-todo", { "-n", "Milk", "Buy", "milk" }) +
	    output_of("fmt-phonecard", { "-n", "Home", "-t", "555-0100" }) +
	    output_of("fmt-memo", { "-n", "Long" }, long_memo) +
	    output_of("fmt-database", { db }) +
	    output_of("fmt-memo", { "-n", "Shopping" }, "bread\n");
	return stream;
}

/* fmt-send into fmt-recv over a socketpair; fmt-recv's results. */
RunResult
send_into_recv(const std::vector<std::string> &send_args,
    const std::vector<std::string> &recv_args, const std::string &stream)
{
	static int serial;
	std::string input = temp_dir() + "/rt" + std::to_string(++serial);
	write_file(input, stream);
	Recv r = start_recv(recv_args);
	fcntl(r.fd, F_SETFD, 0);
	std::vector<std::string> args = send_args;
	args.push_back("fd:" + std::to_string(r.fd));
	args.push_back(input);
	RunResult sent = run_program("fmt-send", args);
	EXPECT_EQ(sent.err, "");
	EXPECT_EQ(sent.status, 0);
	return finish_recv(r);
}

} // namespace

/*
 * Header for header, at the least and the largest packet size; with -r,
 * which adds none of the headers that phones need.
 */
TEST(RecvFromSend, EveryObjectAsItWent)
{
	std::string stream = every_object();
	std::vector<Object> sent = objects_of(stream);
	ASSERT_EQ(sent.size(), 8u);
	for (const char *size : { "255", "65535" }) {
		SCOPED_TRACE(size);
		RunResult r = send_into_recv({ "-r", "-m", size }, {}, stream);
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(r.status, 0);
		EXPECT_TRUE(objects_of(r.out) == sent);
		/* The text objects byte for byte: written as they were. */
		size_t db_at = stream.find(name_header("Sample"));
		size_t db_end = stream.find(name_header("Shopping"), db_at);
		ASSERT_NE(db_end, std::string::npos);
		EXPECT_TRUE(r.out.compare(0, db_at, stream, 0, db_at) == 0);
		RunOptions o;
		o.input = r.out;
		EXPECT_EQ(run_program("fmt-dump", {}, o).status, 0);
	}
}

/* Into a directory: each payload a file, the second Shopping beside. */
TEST(RecvFromSend, EveryPayloadStored)
{
	std::string stream = every_object();
	std::string dir = fresh_dir();
	RunResult r = send_into_recv({}, { "-d", dir }, stream);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	std::map<std::string, std::string> files = files_in(dir);
	const char *names[] = { "Shopping", "Ann Lee", "Team", "Milk",
		"Home.vcf", "Long", "Sample", "Shopping (2)" };
	std::vector<Object> sent = objects_of(stream);
	std::string lines;
	for (size_t i = 0; i < sent.size(); i++) {
		const std::string &payload = sent[i].second;
		EXPECT_TRUE(files[names[i]] == payload) << names[i];
		lines += dir + "/" + names[i] + " " +
		    std::to_string(payload.size()) + "\n";
	}
	EXPECT_EQ(files.size(), sent.size());
	EXPECT_EQ(r.out, lines);
}

/* Standard output gone: the object is not Success, and the run ends. */
TEST(RecvOutput, FailsWhenStandardOutputDoes)
{
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	close(p[0]);
	signal(SIGPIPE, SIG_IGN);
	int sv[2];
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
	fcntl(sv[1], F_SETFD, 0);
	RunOptions o;
	o.stdout_fd = p[1];
	Running rx =
	    start_program("fmt-recv", { "fd:" + std::to_string(sv[1]) }, o);
	close(p[1]);
	close(sv[1]);
	write_all(sv[0], put(memo));
	EXPECT_EQ(read_response(sv[0]), packet(0xD0));
	close(sv[0]);
	RunResult r = finish_program(rx);
	EXPECT_EQ(r.err,
	    "fmt-recv: fd:" + std::to_string(sv[1]) +
		": cannot write to standard output: Broken pipe\n");
	EXPECT_EQ(r.status, 1);
}

/*
 * A serial line: raw, so that line-discipline bytes (CR, NL, ^C, ^S,
 * ^Q) pass as they are, and a connection may follow another on it.
 */
TEST(RecvTty, RawAndOneConnectionAfterAnother)
{
	int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	ASSERT_GE(master, 0);
	ASSERT_EQ(grantpt(master), 0);
	ASSERT_EQ(unlockpt(master), 0);
	std::string tty = ptsname(master);
	/* Held open so that the line never hangs up between the two. */
	int line = open(tty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
	ASSERT_GE(line, 0);
	Running rx = start_program("fmt-recv", { "-c", "2", "tty:" + tty });
	/* Nothing goes out before fmt-recv has made the line raw. */
	struct termios t;
	for (int i = 0; i < 500; i++) {
		if (tcgetattr(line, &t) == 0 && (t.c_lflag & ICANON) == 0)
			break;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
	EXPECT_EQ(t.c_iflag & (IXON | ICRNL), 0u);
	std::string odd =
	    "a\r\nb\x03\x11\x13\x04\x7F\x1A" + std::string(300, 'z');
	std::string first = name_header("a") + end_of_body(odd);
	std::string second = name_header("b") + end_of_body("x");
	write_all(master, connect_req);
	EXPECT_EQ(printable(read_response(master)), printable(connected));
	write_all(master, put(first));
	EXPECT_EQ(printable(read_response(master)), printable(success));
	write_all(master, disconnect);
	EXPECT_EQ(printable(read_response(master)), printable(success));
	write_all(master, put(second));
	EXPECT_EQ(printable(read_response(master)), printable(success));
	write_all(master, disconnect);
	EXPECT_EQ(printable(read_response(master)), printable(success));
	if (HasFailure())
		kill(rx.pid, SIGTERM);
	RunResult r = finish_program(rx);
	close(line);
	close(master);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(printable(r.out), printable(first + second));
}

/* With -d, a line that cannot be written: the file is safe, the run ends. */
TEST(RecvOutput, StoredEvenWhenItsLineFails)
{
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	close(p[0]);
	signal(SIGPIPE, SIG_IGN);
	int sv[2];
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
	fcntl(sv[1], F_SETFD, 0);
	std::string dir = fresh_dir();
	RunOptions o;
	o.stdout_fd = p[1];
	Running rx = start_program("fmt-recv",
	    { "-d", dir, "fd:" + std::to_string(sv[1]) }, o);
	close(p[1]);
	close(sv[1]);
	write_all(sv[0], put(memo));
	EXPECT_EQ(read_response(sv[0]), success);
	close(sv[0]);
	RunResult r = finish_program(rx);
	EXPECT_EQ(r.err,
	    "fmt-recv: fd:" + std::to_string(sv[1]) +
		": cannot write to standard output: Broken pipe\n");
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(files_in(dir),
	    (std::map<std::string, std::string>{
		{ "Shopping", "milk\r\neggs\r\n" } }));
}
