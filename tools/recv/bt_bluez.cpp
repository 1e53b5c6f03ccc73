/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Bluetooth on Linux, through BlueZ: an RFCOMM socket to listen on, and
 * an Object Push service record for it in the local SDP server, so that
 * a sender finds the channel by itself.  bluetoothd takes such records
 * from its SDP socket only when it runs with --compat; without that the
 * receiver still listens, and says which channel to give the sender.
 */
#include <sys/socket.h>
#include <unistd.h>

#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "recv.h"

/* The record: Object Push on our channel, over RFCOMM and OBEX. */
static sdp_record_t *
record_for(uint8_t channel)
{
	sdp_record_t *rec = sdp_record_alloc();
	if (rec == nullptr)
		return nullptr;
	uuid_t root, opush, l2cap, rfcomm, obex;
	sdp_uuid16_create(&root, PUBLIC_BROWSE_GROUP);
	sdp_list_t *groups = sdp_list_append(nullptr, &root);
	sdp_set_browse_groups(rec, groups);
	sdp_uuid16_create(&opush, OBEX_OBJPUSH_SVCLASS_ID);
	sdp_list_t *classes = sdp_list_append(nullptr, &opush);
	sdp_set_service_classes(rec, classes);
	sdp_profile_desc_t profile;
	sdp_uuid16_create(&profile.uuid, OBEX_OBJPUSH_PROFILE_ID);
	profile.version = 0x0100;
	sdp_list_t *profiles = sdp_list_append(nullptr, &profile);
	sdp_set_profile_descs(rec, profiles);

	sdp_uuid16_create(&l2cap, L2CAP_UUID);
	sdp_list_t *p0 = sdp_list_append(nullptr, &l2cap);
	sdp_uuid16_create(&rfcomm, RFCOMM_UUID);
	sdp_data_t *ch = sdp_data_alloc(SDP_UINT8, &channel);
	sdp_list_t *p1 = sdp_list_append(sdp_list_append(nullptr, &rfcomm), ch);
	sdp_uuid16_create(&obex, OBEX_UUID);
	sdp_list_t *p2 = sdp_list_append(nullptr, &obex);
	sdp_list_t *seq =
	    sdp_list_append(sdp_list_append(sdp_list_append(nullptr, p0), p1),
		p2);
	sdp_list_t *protos = sdp_list_append(nullptr, seq);
	sdp_set_access_protos(rec, protos);

	/* vCard 2.1 and 3.0, vCalendar 1.0, iCalendar, vNote, vMessage, any. */
	static uint8_t formats[] = { 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFF };
	void *dtds[sizeof(formats)], *values[sizeof(formats)];
	static uint8_t uint8 = SDP_UINT8;
	for (size_t i = 0; i < sizeof(formats); i++) {
		dtds[i] = &uint8;
		values[i] = &formats[i];
	}
	sdp_data_t *list = sdp_seq_alloc(dtds, values, (int)sizeof(formats));
	sdp_attr_add(rec, SDP_ATTR_SUPPORTED_FORMATS_LIST, list);
	sdp_set_info_attr(rec, "OBEX Object Push", nullptr, nullptr);

	sdp_data_free(ch);
	sdp_list_free(p0, nullptr);
	sdp_list_free(p1, nullptr);
	sdp_list_free(p2, nullptr);
	sdp_list_free(seq, nullptr);
	sdp_list_free(protos, nullptr);
	sdp_list_free(groups, nullptr);
	sdp_list_free(classes, nullptr);
	sdp_list_free(profiles, nullptr);
	return rec;
}

bool
recv_bt_listen(const link_dest &s, recv_listener &l, char *why, size_t n)
{
	int fd =
	    socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC, BTPROTO_RFCOMM);
	if (fd < 0) {
		snprintf(why, n, "%s", strerror(errno));
		return false;
	}
	struct sockaddr_rc sa = {};
	sa.rc_family = AF_BLUETOOTH;
	int first = s.channel != 0 ? s.channel : 1;
	int last = s.channel != 0 ? s.channel : 30;
	int error = 0, channel = first;
	for (; channel <= last; channel++) {
		sa.rc_channel = (uint8_t)channel;
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

	bdaddr_t any = {}, local = { { 0, 0, 0, 0xFF, 0xFF, 0xFF } };
	sdp_session_t *session = sdp_connect(&any, &local, SDP_RETRY_IF_BUSY);
	sdp_record_t *rec =
	    session != nullptr ? record_for((uint8_t)channel) : nullptr;
	if (rec == nullptr || sdp_record_register(session, rec, 0) != 0) {
		snprintf(l.warning, sizeof(l.warning),
		    "no Object Push service record (%s): give senders channel "
		    "%d",
		    strerror(errno), channel);
		if (rec != nullptr)
			sdp_record_free(rec);
		if (session != nullptr)
			sdp_close(session);
		return true;
	}
	l.sdp = session;
	l.sdp_record = rec;
	l.record = rec->handle;
	return true;
}

void
recv_bt_unlisten(recv_listener &l)
{
	if (l.sdp == nullptr)
		return;
	sdp_session_t *session = static_cast<sdp_session_t *>(l.sdp);
	/* This frees the record too. */
	sdp_record_unregister(session,
	    static_cast<sdp_record_t *>(l.sdp_record));
	sdp_close(session);
	l.sdp = nullptr;
	l.sdp_record = nullptr;
}

void
recv_bt_peer(const void *sa, char *peer, size_t n)
{
	const struct sockaddr_rc *rc =
	    static_cast<const struct sockaddr_rc *>(sa);
	const uint8_t *b = rc->rc_bdaddr.b;

	/* BlueZ keeps the address last byte first. */
	snprintf(peer, n, "%02X:%02X:%02X:%02X:%02X:%02X", b[5], b[4], b[3],
	    b[2], b[1], b[0]);
}
