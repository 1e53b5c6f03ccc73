/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-database through the built program, on files the tests make: a real
 * Palm database byte for byte, the chunking at every size that matters, the
 * option rules, and the files that are not what a database should be.
 */
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runner.h"

static const std::string usage = "Format Palm Pilot PDB or PRC file\n"
				 "Usage: fmt-database [-lz] pdb-file\n";
static const std::string lnch = hex("CF 6C 6E 63 68");
static const std::string zrct = hex("CF 7A 72 43 54");

/*
 * A Palm database of `size` bytes (at least 88) holding one record: the
 * 78-byte header (the name NUL-padded in its 32-byte field, attributes,
 * version, creation, modification and backup dates, modification number,
 * application and sort info offsets, type and creator, unique ID seed, next
 * record list, record count), one 8-byte record entry, two bytes of gap,
 * and the record's data up to the end.
 */
static std::string
palm_database(std::string_view name, size_t size)
{
	std::string db(name);
	db.resize(32, '\0');
	db += be16(0x0008); /* attributes: back up */
	db += be16(1); /* version */
	db += be32(0xBA5C0A00) + be32(0xBA5C0B00) + be32(0);
	db += be32(3) + be32(0) + be32(0);
	db += "DATA";
	db += "Smpl";
	db += be32(0) + be32(0) + be16(1);
	db += be32(88) + "\x40" + std::string("\x00\x00\x01", 3);
	db += be16(0);
	for (size_t i = 0; db.size() < size; i++)
		db.push_back((char)(i * 37 + 11));
	return db;
}

static std::string
fixture(const std::string &name, std::string_view bytes)
{
	std::string path = temp_dir() + "/" + name;
	write_file(path, bytes);
	return path;
}

static std::string
read_all(const std::string &path)
{
	std::string bytes;
	FILE *f = fopen(path.c_str(), "rb");
	char buf[4096];
	size_t n;
	while (f != nullptr && (n = fread(buf, 1, sizeof(buf), f)) > 0)
		bytes.append(buf, n);
	if (f != nullptr)
		fclose(f);
	return bytes;
}

static const CaseRun refusals[] = {
	{ .name = "NoPath", .err = usage, .status = 1 },
	{ .name = "NoPathAfterOptions",
	    .args = { "-z" },
	    .err = usage,
	    .status = 1 },
	{ .name = "TwoPaths",
	    .args = { "a.pdb", "b.pdb" },
	    .err = usage,
	    .status = 1 },
	{ .name = "PathFollowedByAnOption",
	    .args = { "a.pdb", "-z" },
	    .err = usage,
	    .status = 1 },
	{ .name = "Help", .args = { "-h", "a.pdb" }, .err = usage },
	/* A name cannot clear the terminal or split the message. */
	{ .name = "CannotOpenShownEscaped",
	    .args = { "/nonexistent/\x1B[2J\r\n\x7F.pdb" },
	    .err = std::string("fmt-database: cannot open "
			       "`/nonexistent/\\x1B[2J\\r\\n\\x7F.pdb': ") +
		strerror(ENOENT) + "\n",
	    .status = 1 },
	{ .name = "CannotOpen",
	    .args = { "-z", "/nonexistent/a.pdb" },
	    .err = std::string("fmt-database: cannot open "
			       "`/nonexistent/a.pdb': ") +
		strerror(ENOENT) + "\n",
	    .status = 1 },
};

class Database : public testing::TestWithParam<CaseRun>
{
};

TEST_P(Database, RefusesTheCommandLine)
{
	expect_case("fmt-database", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, Database, testing::ValuesIn(refusals),
    CaseName());

/* The file's bytes in Body headers of 500 bytes, the last one shorter. */
static std::vector<std::string>
chunks(std::string_view file)
{
	std::vector<std::string> bodies;
	for (size_t at = 0; at < file.size(); at += 500)
		bodies.emplace_back(file.substr(at, 500));
	return bodies;
}

/* The object of a file, sent whole: the bytes and an empty End of Body. */
static std::string
database_object(std::string_view name, std::optional<uint32_t> length,
    std::string_view creator, std::string_view file)
{
	return object({ .name = std::string(name),
	    .length = length,
	    .creator = std::string(creator),
	    .bodies = chunks(file) });
}

TEST(DatabaseFile, WorkedExample)
{
	std::string db = palm_database("Sample", 700);
	RunResult r =
	    run_program("fmt-database", { fixture("sample.pdb", db) });
	std::string expected =
	    hex("01 00 11 00 53 00 61 00 6D 00 70 00 6C 00 65 00 00"
		"C3 00 00 02 BC CF 6C 6E 63 68 48 01 F7") +
	    db.substr(0, 500) + hex("48 00 CB") + db.substr(500) +
	    hex("49 00 03");
	EXPECT_EQ(r.out.size(), 736u);
	EXPECT_EQ(printable(r.out), printable(expected));
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
}

/*
 * Chunks of at most 500 bytes, never an empty Body header: each size's
 * Body headers and their lengths spelled out.
 */
TEST(DatabaseFile, SendsEveryByteInChunks)
{
	struct Body {
		const char *header;
		size_t count;
	};
	const struct {
		size_t size;
		std::vector<Body> bodies;
	} cases[] = {
		{ 0, {} },
		{ 1, { { "48 00 04", 1 } } },
		{ 499, { { "48 01 F6", 499 } } },
		{ 500, { { "48 01 F7", 500 } } },
		{ 501, { { "48 01 F7", 500 }, { "48 00 04", 1 } } },
		{ 700, { { "48 01 F7", 500 }, { "48 00 CB", 200 } } },
		{ 1000, { { "48 01 F7", 500 }, { "48 01 F7", 500 } } },
	};
	std::string full = palm_database("Sized", 1000);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.size);
		std::string file = full.substr(0, c.size);
		RunResult r = run_program("fmt-database",
		    { fixture("sized" + std::to_string(c.size), file) });
		/* "Sized" and its NUL, or all of a file of fewer bytes. */
		std::string name = file.substr(0, std::min<size_t>(c.size, 5));
		std::string expected =
		    name_header(name) + length_header((uint32_t)c.size) + lnch;
		size_t at = 0;
		for (const auto &b : c.bodies) {
			expected += hex(b.header) + file.substr(at, b.count);
			at += b.count;
		}
		expected += end_of_body("");
		EXPECT_EQ(at, c.size) << "the table's own sum";
		EXPECT_EQ(printable(r.out), printable(expected));
		EXPECT_EQ(r.status, 0);
	}
}

TEST(DatabaseFile, LastCreatorOptionCounts)
{
	const struct {
		std::vector<std::string> options;
		const std::string &creator;
	} cases[] = {
		{ {}, lnch },
		{ { "-l" }, lnch },
		{ { "-z" }, zrct },
		{ { "-z", "-l" }, lnch },
		{ { "-l", "-z" }, zrct },
		{ { "-zl" }, lnch },
		{ { "-lz" }, zrct },
		{ { "-z", "--" }, zrct },
	};
	std::string path = fixture("creator.pdb", "C");
	for (const auto &c : cases) {
		std::vector<std::string> args = c.options;
		args.push_back(path);
		SCOPED_TRACE(testing::PrintToString(args));
		RunResult r = run_program("fmt-database", args);
		EXPECT_EQ(printable(r.out),
		    printable(name_header("C") + length_header(1) + c.creator +
			body_header("C") + end_of_body("")));
		EXPECT_EQ(r.status, 0);
	}
}

/* The name stops at the first NUL, and never reaches past the first chunk. */
TEST(DatabaseFile, NameFromTheFirstChunk)
{
	const struct {
		const char *label;
		std::string file;
		std::string name;
	} cases[] = {
		{ "high bytes widen as Latin-1",
		    palm_database("Caf\xE9 \x80", 100),
		    hex("01 00 11 00 43 00 61 00 66 00 E9 00 20 00 80 00 00") },
		{ "NUL first", std::string("\0abc", 4), name_header("") },
		{ "no NUL in the file", "abc", name_header("abc") },
		{ "no NUL in the first chunk",
		    std::string(550, 'n') + '\0' + std::string(49, 'y'),
		    name_header(std::string(500, 'n')) },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.label);
		RunResult r = run_program("fmt-database",
		    { fixture("named.pdb", c.file) });
		EXPECT_EQ(printable(r.out.substr(0, c.name.size() + 1)),
		    printable(c.name + "\xC3"));
		EXPECT_EQ(r.status, 0);
	}
}

TEST(DatabaseFailures, DirectoryIsAReadError)
{
	std::string dir = temp_dir() + "/dir.pdb";
	mkdir(dir.c_str(), 0700);
	RunResult r = run_program("fmt-database", { dir });
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err,
	    "fmt-database: cannot read `" + dir + "': " + strerror(EISDIR) +
		"\n");
	EXPECT_EQ(r.status, 1);
}

/* A pipe has no size to announce, and short reads are not its end. */
TEST(DatabaseFile, FifoSentWholeWithoutLength)
{
	std::string db = palm_database("Piped", 1000);
	std::string fifo = temp_dir() + "/piped.pdb";
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << strerror(errno);
	std::thread writer([&] {
		int fd = open(fifo.c_str(), O_WRONLY);
		if (fd < 0)
			return;
		if (write(fd, db.data(), 300) == 300) {
			usleep(50000);
			(void)!write(fd, db.data() + 300, 700);
		}
		close(fd);
	});
	RunResult r = run_program("fmt-database", { fifo });
	/* Let a writer go whose reader never came. */
	close(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
	writer.join();
	EXPECT_EQ(printable(r.out),
	    printable(database_object("Piped", {}, "lnch", db)));
	EXPECT_EQ(r.status, 0);
}

/* The first `count` bytes the program writes to a pipe; then it is killed. */
static std::string
output_head(const std::vector<std::string> &args, size_t count)
{
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) != 0) {
		ADD_FAILURE() << "pipe: " << strerror(errno);
		return "";
	}
	RunOptions options;
	options.stdout_fd = fds[1];
	Running running = start_program("fmt-database", args, options);
	close(fds[1]);
	std::string out;
	char buf[256];
	while (running.pid > 0 && out.size() < count) {
		ssize_t n = read(fds[0], buf,
		    std::min(sizeof(buf), count - out.size()));
		if (n <= 0)
			break;
		out.append(buf, (size_t)n);
	}
	close(fds[0]);
	if (running.pid > 0)
		kill(running.pid, SIGKILL);
	finish_program(running);
	return out;
}

/* Sparse files: only the start of the object is read. */
TEST(DatabaseFile, LengthOnlyWhen32BitsHoldIt)
{
	std::string huge_name = name_header("Huge");
	const struct {
		off_t size;
		std::string head;
	} cases[] = {
		{ (off_t)0xFFFFFFFF,
		    huge_name + length_header(0xFFFFFFFF) + lnch },
		{ (off_t)0x100000000,
		    huge_name + lnch + hex("48 01 F7") + "Hu" },
	};
	std::string path = fixture("huge.pdb", palm_database("Huge", 100));
	for (const auto &c : cases) {
		SCOPED_TRACE(c.size);
		if (truncate(path.c_str(), c.size) != 0)
			GTEST_SKIP() << "no sparse file: " << strerror(errno);
		EXPECT_EQ(printable(output_head({ path }, c.head.size())),
		    printable(c.head));
	}
	unlink(path.c_str());
}

/*
 * /dev/zero never ends, so only a failed standard output can stop the run;
 * a CPU time limit, which the program inherits, turns a run that would go
 * on for ever into a failure.
 */
TEST(DatabaseFailures, StopsWhenOutputFails)
{
	struct rlimit saved, limit;
	struct rusage used;
	ASSERT_EQ(getrlimit(RLIMIT_CPU, &saved), 0);
	ASSERT_EQ(getrusage(RUSAGE_SELF, &used), 0);
	limit = saved;
	limit.rlim_cur =
	    (rlim_t)used.ru_utime.tv_sec + used.ru_stime.tv_sec + 10;
	if (saved.rlim_max != RLIM_INFINITY && limit.rlim_cur > saved.rlim_max)
		limit.rlim_cur = saved.rlim_max;
	ASSERT_EQ(setrlimit(RLIMIT_CPU, &limit), 0);
	RunOptions options;
	options.stdout_broken = true;
	RunResult r = run_program("fmt-database", { "/dev/zero" }, options);
	setrlimit(RLIMIT_CPU, &saved);
	EXPECT_EQ(r.err,
	    std::string("fmt-database: cannot write to standard output: ") +
		strerror(EPIPE) + "\n");
	EXPECT_EQ(r.status, 1);
}

/*
 * A file that shrinks or grows while it is sent: the Length header
 * already announced its size when it was opened, so the object must not
 * carry more bytes than that, nor end as if whole with fewer.  The
 * program is held on a full pipe, a small part of the way in, while the
 * file changes.
 */
TEST(DatabaseFailures, FileChangedWhileRead)
{
	const struct {
		const char *what;
		size_t size; /* after the change */
	} cases[] = {
		{ "truncated to a third", 1000000 },
		{ "grown by two thirds", 5000000 },
	};
	std::string db = palm_database("Changing", 3000000);
	/* The object as it was announced, without its End-of-Body header. */
	std::string whole = database_object("Changing", 3000000, "lnch", db);
	std::string announced = whole.substr(0, whole.size() - 3);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		std::string path = fixture("changing.pdb", db);
		int fds[2];
		ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0) << strerror(errno);
		RunOptions options;
		options.stdout_fd = fds[1];
		Running running =
		    start_program("fmt-database", { path }, options);
		close(fds[1]);

		/* The first bytes out: the size has been taken. */
		struct pollfd p = { fds[0], POLLIN, 0 };
		EXPECT_EQ(poll(&p, 1, 10000), 1) << "no output in 10 s";
		if (c.size < db.size()) {
			EXPECT_EQ(truncate(path.c_str(), (off_t)c.size), 0);
		} else {
			int fd = open(path.c_str(), O_WRONLY | O_APPEND);
			std::string more(c.size - db.size(), 'g');
			EXPECT_EQ(write(fd, more.data(), more.size()),
			    (ssize_t)more.size());
			close(fd);
		}

		std::string out;
		char buf[65536];
		ssize_t n;
		while ((n = read(fds[0], buf, sizeof(buf))) > 0)
			out.append(buf, (size_t)n);
		close(fds[0]);
		RunResult r = finish_program(running);
		EXPECT_EQ(r.err,
		    "fmt-database: cannot read `" + path +
			"': file size changed while reading\n");
		EXPECT_EQ(r.status, 1);
		EXPECT_LE(out.size(), announced.size());
		EXPECT_TRUE(announced.compare(0, out.size(), out) == 0)
		    << "not the start of the announced object, " << out.size()
		    << " bytes";
	}
}

/*
 * Files whose size says nothing of their contents, as the kernel's own
 * files: no Length header may be sent that the bytes then belie.
 */
TEST(DatabaseFailures, SizeThatBeliesTheContents)
{
	const char *const paths[] = {
		"/proc/self/status", /* size 0 */
		"/sys/devices/system/cpu/online", /* size 4096 */
	};
	int tried = 0;
	for (const char *path : paths) {
		struct stat st;
		if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
			continue;
		SCOPED_TRACE(path);
		tried++;
		RunResult r = run_program("fmt-database", { path });
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err,
		    std::string("fmt-database: cannot read `") + path +
			"': file size changed while reading\n");
		EXPECT_EQ(r.status, 1);
	}
	if (tried == 0)
		GTEST_SKIP() << "no such files on this system";
}

/*
 * fmt-database f >> f would read back its own output until the disk is
 * full; it must stop before it writes a byte.
 */
TEST(DatabaseFailures, OutputIsTheInputFile)
{
	std::string db = palm_database("Self", 1000);
	std::string path = fixture("self.pdb", db);
	RunOptions options;
	options.stdout_path = path;
	options.stdout_append = true;
	RunResult r = run_program("fmt-database", { path }, options);
	EXPECT_EQ(r.err,
	    "fmt-database: cannot read `" + path +
		"': input file is output file\n");
	EXPECT_EQ(r.status, 1);
	struct stat st;
	ASSERT_EQ(stat(path.c_str(), &st), 0);
	EXPECT_EQ(st.st_size, 1000);
}

/*
 * With standard output closed, the file opens as descriptor 1: it is not
 * the output, and there is no output to write to.
 */
TEST(DatabaseFailures, StandardOutputClosed)
{
	std::string path = fixture("closed.pdb", palm_database("Closed", 1000));
	RunOptions options;
	options.stdout_closed = true;
	RunResult r = run_program("fmt-database", { path }, options);
	EXPECT_EQ(r.err,
	    std::string("fmt-database: cannot write to standard output: ") +
		strerror(EBADF) + "\n");
	EXPECT_EQ(r.status, 1);
}

/*
 * Two files on two file systems may share an inode number: only the same
 * number on the same device is the same file.  Two fresh tmpfs mounts, in
 * a mount namespace of the test's own, each hold a first file with the
 * same number; sending one into the other is no loop.
 */
TEST(DatabaseFailures, SameInodeOnAnotherFileSystemIsNotTheOutput)
{
	if (std::string why = cannot_unshare("-rm"); !why.empty())
		GTEST_SKIP() << why;
	std::string path = fixture("twin.pdb", palm_database("Twin", 1000));
	std::string dir = temp_dir() + "/twins";
	ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
	/* The mounts go with the namespace: the results are copied out. */
	std::string script = "set -e\n"
			     "cd \"$1\"\n"
			     "mkdir a b\n"
			     "mount -t tmpfs none a\n"
			     "mount -t tmpfs none b\n"
			     "cp \"$3\" a/twin.pdb\n"
			     ": >b/twin.pdb\n"
			     "if [ \"$(stat -c %i a/twin.pdb)\" != "
			     "\"$(stat -c %i b/twin.pdb)\" ]; then\n"
			     "  echo apart >status; exit 0\n"
			     "fi\n"
			     "set +e\n"
			     "\"$2\" a/twin.pdb >>b/twin.pdb 2>err\n"
			     "echo $? >status\n"
			     "cp b/twin.pdb out\n";
	std::string script_path = fixture("twins.sh", script);
	std::string command = "timeout 60 unshare -rm sh '" + script_path +
	    "' '" + dir + "' '" + program_path("fmt-database") + "' '" + path +
	    "' </dev/null";
	ASSERT_EQ(std::system(command.c_str()), 0);
	std::string status = read_all(dir + "/status");
	if (status == "apart\n")
		GTEST_SKIP()
		    << "fresh tmpfs mounts number their files apart here";
	EXPECT_EQ(status, "0\n") << read_all(dir + "/err");
	EXPECT_TRUE(
	    read_all(dir + "/out") == output_of("fmt-database", { path }));
}
