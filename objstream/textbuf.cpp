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
 * 0x0F (a tab, say), which the caller then takes one by one.  One compare
 * for both line ends keeps the loop short.
 */
#if defined(__SSE2__)
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

/* 0xFF in each byte from 0x08 to 0x0F, 0 elsewhere. */
static inline block16
maybe_line_ends16(block16 v)
{
	return _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x07)),
	    _mm_set1_epi8(0x0F));
}

static inline block16
or16(block16 a, block16 b)
{
	return _mm_or_si128(a, b);
}

/* Bit i set when byte i is set. */
static inline unsigned
mask16(block16 hits)
{
	return (unsigned)_mm_movemask_epi8(hits);
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

static inline block16
maybe_line_ends16(block16 v)
{
	return (block16)((v | 0x07) == 0x0F);
}

static inline block16
or16(block16 a, block16 b)
{
	return a | b;
}

static inline unsigned
mask16(block16 hits)
{
	unsigned m = 0;
	for (int i = 0; i < 16; i++)
		m |= (unsigned)(hits[i] & 1) << i;
	return m;
}
#endif

/* Room that textbuf_copy keeps free: one step stores at most 34 bytes. */
static constexpr int32_t COPY_MARGIN = 35;

/*
 * Append bytes from s on, as textbuf_putc would, for as long as no append
 * can need a larger block: it stops at `end`, or where fewer than
 * COPY_MARGIN bytes would be free, and returns where it stopped.  Not to be
 * called with a CR waiting for its partner or with less room than that.
 *
 * A run of bytes is stored 32 at a time before it is known to hold no line
 * end; a CR gets its LF at once.  When the byte after the CR is not there to
 * be seen (or is no LF) as the copy stops, the LF is taken back and left to
 * the next append, exactly as textbuf_putc leaves it.
 */
static const unsigned char *
textbuf_copy(const unsigned char *s, const unsigned char *end)
{
	const unsigned char *start = s;
	unsigned char *out = textbuf.data + textbuf.length;
	const unsigned char *stop =
	    textbuf.data + textbuf.capacity - COPY_MARGIN;

	for (;;) {
		/*
		 * Between line ends the text grows as fast as the input is
		 * read, so one bound on s keeps both the loads within the
		 * input and the text short of stop.
		 */
		ptrdiff_t ahead = end - s - 32;
		if (ahead > stop - out)
			ahead = stop - out;
		if (ahead >= 0) {
			const unsigned char *last = s + ahead;
			unsigned m = 0;
			do {
				block16 a = load16(s);
				block16 b = load16(s + 16);
				store16(out, a);
				store16(out + 16, b);
				block16 ha = maybe_line_ends16(a);
				block16 hb = maybe_line_ends16(b);
				if (mask16(or16(ha, hb)) != 0) {
					m = mask16(ha) | mask16(hb) << 16;
					break;
				}
				s += 32;
				out += 32;
			} while (s <= last);
			if (m == 0)
				continue;
			unsigned k = (unsigned)__builtin_ctz(m);
			s += k;
			out += k;
		} else if (s == end || out > stop) {
			break;
		} else if ((*s | 0x07) != 0x0F) {
			/* The last few bytes, one at a time. */
			do
				*out++ = *s++;
			while (s < end && out <= stop && (*s | 0x07) != 0x0F);
			continue;
		}
		/* A byte from 0x08 to 0x0F: a line end, or one to keep. */
		unsigned char c = *s++;
		if (c == '\n') {
			out[0] = '\r';
			out[1] = '\n';
			out += 2;
		} else if (c == '\r') {
			out[0] = '\r';
			out[1] = '\n';
			out += 2;
			if (s < end && *s == '\n')
				s++;
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

	/* Close to a growth point, the append that must grow the block does. */
	while (s < end) {
		if (textbuf.last_was_cr ||
		    textbuf.length > textbuf.capacity - COPY_MARGIN)
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
