/*
 * fmt-database: a Palm database file (PDB or PRC), sent unchanged under
 * the database's own name.
 *
 * The file is streamed: one chunk at a time is read and written out as a
 * Body header before the next is read, so memory stays the same whatever
 * the file's size.
 */
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "objstream.h"

/* The file goes out in Body headers of at most this many bytes. */
static constexpr size_t CHUNK = 500;

/*
 * Large input buffer, for the same reason as standard output's: 500-byte
 * reads would otherwise cost a system call every few kilobytes.  Some libcs
 * ignore the size unless they are handed the buffer.
 */
static char in_buffer[128 * 1024];

/*
 * fread gives a short count only at the end of the file or on an error,
 * and an error must not pass for the end: the receiver would take a
 * truncated database for a whole one.  The run ends before the End-of-Body
 * header is written.
 */
static size_t
read_chunk(FILE *fp, char *chunk, const char *path)
{
	size_t n = fread(chunk, 1, CHUNK, fp);

	if (n < CHUNK && ferror(fp))
		obj_fatal("cannot read `%s': %s", path, strerror(errno));
	return n;
}

int
main(int argc, char *argv[])
{
	uint32_t creator = hdr_code("lnch");
	bool help = false, misuse = false;
	int ch;

	obj_start(argc, argv, "fmt-database");
	while ((ch = obj_getopt(argc, argv, "hlz")) != -1) {
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
		obj_usage("Format Palm Pilot PDB or PRC file\n"
			  "Usage: %s [-lz] pdb-file\n",
		    help && !misuse ? 0 : 1);

	const char *path = argv[optind];
	FILE *fp = fopen(path, "rb");
	if (fp == nullptr)
		obj_fatal("cannot open `%s': %s", path, strerror(errno));
	setvbuf(fp, in_buffer, _IOFBF, sizeof(in_buffer));

	/*
	 * A Palm database begins with its name, NUL-terminated, in a field of
	 * 32 bytes.  Any other file is sent all the same, under whatever
	 * precedes its first NUL, or all of the first chunk when it holds
	 * none.
	 */
	char chunk[CHUNK];
	size_t n = read_chunk(fp, chunk, path);
	hdr_name(chunk, (int)strnlen(chunk, n));

	/*
	 * Only a regular file has a size known in advance, and a size that
	 * 32 bits cannot hold would be sent wrong; a wrong length is worse
	 * than none, so such files go without a Length header.
	 */
	struct stat st;
	if (fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode) &&
	    st.st_size <= (off_t)UINT32_MAX)
		hdr_length((uint32_t)st.st_size);
	hdr_creator(creator);

	while (n > 0) {
		hdr_body(chunk, (int)n);
		/* No use reading on when nothing more can be written. */
		if (out_error() != 0)
			return obj_finish();
		n = read_chunk(fp, chunk, path);
	}
	hdr_end_of_body(chunk, 0);
	fclose(fp);
	return obj_finish();
}
