/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The vCard reader and 2.1 writer, called directly: what each version's
 * forms become, line folding cut at every place, cards cut short at every
 * byte, and the faults with their lines.  Then fmt-address -i and
 * fmt-phonecard -i through the built programs: the objects byte for byte,
 * the files they read and the command lines they refuse.
 */
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "runner.h"
#include "vcard.h"

namespace
{

/* What a conversion gave: every card's text and name, or the fault. */
struct Converted {
	std::vector<std::string> cards;
	std::vector<std::string> names;
	long line = -1;
	std::string fault;
};

Converted
convert(std::string_view input)
{
	vcard_book book = {};
	vcard_fault fault;
	Converted c;
	if (!vcard_convert(reinterpret_cast<const unsigned char *>(
			       input.data()),
		input.size(), &book, &fault)) {
		c.line = fault.line;
		c.fault = fault.what;
		vcard_free(&book);
		return c;
	}
	for (size_t i = 0; i < book.count; i++) {
		const vcard_card &k = book.cards[i];
		c.cards.emplace_back(reinterpret_cast<const char *>(
					 book.text.data) +
			k.start,
		    k.length);
		c.names.emplace_back(k.name, (size_t)k.namelen);
	}
	vcard_free(&book);
	return c;
}

/* A 2.1 card as the writer ends it: these lines, each ended by CR LF. */
std::string
card21(std::string_view lines)
{
	return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + std::string(lines) +
	    "END:VCARD\r\n";
}

struct ConvertCase {
	const char *name;
	std::string input;
	std::string out; /* the one card's lines, between VERSION and END */
	std::string object_name = "";
};

void
PrintTo(const ConvertCase &c, std::ostream *os)
{
	*os << c.name;
}

} // namespace

static const ConvertCase convert_cases[] = {
	/* Each version's forms of types, escapes and encodings. */
	{ "Google30",
	    "BEGIN:VCARD\nVERSION:3.0\nN:Lee;Ann;Marie;Dr.;\n"
	    "FN:Dr. Ann Marie Lee\nEMAIL;TYPE=INTERNET;TYPE=HOME:ann@ex.org\n"
	    "TEL;TYPE=CELL:+47 555 0100\nTEL;TYPE=WORK,VOICE,pref:555 0101\n"
	    "ADR;TYPE=HOME:;;1 Main St\\nFlat 2;Oslo;;0150;Norway\n"
	    "ORG:Acme\\, Inc.;R&D\nNOTE:tea\\; cake\\, \\\\ and jam\n"
	    "END:VCARD\n",
	    "N:Lee;Ann;Marie;Dr.;\r\nFN:Dr. Ann Marie Lee\r\n"
	    "EMAIL;INTERNET;HOME:ann@ex.org\r\nTEL;CELL:+47 555 0100\r\n"
	    "TEL;WORK;VOICE;PREF:555 0101\r\n"
	    "ADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;1 Main St=0D="
	    "0AFlat 2;Os=\r\nlo;;0150;Norway\r\n"
	    "ORG:Acme, Inc.;R&D\r\nNOTE:tea; cake, \\ and jam\r\n",
	    "Ann Lee" },
	{ "Phone21QuotedPrintableLatin1",
	    "BEGIN:VCARD\r\nVERSION:2.1\r\n"
	    "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=F6rg\r\n"
	    "TEL;CELL;VOICE:+49 555\r\nTEL;HOME;PREF:+49 556\r\n"
	    "NOTE;QUOTED-PRINTABLE:one=0D=0Atwo =\r\nthree\r\n"
	    "ADR;WORK:;;Hauptstr. 1\\;2;Bonn\r\nEND:VCARD\r\n",
	    "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:M=FCller;J=F6rg\r\n"
	    "FN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:J=F6rg "
	    "M=FCller\r\n"
	    "TEL;CELL;VOICE:+49 555\r\nTEL;HOME;PREF:+49 556\r\n"
	    "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:one=0D=0Atwo "
	    "three\r\n"
	    "ADR;WORK:;;Hauptstr. 1\\;2;Bonn\r\n",
	    "J\xF6rg M\xFCller" },
	{ "Version40UriAndGroups",
	    "BEGIN:VCARD\nVERSION:4.0\nFN:Bob Berg\n"
	    "item1.TEL;VALUE=uri;TYPE=\"cell,voice\";PREF=1:tel:+47-555;ext=7\n"
	    "item1.X-ABLabel:Mobile\n"
	    "ADR;LABEL=\"1 Side St\\nOslo\";TYPE=work:;;1 Side St;Oslo;;;\n"
	    "IMPP:xmpp:bob@ex.org\nIMPP:matrix:@bob:ex.org\n"
	    "GEO:geo:59.9,10.7\nBDAY:--0131\nANNIVERSARY:20010615\n"
	    "KIND:individual\nGENDER:M\nEND:VCARD\n",
	    "N:Bob Berg\r\nFN:Bob Berg\r\nTEL;CELL;VOICE;PREF:+47-555\r\n"
	    "ADR;WORK:;;1 Side St;Oslo;;;\r\n"
	    "LABEL;WORK;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:1 Side St=0D="
	    "0AOslo\r\n"
	    "X-JABBER:bob@ex.org\r\nX-IMPP:matrix:@bob:ex.org\r\n"
	    "GEO:59.9,10.7\r\nX-ANNIVERSARY:20010615\r\n",
	    "Bob Berg" },
	{ "Apple30",
	    "\xEF\xBB\xBF"
	    "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Apple Inc.//EN\r\n"
	    "N:;;;;\r\nFN:Acme AS\r\nORG:Acme AS;\r\n"
	    "item1.EMAIL;type=INTERNET;type=pref:info@acme.no\r\n"
	    "item1.X-ABLabel:_$!<Other>!$_\r\nURL:http\\://acme.no\r\n"
	    "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\r\n SkZJRg==\r\n"
	    "X-ABShowAs:COMPANY\r\nNICKNAME:Acme\r\nCATEGORIES:work,vendors\r\n"
	    "BDAY;X-APPLE-OMIT-YEAR=1604:1604-01-31\r\nEND:VCARD\r\n",
	    "N:Acme AS\r\nFN:Acme AS\r\nORG:Acme AS;\r\n"
	    "EMAIL;INTERNET;PREF:info@acme.no\r\nURL:http://acme.no\r\n"
	    "X-ABShowAs:COMPANY\r\nX-NICKNAME:Acme\r\n"
	    "X-CATEGORIES:work,vendors\r\nBDAY:16040131\r\n",
	    "Acme AS" },
	{ "Android21Base64PhotoBlock",
	    "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=UTF-8;ENCODING=QUOTED-"
	    "PRINTABLE:=C3=85se;Kari;;;\n"
	    "PHOTO;ENCODING=BASE64;JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD\n"
	    "  wAARCAABAAEDASIA\n\nTEL;CELL:4790000000\nEND:VCARD\n",
	    "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C3=85se;Kari;;;\r\n"
	    "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Kari =C3=85se\r\n"
	    "TEL;CELL:4790000000\r\n",
	    "Kari \xC3\x85se" },
	{ "Thunderbird30TypesAndUtf8",
	    "BEGIN:VCARD\nVERSION:3.0\nFN:J\xC3\xB8rn \xC3\x98stby\n"
	    "N:\xC3\x98stby;J\xC3\xB8rn;;;\nEMAIL;TYPE=work:jo@ex.no\n"
	    "TEL;TYPE=fax:555\nTEL;TYPE=pcs;TYPE=iPhone:556\n"
	    "TZ:+01:00\nTZ;VALUE=text:Europe/Oslo\nGEO:59.9;10.7\n"
	    "REV:2024-01-01T10:00:00Z\nCLASS:PUBLIC\nEND:VCARD\n",
	    "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C3=98stby;J=C3=B8rn;;;"
	    "\r\n"
	    "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:J=C3=B8rn "
	    "=C3=98stby\r\n"
	    "EMAIL;INTERNET;WORK:jo@ex.no\r\nTEL;FAX:555\r\nTEL:556\r\n"
	    "TZ:+01:00\r\nGEO:59.9,10.7\r\nREV:2024-01-01T10:00:00Z\r\n",
	    "J\xC3\xB8rn \xC3\x98stby" },

	/* Names: each of N and FN made from the other, and what names. */
	{ "FullNameFromN",
	    "BEGIN:VCARD\nVERSION:3.0\nN:Lee;Ann;;;Jr.\nEND:VCARD\n",
	    "N:Lee;Ann;;;Jr.\r\nFN:Ann Lee Jr.\r\n", "Ann Lee" },
	{ "OrganisationNames",
	    "BEGIN:VCARD\nVERSION:3.0\nORG:Acme;Sales\nEND:VCARD\n",
	    "ORG:Acme;Sales\r\n", "Acme" },
	{ "NameCutAtACharacter",
	    "BEGIN:VCARD\nVERSION:3.0\n"
	    "N:Lindstr\xC3\xB6m-\xC3\x96"
	    "berg;Anna-Karina\nEND:VCARD\n",
	    "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Lindstr=C3=B6m-=C3=96b"
	    "erg;Anna-Ka=\r\nrina\r\n"
	    /* A character's bytes stay together on one line. */
	    "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Anna-Karina Lindstr=C3="
	    "B6m-=\r\n=C3=96berg\r\n",
	    "Anna-Karina Lindstr\xC3\xB6m-" },
	{ "EmptyCard", "BEGIN:VCARD\nVERSION:4.0\nEND:VCARD", "", "" },

	/* Values that need quoting, and lines soft-broken at 76. */
	{ "LongQuotedValue",
	    "BEGIN:VCARD\nVERSION:3.0\nNOTE:" + std::string(70, 'a') +
		" \xC3\xA9\xC3\xA9\xC3\xA9 " + std::string(10, 'b') +
		" \n"
		"END:VCARD\n",
	    "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:" +
		std::string(30, 'a') + "=\r\n" + std::string(40, 'a') +
		" =C3=A9=C3=A9=C3=A9 " + std::string(10, 'b') + "=20\r\n" },
	/* A blank that a soft break would leave at the start of a line. */
	{ "BlankAfterASoftBreak",
	    "BEGIN:VCARD\nVERSION:3.0\nNOTE:\xC3\xA9" + std::string(99, 'a') +
		" b\nEND:VCARD\n",
	    "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C3=A9" +
		std::string(24, 'a') + "=\r\n" + std::string(75, 'a') +
		"=\r\n=20b\r\n" },
	/* And a line that would begin as a card's END does. */
	{ "EndAfterASoftBreak",
	    "BEGIN:VCARD\nVERSION:3.0\nNOTE:\xC3\xA9" + std::string(99, 'a') +
		"END:VCARD\nEND:VCARD\n",
	    "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=C3=A9" +
		std::string(24, 'a') + "=\r\n" + std::string(75, 'a') +
		"=\r\n=45ND:VCARD\r\n" },
	{ "LineEndsOfEveryKind",
	    "BEGIN:VCARD\rVERSION:2.1\rNOTE;ENCODING=QUOTED-PRINTABLE:a=0Db=0A"
	    "c=0D=0Ad\rEND:VCARD\r",
	    "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:a=0D=0Ab=0D=0Ac=0D="
	    "0Ad\r\n" },
	{ "Agent21CardLeftOut",
	    "BEGIN:VCARD\nVERSION:2.1\nN:Lee;Ann\nAGENT:BEGIN:VCARD\n"
	    "N:Agent;Smith\nEND:VCARD\nTEL:1\nEND:VCARD\n",
	    "N:Lee;Ann\r\nFN:Ann Lee\r\nTEL:1\r\n", "Ann Lee" },
	/* Names: an N that names nobody, and a line end in a name. */
	{ "NameFromFullNameWhereNHasNone",
	    "BEGIN:VCARD\nVERSION:3.0\nN:;;;Dr.;\nFN:Madonna\nEND:VCARD\n",
	    "N:;;;Dr.;\r\nFN:Madonna\r\n", "Madonna" },
	/* 2.1 cannot say a backslash at the end of a part. */
	{ "BackslashEndingAPart",
	    "BEGIN:VCARD\nVERSION:3.0\nN:Lee\\\\;Ann\nORG:A\\\\;B\nEND:VCARD\n",
	    "N:Lee;Ann\r\nFN:Ann Lee\r\nORG:A;B\r\n", "Ann Lee" },
	/* Named by the FN it is given, so that it reads back the same. */
	{ "NameFromTheFullNameItGets",
	    "BEGIN:VCARD\nVERSION:3.0\nN:;;Jo;Dr.;\nORG:Acme\nEND:VCARD\n",
	    "N:;;Jo;Dr.;\r\nFN:Dr. Jo\r\nORG:Acme\r\n", "Dr. Jo" },
	{ "LineEndInANameASpace",
	    "BEGIN:VCARD\nVERSION:3.0\nFN:Ann\\n\\nLee\nEND:VCARD\n",
	    "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Ann=0D=0A=0D=0ALee\r\n"
	    "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Ann=0D=0A=0D=0ALee\r\n",
	    "Ann Lee" },
	/* Soft breaks as sloppy writers leave them. */
	{ "SoftBreakBeforeEnd",
	    "BEGIN:VCARD\nVERSION:2.1\nN:x\nNOTE;QUOTED-PRINTABLE:a=\n"
	    "END:VCARD\n",
	    "N:x\r\nFN:x\r\nNOTE:a\r\n", "x" },
	{ "SoftBreakWithBlanksAfterIt",
	    "BEGIN:VCARD\nVERSION:2.1\nN:x\nNOTE;QUOTED-PRINTABLE:a= \t\nb= \n"
	    "END:VCARD\n",
	    "N:x\r\nFN:x\r\nNOTE:ab\r\n", "x" },
	{ "UnknownPropertiesPassedOver",
	    "BEGIN:VCARD\nVERSION:3.0\nFN:x\nSORT-STRING:x\nSOURCE:ldap://x\n"
	    "KEY;ENCODING=b:AAAA\nX-EMPTY:\nTEL:\nEND:VCARD\n",
	    "N:x\r\nFN:x\r\n", "x" },
};

class VcardConvert : public testing::TestWithParam<ConvertCase>
{
};

TEST_P(VcardConvert, WritesTheCard)
{
	const ConvertCase &c = GetParam();
	Converted got = convert(c.input);
	EXPECT_EQ(got.fault, "");
	EXPECT_EQ(got.cards, std::vector<std::string>{ card21(c.out) });
	EXPECT_EQ(got.names, std::vector<std::string>{ c.object_name });
	/* What the writer wrote reads back as itself. */
	if (!got.cards.empty()) {
		EXPECT_EQ(convert(got.cards[0]).cards, got.cards);
	}
}

INSTANTIATE_TEST_SUITE_P(Cases, VcardConvert, testing::ValuesIn(convert_cases),
    CaseName());

struct FaultCase {
	const char *name;
	std::string input;
	long line;
	std::string fault;
};

void
PrintTo(const FaultCase &c, std::ostream *os)
{
	*os << c.name;
}

static const std::string ann =
    "BEGIN:VCARD\nVERSION:3.0\nN:Lee;Ann\nEND:VCARD\n";

static const FaultCase fault_cases[] = {
	{ "NoCard", "", 0, "no card in the input" },
	{ "BlankLinesOnly", "\n \r\n\t\n", 0, "no card in the input" },
	{ "CardWithoutEnd", ann + "\nBEGIN:VCARD\nVERSION:3.0\nFN:x\n", 6,
	    "card without END:VCARD" },
	{ "NextCardBeforeEnd", "BEGIN:VCARD\nFN:x\n" + ann, 1,
	    "card without END:VCARD" },
	{ "TextBeforeACard", "Contacts\n" + ann, 1, "text outside a card" },
	{ "TextBetweenCards", ann + "N:Lee\n" + ann, 5, "text outside a card" },
	{ "NotAProperty",
	    "BEGIN:VCARD\nVERSION:3.0\nFN:x\nAnn Lee\nEND:VCARD\n", 4,
	    "neither a property nor a continuation" },
	{ "ContinuationOfNothing", "BEGIN:VCARD\n folded\nEND:VCARD\n", 2,
	    "neither a property nor a continuation" },
	{ "UnclosedQuote", "BEGIN:VCARD\nTEL;TYPE=\"cell:1\nEND:VCARD\n", 2,
	    "neither a property nor a continuation" },
	{ "BadQuotedPrintable",
	    "BEGIN:VCARD\nVERSION:2.1\nFN:x\nNOTE;QUOTED-PRINTABLE:a=\n"
	    "b=4G\nEND:VCARD\n",
	    4, "bad quoted-printable value" },
	{ "BadBase64",
	    "BEGIN:VCARD\nVERSION:3.0\nPHOTO;ENCODING=b:AAAA\n "
	    "A=AA\nEND:VCARD\n",
	    3, "bad base64 value" },
	{ "Binary",
	    std::string("\x7F"
			"ELF\x02\x01\x01\0\0\0\n\x03\0",
		13),
	    1, "text outside a card" },
};

class VcardFault : public testing::TestWithParam<FaultCase>
{
};

TEST_P(VcardFault, NamesItsLine)
{
	Converted got = convert(GetParam().input);
	EXPECT_EQ(got.fault, GetParam().fault);
	EXPECT_EQ(got.line, GetParam().line);
	EXPECT_TRUE(got.cards.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, VcardFault, testing::ValuesIn(fault_cases),
    CaseName());

/*
 * Folding cut at every place of a line: 3.0 and 4.0 drop the blank after
 * the line end, 2.1 keeps it (so a 2.1 line is folded before a blank), with
 * either kind of line end and either blank.
 */
TEST(VcardFolding, AtEveryPlace)
{
	const std::string note = "NOTE:Call after six\\, not on Sundays";
	const std::string want =
	    card21("N:x\r\nFN:x\r\n"
		   "NOTE:Call after six, not on Sundays\r\n");
	for (size_t i = 1; i < note.size(); i++)
		for (std::string fold : { "\n ", "\r\n\t" }) {
			std::string in = "BEGIN:VCARD\nVERSION:3.0\nFN:x\n" +
			    note.substr(0, i) + fold + note.substr(i) +
			    "\nEND:VCARD\n";
			EXPECT_EQ(convert(in).cards, std::vector{ want })
			    << "folded at " << i;
		}
	const std::string note21 = "NOTE:Call after six, not on Sundays";
	for (size_t i = 1; i < note21.size(); i++) {
		if (note21[i] != ' ')
			continue;
		std::string in = "BEGIN:VCARD\nVERSION:2.1\nFN:x\n" +
		    note21.substr(0, i) + "\r\n" + note21.substr(i) +
		    "\nEND:VCARD\n";
		EXPECT_EQ(convert(in).cards, std::vector{ want })
		    << "folded at " << i;
	}
}

/* Quoted-printable soft breaks at every place, and no line over 76. */
TEST(VcardQuotedPrintable, SoftBreaksAnywhereAndBack)
{
	const std::string value = "=C3=85se =0D=0Aline two";
	for (size_t i = 1; i < value.size(); i++) {
		if (value[i - 1] == '=' || (i >= 2 && value[i - 2] == '='))
			continue;
		std::string in = "BEGIN:VCARD\nVERSION:2.1\nN;ENCODING=QUOTED-"
				 "PRINTABLE;CHARSET=UTF-8:" +
		    value.substr(0, i) + "=\n" + value.substr(i) +
		    "\nEND:VCARD\n";
		Converted got = convert(in);
		ASSERT_EQ(got.fault, "") << "broken at " << i;
		/* The name shows the line end as a space. */
		EXPECT_EQ(got.names,
		    std::vector<std::string>{ "\xC3\x85se line two" });
	}
	/* Every byte value, in a value long enough for many lines. */
	std::string all;
	for (int round = 0; round < 3; round++)
		for (int c = 0; c < 256; c++)
			if (c != '\\' && c != ';' && c != '\r' && c != '\n')
				all += (char)c;
	Converted got =
	    convert("BEGIN:VCARD\nVERSION:3.0\nORG:" + all + "\nEND:VCARD\n");
	ASSERT_EQ(got.cards.size(), 1u);
	const std::string &text = got.cards[0];
	for (size_t start = 0, end; start < text.size(); start = end + 2) {
		end = text.find("\r\n", start);
		ASSERT_NE(end, std::string::npos);
		EXPECT_LE(end - start, 76u) << text.substr(start, end - start);
		for (size_t i = start; i < end; i++)
			EXPECT_TRUE(text[i] >= ' ' && text[i] <= '~')
			    << "byte " << (int)(unsigned char)text[i];
	}
	/*
	 * Read back and written again, the card is the same: each byte
	 * decoded as it was encoded.
	 */
	EXPECT_EQ(convert(text).cards, got.cards);
}

/*
 * A book cut short at every byte: a fault that names the card, never a
 * card made of what is left, and the whole first card once its END:VCARD
 * is in.
 */
TEST(VcardCut, AtEveryByte)
{
	const std::string first =
	    "BEGIN:VCARD\r\nVERSION:2.1\r\n"
	    "NOTE;QUOTED-PRINTABLE:a=\r\nb\r\nEND:VCARD\r\n";
	const std::string book = first + "\r\n" + ann;
	for (size_t n = 0; n < book.size(); n++) {
		Converted got = convert(book.substr(0, n));
		std::string where = "cut at " + std::to_string(n);
		size_t first_end = first.size() - 2; /* its END:VCARD in */
		size_t second = first.size() + 2; /* where it begins */
		long line = n <= second ? 1 : 7;
		if (n == 0) {
			EXPECT_EQ(got.fault, "no card in the input");
		} else if (n < 11 || (n > second && n < second + 11)) {
			EXPECT_EQ(got.fault, "text outside a card") << where;
			EXPECT_EQ(got.line, line) << where;
		} else if (n < first_end ||
		    (n > second && n < book.size() - 1)) {
			EXPECT_EQ(got.fault, "card without END:VCARD") << where;
			EXPECT_EQ(got.line, line) << where;
		} else {
			EXPECT_EQ(got.cards.size(), n <= second ? 1u : 2u)
			    << where;
		}
	}
}

/* The programs: objects one after another, or nothing and a message. */
static const std::string address_usage =
    "Format Palm Pilot address from stdin or command line\n"
    "Usage: fmt-address [-a addr] [-c city] [-C country] [-f first-name] "
    "[-l last-name] [-n obj-name] [-o company] [-s state] [-t title] "
    "[-z zip]\n";
static const std::string phonecard_usage =
    "Format Nokia telephone number from stdin or command line\n"
    "Usage: fmt-phonecard -n name -t tel\n";

static const std::string two_cards =
    "BEGIN:VCARD\nVERSION:3.0\nN:Lee;Ann\nTEL;TYPE=cell:555-0100\n"
    "END:VCARD\nBEGIN:VCARD\nVERSION:4.0\nORG:Acme\nEND:VCARD\n";
static const std::string ann_card =
    card21("N:Lee;Ann\r\nFN:Ann Lee\r\nTEL;CELL:555-0100\r\n");
static const std::string acme_card = card21("ORG:Acme\r\n");

static std::string
address_object(std::string_view name, const std::string &card)
{
	return object({ .name = std::string(name),
	    .length = (uint32_t)card.size(),
	    .creator = "addr",
	    .payload = card });
}

static std::string
phonecard_object(std::string_view name, const std::string &card)
{
	return object({ .name = std::string(name) + ".vcf", .payload = card });
}

static const CaseRun address_book_cases[] = {
	{ .name = "EveryCardAnObject",
	    .args = { "-i" },
	    .input = two_cards,
	    .out = address_object("Ann Lee", ann_card) +
		address_object("Acme", acme_card) },
	{ .name = "DashIsStandardInput",
	    .args = { "-i", "-" },
	    .input = two_cards,
	    .out = address_object("Ann Lee", ann_card) +
		address_object("Acme", acme_card) },
	{ .name = "NameOptionForOneCard",
	    .args = { "-i", "-n", "Mine" },
	    .input = "BEGIN:VCARD\nORG:Acme\nEND:VCARD\n",
	    .out = address_object("Mine", acme_card) },
	{ .name = "NameOptionForSeveralCards",
	    .args = { "-n", "Mine", "-i" },
	    .input = two_cards,
	    .err = "fmt-address: -n names one card, and the input holds 2\n",
	    .status = 1 },
	{ .name = "UnnamedCard",
	    .args = { "-i" },
	    .input = "BEGIN:VCARD\nNOTE:x\nEND:VCARD\n",
	    .out = object({ .length = (uint32_t)card21("NOTE:x\r\n").size(),
		.creator = "addr",
		.payload = card21("NOTE:x\r\n") }) },
	{ .name = "FaultInTheLastCardWritesNothing",
	    .args = { "-i" },
	    .input = two_cards + "BEGIN:VCARD\nVERSION:2.1\nN:x\n",
	    .err = "fmt-address: line 10: card without END:VCARD\n",
	    .status = 1 },
	{ .name = "NoCard",
	    .args = { "-i" },
	    .err = "fmt-address: no card in the input\n",
	    .status = 1 },
	{ .name = "WithFieldOptions",
	    .args = { "-i", "-f", "Ann" },
	    .input = two_cards,
	    .err = address_usage,
	    .status = 1 },
	{ .name = "TwoFiles",
	    .args = { "-i", "a.vcf", "b.vcf" },
	    .err = address_usage,
	    .status = 1 },
	{ .name = "Help",
	    .args = { "-i", "-h" },
	    .input = two_cards,
	    .err = address_usage },
	{ .name = "MissingFile",
	    .args = { "-i", "/nonexistent/book\n.vcf" },
	    .err = "fmt-address: cannot open `/nonexistent/book\\n.vcf': No "
		   "such file or directory\n",
	    .status = 1 },
	{ .name = "Directory",
	    .args = { "-i", "/" },
	    .err = "fmt-address: cannot read `/': Is a directory\n",
	    .status = 1 },
};

class AddressBook : public testing::TestWithParam<CaseRun>
{
};

TEST_P(AddressBook, WritesEveryCard)
{
	expect_case("fmt-address", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, AddressBook,
    testing::ValuesIn(address_book_cases), CaseName());

static const CaseRun phonecard_book_cases[] = {
	{ .name = "EveryCardAnObject",
	    .args = { "-i" },
	    .input = two_cards,
	    .out = phonecard_object("Ann Lee", ann_card) +
		phonecard_object("Acme", acme_card) },
	{ .name = "UnnamedCard",
	    .args = { "-i", "-" },
	    .input = "BEGIN:VCARD\nNOTE:x\nEND:VCARD\n",
	    .out = phonecard_object("", card21("NOTE:x\r\n")) },
	{ .name = "Fault",
	    .args = { "-i" },
	    .input = "BEGIN:VCARD\nVERSION:2.1\nNOTE;QUOTED-PRINTABLE:=X\n"
		     "END:VCARD\n",
	    .err = "fmt-phonecard: line 3: bad quoted-printable value\n",
	    .status = 1 },
	{ .name = "WithNameOption",
	    .args = { "-i", "-n", "Home" },
	    .input = two_cards,
	    .err = phonecard_usage,
	    .status = 1 },
	{ .name = "Help", .args = { "-h", "-i" }, .err = phonecard_usage },
};

class PhonecardBook : public testing::TestWithParam<CaseRun>
{
};

TEST_P(PhonecardBook, WritesEveryCard)
{
	expect_case("fmt-phonecard", GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, PhonecardBook,
    testing::ValuesIn(phonecard_book_cases), CaseName());

/* A file named on the command line, read as standard input would be. */
TEST(AddressBookFile, ReadLikeStandardInput)
{
	std::string path = temp_dir() + "/book.vcf";
	write_file(path, two_cards);
	EXPECT_EQ(output_of("fmt-address", { "-i", path }),
	    output_of("fmt-address", { "-i" }, two_cards));
	EXPECT_EQ(output_of("fmt-phonecard", { "-i", path }),
	    output_of("fmt-phonecard", { "-i" }, two_cards));
}
