/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * What a caller may hand a program besides its arguments: an empty
 * argv[0], descriptors left non-blocking, a terminal that hangs up after
 * some text, and signals that interrupt a read or a write.  None of them
 * may cost a byte of the object, or let a failure pass for success.
 */
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fd.h"
#include "runner.h"

namespace
{

/* A pipe whose descriptors the started programs do not inherit. */
struct Pipe {
	int fd[2] = { -1, -1 };
	Pipe()
	{
		if (pipe2(fd, O_CLOEXEC) != 0)
			ADD_FAILURE() << "pipe: " << strerror(errno);
	}
	~Pipe()
	{
		close_end(0);
		close_end(1);
	}
	Pipe(const Pipe &) = delete;
	Pipe &operator=(const Pipe &) = delete;
	void close_end(int i)
	{
		if (fd[i] >= 0)
			close(fd[i]);
		fd[i] = -1;
	}
};

void
set_nonblocking(int fd)
{
	int flags = fcntl(fd, F_GETFL);
	ASSERT_GE(flags, 0);
	ASSERT_EQ(fcntl(fd, F_SETFL, flags | O_NONBLOCK), 0);
}

void
pause_ms(int ms)
{
	poll(nullptr, 0, ms);
}

/* Everything from fd until its end, `step` bytes at a time with a pause
 * after each: a reader slower than any writer. */
std::string
read_slowly(int fd, size_t step)
{
	std::string out;
	std::vector<char> buf(step);
	ssize_t n;
	while ((n = read(fd, buf.data(), buf.size())) > 0) {
		out.append(buf.data(), (size_t)n);
		pause_ms(1);
	}
	return out;
}

/* A text without line ends, too long for a pipe or for one header. */
const std::string &
big_text()
{
	static const std::string text = [] {
		std::string t;
		for (int i = 0; t.size() < 600000; i++)
			t.push_back((char)('a' + i % 26));
		return t;
	}();
	return text;
}

} // namespace

/* getopt's own diagnostic names the program, as every other message. */
TEST(Caller, EmptyArgv0NamesTheProgram)
{
	for (const char *program : { "fmt-memo", "fmt-address", "fmt-date",
		 "fmt-todo", "fmt-phonecard", "fmt-database" }) {
		SCOPED_TRACE(program);
		RunOptions options;
		options.argv0 = "";
		RunResult r = run_program(program, { "-x" }, options);
		std::string name = std::string(program) + ": ";
		EXPECT_EQ(r.err.compare(0, name.size(), name), 0) << r.err;
		EXPECT_NE(r.err.find("\nUsage: " + std::string(program) + " "),
		    std::string::npos)
		    << r.err;
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.status, 1);
	}
}

/*
 * Standard output left non-blocking, and read more slowly than it is
 * written: the program must wait for room, not take EAGAIN for an error.
 */
TEST(Caller, NonBlockingOutputReadSlowly)
{
	std::string db = big_text();
	db[10] = '\0';
	std::string path = temp_dir() + "/slow.pdb";
	write_file(path, db);
	const struct {
		const char *program;
		std::vector<std::string> args;
		std::string input;
		std::string out;
	} cases[] = {
		{ "fmt-memo", {}, big_text(),
		    object({ .creator = "memo", .payload = big_text() }) },
		{ "fmt-database", { path }, "",
		    object({ .name = db.substr(0, 10),
			.length = (uint32_t)db.size(),
			.creator = "lnch",
			.bodies =
			    [&] {
				    std::vector<std::string> b;
				    for (size_t at = 0; at < db.size();
					 at += 500)
					    b.push_back(db.substr(at, 500));
				    return b;
			    }() }) },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.program);
		Pipe out;
		set_nonblocking(out.fd[1]);
		RunOptions options;
		options.input = c.input;
		options.stdout_fd = out.fd[1];
		Running running = start_program(c.program, c.args, options);
		out.close_end(1);
		std::string got = read_slowly(out.fd[0], 4096);
		RunResult r = finish_program(running);
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(r.status, 0);
		EXPECT_TRUE(got == c.out)
		    << got.size() << " bytes of " << c.out.size();
	}
}

/* Standard input left non-blocking, written more slowly than it is read. */
TEST(Caller, NonBlockingInputWrittenSlowly)
{
	Pipe in;
	set_nonblocking(in.fd[0]);
	RunOptions options;
	options.stdin_fd = in.fd[0];
	Running running = start_program("fmt-memo", {}, options);
	in.close_end(0);
	const std::string &text = big_text();
	/* A program that gave up reading leaves the pipe without a reader. */
	void (*saved)(int) = signal(SIGPIPE, SIG_IGN);
	for (size_t at = 0; at < text.size(); at += 4096) {
		size_t n = std::min<size_t>(4096, text.size() - at);
		if (write(in.fd[1], text.data() + at, n) != (ssize_t)n) {
			ADD_FAILURE() << "input taken up to " << at
				      << " bytes: " << strerror(errno);
			break;
		}
		pause_ms(1);
	}
	signal(SIGPIPE, saved);
	in.close_end(1);
	RunResult r = finish_program(running);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_TRUE(r.out == object({ .creator = "memo", .payload = text }))
	    << r.out.size() << " bytes";
}

namespace
{

/*
 * A pseudo-terminal whose terminal side wrote `text` and closed: its
 * other side reads the text and then fails with EIO (where the system
 * behaves so; -1 when it does not, or has no pseudo-terminals).
 */
int
hung_up_terminal(const std::string &text)
{
	int master = posix_openpt(O_RDWR | O_NOCTTY);
	if (master < 0)
		return -1;
	int slave = -1;
	if (fcntl(master, F_SETFD, FD_CLOEXEC) != 0 || grantpt(master) != 0 ||
	    unlockpt(master) != 0 || ptsname(master) == nullptr ||
	    (slave = open(ptsname(master), O_RDWR | O_NOCTTY)) < 0) {
		close(master);
		return -1;
	}
	/* Raw, so that the text arrives as it was written. */
	struct termios t;
	if (tcgetattr(slave, &t) == 0) {
		t.c_oflag &= ~(tcflag_t)OPOST;
		t.c_lflag &= ~(tcflag_t)(ECHO | ICANON);
		tcsetattr(slave, TCSANOW, &t);
	}
	bool ok =
	    write(slave, text.data(), text.size()) == (ssize_t)text.size();
	close(slave);
	if (!ok) {
		close(master);
		return -1;
	}
	return master;
}

} // namespace

/*
 * A read error after some text has arrived must fail the run: the text so
 * far is not the whole of it.
 */
TEST(Caller, TerminalHangingUpAfterText)
{
	/* Whether this system reports the hang-up as an error at all. */
	int probe = hung_up_terminal("probe");
	if (probe < 0)
		GTEST_SKIP() << "no pseudo-terminal";
	char buf[64];
	ssize_t first = read(probe, buf, sizeof(buf));
	ssize_t second = read(probe, buf, sizeof(buf));
	int second_errno = errno;
	close(probe);
	if (first != 5 || second != -1 || second_errno != EIO)
		GTEST_SKIP() << "a hung-up terminal reads as its end here";

	const struct {
		const char *program;
		std::vector<std::string> args;
	} cases[] = {
		{ "fmt-memo", {} },
		{ "fmt-address", {} },
		{ "fmt-date", { "-d", "20240315" } },
		{ "fmt-todo", { "-d", "20240315" } },
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.program);
		int terminal = hung_up_terminal("milk\neggs\n");
		ASSERT_GE(terminal, 0);
		RunOptions options;
		options.stdin_fd = terminal;
		Running running = start_program(c.program, c.args, options);
		close(terminal);
		RunResult r = finish_program(running);
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err,
		    std::string(c.program) + ": cannot read standard input: " +
			strerror(EIO) + "\n");
		EXPECT_EQ(r.status, 1);
	}
}

namespace
{

/*
 * A signal whose handler does not ask for interrupted calls to be
 * restarted, so that a blocked read or write fails with EINTR.  The
 * handler tells a helper process, through `notify`, to unblock the call;
 * the timer repeats, so a signal that came too early is followed by one
 * that finds the call blocked.
 */
int notify_fd = -1;
volatile sig_atomic_t interruptions;

extern "C" void
on_alarm(int)
{
	int saved = errno;
	interruptions = interruptions + 1;
	if (interruptions == 2)
		(void)!write(notify_fd, "!", 1);
	errno = saved;
}

class Interrupted : public testing::Test
{
      protected:
	void SetUp() override
	{
		interruptions = 0;
		struct sigaction sa = {};
		sa.sa_handler = on_alarm;
		sigemptyset(&sa.sa_mask);
		sa.sa_flags = 0; /* no SA_RESTART */
		ASSERT_EQ(sigaction(SIGALRM, &sa, &saved_), 0);
		notify_fd = notify_.fd[1];
	}
	void TearDown() override
	{
		stop_timer();
		sigaction(SIGALRM, &saved_, nullptr);
		helper_status();
	}
	void start_timer()
	{
		struct itimerval every = { { 0, 20000 }, { 0, 20000 } };
		ASSERT_EQ(setitimer(ITIMER_REAL, &every, nullptr), 0);
	}
	void stop_timer()
	{
		struct itimerval off = {};
		setitimer(ITIMER_REAL, &off, nullptr);
	}
	/* Runs `act` in a helper process once the handler has called. */
	template <class F> void helper(F act)
	{
		fflush(nullptr);
		helper_ = fork();
		if (helper_ == 0) {
			char c;
			_exit(read(notify_.fd[0], &c, 1) == 1 && act() ? 0 : 1);
		}
		ASSERT_GT(helper_, 0);
	}
	/*
	 * The helper's exit status; one still waiting after ten seconds (the
	 * call returned before the handler told it to act) is killed.
	 */
	int helper_status()
	{
		int status = -1;
		if (helper_ <= 0)
			return -1;
		for (int i = 0; i < 1000; i++) {
			if (waitpid(helper_, &status, WNOHANG) == helper_) {
				helper_ = -1;
				return WIFEXITED(status) ? WEXITSTATUS(status)
							 : 128;
			}
			pause_ms(10);
		}
		kill(helper_, SIGKILL);
		waitpid(helper_, nullptr, 0);
		helper_ = -1;
		return -1;
	}
	Pipe notify_;
	pid_t helper_ = -1;
	struct sigaction saved_ = {};
};

} // namespace

TEST_F(Interrupted, ReadIsMadeAgain)
{
	Pipe data;
	helper([&] { return write(data.fd[1], "hello", 5) == 5; });
	start_timer();
	char buf[16];
	ssize_t n = fd_read(data.fd[0], buf, sizeof(buf));
	stop_timer();
	EXPECT_GE(interruptions, 2);
	ASSERT_EQ(n, 5) << strerror(errno);
	EXPECT_EQ(std::string(buf, 5), "hello");
	EXPECT_EQ(helper_status(), 0);
}

TEST_F(Interrupted, WriteIsMadeAgain)
{
	Pipe data;
	/* Fill the pipe, then write a block it has no room for. */
	set_nonblocking(data.fd[1]);
	size_t filled = 0;
	char block[4096];
	memset(block, 'w', sizeof(block));
	ssize_t w;
	while ((w = write(data.fd[1], block, sizeof(block))) > 0)
		filled += (size_t)w;
	ASSERT_EQ(errno, EAGAIN);
	ASSERT_EQ(fcntl(data.fd[1], F_SETFL,
		      fcntl(data.fd[1], F_GETFL) & ~O_NONBLOCK),
	    0);
	size_t total = filled + sizeof(block);
	helper([&] {
		size_t got = 0;
		char buf[4096];
		while (got < total) {
			ssize_t n = read(data.fd[0], buf, sizeof(buf));
			if (n <= 0)
				return false;
			got += (size_t)n;
		}
		return true;
	});
	start_timer();
	bool ok = fd_write(data.fd[1], block, sizeof(block));
	stop_timer();
	EXPECT_GE(interruptions, 2);
	EXPECT_TRUE(ok) << strerror(errno);
	EXPECT_EQ(helper_status(), 0);
}
