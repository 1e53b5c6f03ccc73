/*
 * The text buffer: one growable block per program that collects a payload
 * and turns every line end (LF, CR or CR LF) into CR LF on the way in.
 *
 * textbuf_putc is the rule; the bulk path below (strings, and standard input
 * read in blocks) only skips the per-byte work and leaves the buffer exactly
 * as the same bytes through textbuf_putc would, capacity and last_was_cr
 * included, so that a text may be built from both in any order.
 */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "objstream.h"

struct textbuf textbuf;

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
 * Line ends are looked for sixteen bytes at a time: on amd64 (where SSE2 is
 * always present) with the processor's byte compares, elsewhere with the
 * compiler's portable vector types.  The search is coarse: OR-ing 0x07 into
 * a byte makes 0x0F of CR and LF, and of the other control bytes 0x08 to
 * 0x0F (a tab, say), which the caller keeps as they are.  One compare for
 * both line ends keeps the loop short.
 */
#if defined(__SSE2__) && !defined(TEXTBUF_GENERIC)
typedef __m128i block16;

static inline block16
load16(const unsigned char *p)
{
	return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

static inline void
store16(unsigned char *p, block16 v)
{
	_mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}

/* Bit i set when byte i is from 0x08 to 0x0F. */
static inline unsigned
maybe_line_ends16(block16 v)
{
	return (unsigned)_mm_movemask_epi8(
	    _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x07)),
		_mm_set1_epi8(0x0F)));
}
#else
typedef unsigned char block16 __attribute__((vector_size(16)));

static inline block16
load16(const unsigned char *p)
{
	block16 v;
	memcpy(&v, p, sizeof(v));
	return v;
}

static inline void
store16(unsigned char *p, block16 v)
{
	memcpy(p, &v, sizeof(v));
}

static inline unsigned
maybe_line_ends16(block16 v)
{
	block16 hits = (block16)((v | 0x07) == 0x0F);
	unsigned m = 0;
	for (int i = 0; i < 16; i++)
		m |= (unsigned)(hits[i] & 1) << i;
	return m;
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
 * Append bytes from s on, as textbuf_putc would, for as long as no append
 * needs a larger block: it stops at `end`, or at the append that must grow
 * the block, and returns where it stopped.  Not to be called with a CR
 * waiting for its partner.
 *
 * A run of bytes is stored 32 at a time before it is known to hold no line
 * end; a CR gets its LF at once.  When the byte after the CR is not there to
 * be seen as the copy stops, the LF is taken back and left to the next
 * append, exactly as textbuf_putc leaves it.
 */
static const unsigned char *
textbuf_copy(const unsigned char *s, const unsigned char *end)
{
	const unsigned char *start = s;
	unsigned char *out = textbuf.data + textbuf.length;
	unsigned char *const stop =
	    textbuf.data + textbuf.capacity - COPY_MARGIN;

	/*
	 * Each step reads 33 bytes at s (32, and the one after a CR) and
	 * stores 32 at out, so it needs s <= end - 33 and out <= stop.  The
	 * text grows at most twice as fast as the input is read (an LF
	 * becomes CR LF), so a bound on s alone, worked out again only when
	 * s reaches it, keeps both.
	 */
	while (end - s >= 33 && out <= stop) {
		const unsigned char *last = s + (end - 33 - s);
		if ((stop - out) / 2 < last - s)
			last = s + (stop - out) / 2;
		do {
			block16 a = load16(s);
			block16 b = load16(s + 16);
			store16(out, a);
			store16(out + 16, b);
			unsigned m =
			    maybe_line_ends16(a) | maybe_line_ends16(b) << 16;
			if (m == 0) {
				s += 32;
				out += 32;
				continue;
			}
			/*
			 * A byte from 0x08 to 0x0F, already stored with the
			 * rest: a line end, or one to keep as it is.
			 */
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

	/*
	 * The last few bytes, or those up to the growth point, one at a
	 * time: each append must find at most capacity - 3 bytes held.
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
	size_t n;

	/*
	 * fread gives a short count only at the end of the input or on an
	 * error, and an error must not pass for the end: the text would go
	 * out truncated as if it were whole.
	 */
	do {
		n = fread(block, 1, sizeof(block), stdin);
		if (n < sizeof(block) && ferror(stdin))
			obj_fatal("cannot read standard input: %s",
			    strerror(errno));
		textbuf_write(block, n);
	} while (n == sizeof(block));
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
