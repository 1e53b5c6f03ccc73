/*
 * The text buffer: one growable block per program that collects a payload
 * and turns every line end (LF, CR or CR LF) into CR LF on the way in.
 *
 * textbuf_putc is the rule; the bulk path below (strings, and standard input
 * read in blocks) only skips the per-byte work and leaves the buffer exactly
 * as the same bytes through textbuf_putc would, capacity and last_was_cr
 * included, so that a text may be built from both in any order.
 */
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

/*
 * On amd64 the bulk copy uses SSE2, always there, or AVX2 where
 * textbuf_cpu_avx2 says the processor has it; elsewhere the compiler's
 * portable vector code.  The tests build the others here with
 * TEXTBUF_GENERIC and TEXTBUF_NO_AVX2.
 */
#if defined(__x86_64__) && !defined(TEXTBUF_GENERIC)
#define TEXTBUF_AMD64
#include <immintrin.h>
#ifndef TEXTBUF_NO_AVX2
#define TEXTBUF_AVX2
extern "C" int textbuf_cpu_avx2(void);
#endif
#endif

#include "objstream.h"

struct textbuf textbuf;

#ifdef TEXTBUF_AVX2
/* Whether the bulk copy uses AVX2; -1 until a copy long enough asks. */
static int textbuf_avx2 = -1;
#endif

/*
 * Make room for an append that finds `held` bytes in the buffer: fewer
 * than three free bytes double the capacity, as often as a run of single
 * appends would have doubled it.
 */
static void
textbuf_room(int64_t held)
{
	int64_t capacity = textbuf.capacity;

	if (held <= capacity - 3)
		return;
	while (held > capacity - 3)
		capacity *= 2;
	if (capacity > INT32_MAX)
		obj_fatal("out of memory");
	void *p = realloc(textbuf.data, (size_t)capacity);
	if (p == nullptr)
		obj_fatal("out of memory");
	textbuf.data = static_cast<unsigned char *>(p);
	textbuf.capacity = (int32_t)capacity;
}

void
textbuf_init()
{
	textbuf.data = static_cast<unsigned char *>(malloc(TEXTBUF_INITIAL));
	if (textbuf.data == nullptr)
		obj_fatal("out of memory");
	textbuf.capacity = TEXTBUF_INITIAL;
	textbuf.length = 0;
	textbuf.last_was_cr = 0;
}

void
textbuf_putc(int c)
{
	textbuf_room(textbuf.length);
	unsigned char *p = textbuf.data + textbuf.length;
	if (c == '\n') {
		if (!textbuf.last_was_cr)
			*p++ = '\r';
	} else if (textbuf.last_was_cr)
		*p++ = '\n';
	*p++ = (unsigned char)c;
	textbuf.length = (int32_t)(p - textbuf.data);
	textbuf.last_was_cr = c == '\r';
}

/*
 * The bulk path copies 32 bytes at a time and looks for line ends in them
 * as it goes.  The search is coarse: OR-ing 0x07 into a byte makes 0x0F of
 * CR and LF, and of the other control bytes 0x08 to 0x0F (a tab, say),
 * which the copy then keeps as they are.  One compare for both line ends
 * keeps the step short.
 *
 * A step stores the 32 bytes at s to out and returns a mask with bit i set
 * when byte i is from 0x08 to 0x0F.
 */
#ifdef TEXTBUF_AMD64
#ifdef TEXTBUF_AVX2
__attribute__((target("avx2"))) static inline unsigned
step_avx2(const unsigned char *s, unsigned char *out)
{
	__m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s));
	_mm256_storeu_si256(reinterpret_cast<__m256i *>(out), v);
	return (unsigned)_mm256_movemask_epi8(
	    _mm256_cmpeq_epi8(_mm256_or_si256(v, _mm256_set1_epi8(0x07)),
		_mm256_set1_epi8(0x0F)));
}
#endif

static inline unsigned
half_sse2(const unsigned char *s, unsigned char *out)
{
	__m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
	_mm_storeu_si128(reinterpret_cast<__m128i *>(out), v);
	return (unsigned)_mm_movemask_epi8(
	    _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x07)),
		_mm_set1_epi8(0x0F)));
}

static inline unsigned
step_plain(const unsigned char *s, unsigned char *out)
{
	return half_sse2(s, out) | half_sse2(s + 16, out + 16) << 16;
}
#else
typedef unsigned char block16 __attribute__((vector_size(16)));

static inline unsigned
half_generic(const unsigned char *s, unsigned char *out)
{
	block16 v;
	memcpy(&v, s, sizeof(v));
	memcpy(out, &v, sizeof(v));
	block16 hits = (block16)((v | 0x07) == 0x0F);
	unsigned m = 0;
	for (int i = 0; i < 16; i++)
		m |= (unsigned)(hits[i] & 1) << i;
	return m;
}

static inline unsigned
step_plain(const unsigned char *s, unsigned char *out)
{
	return half_generic(s, out) | half_generic(s + 16, out + 16) << 16;
}
#endif

/*
 * How close to the end of the block the 32-byte steps may come.  The last
 * append a step can make is the LF of a CR LF after 31 other bytes, and it
 * finds 32 more bytes held than the step began with; like every append, it
 * must find at least three bytes free.
 */
static constexpr int32_t COPY_MARGIN = 35;

/*
 * Append bytes from s on in 32-byte steps, as textbuf_putc would, for as
 * long as 33 bytes are left (32, and the one after a CR) and the text is
 * at least COPY_MARGIN bytes short of the end of its block; returns where
 * it stopped and moves *outp on.  Not to be called with a CR waiting for
 * its partner.  A run of bytes is stored before it is known to hold no
 * line end; a line end is then completed where it was stored.
 *
 * Built into each of the functions below, so that the steps are compiled
 * for the processor that each of them is for.
 */
template <unsigned Step(const unsigned char *, unsigned char *)>
[[gnu::always_inline]] static inline const unsigned char *
copy_steps(const unsigned char *s, const unsigned char *end,
    unsigned char **outp)
{
	unsigned char *out = *outp;
	unsigned char *const stop =
	    textbuf.data + textbuf.capacity - COPY_MARGIN;

	/*
	 * The text grows at most twice as fast as the input is read (an LF
	 * becomes CR LF), so a bound on s alone, worked out again only when
	 * s reaches it, keeps both s and out within their limits.
	 */
	while (end - s >= 33 && out <= stop) {
		const unsigned char *last = s + (end - 33 - s);
		if ((stop - out) / 2 < last - s)
			last = s + (stop - out) / 2;
		do {
			unsigned m = Step(s, out);
			if (m == 0) {
				s += 32;
				out += 32;
				continue;
			}
			/* A line end, or a byte to keep as it is. */
			size_t k = (unsigned)__builtin_ctz(m);
			s += k;
			out += k;
			if (*s == '\n') {
				out[0] = '\r';
				out[1] = '\n';
				s += 1;
				out += 2;
			} else if (*s == '\r') {
				out[1] = '\n';
				s += s[1] == '\n' ? 2 : 1;
				out += 2;
			} else {
				s += 1;
				out += 1;
			}
		} while (s <= last);
	}
	*outp = out;
	return s;
}

static const unsigned char *
copy_plain(const unsigned char *s, const unsigned char *end,
    unsigned char **outp)
{
	return copy_steps<step_plain>(s, end, outp);
}

#ifdef TEXTBUF_AVX2
__attribute__((target("avx2"))) static const unsigned char *
copy_avx2(const unsigned char *s, const unsigned char *end,
    unsigned char **outp)
{
	return copy_steps<step_avx2>(s, end, outp);
}
#endif

/*
 * Append bytes from s on, as textbuf_putc would, for as long as no append
 * needs a larger block: it stops at `end`, or at the append that must grow
 * the block, and returns where it stopped.  Not to be called with a CR
 * waiting for its partner.  When the byte after a CR is not there to be
 * seen as the copy stops, the CR's LF is taken back and left to the next
 * append, exactly as textbuf_putc leaves it.
 */
static const unsigned char *
textbuf_copy(const unsigned char *s, const unsigned char *end)
{
	const unsigned char *start = s;
	unsigned char *out = textbuf.data + textbuf.length;

#ifdef TEXTBUF_AVX2
	if (end - s >= 33 && textbuf_avx2 < 0)
		textbuf_avx2 = textbuf_cpu_avx2();
	if (textbuf_avx2 > 0)
		s = copy_avx2(s, end, &out);
	else
#endif
		s = copy_plain(s, end, &out);

	/*
	 * The last few bytes, or those up to the growth point, without
	 * steps: each append must find at most capacity - 3 bytes held.
	 */
	unsigned char *const full = textbuf.data + textbuf.capacity - 3;
	while (s < end && out <= full) {
		/* Bytes other than 0x08 to 0x0F move both ends alike. */
		size_t run = (size_t)(end - s);
		if ((size_t)(full - out) < run)
			run = (size_t)(full - out) + 1;
		size_t i = 0;
		while (i < run && (s[i] | 0x07) != 0x0F) {
			out[i] = s[i];
			i++;
		}
		s += i;
		out += i;
		if (i == run)
			break;
		unsigned char c = *s++;
		if (c == '\n' || c == '\r') {
			/* The LF after a CR is an append of its own. */
			if (c == '\r' && s < end && *s == '\n' && out < full)
				s++;
			out[0] = '\r';
			out[1] = '\n';
			out += 2;
		} else {
			*out++ = c;
		}
	}
	if (s > start && s[-1] == '\r') {
		out--;
		textbuf.last_was_cr = 1;
	}
	textbuf.length = (int32_t)(out - textbuf.data);
	return s;
}

/* Append n arbitrary bytes, as n calls of textbuf_putc would. */
static void
textbuf_write(const unsigned char *s, size_t n)
{
	const unsigned char *end = s + n;

	/*
	 * The append that must grow the block, or that completes a CR left
	 * waiting, goes through textbuf_putc.
	 */
	while (s < end) {
		if (textbuf.last_was_cr ||
		    textbuf.length > textbuf.capacity - 3)
			textbuf_putc(*s++);
		else
			s = textbuf_copy(s, end);
	}
}

void
textbuf_puts(const char *s)
{
	textbuf_write(reinterpret_cast<const unsigned char *>(s), strlen(s));
}

void
textbuf_finish()
{
	/* The append that stored the CR left at least one byte free. */
	if (textbuf.last_was_cr) {
		textbuf.data[textbuf.length++] = '\n';
		textbuf.last_was_cr = 0;
	}
}

void
textbuf_read_stream()
{
	static unsigned char block[64 * 1024];
	ssize_t n;

	/* An error must not pass for the end: the text would go out
	 * truncated as if it were whole. */
	while ((n = obj_read(STDIN_FILENO, block, sizeof(block))) > 0)
		textbuf_write(block, (size_t)n);
	if (n < 0)
		obj_fatal("cannot read standard input: %s", strerror(errno));
}

void
textbuf_put_words(int argc, char *const argv[], int first)
{
	for (int i = first; i < argc; i++) {
		textbuf_puts(argv[i]);
		if (i + 1 < argc)
			textbuf_putc(' ');
	}
}
