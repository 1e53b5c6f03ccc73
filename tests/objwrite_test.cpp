/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The header writer and the text buffer, in process: the bytes of each
 * header kind, the splitting of long payloads, and the buffer's
 * normalisation and growth.
 */
#include <fcntl.h>
#include <unistd.h>

#include <vector>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "objwrite.h"
#include "proc.h"
#include "runner.h"

/* What `write` sends to standard output. */
static std::string
captured(const std::function<void()> &write)
{
	std::string path = temp_dir() + "/captured";
	fflush(stdout);
	int saved = dup(1);
	int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
	dup2(fd, 1);
	write();
	out_flush();
	dup2(saved, 1);
	close(saved);
	std::string bytes;
	char buf[65536];
	ssize_t n;
	lseek(fd, 0, SEEK_SET);
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		bytes.append(buf, (size_t)n);
	close(fd);
	return bytes;
}

struct HeaderCase {
	const char *name;
	std::function<void()> write;
	const char *bytes;
};

TEST(Header, WritesExactBytes)
{
	const HeaderCase cases[] = {
		{ "name ab", [] { hdr_name("ab", 2); },
		    "01 00 09 00 61 00 62 00 00" },
		{ "name empty", [] { hdr_name("", 0); }, "01 00 05 00 00" },
		{ "name high bytes widen with a zero high byte",
		    [] { hdr_name("\xE9\x80\xFF", 3); },
		    "01 00 0B 00 E9 00 80 00 FF 00 00" },
		{ "name count decides, not a NUL", [] { hdr_name("a\0b", 3); },
		    "01 00 0B 00 61 00 00 00 62 00 00" },
		{ "description", [] { hdr_description("d", 1); },
		    "05 00 07 00 64 00 00" },
		{ "unicode takes the identifier as passed",
		    [] { hdr_unicode(0x30, "", 0); }, "30 00 05 00 00" },
		{ "creator memo", [] { hdr_creator(hdr_code("memo")); },
		    "CF 6D 65 6D 6F" },
		{ "length 300", [] { hdr_length(300); }, "C3 00 00 01 2C" },
		{ "length top bit only", [] { hdr_length(0x80000000u); },
		    "C3 80 00 00 00" },
		{ "time", [] { hdr_time(0x01020304); }, "C4 01 02 03 04" },
		{ "quad takes the identifier, or adds its kind bits",
		    [] {
			    hdr_quad(OBEX_HI_CREATOR, 1);
			    hdr_quad(0x0F, 1);
		    },
		    "CF 00 00 00 01 CF 00 00 00 01" },
		{ "end of body hi CR LF", [] { hdr_end_of_body("hi\r\n", 4); },
		    "49 00 07 68 69 0D 0A" },
		{ "end of body empty", [] { hdr_end_of_body("", 0); },
		    "49 00 03" },
		{ "body", [] { hdr_body("\0\xFF", 2); }, "48 00 05 00 FF" },
		{ "bytes takes the identifier, or adds its kind bits",
		    [] {
			    hdr_bytes(OBEX_HI_END_OF_BODY, "", 0);
			    hdr_bytes(0x09, "", 0);
		    },
		    "49 00 03 49 00 03" },
	};
	for (const auto &c : cases)
		EXPECT_EQ(printable(captured(c.write)), printable(hex(c.bytes)))
		    << c.name;
}

/* Splits a header stream into (identifier, data) pairs, checking lengths. */
static std::vector<std::pair<int, std::string>>
byte_headers(const std::string &s)
{
	std::vector<std::pair<int, std::string>> headers;
	size_t at = 0;
	while (at < s.size()) {
		/* A bad length ends the walk: it cannot say where to go on. */
		if (at + 3 > s.size()) {
			ADD_FAILURE() << "header cut short at " << at;
			break;
		}
		size_t len =
		    (unsigned char)s[at + 1] << 8 | (unsigned char)s[at + 2];
		if (len < 3 || at + len > s.size()) {
			ADD_FAILURE() << "length " << len << " at " << at;
			break;
		}
		headers.emplace_back((unsigned char)s[at],
		    s.substr(at + 3, len - 3));
		at += len;
	}
	return headers;
}

TEST(Header, PayloadSplitsOnlyWhenItMustAndKeepsEveryByte)
{
	/* Around one header's limit and the output buffer's size. */
	for (size_t size : { (size_t)0, (size_t)1, (size_t)16383, (size_t)16384,
		 (size_t)65532, (size_t)65533, (size_t)131064, (size_t)131065,
		 (size_t)200000 }) {
		std::string payload(size, '\0');
		for (size_t i = 0; i < size; i++)
			payload[i] = (char)(i * 7 + i / 251);
		std::string out = captured([&] {
			hdr_creator(hdr_code("memo"));
			hdr_payload(payload.data(), payload.size());
		});
		ASSERT_EQ(printable(out.substr(0, 5)),
		    printable(hex("CF 6D 65 6D 6F")));
		auto headers = byte_headers(out.substr(5));
		ASSERT_FALSE(headers.empty());
		std::string joined;
		for (size_t i = 0; i < headers.size(); i++) {
			bool last = i + 1 == headers.size();
			EXPECT_EQ(headers[i].first, last ? 0x49 : 0x48)
			    << size << " bytes, header " << i;
			EXPECT_LE(headers[i].second.size(), 65532u);
			EXPECT_FALSE(
			    last && size != 0 && headers[i].second.empty());
			joined += headers[i].second;
		}
		EXPECT_TRUE(joined == payload) << size << " bytes";
		EXPECT_EQ(headers.size(),
		    size <= 65532 ? 1 : (size + 65531) / 65532)
		    << size << " bytes";
	}
}

/* A new buffer for each case; the block of the last one is not needed. */
static void
fresh()
{
	free(textbuf.data);
	textbuf.data = nullptr;
	textbuf_init();
}

static std::string
text()
{
	return std::string(reinterpret_cast<char *>(textbuf.data),
	    (size_t)textbuf.length);
}

struct NormCase {
	const char *name;
	std::string in;
	std::string out; /* after textbuf_finish */
};

TEST(Textbuf, TurnsEveryLineEndIntoCrLf)
{
	const NormCase cases[] = {
		{ "empty", "", "" },
		{ "LF between", "a\nb", "a\r\nb" },
		{ "CR between", "a\rb", "a\r\nb" },
		{ "CR LF unchanged", "a\r\n", "a\r\n" },
		{ "lone CR at the end completed", "a\r", "a\r\n" },
		{ "LF CR is two line ends", "\n\r", "\r\n\r\n" },
		{ "CR CR is two line ends", "\r\r", "\r\n\r\n" },
		{ "CR CR LF", "\r\r\n", "\r\n\r\n" },
		{ "NUL kept", std::string("a\0\nb", 4),
		    std::string("a\0\r\nb", 5) },
		{ "no line end added", "one\ntwo", "one\r\ntwo" },
	};
	for (const auto &c : cases) {
		/* byte by byte, and in bulk as standard input arrives */
		fresh();
		for (char ch : c.in)
			textbuf_putc((unsigned char)ch);
		textbuf_finish();
		EXPECT_EQ(printable(text()), printable(c.out)) << c.name;

		std::string path = temp_dir() + "/stdin";
		write_file(path, c.in);
		ASSERT_NE(freopen(path.c_str(), "rb", stdin), nullptr);
		fresh();
		textbuf_read_stream();
		EXPECT_EQ(textbuf.last_was_cr,
		    !c.in.empty() && c.in.back() == '\r')
		    << c.name;
		textbuf_finish();
		EXPECT_EQ(printable(text()), printable(c.out)) << c.name;
	}
}

TEST(Textbuf, GrowsOnlyWhenFewerThanThreeBytesAreFree)
{
	fresh();
	EXPECT_EQ(textbuf.capacity, 1024);
	for (int i = 0; i < 1021; i++)
		textbuf_putc('x');
	textbuf_putc('\n'); /* stores CR LF into the last free bytes but one */
	EXPECT_EQ(textbuf.length, 1023);
	EXPECT_EQ(textbuf.capacity, 1024);

	fresh();
	for (int i = 0; i < 1022; i++)
		textbuf_putc('x');
	EXPECT_EQ(textbuf.capacity, 1024);
	textbuf_putc('x');
	EXPECT_EQ(textbuf.capacity, 2048);
	for (int i = 1023; i < 2046; i++)
		textbuf_putc('x');
	EXPECT_EQ(textbuf.capacity, 2048);
	textbuf_putc('x');
	EXPECT_EQ(textbuf.capacity, 4096);
}

TEST(TextbufDeathTest, ATextPastTheLargestBlockIsTooLongNotOutOfMemory)
{
	/*
	 * The block stops doubling at 1 GiB, where any text of up to
	 * 2^30 - 2 bytes fits; an append that finds that much held and needs
	 * more room ends the program with the limit.  The buffer is put at
	 * the limit by hand: nothing is stored before the refusal.
	 */
	auto at_limit = [] {
		char *argv[] = { const_cast<char *>("fmt-memo"), nullptr };
		proc_start(1, argv, "fmt-memo");
		fresh();
		textbuf.capacity = INT32_C(1) << 30;
		textbuf.length = textbuf.capacity - 2;
	};
	const char *message =
	    "^fmt-memo: text too long: more than 1073741822 bytes\n$";
	EXPECT_EXIT(
	    {
		    at_limit();
		    textbuf_putc('x');
	    },
	    testing::ExitedWithCode(1), message);
	EXPECT_EXIT(
	    {
		    at_limit();
		    textbuf_puts("x");
	    },
	    testing::ExitedWithCode(1), message);
}

TEST(Textbuf, WordsAreJoinedBySpacesThatCompleteALoneCr)
{
	struct {
		std::vector<std::string> words;
		std::string out;
	} cases[] = {
		{ { "x\r", "y" }, "x\r\n y" },
		{ { "a", "", "b" }, "a  b" },
		{ { "" }, "" },
		{ { "one", "two\nthree" }, "one two\r\nthree" },
	};
	for (auto &c : cases) {
		std::vector<char *> argv{ const_cast<char *>("prog") };
		for (auto &w : c.words)
			argv.push_back(w.data());
		fresh();
		textbuf_put_words((int)argv.size(), argv.data(), 1);
		EXPECT_EQ(printable(text()), printable(c.out));
	}
}

/*
 * A text for a message: nothing in it may act on a terminal, neither an
 * ASCII control byte nor a C1 control, raw or in UTF-8, while the other
 * characters of a UTF-8 name stay as they are.
 */
TEST(Message, ShownTextHasItsControlsEscaped)
{
	const struct {
		const char *in;
		const char *shown;
	} cases[] = {
		{ "plain/path.pdb", "plain/path.pdb" },
		{ "a\x1b[2Jb", "a\\x1B[2Jb" },
		{ "line\nbreak\r\ttab\x7f", "line\\nbreak\\r\\ttab\\x7F" },
		{ "csi \xc2\x9b"
		  "2J",
		    "csi \\xC2\\x9B2J" },
		{ "raw \x9b"
		  "2J",
		    "raw \\x9B2J" },
		/* The ends of the C1 range in UTF-8, and the first past it. */
		{ "\xc2\x80|\xc2\x9f|\xc2\xa0",
		    "\\xC2\\x80|\\xC2\\x9F|\xc2\xa0" },
		{ "caf\xc3\xa9 \xe2\x82\xac \xc2\xa9",
		    "caf\xc3\xa9 \xe2\x82\xac \xc2\xa9" },
		{ "\xf0\x9f\x93\x87 cards", "\xf0\x9f\x93\x87 cards" },
	};
	for (const auto &c : cases)
		EXPECT_EQ(std::string(proc_shown(c.in)), c.shown) << c.shown;
}
