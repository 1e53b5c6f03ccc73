/*
 * The object header writer: one operation per OBEX header, all of them
 * writing to standard output, numbers high byte first.
 */
#include <sys/uio.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "objstream.h"
#include "output.h"

/* The first error that standard output reported, for obj_finish. */
int out_errno;

static void
out_failed()
{
	if (out_errno == 0)
		out_errno = errno != 0 ? errno : EIO;
}

/*
 * The programs have one thread, so the stream needs no lock: the header
 * bytes of a database's Body headers, three for every 500 bytes, would
 * otherwise cost more than the copying of the 500.
 */
static void
out_byte(int c)
{
	if (putc_unlocked(c, stdout) == EOF)
		out_failed();
}

static void
out_run(const void *data, size_t count)
{
	if (count != 0 && fwrite(data, 1, count, stdout) != count)
		out_failed();
}

void
put_u16(unsigned value)
{
	out_byte((value >> 8) & 0xFF);
	out_byte(value & 0xFF);
}

void
hdr_unicode(int id, const void *text, int count)
{
	const unsigned char *p = static_cast<const unsigned char *>(text);

	out_byte(id & 0xFF);
	put_u16(2 * (unsigned)count + 5);
	for (int i = 0; i < count; i++)
		put_u16(p[i]);
	put_u16(0);
}

void
hdr_bytes(int number, const void *data, int count)
{
	out_byte((number | HDR_KIND_BYTES) & 0xFF);
	put_u16((unsigned)count + 3);
	out_run(data, (size_t)count);
}

void
hdr_quad(int number, uint32_t value)
{
	out_byte((number | HDR_KIND_QUAD) & 0xFF);
	put_u16(value >> 16);
	put_u16(value & 0xFFFF);
}

void
hdr_name(const void *text, int count)
{
	hdr_unicode(HDR_NAME, text, count);
}

void
hdr_description(const void *text, int count)
{
	hdr_unicode(HDR_DESCRIPTION, text, count);
}

void
hdr_length(uint32_t value)
{
	hdr_quad(HDR_LENGTH & ~HDR_KIND_MASK, value);
}

void
hdr_time(uint32_t value)
{
	hdr_quad(HDR_TIME & ~HDR_KIND_MASK, value);
}

void
hdr_creator(uint32_t value)
{
	hdr_quad(HDR_CREATOR & ~HDR_KIND_MASK, value);
}

void
hdr_body(const void *data, int count)
{
	hdr_bytes(HDR_BODY & ~HDR_KIND_MASK, data, count);
}

void
hdr_end_of_body(const void *data, int count)
{
	hdr_bytes(HDR_END_OF_BODY & ~HDR_KIND_MASK, data, count);
}

/*
 * Writes the gathered pieces to standard output's descriptor, all of them,
 * as far as the descriptor takes them; false after an error.
 */
static bool
out_gather(struct iovec *iov, int n)
{
	while (n > 0) {
		ssize_t w = writev(fileno(stdout), iov, n);
		if (w < 0) {
			if (errno == EINTR)
				continue;
			out_failed();
			return false;
		}
		for (; n > 0 && (size_t)w >= iov->iov_len; iov++, n--)
			w -= (ssize_t)iov->iov_len;
		if (n > 0) {
			iov->iov_base = static_cast<char *>(iov->iov_base) + w;
			iov->iov_len -= (size_t)w;
		}
	}
	return true;
}

/*
 * A payload at least this long skips the stream's buffer: it goes from the
 * caller's memory to the descriptor, its header bytes gathered around it,
 * instead of being copied through the buffer first.
 */
static constexpr size_t OUT_DIRECT_MIN = 16 * 1024;

/* Headers per gathered write; two pieces each, far below any IOV_MAX. */
static constexpr int OUT_GATHER_HEADERS = 32;
#if defined(IOV_MAX)
static_assert(2 * OUT_GATHER_HEADERS <= IOV_MAX);
#endif

void
hdr_payload(const void *data, size_t count)
{
	const unsigned char *p = static_cast<const unsigned char *>(data);

	/*
	 * One header's 16-bit length cannot describe more than HDR_BYTES_MAX
	 * bytes of data; a longer payload goes out in full Body headers and
	 * the End-of-Body header carries what is left.  A short payload
	 * always fits one End-of-Body header.
	 */
	static_assert(OUT_DIRECT_MIN <= HDR_BYTES_MAX);
	if (count < OUT_DIRECT_MIN) {
		hdr_end_of_body(p, (int)count);
		return;
	}

	/* What the stream holds (the headers before this one) goes first. */
	if (fflush(stdout) != 0) {
		out_failed();
		return;
	}
	unsigned char head[OUT_GATHER_HEADERS][3];
	struct iovec iov[2 * OUT_GATHER_HEADERS];
	bool last = false;
	while (!last) {
		int n = 0;
		for (int i = 0; i < OUT_GATHER_HEADERS && !last; i++) {
			size_t len = count;
			if (len > (size_t)HDR_BYTES_MAX)
				len = HDR_BYTES_MAX;
			else
				last = true;
			head[i][0] = last ? HDR_END_OF_BODY : HDR_BODY;
			head[i][1] = (unsigned char)((len + 3) >> 8);
			head[i][2] = (unsigned char)((len + 3) & 0xFF);
			iov[n++] = { head[i], 3 };
			iov[n++] = { const_cast<unsigned char *>(p), len };
			p += len;
			count -= len;
		}
		if (!out_gather(iov, n))
			return;
	}
}
