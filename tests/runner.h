/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Runs a built program as a child process and collects what it did: its
 * standard output bytes, its standard error and its exit status.  A case
 * table of CaseRun rows describes one program's behaviour as data.
 */
#ifndef TESTS_RUNNER_H
#define TESTS_RUNNER_H

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

struct RunResult {
	std::string out;
	std::string err = {};
	int status; /* exit status, or 128 + signal number */
};

struct RunOptions {
	std::string input; /* standard input, from a file */
	std::string stdin_path; /* or this file instead, if not empty */
	std::string stdout_path; /* standard output to this file instead */
	/* Standard output a pipe that nobody reads, SIGPIPE ignored: every
	 * write fails with EPIPE. */
	bool stdout_broken = false;
	bool stdout_closed = false; /* started with descriptor 1 closed */
	bool empty_argv = false; /* start with argc 0 */
	std::vector<std::string> env; /* NAME=value, added to the environment */
	unsigned long memory_limit = 0; /* bytes of address space, 0: none */
	/* Descriptors of the caller's to use as standard input or output,
	 * -1: none (the caller keeps and closes its own). */
	int stdin_fd = -1;
	int stdout_fd = -1;
	bool stdout_append = false; /* stdout_path opened as >> would */
	const char *argv0 = nullptr; /* argv[0] instead of the name */
};

/* The path of a built program, by its name ("fmt-memo"). */
std::string program_path(std::string_view name);

/* Runs the program `name` with argv[0] = name and the given arguments. */
RunResult run_program(std::string_view name,
    const std::vector<std::string> &args, const RunOptions &options = {});

/*
 * The standard output of a program run that must succeed: a run that
 * exits with another status fails the test, with its standard error.
 */
std::string output_of(std::string_view name,
    const std::vector<std::string> &args, const std::string &input = "");

/*
 * The same in two steps, for a test that acts while the program runs (on
 * the pipes it handed over as stdin_fd or stdout_fd, which it should
 * create with O_CLOEXEC, so that the program holds no other end open).
 */
struct Running {
	pid_t pid;
	std::string path; /* of the program */
	std::string out_path; /* standard output's file, or empty */
	std::string err_path;
};
Running start_program(std::string_view name,
    const std::vector<std::string> &args, const RunOptions &options = {});
RunResult finish_program(const Running &running);

/*
 * Why `unshare OPTIONS` cannot run here (namespaces forbidden, as in many
 * containers and chroots), or "" when it can: a test that needs one
 * skips with this reason.
 */
std::string cannot_unshare(const char *options);

/* "01 00 0D" -> the three bytes; spaces and line breaks are skipped. */
std::string hex(std::string_view text);

/* v in two or four bytes, high byte first, as header fields carry it. */
std::string be16(unsigned v);
std::string be32(uint32_t v);

/*
 * Expected objects, from their parts.  The headers are laid out as the
 * programs write them; the worked examples, spelled out byte for byte in
 * the tests, hold these builders to that.
 */

/* The Name header of `name`, each byte widened to 16 bits. */
std::string name_header(std::string_view name);

/* A Length header, and a Creator ID header with its four letters. */
std::string length_header(uint32_t length);
std::string creator_header(std::string_view code);

/* A Type header: the type's text and a zero byte. */
std::string type_header(std::string_view type);

/* A Body header and an End-of-Body header with their data. */
std::string body_header(std::string_view data);
std::string end_of_body(std::string_view data);

/*
 * A whole object: Name, Length, Creator ID, Body and End of Body, each
 * where the part is given.  A payload longer than one header holds goes
 * out as the text programs send it: full Body headers, then the rest in
 * the End-of-Body header.
 */
struct ObjectParts {
	std::optional<std::string> name = {};
	std::optional<uint32_t> length = {};
	std::string creator = {}; /* four letters, or empty for none */
	std::vector<std::string> bodies = {}; /* the data of each Body */
	std::string payload = {}; /* the End-of-Body data */
};
std::string object(const ObjectParts &parts);

/* Bytes shown for a failure message: printable ASCII, the rest as \xNN. */
std::string printable(std::string_view bytes);

/*
 * A text too long for one header: 700 lines of 99 bytes with LF line ends
 * (70,000 bytes), and the 70,700 bytes they become with CR LF.
 */
struct LongText {
	std::string input;
	std::string text;
};
LongText long_text();

/*
 * A file that begins as a Palm database does, with its name NUL-padded in
 * a field of 32 bytes, and then holds every byte value in turn.
 */
std::string palm_file(std::string_view name, size_t size);

/* Makes a temporary directory that lives until the test program ends. */
std::string temp_dir();

/* Writes bytes to a file. */
void write_file(const std::string &path, std::string_view bytes);

/*
 * One row of a program's case table.  `err` is the whole of standard error,
 * or, with err_tail set, its end (the wording of getopt's own diagnostics
 * belongs to the platform, so only what follows them is checked).
 */
struct CaseRun {
	const char *name = "";
	std::vector<std::string> args = {};
	std::string input = {};
	std::string out = {};
	std::string err = {};
	int status = 0;
	bool err_tail = false;
};

void PrintTo(const CaseRun &c, std::ostream *os);

/* Runs `program` as the row says and checks all three results. */
void expect_case(std::string_view program, const CaseRun &c);

/* The name of a parameterised test: the row's own name. */
struct CaseName {
	template <class P>
	std::string operator()(const testing::TestParamInfo<P> &info) const
	{
		return info.param.name;
	}
};

#endif
