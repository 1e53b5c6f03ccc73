/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Bluetooth on FreeBSD: an RFCOMM socket to listen on (ng_btsocket(4)),
 * and an Object Push service record for it in sdpd through libsdp, so
 * that a sender finds the channel by itself.  sdpd takes records from
 * root alone; without one the receiver still listens, and says which
 * channel to give the sender.
 */
#include <sys/socket.h>
#include <unistd.h>

#define L2CAP_SOCKET_CHECKED
#include <bluetooth.h>
#include <sdp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "recv.h"

bool
recv_bt_listen(const link_dest &s, recv_listener &l, char *why, size_t n)
{
	int fd = socket(PF_BLUETOOTH, SOCK_STREAM, BLUETOOTH_PROTO_RFCOMM);
	if (fd < 0) {
		snprintf(why, n, "%s", strerror(errno));
		return false;
	}
	struct sockaddr_rfcomm sa;
	memset(&sa, 0, sizeof(sa));
	sa.rfcomm_len = sizeof(sa);
	sa.rfcomm_family = AF_BLUETOOTH;
	int first = s.channel != 0 ? s.channel : 1;
	int last = s.channel != 0 ? s.channel : 30;
	int error = 0, channel = first;
	for (; channel <= last; channel++) {
		sa.rfcomm_channel = (uint8_t)channel;
		if (bind(fd, reinterpret_cast<struct sockaddr *>(&sa),
			sizeof(sa)) == 0)
			break;
		error = errno;
	}
	if (channel > last || listen(fd, 4) != 0) {
		snprintf(why, n, "%s",
		    strerror(channel > last ? error : errno));
		close(fd);
		return false;
	}
	l.fds[l.count++] = fd;
	l.channel = channel;
	snprintf(l.where, sizeof(l.where), "RFCOMM channel %d", channel);

	void *session = sdp_open_local(nullptr);
	sdp_opush_profile_t opush;
	memset(&opush, 0, sizeof(opush));
	opush.server_channel = (uint8_t)channel;
	/* vCard 2.1 and 3.0, vCalendar 1.0, iCalendar, vNote, vMessage, any. */
	static const uint8_t formats[] = { 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
		0xFF };
	opush.supported_formats_size = sizeof(formats);
	memcpy(opush.supported_formats, formats, sizeof(formats));
	bdaddr_t any;
	memset(&any, 0, sizeof(any));
	uint32_t handle = 0;
	if (session == nullptr || sdp_error(session) != 0 ||
	    sdp_register_service(session, SDP_SERVICE_CLASS_OBEX_OBJECT_PUSH,
		&any, reinterpret_cast<const uint8_t *>(&opush), sizeof(opush),
		&handle) != 0) {
		snprintf(l.warning, sizeof(l.warning),
		    "no Object Push service record (%s): give senders channel "
		    "%d",
		    strerror(session != nullptr ? sdp_error(session) : ENOMEM),
		    channel);
		if (session != nullptr)
			sdp_close(session);
		return true;
	}
	l.sdp = session;
	l.record = handle;
	return true;
}

void
recv_bt_unlisten(recv_listener &l)
{
	if (l.sdp == nullptr)
		return;
	sdp_unregister_service(l.sdp, l.record);
	sdp_close(l.sdp);
	l.sdp = nullptr;
}

void
recv_bt_peer(const void *sa, char *peer, size_t n)
{
	const struct sockaddr_rfcomm *rc =
	    static_cast<const struct sockaddr_rfcomm *>(sa);

	snprintf(peer, n, "%s", bt_ntoa(&rc->rfcomm_bdaddr, nullptr));
}
