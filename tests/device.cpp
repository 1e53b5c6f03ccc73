/* SPDX-License-Identifier: BSD-2-Clause */
#include "device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

std::string
packet(int code, std::string_view contents)
{
	return (char)code + be16((unsigned)contents.size() + 3) +
	    std::string(contents);
}

std::string
connected(unsigned mtu, std::string_view headers)
{
	return packet(0xA0, hex("10 00") + be16(mtu) + std::string(headers));
}

Child
start_send(const std::vector<std::string> &args, const std::string &input,
    bool stderr_broken)
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
		int err = -1;
		if (stderr_broken) {
			int p[2];
			if (pipe(p) == 0) {
				close(p[0]);
				err = p[1];
			}
		} else {
			err = open((base + ".err").c_str(),
			    O_WRONLY | O_CREAT | O_TRUNC, 0600);
		}
		int out = open("/dev/null", O_WRONLY);
		if (in < 0 || err < 0 || out < 0 || dup2(in, 0) < 0 ||
		    dup2(out, 1) < 0 || dup2(err, 2) < 0)
			_exit(125);
		for (int sig : { SIGPIPE, SIGINT, SIGTERM, SIGHUP })
			signal(sig, SIG_DFL);
		execv(path.c_str(), argv.data());
		_exit(126);
	}
	return { pid, base + ".err" };
}

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

std::string
read_request(int fd, bool slow)
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
