/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The loadable half of -i: everything that needs libical, behind one C
 * entry point that vcal_run finds by name.  The module carries its own
 * copy of the object writer and the process helpers, so that the
 * programs themselves need export nothing to it.
 */
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "fd.h"
#include "objwrite.h"
#include "proc.h"
#include "vcal.h"

/* All of a descriptor's bytes, or false with errno set. */
static bool
read_all(int fd, std::string &text)
{
	char block[65536];
	ssize_t n;

	while ((n = fd_read(fd, block, sizeof(block))) > 0)
		text.append(block, (size_t)n);
	return n == 0;
}

/* A line on standard error, its control bytes shown as escapes. */
static void
say(const std::string &line)
{
	fprintf(stderr, "%s: %s\n", proc_name(), proc_shown(line.c_str()));
}

static int
run(vcal_kind kind, const char *path, bool lossy)
{
	std::string text;
	if (path != nullptr && strcmp(path, "-") == 0)
		path = nullptr;
	std::string input = path != nullptr ? std::string("`") + path + "'"
					    : std::string("standard input");

	if (path == nullptr) {
		if (!read_all(STDIN_FILENO, text))
			proc_fatal("cannot read standard input: %s",
			    strerror(errno));
	} else {
		int fd = open(path, O_RDONLY | O_CLOEXEC);
		if (fd < 0)
			proc_fatal("cannot open `%s': %s", proc_shown(path),
			    strerror(errno));
		if (!read_all(fd, text))
			proc_fatal("cannot read `%s': %s", proc_shown(path),
			    strerror(errno));
		close(fd);
	}

	/*
	 * libical tells standard error of what it meets in a malformed file,
	 * in its source's file and line; what it means reaches the user as a
	 * fault or a loss, in words of this program's.
	 */
	std::vector<vcal_object> objects;
	std::string fault;
	fflush(stderr);
	int saved = dup(STDERR_FILENO);
	int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
	if (saved >= 0 && null >= 0)
		dup2(null, STDERR_FILENO);
	bool read = vcal_convert(text, kind, objects, fault, false);
	if (saved >= 0 && null >= 0)
		dup2(saved, STDERR_FILENO);
	if (saved >= 0)
		close(saved);
	if (null >= 0)
		close(null);
	if (!read) {
		say(input + " " + fault);
		return 1;
	}

	/* Every loss is named, whether the object goes out or not. */
	int lossy_objects = 0;
	for (const vcal_object &o : objects) {
		lossy_objects += !o.losses.empty();
		for (const vcal_loss &l : o.losses)
			say(o.ref + ": " + l.what +
			    (lossy ? ": " + l.near : std::string()));
	}
	if (lossy_objects > 0 && !lossy) {
		say("nothing written: " + std::to_string(lossy_objects) +
		    (kind == VCAL_EVENTS ? " event" : " to-do") +
		    (lossy_objects > 1 ? "s hold" : " holds") +
		    " what vCalendar 1.0 cannot say; -l writes what it can");
		return 1;
	}

	const uint32_t creator =
	    kind == VCAL_EVENTS ? hdr_code("date") : hdr_code("todo");
	for (const vcal_object &o : objects) {
		if (!o.written)
			continue;
		if (o.named)
			hdr_name(o.name.data(), (int)o.name.size());
		hdr_creator(creator);
		hdr_payload(o.payload.data(), o.payload.size());
	}
	return proc_finish();
}

extern "C" int
fmt_vcal_run(const char *progname, int kind, const char *path, int lossy)
{
	char *argv[] = { const_cast<char *>(progname), nullptr };

	proc_start(1, argv, progname);
	try {
		return run(kind == VCAL_TODOS ? VCAL_TODOS : VCAL_EVENTS, path,
		    lossy != 0);
	} catch (const std::bad_alloc &) {
		proc_fatal("out of memory");
	}
}
