/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-recv listening on TCP, each run in a network namespace of its own
 * (unshare -rn) with nothing but its loopback: obexftp, a real and
 * independent client, pushes files into it, and fmt-send carries every
 * program's objects to it over IPv4 and IPv6.  Where the system forbids
 * such namespaces the tests skip and say so.
 */
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner.h"

namespace
{

std::string
read_all(const std::string &path)
{
	std::ifstream f(path, std::ios::binary);
	std::stringstream s;
	s << f.rdbuf();
	return s.str();
}

std::string
bin_dir()
{
	std::string p = program_path("fmt-recv");
	return p.substr(0, p.rfind('/'));
}

std::string
sh_quoted(const std::string &s)
{
	std::string q = "'";
	for (char c : s)
		q += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return q + "'";
}

bool
namespaces_allowed()
{
	static int allowed = -1;
	if (allowed < 0)
		allowed = std::system("unshare -rn true >/dev/null 2>&1") == 0;
	return allowed == 1;
}

#define NEED_NAMESPACE()                                                       \
	do {                                                                   \
		if (!namespaces_allowed())                                     \
			GTEST_SKIP() << "network namespaces are not allowed "  \
					"here (unshare -rn failed), and this " \
					"test listens on a port";              \
	} while (0)

/*
 * In a fresh namespace, in `dir`: the loopback up, fmt-recv with `args`
 * started in the background (standard output to recv.out, errors to
 * recv.err) and waited for until it listens (5 s at most), then the
 * client's command; then fmt-recv waited for (it must end by itself,
 * after -c), 60 s for everything.  Returns fmt-recv's exit status.
 */
int
run_in_namespace(const std::string &dir, const std::string &args,
    const std::string &client, std::string &said)
{
	std::string script = "ip link set lo up || exit 90\n"
			     "cd " +
	    sh_quoted(dir) +
	    " || exit 91\n"
	    "fmt-recv -v " +
	    args +
	    " >recv.out 2>recv.err &\n"
	    "rx=$!\n"
	    "i=0\n"
	    "until grep -q 'listening on' recv.err; do\n"
	    "  i=$((i + 1))\n"
	    "  [ $i -le 50 ] || { echo 'fmt-recv is not listening'; exit 92; "
	    "}\n"
	    "  sleep 0.1\n"
	    "done\n{ " +
	    client +
	    "; } >client.log 2>&1\n"
	    "wait $rx\n";
	std::string command = "PATH=" + sh_quoted(bin_dir()) +
	    ":$PATH timeout 60 unshare -rn sh -c " + sh_quoted(script) + " >" +
	    sh_quoted(dir + "/run.log") + " 2>&1";
	int status = std::system(command.c_str());
	said = read_all(dir + "/run.log") + read_all(dir + "/client.log");
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string
fresh_dir()
{
	static int serial;
	std::string dir = temp_dir() + "/tcp" + std::to_string(++serial);
	EXPECT_EQ(std::system(("mkdir -p " + sh_quoted(dir + "/in")).c_str()),
	    0);
	return dir;
}

} // namespace

/* obexftp pushes a binary file and a card: each stored as it was. */
TEST(RecvTcp, ObexftpPushes)
{
	NEED_NAMESPACE();
	std::string dir = fresh_dir();
	std::string big;
	for (size_t i = 0; big.size() < 300000; i++)
		big.push_back((char)(i * 131 + i / 7));
	std::string card = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\n"
			   "END:VCARD\r\n";
	write_file(dir + "/big.bin", big);
	write_file(dir + "/Ann Lee.vcf", card);
	std::string said;
	int status = run_in_namespace(dir, "-c 2 -d in tcp:",
	    "obexftp -n 127.0.0.1 -U none -H -S -p big.bin 'Ann Lee.vcf'",
	    said);
	ASSERT_EQ(status, 0) << said << read_all(dir + "/recv.err");
	EXPECT_TRUE(read_all(dir + "/in/big.bin") == big);
	EXPECT_EQ(read_all(dir + "/in/Ann Lee.vcf"), card);
	EXPECT_EQ(read_all(dir + "/recv.out"),
	    "in/big.bin 300000\nin/Ann Lee.vcf " + std::to_string(card.size()) +
		"\n");
}

/*
 * fmt-send to the default port, over IPv4 and over IPv6; -r, so that the
 * objects go as they were written.
 */
TEST(RecvTcp, FromFmtSend)
{
	NEED_NAMESPACE();
	std::string stream =
	    output_of("fmt-memo", { "-n", "Shopping" }, "milk\neggs\n") +
	    output_of("fmt-address", { "-f", "Ann", "-l", "Lee" }) +
	    output_of("fmt-phonecard", { "-n", "Home", "-t", "555-0100" });
	const char *places[][2] = { { "tcp:", "tcp:127.0.0.1" },
		{ "tcp:[::1]", "tcp:[::1]:650" } };
	for (auto &place : places) {
		SCOPED_TRACE(place[0]);
		std::string dir = fresh_dir();
		write_file(dir + "/stream.obex", stream);
		std::string said;
		int status =
		    run_in_namespace(dir, std::string("-c 3 ") + place[0],
			std::string("fmt-send -r ") + place[1] + " stream.obex",
			said);
		ASSERT_EQ(status, 0) << said << read_all(dir + "/recv.err");
		EXPECT_EQ(read_all(dir + "/client.log"), "");
		EXPECT_TRUE(read_all(dir + "/recv.out") == stream);
	}
}

/* A port taken: it cannot start, and says so. */
TEST(RecvTcp, PortTaken)
{
	NEED_NAMESPACE();
	std::string dir = fresh_dir();
	std::string said;
	int status = run_in_namespace(dir, "-c 1 tcp::6500",
	    "fmt-recv tcp::6500; echo \"second: $?\"; "
	    "fmt-memo x | fmt-send tcp:127.0.0.1:6500",
	    said);
	EXPECT_EQ(status, 0) << said;
	EXPECT_EQ(read_all(dir + "/client.log"),
	    "fmt-recv: cannot listen on `tcp::6500': Address already in use\n"
	    "second: 1\n");
}

/* SIGINT while it waits for a connection: a clean stop, status 0. */
TEST(RecvTcp, StopsOnInterrupt)
{
	NEED_NAMESPACE();
	std::string dir = fresh_dir();
	std::string said;
	int status = run_in_namespace(dir, "tcp:", "kill -INT $rx", said);
	EXPECT_EQ(status, 0) << said;
	EXPECT_EQ(read_all(dir + "/recv.err"),
	    "fmt-recv: listening on 127.0.0.1:650\n");
}
