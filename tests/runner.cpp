/* SPDX-License-Identifier: BSD-2-Clause */
#include "runner.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char **environ;

#ifndef FMT_BIN_DIR
#error "FMT_BIN_DIR must name the directory of the built programs"
#endif

std::string
program_path(std::string_view name)
{
	return std::string(FMT_BIN_DIR) + "/" + std::string(name);
}

std::string
temp_dir()
{
	static std::string dir;
	if (dir.empty()) {
		const char *tmp = getenv("TMPDIR");
		std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") +
		    "/fmt-test.XXXXXX";
		if (mkdtemp(templ.data()) == nullptr)
			abort();
		dir = templ;
		atexit([] {
			std::error_code ec;
			std::filesystem::remove_all(dir, ec);
			if (ec)
				fprintf(stderr, "cannot remove %s: %s\n",
				    dir.c_str(), ec.message().c_str());
		});
	}
	return dir;
}

void
write_file(const std::string &path, std::string_view bytes)
{
	std::ofstream f(path, std::ios::binary | std::ios::trunc);
	f.write(bytes.data(), (std::streamsize)bytes.size());
	if (!f)
		ADD_FAILURE() << "cannot write " << path;
}

static std::string
read_file(const std::string &path)
{
	std::ifstream f(path, std::ios::binary);
	std::stringstream s;
	s << f.rdbuf();
	return s.str();
}

Running
start_program(std::string_view name, const std::vector<std::string> &args,
    const RunOptions &options)
{
	static int serial;
	std::string base = temp_dir() + "/run" + std::to_string(++serial);
	std::string in_path = options.stdin_path;
	if (in_path.empty() && options.stdin_fd < 0) {
		in_path = base + ".in";
		write_file(in_path, options.input);
	}
	std::string out_path =
	    options.stdout_path.empty() ? base + ".out" : options.stdout_path;
	/* Standard output is collected only from a file of the runner's. */
	bool collect = options.stdout_path.empty() && !options.stdout_broken &&
	    options.stdout_fd < 0;
	Running running{ .pid = -1,
		.path = program_path(name),
		.out_path = collect ? out_path : "",
		.err_path = base + ".err" };

	std::vector<std::string> words;
	words.emplace_back(options.argv0 != nullptr ? options.argv0 : name);
	words.insert(words.end(), args.begin(), args.end());
	std::vector<char *> argv;
	if (!options.empty_argv)
		for (auto &w : words)
			argv.push_back(w.data());
	argv.push_back(nullptr);

	/* The options' variables replace any of the same name. */
	std::vector<std::string> env_words = options.env;
	for (char **e = environ; *e != nullptr; e++) {
		std::string_view var(*e);
		bool replaced = false;
		for (const auto &o : options.env)
			replaced |=
			    std::string_view(o).substr(0, o.find('=') + 1) ==
			    var.substr(0, var.find('=') + 1);
		if (!replaced)
			env_words.emplace_back(var);
	}
	std::vector<char *> envp;
	for (auto &e : env_words)
		envp.push_back(e.data());
	envp.push_back(nullptr);

	fflush(nullptr);
	pid_t pid = fork();
	if (pid == 0) {
		int in = options.stdin_fd >= 0
		    ? options.stdin_fd
		    : open(in_path.c_str(), O_RDONLY);
		/* As a user's shell hands them over, whatever ours did. */
		for (int sig : { SIGPIPE, SIGINT, SIGTERM, SIGHUP })
			signal(sig, SIG_DFL);
		int out = -1;
		if (options.stdout_fd >= 0) {
			out = options.stdout_fd;
		} else if (options.stdout_broken) {
			int p[2];
			if (pipe(p) == 0) {
				close(p[0]);
				out = p[1];
			}
			signal(SIGPIPE, SIG_IGN);
		} else {
			out = open(out_path.c_str(),
			    O_WRONLY | O_CREAT |
				(options.stdout_append ? O_APPEND : O_TRUNC),
			    0600);
		}
		int err = open(running.err_path.c_str(),
		    O_WRONLY | O_CREAT | O_TRUNC, 0600);
		if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 ||
		    dup2(out, 1) < 0 || dup2(err, 2) < 0)
			_exit(125);
		if (options.stdout_closed)
			close(1);
		if (options.memory_limit != 0) {
			rlim_t most = static_cast<rlim_t>(options.memory_limit);
			struct rlimit rl = { most, most };
			if (setrlimit(RLIMIT_AS, &rl) != 0)
				_exit(125);
		}
		execve(running.path.c_str(), argv.data(), envp.data());
		_exit(126);
	}
	if (pid < 0)
		ADD_FAILURE() << "cannot start " << running.path << ": "
			      << strerror(errno);
	running.pid = pid;
	return running;
}

RunResult
finish_program(const Running &running)
{
	RunResult r{};
	int wstatus = 0;
	if (running.pid < 0)
		return r;
	if (waitpid(running.pid, &wstatus, 0) != running.pid) {
		ADD_FAILURE() << "cannot wait for " << running.path << ": "
			      << strerror(errno);
		return r;
	}
	r.status =
	    WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
	if (!running.out_path.empty())
		r.out = read_file(running.out_path);
	r.err = read_file(running.err_path);
	return r;
}

RunResult
run_program(std::string_view name, const std::vector<std::string> &args,
    const RunOptions &options)
{
	return finish_program(start_program(name, args, options));
}

std::string
output_of(std::string_view name, const std::vector<std::string> &args,
    const std::string &input)
{
	RunOptions options;
	options.input = input;
	RunResult r = run_program(name, args, options);
	EXPECT_EQ(r.status, 0) << name << ": " << r.err;
	return r.out;
}

std::string
cannot_unshare(const char *options)
{
	std::string command =
	    std::string("unshare ") + options + " true 2>&1 </dev/null";
	FILE *p = popen(command.c_str(), "r");
	if (p == nullptr)
		return std::string("cannot run unshare: ") + strerror(errno);
	std::string said;
	char buf[512];
	size_t n;
	while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
		said.append(buf, n);
	int status = pclose(p);
	if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
		return "";
	while (!said.empty() && said.back() == '\n')
		said.pop_back();
	return "unshare " + std::string(options) + " is not allowed here" +
	    (said.empty() ? std::string() : ": " + said);
}

std::string
hex(std::string_view text)
{
	std::string bytes;
	int digits = 0, value = 0;
	for (char c : text) {
		int d;
		if (c >= '0' && c <= '9')
			d = c - '0';
		else if (c >= 'a' && c <= 'f')
			d = c - 'a' + 10;
		else if (c >= 'A' && c <= 'F')
			d = c - 'A' + 10;
		else
			continue;
		value = value * 16 + d;
		if (++digits == 2) {
			bytes.push_back((char)value);
			digits = value = 0;
		}
	}
	return bytes;
}

std::string
be16(unsigned v)
{
	return { (char)(v >> 8 & 0xFF), (char)(v & 0xFF) };
}

std::string
be32(uint32_t v)
{
	return be16(v >> 16) + be16(v & 0xFFFF);
}

std::string
name_header(std::string_view name)
{
	std::string h = "\x01" + be16(2 * (unsigned)name.size() + 5);
	for (char c : name)
		h += std::string(1, '\0') + c;
	return h + be16(0);
}

std::string
length_header(uint32_t length)
{
	return "\xC3" + be32(length);
}

std::string
creator_header(std::string_view code)
{
	return "\xCF" + std::string(code);
}

static std::string
bytes_header(char id, std::string_view data)
{
	return id + be16((unsigned)data.size() + 3) + std::string(data);
}

std::string
type_header(std::string_view type)
{
	return bytes_header('\x42', std::string(type) + std::string(1, '\0'));
}

std::string
body_header(std::string_view data)
{
	return bytes_header('\x48', data);
}

std::string
end_of_body(std::string_view data)
{
	return bytes_header('\x49', data);
}

std::string
object(const ObjectParts &parts)
{
	/* The most data one header's 16-bit length leaves room for. */
	constexpr size_t most = 65535 - 3;
	std::string o;
	if (parts.name)
		o += name_header(*parts.name);
	if (parts.length)
		o += length_header(*parts.length);
	if (!parts.creator.empty())
		o += creator_header(parts.creator);
	for (const std::string &b : parts.bodies)
		o += body_header(b);
	std::string_view rest = parts.payload;
	for (; rest.size() > most; rest.remove_prefix(most))
		o += body_header(rest.substr(0, most));
	return o + end_of_body(rest);
}

std::string
printable(std::string_view bytes)
{
	std::string s;
	char buf[8];
	for (unsigned char c : bytes) {
		if (c >= 0x20 && c < 0x7F && c != '\\') {
			s.push_back((char)c);
		} else {
			snprintf(buf, sizeof(buf), "\\x%02X", c);
			s += buf;
		}
	}
	return s;
}

LongText
long_text()
{
	std::string line(99, 'x');
	LongText t;
	for (int i = 0; i < 700; i++) {
		t.input += line + "\n";
		t.text += line + "\r\n";
	}
	return t;
}

std::string
palm_file(std::string_view name, size_t size)
{
	std::string f(name);
	f.resize(32, '\0');
	for (size_t i = 0; f.size() < size; i++)
		f.push_back((char)(i * 37 + 11));
	return f;
}

void
PrintTo(const CaseRun &c, std::ostream *os)
{
	*os << c.name;
}

void
expect_case(std::string_view program, const CaseRun &c)
{
	RunOptions options;
	options.input = c.input;
	RunResult r = run_program(program, c.args, options);
	EXPECT_EQ(printable(r.out), printable(c.out)) << "standard output";
	if (c.err_tail) {
		EXPECT_TRUE(r.err.size() > c.err.size() &&
		    r.err.compare(r.err.size() - c.err.size(), c.err.size(),
			c.err) == 0)
		    << "standard error: " << r.err;
	} else {
		EXPECT_EQ(r.err, c.err) << "standard error";
	}
	EXPECT_EQ(r.status, c.status) << "exit status";
}
