/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The objects as a real OBEX receiver takes them.  Each program's output
 * goes through fmt-send, over a socketpair (fd:N), to OpenOBEX running as
 * the server on the other end inside the test; the headers that OpenOBEX
 * hands back with each PUT are compared with what the command line asked
 * for.
 *
 * What OpenOBEX 1.7.2 is known to do, so that the comparison checks the
 * objects and not the library: it merges the data of all Body and
 * End-of-Body headers of a PUT into one Body header that it hands back
 * only once End-of-Body has arrived; and its OBEX_HDR_CREATOR has the kind
 * bits of a byte sequence, not of the four-byte value that goes on the
 * wire.  Each exchange runs in a child process under a time limit.
 *
 * fmt-send completes each object for today's phones, unless told not to
 * with -r: a Type header and, where the object has none, a Length header
 * go before its payload.  The receiver must see them, and the payload
 * byte-exact all the same.
 */
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <openobex/obex.h>

#include "obex_walk.h"
#include "runner.h"

namespace
{

/* Header identifiers, built as OpenOBEX builds its own. */
constexpr int
obex_id(obex_hdr_id id, obex_hdr_type kind)
{
	return (int)id | (int)kind;
}
constexpr int NAME = obex_id(OBEX_HDR_ID_NAME, OBEX_HDR_TYPE_UNICODE);
constexpr int LENGTH = obex_id(OBEX_HDR_ID_LENGTH, OBEX_HDR_TYPE_UINT32);
constexpr int CREATOR = obex_id(OBEX_HDR_ID_CREATOR, OBEX_HDR_TYPE_UINT32);
constexpr int BODY = obex_id(OBEX_HDR_ID_BODY, OBEX_HDR_TYPE_BYTES);
constexpr int TYPE = obex_id(OBEX_HDR_ID_TYPE, OBEX_HDR_TYPE_BYTES);

/* Time for one exchange, far above what it needs. */
constexpr unsigned EXCHANGE_SECONDS = 60;

struct Header {
	int id;
	std::string value; /* Unicode as its units, four-byte high first */
	bool operator==(const Header &) const = default;
};

/* What one exchange gave: the headers of each PUT, and any trouble. */
struct Exchange {
	std::vector<std::vector<Header>> puts;
	std::string trouble;
};

/* The receiver's side of the exchange, reached from its callbacks. */
struct Receiver {
	std::vector<std::vector<Header>> puts;
	bool disconnected = false;
	std::string trouble;
};

void
receiver_event(obex_t *handle, obex_object_t *object, int, int event,
    int command, int)
{
	Receiver *r = static_cast<Receiver *>(OBEX_GetUserData(handle));
	uint8_t hi;
	obex_headerdata_t hv;
	uint32_t size;

	switch (event) {
	case OBEX_EV_REQHINT:
		OBEX_ObjectSetRsp(object, OBEX_RSP_CONTINUE, OBEX_RSP_SUCCESS);
		break;
	case OBEX_EV_REQ:
		if (command != OBEX_CMD_PUT)
			break;
		r->puts.emplace_back();
		while (
		    OBEX_ObjectGetNextHeader(handle, object, &hi, &hv, &size)) {
			Header h{ hi, {} };
			if ((hi & OBEX_HDR_TYPE_MASK) == OBEX_HDR_TYPE_UINT32)
				h.value = be32(hv.bq4);
			else if ((hi & OBEX_HDR_TYPE_MASK) ==
			    OBEX_HDR_TYPE_UINT8)
				h.value = std::string(1, (char)hv.bq1);
			else
				h.value.assign((const char *)hv.bs, size);
			r->puts.back().push_back(h);
		}
		break;
	case OBEX_EV_REQDONE:
		if (command == OBEX_CMD_DISCONNECT)
			r->disconnected = true;
		break;
	case OBEX_EV_PARSEERR:
	case OBEX_EV_LINKERR:
	case OBEX_EV_ABORT:
	case OBEX_EV_UNEXPECTED:
		r->trouble += "receiver event " + std::to_string(event) +
		    " during command " + std::to_string(command) + "\n";
		break;
	}
}

/*
 * The whole exchange with a fresh receiver that takes packets of `mtu`
 * bytes, fmt-send reading `input_path`; runs in a child process.
 */
Exchange
obex_exchange_here(const std::string &input_path,
    const std::vector<std::string> &options, uint16_t mtu)
{
	int sv[2];
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
		return { {}, "no socketpair\n" };
	std::vector<std::string> words{ "fmt-send" };
	words.insert(words.end(), options.begin(), options.end());
	words.push_back("fd:" + std::to_string(sv[1]));
	std::vector<char *> argv;
	for (auto &w : words)
		argv.push_back(w.data());
	argv.push_back(nullptr);
	std::string path = program_path("fmt-send");
	std::string err_path = input_path + ".err";
	pid_t pid = fork();
	if (pid == 0) {
		int in = open(input_path.c_str(), O_RDONLY);
		int err =
		    open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
		if (in < 0 || err < 0 || dup2(in, 0) < 0 || dup2(err, 2) < 0 ||
		    fcntl(sv[1], F_SETFD, 0) != 0)
			_exit(125);
		execv(path.c_str(), argv.data());
		_exit(126);
	}
	close(sv[1]);

	Receiver r;
	obex_t *handle = OBEX_Init(OBEX_TRANS_FD, receiver_event, 0);
	if (handle == nullptr)
		return { {}, "OBEX_Init failed\n" };
	OBEX_SetUserData(handle, &r);
	if (OBEX_SetTransportMTU(handle, mtu, mtu) < 0 ||
	    FdOBEX_TransportSetup(handle, sv[0], sv[0], mtu) < 0)
		r.trouble += "the descriptor transport did not come up\n";
	/* OpenOBEX's own time-out waits on the wrong side: poll first. */
	while (r.trouble.empty() && !r.disconnected) {
		struct pollfd p = { sv[0], POLLIN, 0 };
		if (poll(&p, 1, 20000) <= 0) {
			r.trouble += "fmt-send went silent\n";
			break;
		}
		if (OBEX_HandleInput(handle, 1) <= 0)
			break;
	}
	OBEX_Cleanup(handle);
	close(sv[0]);

	int status;
	if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
	    WEXITSTATUS(status) != 0) {
		std::string err;
		FILE *f = fopen(err_path.c_str(), "rb");
		char buf[1024];
		size_t n;
		while (f != nullptr && (n = fread(buf, 1, sizeof(buf), f)) > 0)
			err.append(buf, n);
		if (f != nullptr)
			fclose(f);
		r.trouble += "fmt-send failed: " + err;
	} else if (!r.disconnected) {
		r.trouble += "no DISCONNECT arrived\n";
	}
	return { r.puts, r.trouble };
}

/* An exchange in a child process that gets `seconds` to finish it. */
Exchange
obex_exchange(std::string_view object,
    const std::vector<std::string> &options = {}, uint16_t mtu = 65535,
    unsigned seconds = EXCHANGE_SECONDS)
{
	static int serial;
	std::string input_path =
	    temp_dir() + "/exchange" + std::to_string(++serial);
	write_file(input_path, object);
	int fds[2];
	if (pipe(fds) != 0)
		return { {}, "no pipe\n" };
	fflush(nullptr);
	pid_t pid = fork();
	if (pid < 0)
		return { {}, "no fork\n" };
	if (pid == 0) {
		close(fds[0]);
		alarm(seconds);
		Exchange x = obex_exchange_here(input_path, options, mtu);
		std::string report =
		    be32((uint32_t)x.trouble.size()) + x.trouble;
		for (const auto &put : x.puts) {
			report += '\0';
			for (const Header &h : put)
				report += (char)h.id +
				    be32((uint32_t)h.value.size()) + h.value;
		}
		for (size_t done = 0; done < report.size();) {
			ssize_t n = write(fds[1], report.data() + done,
			    report.size() - done);
			if (n <= 0)
				_exit(1);
			done += (size_t)n;
		}
		_exit(0);
	}
	close(fds[1]);
	std::string report;
	char buf[65536];
	ssize_t n;
	while ((n = read(fds[0], buf, sizeof(buf))) > 0)
		report.append(buf, (size_t)n);
	close(fds[0]);
	int status;
	if (waitpid(pid, &status, 0) != pid)
		return { {}, "the receiver's process was lost\n" };
	if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
		return { {},
			"the exchange did not finish within " +
			    std::to_string(seconds) + " s\n" };
	if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
		return { {}, "the receiver's process failed\n" };

	auto take32 = [&](size_t &pos) {
		uint32_t v = 0;
		for (int i = 0; i < 4 && pos < report.size(); i++)
			v = v << 8 | (unsigned char)report[pos++];
		return v;
	};
	Exchange x;
	size_t pos = 0;
	uint32_t len = take32(pos);
	x.trouble = report.substr(pos, len);
	pos += len;
	while (pos < report.size()) {
		int id = (unsigned char)report[pos++];
		if (id == 0) {
			x.puts.emplace_back();
			continue;
		}
		len = take32(pos);
		if (!x.puts.empty())
			x.puts.back().push_back(
			    { id, report.substr(pos, len) });
		pos += len;
	}
	return x;
}

/* What a case asks the receiver to get. */
struct Want {
	std::optional<std::string> name; /* its bytes, one unit each */
	std::optional<uint32_t> length;
	std::optional<std::string> creator; /* four letters */
	std::string body;
	/* What fmt-send adds: a Type, and a Length that counts the body. */
	std::optional<std::string> type = {};
	bool length_added = false;
};

/* An object with a Length header that counts its payload. */
Want
counted(std::optional<std::string> name, std::string creator, std::string body)
{
	return { name, (uint32_t)body.size(), creator, body };
}

/* The object as fmt-send completes it, with `type` if not empty. */
Want
completed(Want w, std::string_view type)
{
	if (!type.empty())
		w.type = std::string(type);
	if (!w.length) {
		w.length = (uint32_t)w.body.size();
		w.length_added = true;
	}
	return w;
}

/* The headers that OpenOBEX hands back for such an object. */
std::vector<Header>
wanted_headers(const Want &w)
{
	std::vector<Header> h;
	if (w.name) {
		std::string units;
		for (char c : *w.name)
			units += be16((unsigned char)c);
		h.push_back({ NAME, units + be16(0) });
	}
	if (w.length && !w.length_added)
		h.push_back({ LENGTH, be32(*w.length) });
	if (w.creator)
		h.push_back({ CREATOR, *w.creator });
	if (w.type)
		h.push_back({ TYPE, *w.type + std::string(1, '\0') });
	if (w.length_added)
		h.push_back({ LENGTH, be32(*w.length) });
	h.push_back({ BODY, w.body });
	return h;
}

std::string
describe(const Header &h)
{
	char id[8];
	snprintf(id, sizeof(id), "%02X", h.id);
	std::string v = printable(h.value.substr(0, 64));
	return std::string(id) + " (" + std::to_string(h.value.size()) +
	    " bytes) " + v + (h.value.size() > 64 ? "..." : "");
}

/* Empty when one PUT's headers are what was wanted, else what differs. */
std::string
put_mismatch(const std::vector<Header> &got, const Want &w)
{
	std::vector<Header> want = wanted_headers(w);
	std::string s;

	for (size_t i = 0; i < std::max(want.size(), got.size()); i++) {
		if (i < want.size() && i < got.size() && want[i] == got[i])
			continue;
		s += "header " + std::to_string(i + 1) + ": received " +
		    (i < got.size() ? describe(got[i]) : "nothing") +
		    ", wanted " +
		    (i < want.size() ? describe(want[i]) : "nothing");
		if (i < want.size() && i < got.size() &&
		    want[i].value != got[i].value) {
			const std::string &a = got[i].value, &b = want[i].value;
			size_t k = 0;
			while (k < a.size() && k < b.size() && a[k] == b[k])
				k++;
			s += "; first difference at byte " + std::to_string(k);
		}
		s += "\n";
	}
	return s;
}

/* Empty when the receiver got one PUT for each object wanted, as wanted. */
std::string
obex_mismatch(const Exchange &x, const std::vector<Want> &wants)
{
	std::string s = x.trouble;

	if (x.puts.size() != wants.size())
		s += std::to_string(x.puts.size()) + " PUT requests arrived, " +
		    std::to_string(wants.size()) + " wanted\n";
	for (size_t i = 0; i < std::min(x.puts.size(), wants.size()); i++) {
		std::string m = put_mismatch(x.puts[i], wants[i]);
		if (!m.empty())
			s += "PUT " + std::to_string(i + 1) + ": " + m;
	}
	return s;
}

std::string
obex_mismatch(const Exchange &x, const Want &w)
{
	return obex_mismatch(x, std::vector<Want>{ w });
}

/* One program run whose object goes to the receiver. */
struct PeerCase {
	const char *name;
	std::vector<std::string> args;
	std::string input;
	Want want;
	int body_headers = 0; /* Body headers in the program's own output */
	std::optional<std::string> file = {}; /* written out, its path last */
};

void
PrintTo(const PeerCase &c, std::ostream *os)
{
	*os << c.name;
}

/* The program's object into the receiver, completed with `type`. */
void
expect_received(std::string_view program, const PeerCase &c,
    std::string_view type)
{
	std::vector<std::string> args = c.args;
	if (c.file) {
		std::string path = temp_dir() + "/" + c.name + ".pdb";
		write_file(path, *c.file);
		args.push_back(path);
	}
	RunOptions options;
	options.input = c.input;
	RunResult r = run_program(program, args, options);
	ASSERT_EQ(r.status, 0) << r.err;

	bool framed;
	int bodies = 0;
	for (const ObexPiece &p : obex_walk(r.out, framed))
		bodies += p.id == BODY;
	EXPECT_TRUE(framed) << "the output does not frame as headers";
	EXPECT_EQ(bodies, c.body_headers) << "Body headers in the output";
	EXPECT_EQ(obex_mismatch(obex_exchange(r.out), completed(c.want, type)),
	    "");
}

/* Text without line ends whose bytes show where each piece came from. */
static std::string
lettered_text(size_t size)
{
	std::string s;
	for (size_t i = 0; i < size; i++)
		s += (char)('A' + (i * 7 + i / 23) % 26);
	return s;
}

} // namespace

/*
 * The check must bite.  The worked memo object passes; each wrong object
 * is that object with one fault, which fmt-send refuses to carry or the
 * receiver shows.
 */
static const std::string shop = hex("00 73 00 68 00 6F 00 70");
static const std::string memo = hex("CF 6D 65 6D 6F");
static const std::string text = "milk eggs\r\n";
static const Want shopping =
    completed({ "shop", {}, "memo", text }, "text/plain");
/* Its Name and End-of-Body headers as they should be. */
static const std::string shop_name = name_header("shop");
static const std::string end_header = hex("49 00 0E") + text;

TEST(ObexRightObject, Passes)
{
	std::string object = shop_name + memo + end_header;
	EXPECT_EQ(obex_mismatch(obex_exchange(object), shopping), "");
}

struct WrongObject {
	const char *name;
	std::string object;
	unsigned seconds = EXCHANGE_SECONDS;
};

void
PrintTo(const WrongObject &c, std::ostream *os)
{
	*os << c.name;
}

class ObexCheck : public testing::TestWithParam<WrongObject>
{
};

TEST_P(ObexCheck, FailsAWrongObject)
{
	std::string why = obex_mismatch(obex_exchange(GetParam().object, {},
					    65535, GetParam().seconds),
	    shopping);
	EXPECT_NE(why, "");
	std::printf("%s", why.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cases, ObexCheck,
    testing::Values(WrongObject{ "NameLengthTooLong",
			hex("01 00 0F") + shop + hex("00 00") + memo +
			    end_header },
	WrongObject{ "NameLengthTooShort",
	    hex("01 00 0B") + shop + hex("00 00") + memo + end_header },
	WrongObject{ "NameWithoutItsTerminator",
	    hex("01 00 0B") + shop + memo + end_header },
	WrongObject{ "EndOfBodyLengthTooLong",
	    shop_name + memo + hex("49 00 0F") + text },
	WrongObject{ "EndOfBodyLengthTooShort",
	    shop_name + memo + hex("49 00 0D") + text },
	WrongObject{ "CreatorAsAByteSequence",
	    shop_name + hex("4F 00 07 6D 65 6D 6F") + end_header },
	WrongObject{ "BodyLengthZero",
	    shop_name + memo + hex("48 00 00") + end_header },
	/* Well framed, so fmt-send carries them: the receiver must differ. */
	WrongObject{ "AnotherName", name_header("shoq") + memo + end_header },
	WrongObject{ "AnotherText",
	    shop_name + memo + hex("49 00 0E") + "milk eggz\r\n" },
	WrongObject{ "TwoObjects",
	    shop_name + memo + end_header + end_header }),
    CaseName());

class MemoReceived : public testing::TestWithParam<PeerCase>
{
};

TEST_P(MemoReceived, AsAsked)
{
	expect_received("fmt-memo", GetParam(), "text/plain");
}

INSTANTIATE_TEST_SUITE_P(Cases, MemoReceived,
    testing::Values(PeerCase{ "WorkedExample", { "-n", "shop", "milk", "eggs" },
			"", { "shop", {}, "memo", "milk eggs\r\n" } },
	PeerCase{ "FromStandardInput", { "-n", "Shopping" }, "milk\neggs\n",
	    { "Shopping", {}, "memo", "milk\r\neggs\r\n" } },
	PeerCase{ "Unnamed", { "Call", "the", "garage" }, "",
	    { {}, {}, "memo", "Call the garage\r\n" } },
	PeerCase{ "EmptyText", {}, "", { {}, {}, "memo", "" } },
	PeerCase{ "EmptyName", { "-n", "", "x" }, "",
	    { "", {}, "memo", "x\r\n" } },
	PeerCase{ "NameCutTo24Bytes",
	    { "-n", "Groceries for the weekend trip", "x" }, "",
	    { "Groceries for the weeken", {}, "memo", "x\r\n" } },
	PeerCase{ "Latin1Name", { "-n", "caf\xE9", "x" }, "",
	    { "caf\xE9", {}, "memo", "x\r\n" } },
	PeerCase{ "BinaryInput", {}, std::string("a\0b\xFF\r\n", 6),
	    { {}, {}, "memo", std::string("a\0b\xFF\r\n", 6) } },
	PeerCase{ "LongestSingleHeader", {}, lettered_text(65532),
	    { {}, {}, "memo", lettered_text(65532) } },
	PeerCase{ "OneByteBeyond", {}, lettered_text(65533),
	    { {}, {}, "memo", lettered_text(65533) }, 1 },
	PeerCase{ "SeveralBodyHeaders", { "-n", "long" }, lettered_text(200000),
	    { "long", {}, "memo", lettered_text(200000) }, 3 }),
    CaseName());

class AddressReceived : public testing::TestWithParam<PeerCase>
{
};

TEST_P(AddressReceived, AsAsked)
{
	expect_received("fmt-address", GetParam(), "text/x-vcard");
}

INSTANTIATE_TEST_SUITE_P(Cases, AddressReceived,
    testing::Values(PeerCase{ "WorkedExample",
			{ "-f", "Ann", "-l", "Lee", "-c", "Oslo" }, "",
			counted("Ann Lee", "addr",
			    "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\n"
			    "ADR:;;;Oslo;;;\r\nEND:VCARD") },
	PeerCase{ "NamedByOption",
	    { "-n", "Office", "-o", "Acme AS", "-t", "Engineer" }, "",
	    counted("Office", "addr",
		"BEGIN:VCARD\r\nVERSION:2.1\r\nORG:Acme AS\r\n"
		"TITLE:Engineer\r\nEND:VCARD") },
	PeerCase{ "NamedByCompany", { "-o", "Acme AS" }, "",
	    counted("Acme AS", "addr",
		"BEGIN:VCARD\r\nVERSION:2.1\r\nORG:Acme AS\r\nEND:VCARD") },
	PeerCase{ "Unnamed", { "-t", "Engineer" }, "",
	    counted(std::nullopt, "addr",
		"BEGIN:VCARD\r\nVERSION:2.1\r\nTITLE:Engineer\r\n"
		"END:VCARD") },
	PeerCase{ "StreamWorkedExample", { "-n", "x" }, "a\nb\r",
	    counted("x", "addr", "a\r\nb\r\n") },
	PeerCase{ "EmptyStream", {}, "", counted(std::nullopt, "addr", "") },
	PeerCase{ "LongStream", {}, lettered_text(70000),
	    counted(std::nullopt, "addr", lettered_text(70000)), 1 }),
    CaseName());

class DateReceived : public testing::TestWithParam<PeerCase>
{
};

TEST_P(DateReceived, AsAsked)
{
	expect_received("fmt-date", GetParam(), "text/x-vcalendar");
}

INSTANTIATE_TEST_SUITE_P(Cases, DateReceived,
    testing::
	Values(PeerCase{ "WorkedExample",
		   { "-d", "20240315", "-t", "0930-1030", "Team", "meeting" },
		   "",
		   { {}, {}, "date",
		       "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n"
		       "DTSTART:20240315T093000\r\nDTEND:20240315T103000\r\n"
		       "DESCRIPTION:Team meeting\r\nEND:VEVENT\r\n"
		       "END:VCALENDAR\r\n" } },
	    PeerCase{ "NamedWithoutTimes",
		{ "-n", "Team", "-d", "20240315", "Team", "meeting" }, "",
		{ "Team", {}, "date",
		    "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n"
		    "DTSTART:20240315\r\nDESCRIPTION:Team meeting\r\n"
		    "END:VEVENT\r\nEND:VCALENDAR\r\n" } },
	    PeerCase{ "DescriptionFromStandardInput",
		{ "-d", "20241224", "-t", "18-23" }, "Dinner\nat home\n",
		{ {}, {}, "date",
		    "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\n"
		    "DTSTART:20241224T180000\r\nDTEND:20241224T230000\r\n"
		    "DESCRIPTION:Dinner\r\nat home\r\n\r\nEND:VEVENT\r\n"
		    "END:VCALENDAR\r\n" } }),
    CaseName());

class TodoReceived : public testing::TestWithParam<PeerCase>
{
};

TEST_P(TodoReceived, AsAsked)
{
	expect_received("fmt-todo", GetParam(), "text/x-vcalendar");
}

static const std::string buy_milk =
    "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VTODO\r\n"
    "CATEGORIES:X-Unfiled\r\nDUE:20240315\r\n"
    "STATUS:NEEDS ACTION\r\nPRIORITY:1\r\n"
    "DESCRIPTION:Buy milk\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";

INSTANTIATE_TEST_SUITE_P(Cases, TodoReceived,
    testing::Values(PeerCase{ "WorkedExample",
			{ "-d", "20240315", "Buy", "milk" }, "",
			{ {}, {}, "todo", buy_milk } },
	PeerCase{ "NamedFromStandardInput", { "-n", "Milk", "-d", "20240315" },
	    "Buy milk", { "Milk", {}, "todo", buy_milk } }),
    CaseName());

class PhonecardReceived : public testing::TestWithParam<PeerCase>
{
};

TEST_P(PhonecardReceived, AsAsked)
{
	expect_received("fmt-phonecard", GetParam(), "text/x-vcard");
}

INSTANTIATE_TEST_SUITE_P(Cases, PhonecardReceived,
    testing::Values(PeerCase{ "WorkedExample",
			{ "-n", "Home", "-t", "555-0100" }, "",
			{ "Home.vcf", {}, {},
			    "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Home\r\n"
			    "TEL:555-0100\r\nEND:VCARD\r\n" } },
	PeerCase{ "LongNameCut",
	    { "-n", "Annabelle Lee-Winterbottom", "-t", "+47 555 0100" }, "",
	    { "Annabelle Lee-Winterbott.vcf", {}, {},
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Annabelle Lee-Winterbott\r\n"
		"TEL:+47 555 0100\r\nEND:VCARD\r\n" } },
	PeerCase{ "Latin1Name", { "-n", "Jos\xE9", "-t", "1" }, "",
	    { "Jos\xE9.vcf", {}, {},
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Jos\xE9\r\nTEL:1\r\n"
		"END:VCARD\r\n" } }),
    CaseName());

class DatabaseReceived : public testing::TestWithParam<PeerCase>
{
};

TEST_P(DatabaseReceived, AsAsked)
{
	expect_received("fmt-database", GetParam(), "");
}

/* A database of `size` bytes named `db`, sent in `bodies` Body headers. */
static PeerCase
database(const char *name, std::vector<std::string> args, const char *db,
    const char *creator, size_t size, int bodies)
{
	std::string file = palm_file(db, size);
	return { name, std::move(args), "", counted(db, creator, file), bodies,
		file };
}

INSTANTIATE_TEST_SUITE_P(Cases, DatabaseReceived,
    testing::Values(database("WorkedExample", {}, "Sample", "lnch", 700, 2),
	database("SeveralChunks", { "-z" }, "MemoDB", "zrCT", 1700, 4),
	database("WholeChunksOnly", { "-z", "-l" }, "AddressDB", "lnch", 1500,
	    3),
	database("OneShortChunk", {}, "Tiny", "lnch", 40, 1)),
    CaseName());

/* What a receiver should get for an object, read from its headers. */
static Want
want_of(std::string_view object)
{
	bool framed;
	Want w;
	for (const ObexPiece &p : obex_walk(object, framed)) {
		auto u32 = [&] {
			uint32_t v = 0;
			for (unsigned char c : p.data)
				v = v << 8 | c;
			return v;
		};
		if (p.id == 0x01) {
			std::string name;
			for (size_t i = 1; i + 2 < p.data.size(); i += 2)
				name += p.data[i];
			w.name = name;
		} else if (p.id == 0xC3) {
			w.length = u32();
		} else if (p.id == 0xCF) {
			w.creator = std::string(p.data);
		} else {
			w.body += p.data;
		}
	}
	EXPECT_TRUE(framed);
	return w;
}

/* Every program's object and the Type that fmt-send gives it. */
static std::vector<std::pair<std::string, std::string>>
every_program()
{
	std::string db = temp_dir() + "/stream.pdb";
	write_file(db, palm_file("Stream", 1700));
	return {
		{ output_of("fmt-memo", { "-n", "shop", "milk", "eggs" }),
		    "text/plain" },
		{ output_of("fmt-address", { "-f", "Ann", "-l", "Lee" }),
		    "text/x-vcard" },
		{ output_of("fmt-date",
		      { "-d", "20240315", "-t", "0930-1030", "Team",
			  "meeting" }),
		    "text/x-vcalendar" },
		{ output_of("fmt-todo", { "-n", "Milk", "-d", "20240315" },
		      "Buy milk"),
		    "text/x-vcalendar" },
		{ output_of("fmt-phonecard",
		      { "-n", "Home", "-t", "555-0100" }),
		    "text/x-vcard" },
		{ output_of("fmt-database", { "-z", db }), "" },
		{ output_of("fmt-memo", {}, ""), "text/plain" },
	};
}

/*
 * Every program's object, one after another in one connection, completed;
 * and with -r exactly as the programs wrote them.
 */
TEST(ObexStream, EveryProgramInOneConnection)
{
	for (bool raw : { false, true }) {
		std::string stream;
		std::vector<Want> wants;
		for (const auto &[o, type] : every_program()) {
			stream += o;
			wants.push_back(
			    raw ? want_of(o) : completed(want_of(o), type));
		}
		EXPECT_EQ(obex_mismatch(obex_exchange(stream,
					    raw ? std::vector<
						      std::string>{ "-r" }
						: std::vector<std::string>{}),
			      wants),
		    "")
		    << (raw ? "with -r" : "completed");
	}
}

/* A calendar of several events arrives as that many objects. */
TEST(ObexStream, CalendarOneObjectPerEvent)
{
	std::string ics = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\n";
	for (int i = 1; i <= 3; i++)
		ics += "BEGIN:VEVENT\nUID:" + std::to_string(i) +
		    "\nDTSTAMP:20240101T000000Z\nDTSTART:2024031" +
		    std::to_string(i) + "T090000Z\nSUMMARY:Event " +
		    std::to_string(i) + "\nEND:VEVENT\n";
	ics += "END:VCALENDAR\n";
	RunOptions options;
	options.input = ics;
	options.env = { "TZ=UTC" };
	RunResult r = run_program("fmt-date", { "-i" }, options);
	ASSERT_EQ(r.status, 0) << r.err;

	std::vector<Want> wants;
	bool framed;
	size_t begin = 0;
	for (const ObexPiece &p : obex_walk(r.out, framed)) {
		if (p.id != 0x49)
			continue;
		size_t end =
		    (size_t)(p.header.data() - r.out.data()) + p.header.size();
		wants.push_back(
		    completed(want_of(std::string_view(r.out).substr(begin,
				  end - begin)),
			"text/x-vcalendar"));
		begin = end;
	}
	EXPECT_EQ(wants.size(), 3u);
	EXPECT_EQ(obex_mismatch(obex_exchange(r.out), wants), "");
}

/* Large objects at the least and the largest packet size. */
struct Sized {
	const char *name;
	std::string object;
	std::string type; /* that fmt-send adds */
	std::vector<std::string> options;
	uint16_t mtu;
};

void
PrintTo(const Sized &c, std::ostream *os)
{
	*os << c.name;
}

class ObexSized : public testing::TestWithParam<Sized>
{
};

TEST_P(ObexSized, ArrivesWhole)
{
	const Sized &c = GetParam();
	EXPECT_EQ(obex_mismatch(obex_exchange(c.object, c.options, c.mtu),
		      completed(want_of(c.object), c.type)),
	    "");
}

static std::string
big_memo()
{
	return output_of("fmt-memo", { "-n", "long" }, lettered_text(200000));
}

static std::string
big_database()
{
	std::string db = temp_dir() + "/big.pdb";
	write_file(db, palm_file("BigDB", 4 * 1024 * 1024));
	return output_of("fmt-database", { db });
}

INSTANTIATE_TEST_SUITE_P(Cases, ObexSized,
    testing::Values(Sized{ "Memo200000At255", big_memo(), "text/plain", {},
			255 },
	Sized{ "Memo200000At65535", big_memo(), "text/plain", {}, 65535 },
	Sized{ "Memo200000OursAt255", big_memo(), "text/plain", { "-m", "255" },
	    65535 },
	Sized{ "Database4MiBAt255", big_database(), "", {}, 255 },
	Sized{ "Database4MiBAt65535", big_database(), "", {}, 65535 }),
    CaseName());

/* An address book: one PUT for each of its cards, in their order. */
TEST(ObexBook, EveryCardItsOwnObject)
{
	const std::string book =
	    "BEGIN:VCARD\nVERSION:3.0\nN:Lee;Ann\nTEL;TYPE=cell:555-0100\n"
	    "END:VCARD\nBEGIN:VCARD\nVERSION:4.0\nFN:Bob Berg\nEND:VCARD\n"
	    "BEGIN:VCARD\nVERSION:2.1\nORG:Acme\nEND:VCARD\n";
	const std::vector<std::string> cards = {
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\nFN:Ann Lee\r\n"
		"TEL;CELL:555-0100\r\nEND:VCARD\r\n",
		"BEGIN:VCARD\r\nVERSION:2.1\r\nN:Bob Berg\r\nFN:Bob Berg\r\n"
		"END:VCARD\r\n",
		"BEGIN:VCARD\r\nVERSION:2.1\r\nORG:Acme\r\nEND:VCARD\r\n",
	};
	const std::vector<std::string> names = { "Ann Lee", "Bob Berg",
		"Acme" };
	std::vector<Want> address, phone;
	for (size_t i = 0; i < cards.size(); i++) {
		address.push_back(completed(counted(names[i], "addr", cards[i]),
		    "text/x-vcard"));
		phone.push_back(
		    completed({ names[i] + ".vcf", {}, {}, cards[i] },
			"text/x-vcard"));
	}
	EXPECT_EQ(obex_mismatch(obex_exchange(
				    output_of("fmt-address", { "-i" }, book)),
		      address),
	    "");
	EXPECT_EQ(obex_mismatch(obex_exchange(
				    output_of("fmt-phonecard", { "-i" }, book)),
		      phone),
	    "");
}
