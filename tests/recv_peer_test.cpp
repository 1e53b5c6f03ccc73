/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * fmt-recv as a real OBEX client meets it: OpenOBEX's library, in the
 * test, connects over a socketpair (fd:N), pushes files with Name, Length
 * and Body headers as the library frames them, and disconnects.  Each
 * file must be stored byte for byte; OpenOBEX's own packet size and the
 * largest are both tried.
 */
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <openobex/obex.h>

#include "runner.h"

namespace
{

/* Header identifiers, built as OpenOBEX builds its own. */
constexpr unsigned
obex_id(obex_hdr_id id, obex_hdr_type kind)
{
	return (unsigned)id | (unsigned)kind;
}
constexpr unsigned NAME = obex_id(OBEX_HDR_ID_NAME, OBEX_HDR_TYPE_UNICODE);
constexpr unsigned LENGTH = obex_id(OBEX_HDR_ID_LENGTH, OBEX_HDR_TYPE_UINT32);
constexpr unsigned BODY = obex_id(OBEX_HDR_ID_BODY, OBEX_HDR_TYPE_BYTES);

struct Client {
	bool done = false; /* the request under way has its answer */
	int response = 0;
};

void
client_event(obex_t *handle, obex_object_t *, int, int event, int, int response)
{
	Client *c = static_cast<Client *>(OBEX_GetUserData(handle));
	if (event == OBEX_EV_REQDONE || event == OBEX_EV_LINKERR ||
	    event == OBEX_EV_PARSEERR || event == OBEX_EV_ABORT) {
		c->done = true;
		c->response = event == OBEX_EV_REQDONE ? response : -1;
	}
}

/* A request, waited for 20 s at most; its response code, -1 if none. */
int
request(obex_t *h, Client &c, obex_object_t *o)
{
	c.done = false;
	if (OBEX_Request(h, o) < 0)
		return -1;
	auto deadline =
	    std::chrono::steady_clock::now() + std::chrono::seconds(20);
	/* OBEX_Work sends what is queued, then reads, 1 s at a time. */
	OBEX_SetTimeout(h, 1000);
	while (!c.done && std::chrono::steady_clock::now() < deadline)
		if (OBEX_Work(h) < 0)
			return -1;
	return c.done ? c.response : -1;
}

struct File {
	std::string name;
	std::string bytes;
};

/* Pushes the files through OpenOBEX into fmt-recv -d dir; its results. */
RunResult
push(const std::vector<File> &files, const std::string &dir, uint16_t mtu,
    std::vector<int> &responses)
{
	int sv[2];
	EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
	fcntl(sv[1], F_SETFD, 0);
	Running rx = start_program("fmt-recv",
	    { "-d", dir, "fd:" + std::to_string(sv[1]) });
	close(sv[1]);

	Client c;
	obex_t *h = OBEX_Init(OBEX_TRANS_FD, client_event, 0);
	EXPECT_NE(h, nullptr);
	OBEX_SetUserData(h, &c);
	OBEX_SetTransportMTU(h, mtu, mtu);
	EXPECT_GE(FdOBEX_TransportSetup(h, sv[0], sv[0], mtu), 0);
	responses.push_back(request(h, c, OBEX_ObjectNew(h, OBEX_CMD_CONNECT)));
	for (const File &f : files) {
		obex_object_t *o = OBEX_ObjectNew(h, OBEX_CMD_PUT);
		obex_headerdata_t hv;
		/* The name as 16-bit units, high byte first, and a zero. */
		std::string name;
		for (char ch : f.name)
			name += std::string(1, '\0') + ch;
		name += std::string(2, '\0');
		hv.bs = (const uint8_t *)name.data();
		OBEX_ObjectAddHeader(h, o, NAME, hv, (uint32_t)name.size(), 0);
		hv.bq4 = (uint32_t)f.bytes.size();
		OBEX_ObjectAddHeader(h, o, LENGTH, hv, 4, 0);
		hv.bs = (const uint8_t *)f.bytes.data();
		OBEX_ObjectAddHeader(h, o, BODY, hv, (uint32_t)f.bytes.size(),
		    0);
		responses.push_back(request(h, c, o));
	}
	responses.push_back(
	    request(h, c, OBEX_ObjectNew(h, OBEX_CMD_DISCONNECT)));
	OBEX_Cleanup(h);
	close(sv[0]);
	return finish_program(rx);
}

} // namespace

TEST(RecvPeer, OpenObexPushesStoredByteForByte)
{
	std::string bin;
	for (size_t i = 0; bin.size() < 150000; i++)
		bin.push_back((char)(i * 73 + i / 13));
	std::vector<File> files = {
		{ "Ann Lee.vcf",
		    "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\n"
		    "END:VCARD\r\n" },
		{ "photo.jpg", bin },
		{ "Ann Lee.vcf", "second" },
	};
	for (uint16_t mtu : { (uint16_t)1024, (uint16_t)65535 }) {
		SCOPED_TRACE(mtu);
		static int serial;
		std::string dir =
		    temp_dir() + "/peer" + std::to_string(++serial);
		std::vector<int> responses;
		RunResult r = push(files, dir, mtu, responses);
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(responses,
		    std::vector<int>(files.size() + 2, OBEX_RSP_SUCCESS));
		std::string stored[] = { "Ann Lee.vcf", "photo.jpg",
			"Ann Lee (2).vcf" };
		std::string lines;
		for (size_t i = 0; i < files.size(); i++) {
			std::string got;
			FILE *f = fopen((dir + "/" + stored[i]).c_str(), "rb");
			char buf[65536];
			size_t n;
			while (f != nullptr &&
			    (n = fread(buf, 1, sizeof(buf), f)) > 0)
				got.append(buf, n);
			if (f != nullptr)
				fclose(f);
			EXPECT_TRUE(got == files[i].bytes) << stored[i];
			lines += dir + "/" + stored[i] + " " +
			    std::to_string(files[i].bytes.size()) + "\n";
		}
		EXPECT_EQ(r.out, lines);
	}
}
