/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-send end to end over TCP, into OpenOBEX's own receiver program,
 * obex_tcp, which stores each object's payload under its name.  Each run
 * has a network namespace of its own (unshare -rn) with nothing but its
 * loopback, so the port is free, nothing leaves the machine and nothing
 * else on it is reached.  Where the system forbids such namespaces (many
 * containers and chroots) the tests skip and say why; wherever unshare
 * works they run.  obex_tcp also prints each object's Length header, which
 * fmt-send adds to the objects that have none (line by line, so that
 * nothing is left in its buffer when it is stopped).
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

/* The built programs' directory, so that they run by their own names. */
std::string
bin_dir()
{
	std::string p = program_path("fmt-send");
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

/*
 * In a namespace of its own: the loopback up, obex_tcp listening on port
 * 650 in `dir` (waited for, 5 s at most), then fmt-send to `dest` with the
 * stream in `input`, all within 60 s.  The exit status of fmt-send, or of
 * what failed before it, and what the run said.
 */
int
run_in_namespace(const std::string &dir, const std::string &dest,
    const std::string &input, std::string &said)
{
	std::string script = "ip link set lo up || exit 90\n"
			     "cd " +
	    sh_quoted(dir) +
	    " || exit 91\n"
	    "stdbuf -oL obex_tcp >obex_tcp.log 2>&1 &\n"
	    "rx=$!\n"
	    "i=0\n"
	    "until grep -q ':028A 0*:0000 0A' /proc/net/tcp6 2>/dev/null; do\n"
	    "  i=$((i + 1))\n"
	    "  [ $i -le 50 ] || { echo 'obex_tcp is not listening'; exit 92; "
	    "}\n"
	    "  sleep 0.1\n"
	    "done\n"
	    "fmt-send " +
	    sh_quoted(dest) + " " + sh_quoted(input) +
	    "\n"
	    "status=$?\n"
	    "{ kill $rx; wait $rx; } 2>/dev/null\n"
	    "exit $status\n";
	std::string log = dir + "/run.log";
	std::string command = "PATH=" + sh_quoted(bin_dir()) +
	    ":$PATH timeout 60 unshare -rn sh -c " + sh_quoted(script) + " >" +
	    sh_quoted(log) + " 2>&1";
	int status = std::system(command.c_str());
	said = read_all(log);
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/* Each program's object, with the name obex_tcp stores it under. */
struct Stored {
	std::string name;
	std::string object;
};

std::vector<Stored>
objects()
{
	std::string db = temp_dir() + "/tcp.pdb";
	std::string file = "Sample";
	file.resize(32, '\0');
	for (size_t i = 0; file.size() < 300000; i++)
		file.push_back((char)(i * 37 + i / 251));
	write_file(db, file);
	return {
		{ "Shopping",
		    output_of("fmt-memo", { "-n", "Shopping" },
			"milk\neggs\n") },
		{ "Ann Lee",
		    output_of("fmt-address", { "-f", "Ann", "-l", "Lee" }) },
		{ "Team",
		    output_of("fmt-date",
			{ "-n", "Team", "-d", "20240315", "Team",
			    "meeting" }) },
		{ "Milk",
		    output_of("fmt-todo", { "-n", "Milk", "Buy", "milk" }) },
		{ "Home.vcf",
		    output_of("fmt-phonecard",
			{ "-n", "Home", "-t", "555-0100" }) },
		{ "Sample", output_of("fmt-database", { db }) },
	};
}

class SendTcp : public testing::TestWithParam<const char *>
{
      protected:
	void SetUp() override
	{
		if (std::string why = cannot_unshare("-rn"); !why.empty())
			GTEST_SKIP() << why;
	}
};

} // namespace

TEST_P(SendTcp, EveryObjectStoredAsFmtDumpGivesIt)
{
	static int serial;
	std::string dir = temp_dir() + "/tcp" + std::to_string(++serial) + ".d";
	ASSERT_EQ(std::system(("mkdir " + sh_quoted(dir)).c_str()), 0);
	std::vector<Stored> stored = objects();
	std::string stream;
	for (const Stored &s : stored)
		stream += s.object;
	std::string input = dir + "/stream.obex";
	write_file(input, stream);

	std::string said;
	int status = run_in_namespace(dir, GetParam(), input, said);
	ASSERT_EQ(status, 0) << said;
	EXPECT_EQ(said, "");
	std::string lengths, log = read_all(dir + "/obex_tcp.log");
	for (size_t at = 0;
	     (at = log.find("HEADER_LENGTH = ", at)) != std::string::npos; at++)
		lengths +=
		    log.substr(at + 16, log.find('\n', at) - at - 16) + " ";
	std::string sizes;
	for (const Stored &s : stored) {
		RunOptions options;
		options.input = s.object;
		RunResult payload = run_program("fmt-dump", { "-p" }, options);
		ASSERT_EQ(payload.status, 0);
		std::string got = read_all(dir + "/" + s.name);
		EXPECT_TRUE(got == payload.out)
		    << s.name << ": " << got.size() << " bytes stored, "
		    << payload.out.size() << " sent";
		sizes += std::to_string(payload.out.size()) + " ";
	}
	EXPECT_EQ(lengths, sizes) << "the Length headers obex_tcp saw";
}

/*
 * The default port, IPv6 in brackets and bare (all of it the address), and
 * a host name to look up.
 */
INSTANTIATE_TEST_SUITE_P(Destinations, SendTcp,
    testing::Values("tcp:127.0.0.1", "tcp:[::1]:650", "tcp:::1",
	"tcp:localhost:650"),
    [](const testing::TestParamInfo<const char *> &p) {
	    return std::to_string(p.index);
    });

/* The receiver gone: the port refuses. */
TEST(SendTcpRefused, SaysSo)
{
	if (std::string why = cannot_unshare("-rn"); !why.empty())
		GTEST_SKIP() << why;
	std::string dir = temp_dir() + "/refused.d";
	ASSERT_EQ(std::system(("mkdir -p " + sh_quoted(dir)).c_str()), 0);
	std::string input = dir + "/memo.obex";
	write_file(input, output_of("fmt-memo", { "x" }));
	std::string command = "PATH=" + sh_quoted(bin_dir()) +
	    ":$PATH timeout 60 unshare -rn sh -c " +
	    sh_quoted("ip link set lo up || exit 90\n"
		      "fmt-send tcp:127.0.0.1:650 " +
		sh_quoted(input)) +
	    " 2>&1";
	FILE *p = popen(command.c_str(), "r");
	ASSERT_NE(p, nullptr);
	std::string said;
	char buf[512];
	size_t n;
	while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
		said.append(buf, n);
	int status = pclose(p);
	EXPECT_EQ(said,
	    "fmt-send: cannot connect to `tcp:127.0.0.1:650': Connection "
	    "refused\n");
	EXPECT_EQ(WEXITSTATUS(status), 1);
}
