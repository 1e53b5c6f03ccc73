/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Where objects go, and the names they are stored under.
 *
 * A directory store never trusts a sender's Name: the file name is its
 * last path element with control characters and leading dots taken out,
 * and the file is made inside the directory it was given (openat on the
 * directory, never a path).  The payload goes to a hidden temporary file
 * created exclusively; once the object is whole the file is flushed to
 * disk, linked under its name (which fails, rather than replaces, when
 * the name is taken: then " (2)", " (3)", ... are tried), and the
 * directory is flushed too, all before the sender is told Success.
 *
 * Standard output gets each object only once it is whole, so the payload
 * waits in an unlinked temporary file meanwhile: memory holds no more
 * than a packet whatever the object's size.
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "fd.h"
#include "objwrite.h"
#include "proc.h"
#include "recv.h"

/* Appends code point c as UTF-8 if it fits within out_size - 1. */
static bool
put_utf8(char *out, size_t out_size, size_t &k, unsigned c)
{
	unsigned char b[4];
	size_t n;

	if (c < 0x80) {
		b[0] = (unsigned char)c;
		n = 1;
	} else if (c < 0x800) {
		b[0] = (unsigned char)(0xC0 | c >> 6);
		b[1] = (unsigned char)(0x80 | (c & 0x3F));
		n = 2;
	} else if (c < 0x10000) {
		b[0] = (unsigned char)(0xE0 | c >> 12);
		b[1] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
		b[2] = (unsigned char)(0x80 | (c & 0x3F));
		n = 3;
	} else {
		b[0] = (unsigned char)(0xF0 | c >> 18);
		b[1] = (unsigned char)(0x80 | (c >> 12 & 0x3F));
		b[2] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
		b[3] = (unsigned char)(0x80 | (c & 0x3F));
		n = 4;
	}
	if (k + n >= out_size)
		return false;
	memcpy(out + k, b, n);
	k += n;
	return true;
}

/* The length of the UTF-8 character at p (n bytes left); 0 if invalid. */
static size_t
utf8_length(const unsigned char *p, size_t n)
{
	size_t len;
	unsigned least;

	if (p[0] < 0x80)
		return 1;
	if (p[0] >= 0xC2 && p[0] <= 0xDF)
		len = 2, least = 0x80;
	else if (p[0] >= 0xE0 && p[0] <= 0xEF)
		len = 3, least = 0x800;
	else if (p[0] >= 0xF0 && p[0] <= 0xF4)
		len = 4, least = 0x10000;
	else
		return 0;
	if (len > n)
		return 0;
	unsigned c = p[0] & (0x7F >> len);
	for (size_t i = 1; i < len; i++) {
		if ((p[i] & 0xC0) != 0x80)
			return 0;
		c = c << 6 | (p[i] & 0x3F);
	}
	if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
		return 0;
	return len;
}

size_t
recv_name_utf8(const unsigned char *units, size_t count, char *out,
    size_t out_size)
{
	unsigned char bytes[OBEX_PACKET_MAX / 2];
	size_t n = count / 2, k = 0;
	bool widened = n <= sizeof(bytes);

	/* A zero unit inside the text would end it early: shown as '_'. */
	for (size_t i = 0; i < n && widened; i++) {
		widened = units[2 * i] == 0;
		bytes[i] = units[2 * i + 1] != 0 ? units[2 * i + 1] : '_';
	}
	for (size_t i = 0, len; widened && i < n; i += len)
		widened = (len = utf8_length(bytes + i, n - i)) != 0;
	if (widened) {
		/* Bytes widened to units, spelling UTF-8: those bytes. */
		for (size_t i = 0, len; i < n; i += len) {
			len = utf8_length(bytes + i, n - i);
			if (k + len >= out_size)
				break;
			memcpy(out + k, bytes + i, len);
			k += len;
		}
		out[k] = '\0';
		return k;
	}
	for (size_t i = 0; i < n; i++) {
		unsigned c = obex_get16(units + 2 * i);
		if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n) {
			unsigned low = obex_get16(units + 2 * i + 2);
			if (low >= 0xDC00 && low <= 0xDFFF) {
				c = 0x10000 + ((c - 0xD800) << 10) +
				    (low - 0xDC00);
				i++;
			}
		}
		if (c >= 0xD800 && c <= 0xDFFF)
			c = 0xFFFD;
		if (c == 0)
			c = '_';
		if (!put_utf8(out, out_size, k, c))
			break;
	}
	out[k] = '\0';
	return k;
}

/* The longest start of s[0, n) within `limit` bytes that ends a character. */
static size_t
utf8_cut(const char *s, size_t n, size_t limit)
{
	if (n <= limit)
		return n;
	size_t k = limit;
	while (k > 0 && ((unsigned char)s[k] & 0xC0) == 0x80)
		k--;
	return k;
}

size_t
recv_safe_name(const char *name, uint64_t number, unsigned copy, size_t limit,
    char *out)
{
	char safe[1024];
	size_t k = 0;

	/* The last path element. */
	const char *start = name;
	for (const char *p = name; *p != '\0'; p++)
		if (*p == '/' || *p == '\\')
			start = p + 1;
	/* No leading dot: no hidden file, and never "." or "..". */
	while (*start == '.')
		start++;
	for (const unsigned char *p = (const unsigned char *)start;
	     *p != '\0' && k + 1 < sizeof(safe); p++) {
		unsigned c = *p;
		/* C0, DEL, and C1 (U+0080 to U+009F, as C2 80 to C2 9F). */
		if (c < 0x20 || c == 0x7F) {
			safe[k++] = '_';
		} else if (c == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F) {
			safe[k++] = '_';
			p++;
		} else {
			safe[k++] = (char)c;
		}
	}
	safe[k] = '\0';
	if (k == 0)
		k = (size_t)snprintf(safe, sizeof(safe), "object-%" PRIu64,
		    number);

	/* The extension: from the last dot, if short, kept past any cut. */
	size_t stem = k;
	const char *dot = strrchr(safe, '.');
	if (dot != nullptr && dot != safe && k - (size_t)(dot - safe) <= 16)
		stem = (size_t)(dot - safe);
	char suffix[32] = "";
	if (copy >= 2)
		snprintf(suffix, sizeof(suffix), " (%u)", copy);
	size_t extra = strlen(suffix) + (k - stem);
	if (extra >= limit) {
		/* No room for the extension: cut the whole name. */
		stem = k;
		extra = strlen(suffix);
	}
	size_t keep = utf8_cut(safe, stem, limit - extra);
	if (keep == 0 && stem < k) {
		/* The extension alone would be left, and hidden: cut all. */
		stem = k;
		extra = strlen(suffix);
		keep = utf8_cut(safe, stem, limit - extra);
	}
	memcpy(out, safe, keep);
	size_t n = keep;
	memcpy(out + n, suffix, strlen(suffix));
	n += strlen(suffix);
	memcpy(out + n, safe + stem, k - stem);
	n += k - stem;
	out[n] = '\0';
	return n;
}

/* What a failure to write or flush is answered with. */
static int
store_code(int error)
{
	return error == ENOSPC || error == EDQUOT || error == EFBIG
	    ? OBEX_RESP_DATABASE_FULL
	    : OBEX_RESP_INTERNAL_ERROR;
}

static bool fail(recv_object &o, int error, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

static bool
fail(recv_object &o, int error, const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	int k = vsnprintf(o.why, sizeof(o.why), fmt, ap);
	va_end(ap);
	if (k >= 0 && (size_t)k < sizeof(o.why))
		snprintf(o.why + k, sizeof(o.why) - (size_t)k, ": %s",
		    strerror(error));
	o.code = store_code(error);
	return false;
}

/* `NAME', or "object N", for messages. */
static const char *
shown(const recv_object &o)
{
	static char text[4 * 4096 + 32];

	if (o.has_name && o.name[0] != '\0')
		snprintf(text, sizeof(text), "`%s'", proc_shown(o.name));
	else
		snprintf(text, sizeof(text), "object %" PRIu64, o.number);
	return text;
}

/* ---- the directory store ---- */

bool
recv_dir_store_open(recv_dir_store &s, const char *dir, char *why, size_t n)
{
	int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd < 0 && errno == ENOENT && mkdir(dir, 0777) == 0)
		fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd < 0) {
		snprintf(why, n, "%s", strerror(errno));
		return false;
	}
	s.dirfd = fd;
	s.dir = dir;
	snprintf(s.dir_shown, sizeof(s.dir_shown), "%s", proc_shown(dir));
	long max = fpathconf(fd, _PC_NAME_MAX);
	s.name_max = max > 0 && max < 1000 ? max : 255;
	s.quiet = false;
	s.sync = true;
	s.serial = 0;
	return true;
}

static bool
dir_begin(void *context, recv_object &o)
{
	recv_dir_store &s = *static_cast<recv_dir_store *>(context);

	/* Hidden, and never a name a sender's object can take. */
	for (int tries = 0; tries < 100; tries++) {
		struct timespec ts;
		clock_gettime(CLOCK_REALTIME, &ts);
		snprintf(o.temp, sizeof(o.temp), ".fmt-recv-%ld-%u-%06lx",
		    (long)getpid(), ++s.serial,
		    (unsigned long)(ts.tv_nsec ^ ts.tv_sec) & 0xFFFFFF);
		o.fd = openat(s.dirfd, o.temp,
		    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
		if (o.fd >= 0)
			return true;
		if (errno != EEXIST)
			break;
	}
	o.temp[0] = '\0';
	return fail(o, errno, "cannot store %s in `%s'", shown(o), s.dir_shown);
}

static bool
dir_data(void *context, recv_object &o, const unsigned char *p, size_t n)
{
	recv_dir_store &s = *static_cast<recv_dir_store *>(context);

	if (fd_write(o.fd, p, n))
		return true;
	return fail(o, errno, "cannot store %s in `%s'", shown(o), s.dir_shown);
}

static void
dir_discard(void *context, recv_object &o)
{
	recv_dir_store &s = *static_cast<recv_dir_store *>(context);

	if (o.fd >= 0)
		close(o.fd);
	o.fd = -1;
	if (o.temp[0] != '\0')
		unlinkat(s.dirfd, o.temp, 0);
	o.temp[0] = '\0';
}

/*
 * The temporary file under `name` unless that is taken: 0, EEXIST, or
 * another errno.  A link fails where the name exists; a file system
 * without links gets a rename that refuses to replace, where the system
 * has one, else a rename after a look.
 */
static int
place(int dirfd, const char *temp, const char *name)
{
	if (linkat(dirfd, temp, dirfd, name, 0) == 0) {
		unlinkat(dirfd, temp, 0);
		return 0;
	}
	if (errno == EEXIST)
		return EEXIST;
	if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOTSUP &&
	    errno != EMLINK)
		return errno;
#ifdef RENAME_NOREPLACE
	if (renameat2(dirfd, temp, dirfd, name, RENAME_NOREPLACE) == 0)
		return 0;
	if (errno != EINVAL && errno != ENOSYS)
		return errno;
#endif
	struct stat st;
	if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
		return EEXIST;
	if (errno != ENOENT)
		return errno;
	return renameat(dirfd, temp, dirfd, name) == 0 ? 0 : errno;
}

static bool
dir_commit(void *context, recv_object &o)
{
	recv_dir_store &s = *static_cast<recv_dir_store *>(context);
	char name[1024];

	if (s.sync && fsync(o.fd) != 0) {
		int error = errno;
		dir_discard(context, o);
		return fail(o, error, "cannot store %s in `%s'", shown(o),
		    s.dir_shown);
	}
	if (close(o.fd) != 0) {
		o.fd = -1;
		int error = errno;
		dir_discard(context, o);
		return fail(o, error, "cannot store %s in `%s'", shown(o),
		    s.dir_shown);
	}
	o.fd = -1;
	int error = EEXIST;
	for (unsigned copy = 1; copy <= 10000 && error == EEXIST; copy++) {
		recv_safe_name(o.has_name ? o.name : "", o.number, copy,
		    (size_t)s.name_max, name);
		error = place(s.dirfd, o.temp, name);
	}
	if (error != 0) {
		dir_discard(context, o);
		return fail(o, error, "cannot store %s in `%s'", shown(o),
		    s.dir_shown);
	}
	o.temp[0] = '\0';
	if (s.sync && fsync(s.dirfd) != 0)
		return fail(o, errno, "cannot store %s in `%s'", shown(o),
		    s.dir_shown);
	if (!s.quiet) {
		size_t len = strlen(s.dir);
		bool slash = len > 0 && s.dir[len - 1] == '/';
		out_printf("%s%s%s %" PRIu64 "\n", s.dir, slash ? "" : "/",
		    name, o.size);
		if (!out_flush()) {
			/* The object is safe: the run cannot go on. */
			fail(o, out_error(), "cannot write to standard output");
			o.fatal = true;
		}
	}
	return true;
}

recv_store
recv_dir_store_init(recv_dir_store &s)
{
	return { dir_begin, dir_data, dir_commit, dir_discard, &s };
}

/* ---- the standard output store ---- */

static bool
out_begin(void *context, recv_object &o)
{
	recv_stdout_store &s = *static_cast<recv_stdout_store *>(context);
	char path[4096];

	snprintf(path, sizeof(path), "%s/fmt-recv.XXXXXX", s.spool_dir);
	o.fd = mkstemp(path);
	if (o.fd < 0)
		return fail(o, errno, "cannot hold %s in `%s'", shown(o),
		    s.spool_shown);
	unlink(path);
	return true;
}

static bool
out_data(void *context, recv_object &o, const unsigned char *p, size_t n)
{
	recv_stdout_store &s = *static_cast<recv_stdout_store *>(context);

	if (fd_write(o.fd, p, n))
		return true;
	return fail(o, errno, "cannot hold %s in `%s'", shown(o),
	    s.spool_shown);
}

static void
out_discard(void *, recv_object &o)
{
	if (o.fd >= 0)
		close(o.fd);
	o.fd = -1;
}

/*
 * The kept headers in their order, then the payload as the fmt-* programs
 * write a text's: full Body headers, the rest in End of Body.
 */
static bool
out_commit(void *context, recv_object &o)
{
	recv_stdout_store &s = *static_cast<recv_stdout_store *>(context);

	for (int k = 0; k < RECV_KEPT; k++) {
		if (o.slot[k].length == 0)
			continue;
		if (recv_kept_ids[k] == OBEX_HI_NAME && o.slot[k].length < 5) {
			/* An empty text with its final zero, as written. */
			static const unsigned char empty[] = { OBEX_HI_NAME, 0,
				5, 0, 0 };
			out_bytes(empty, sizeof(empty));
			continue;
		}
		out_bytes(o.kept + o.slot[k].at, o.slot[k].length);
	}
	if (lseek(o.fd, 0, SEEK_SET) != 0) {
		int error = errno;
		out_discard(context, o);
		return fail(o, error, "cannot hold %s in `%s'", shown(o),
		    s.spool_shown);
	}
	uint64_t left = o.size;
	do {
		size_t n = left > (uint64_t)OBEX_BYTES_MAX
		    ? (size_t)OBEX_BYTES_MAX
		    : (size_t)left;
		size_t head = OBEX_BYTES_HEAD, have = 0;
		while (have < n) {
			ssize_t got =
			    fd_read(o.fd, s.buf + head + have, n - have);
			if (got <= 0) {
				int error = got < 0 ? errno : EIO;
				out_discard(context, o);
				return fail(o, error, "cannot hold %s in `%s'",
				    shown(o), s.spool_shown);
			}
			have += (size_t)got;
		}
		left -= n;
		obex_put_bytes_head(s.buf,
		    left > 0 ? OBEX_HI_BODY : OBEX_HI_END_OF_BODY, n);
		out_bytes(s.buf, head + n);
	} while (left > 0);
	out_discard(context, o);

	/* Written out, and on disk where standard output is a file. */
	struct stat st;
	if (!out_flush() ||
	    (fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) &&
		fsync(STDOUT_FILENO) != 0 && errno != EINVAL)) {
		o.fatal = true;
		return fail(o, out_error() != 0 ? out_error() : errno,
		    "cannot write to standard output");
	}
	return true;
}

recv_store
recv_stdout_store_init(recv_stdout_store &s, const char *spool)
{
	s.spool_dir = spool;
	snprintf(s.spool_shown, sizeof(s.spool_shown), "%s", proc_shown(spool));
	return { out_begin, out_data, out_commit, out_discard, &s };
}
