/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Bluetooth on Linux, through BlueZ: RFCOMM sockets, and its SDP library
 * to find the Object Push service's channel when none is given.
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

#include "link.h"

/* Text order, first byte first, to BlueZ's order, last byte first. */
static bdaddr_t
bt_address(const unsigned char addr[6])
{
	bdaddr_t b;

	for (int i = 0; i < 6; i++)
		b.b[i] = addr[5 - i];
	return b;
}

/* The RFCOMM channel of the device's Object Push service, or -1. */
static int
bt_lookup(const bdaddr_t &remote, char *why, size_t n)
{
	bdaddr_t any = {};
	sdp_session_t *session = sdp_connect(&any, &remote, SDP_RETRY_IF_BUSY);
	if (session == nullptr) {
		snprintf(why, n, "%s", strerror(errno));
		return -1;
	}
	uuid_t uuid;
	sdp_uuid16_create(&uuid, OBEX_OBJPUSH_SVCLASS_ID);
	uint32_t range = 0x0000FFFF;
	sdp_list_t *search = sdp_list_append(nullptr, &uuid);
	sdp_list_t *attrs = sdp_list_append(nullptr, &range);
	sdp_list_t *found = nullptr;
	int channel = -1;
	if (sdp_service_search_attr_req(session, search, SDP_ATTR_REQ_RANGE,
		attrs, &found) != 0) {
		snprintf(why, n, "%s", strerror(errno));
		found = nullptr;
	} else {
		snprintf(why, n, "the device offers no Object Push service");
	}
	for (sdp_list_t *r = found; r != nullptr; r = r->next) {
		sdp_record_t *record = static_cast<sdp_record_t *>(r->data);
		sdp_list_t *protos;
		if (channel <= 0 &&
		    sdp_get_access_protos(record, &protos) == 0) {
			channel = sdp_get_proto_port(protos, RFCOMM_UUID);
			for (sdp_list_t *p = protos; p != nullptr; p = p->next)
				sdp_list_free(static_cast<sdp_list_t *>(
						  p->data),
				    nullptr);
			sdp_list_free(protos, nullptr);
		}
		sdp_record_free(record);
	}
	sdp_list_free(found, nullptr);
	sdp_list_free(search, nullptr);
	sdp_list_free(attrs, nullptr);
	sdp_close(session);
	return channel > 0 ? channel : -1;
}

int
link_bt_open(const link_dest &d, int timeout_ms, char *why, size_t n)
{
	bdaddr_t remote = bt_address(d.bdaddr);
	int channel = d.channel;

	if (channel == 0 && (channel = bt_lookup(remote, why, n)) < 0)
		return -1;
	struct sockaddr_rc sa = {};
	sa.rc_family = AF_BLUETOOTH;
	sa.rc_bdaddr = remote;
	sa.rc_channel = (uint8_t)channel;
	int fd = link_socket(AF_BLUETOOTH, SOCK_STREAM, BTPROTO_RFCOMM,
	    reinterpret_cast<struct sockaddr *>(&sa), sizeof(sa), timeout_ms);
	if (fd < 0)
		snprintf(why, n, "%s", strerror(errno));
	return fd;
}
