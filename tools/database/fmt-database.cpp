/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-database: a Palm database file (PDB or PRC), sent unchanged under
 * the database's own name.
 *
 * The file is streamed: a block at a time is read and written out as Body
 * headers before the next is read, so memory stays the same whatever the
 * file's size.
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "fd.h"
#include "objwrite.h"
#include "proc.h"

/* The file goes out in Body headers of at most this many bytes. */
static constexpr size_t CHUNK = 500;

/*
 * Large reads, for the same reason as standard output's large writes:
 * 500-byte reads would cost a system call every 500 bytes.
 */
static unsigned char in_buffer[128 * 1024];

/*
 * An error must not pass for the end of the file: the receiver would take
 * a truncated database for a whole one.  The run ends before the
 * End-of-Body header is written.
 */
[[noreturn]] static void
read_failed(const char *path, const char *reason)
{
	proc_fatal("cannot read `%s': %s", proc_shown(path), reason);
}

/*
 * Reads on until a whole chunk is held or the file ends (a pipe's short
 * read is not the end); true at the end.  A file that came with a Length
 * header must hold exactly that many bytes: one that shrinks or grows
 * while it is read, or one whose size says nothing of its contents (as in
 * /proc), would make an object that lies.  Nothing past the Length is
 * ever sent.
 */
static bool
fill(int fd, const char *path, size_t &held, uint64_t &total,
    const uint64_t *length)
{
	bool end = false;

	while (!end && held < CHUNK) {
		ssize_t n =
		    fd_read(fd, in_buffer + held, sizeof(in_buffer) - held);
		if (n < 0)
			read_failed(path, strerror(errno));
		end = n == 0;
		held += (size_t)n;
		total += (size_t)n;
		if (length != nullptr &&
		    (total > *length || (end && total < *length)))
			read_failed(path, "file size changed while reading");
	}
	return end;
}

int
main(int argc, char *argv[])
{
	uint32_t creator = hdr_code("lnch");
	bool help = false, misuse = false;
	int ch;

	proc_start(argc, argv, "fmt-database");
	while ((ch = getopt(argc, argv, PROC_OPTIONS("hlz"))) != -1) {
		switch (ch) {
		case 'l':
			creator = hdr_code("lnch");
			break;
		case 'z':
			creator = hdr_code("zrCT");
			break;
		case 'h':
			help = true;
			break;
		default:
			misuse = true;
			break;
		}
	}
	if (help || misuse || argc - optind != 1)
		proc_usage("Format Palm Pilot PDB or PRC file",
		    "[-lz] pdb-file", help && !misuse ? 0 : 1);

	const char *path = argv[optind];
	int fd;
	while ((fd = open(path, O_RDONLY)) < 0 && errno == EINTR)
		continue;
	if (fd < 0)
		proc_fatal("cannot open `%s': %s", proc_shown(path),
		    strerror(errno));

	/*
	 * The file took descriptor 1 only because the caller closed
	 * standard output: there is nowhere to write, and no use in reading
	 * a file of any size first to find that out.
	 */
	if (fd == STDOUT_FILENO)
		proc_fatal("cannot write to standard output: %s",
		    strerror(EBADF));

	struct stat st, out;
	bool known = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);

	/*
	 * A file that is also standard output (fmt-database f >> f) would
	 * read back what it has just written, and grow until the disk is
	 * full.  Only the same inode on the same device is the same file:
	 * inode numbers repeat from one file system to the next.
	 */
	if (known && fstat(STDOUT_FILENO, &out) == 0 &&
	    out.st_dev == st.st_dev && out.st_ino == st.st_ino)
		read_failed(path, "input file is output file");

	/*
	 * Only a regular file has a size known in advance, and a size that
	 * 32 bits cannot hold would be sent wrong; a wrong length is worse
	 * than none, so such files go without a Length header.
	 */
	bool counted = known && st.st_size <= (off_t)UINT32_MAX;
	uint64_t length = counted ? (uint64_t)st.st_size : 0;
	const uint64_t *limit = counted ? &length : nullptr;
	uint64_t total = 0; /* bytes read in all */
	size_t held = 0; /* bytes read and not yet sent */
	bool end = fill(fd, path, held, total, limit);

	/*
	 * A Palm database begins with its name, NUL-terminated, in a field
	 * of 32 bytes.  Any other file is sent all the same, under whatever
	 * precedes its first NUL, or all of the first chunk when it holds
	 * none.
	 */
	size_t first = held < CHUNK ? held : CHUNK;
	hdr_name(in_buffer, (int)strnlen((const char *)in_buffer, first));
	if (counted)
		hdr_length((uint32_t)length);
	hdr_creator(creator);

	for (;;) {
		size_t at = 0;
		for (; held - at >= CHUNK; at += CHUNK)
			hdr_body(in_buffer + at, (int)CHUNK);
		if (end) {
			if (held > at)
				hdr_body(in_buffer + at, (int)(held - at));
			break;
		}
		/* No use reading on when nothing more can be written. */
		if (out_error() != 0)
			return proc_finish();
		memmove(in_buffer, in_buffer + at, held - at);
		held -= at;
		end = fill(fd, path, held, total, limit);
	}
	hdr_end_of_body(in_buffer, 0);
	close(fd);
	return proc_finish();
}
