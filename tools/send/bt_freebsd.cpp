/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Bluetooth on FreeBSD: its RFCOMM sockets (ng_btsocket(4)), bt_aton for
 * the address and libsdp to find the Object Push service's channel when
 * none is given.
 */
#include <sys/socket.h>
#include <unistd.h>

#define L2CAP_SOCKET_CHECKED
#include <bluetooth.h>
#include <sdp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link.h"

/* The RFCOMM channel of the device's Object Push service, or -1. */
static int
bt_lookup(const bdaddr_t &remote, char *why, size_t n)
{
	/* NG_HCI_BDADDR_ANY casts the const away from a string. */
	bdaddr_t any;
	memset(&any, 0, sizeof(any));
	void *session = sdp_open(&any, &remote);
	if (session == nullptr) {
		snprintf(why, n, "%s", strerror(ENOMEM));
		return -1;
	}
	if (sdp_error(session) != 0) {
		snprintf(why, n, "%s", strerror(sdp_error(session)));
		sdp_close(session);
		return -1;
	}
	uint16_t service = SDP_SERVICE_CLASS_OBEX_OBJECT_PUSH;
	uint32_t range = SDP_ATTR_RANGE(SDP_ATTR_PROTOCOL_DESCRIPTOR_LIST,
	    SDP_ATTR_PROTOCOL_DESCRIPTOR_LIST);
	uint8_t buffer[512];
	sdp_attr_t value;
	value.flags = SDP_ATTR_INVALID;
	value.attr = 0;
	value.vlen = sizeof(buffer);
	value.value = buffer;
	int channel = -1;
	if (sdp_search(session, 1, &service, 1, &range, 1, &value) != 0) {
		snprintf(why, n, "%s", strerror(sdp_error(session)));
	} else {
		if (value.flags == SDP_ATTR_OK)
			channel = link_sdp_channel(value.value, value.vlen);
		if (channel < 0)
			snprintf(why, n,
			    "the device offers no Object Push service");
	}
	sdp_close(session);
	return channel;
}

int
link_bt_open(const link_dest &d, int timeout_ms, char *why, size_t n)
{
	char text[18];
	bdaddr_t remote;
	int channel = d.channel;

	snprintf(text, sizeof(text), "%02x:%02x:%02x:%02x:%02x:%02x",
	    d.bdaddr[0], d.bdaddr[1], d.bdaddr[2], d.bdaddr[3], d.bdaddr[4],
	    d.bdaddr[5]);
	if (!bt_aton(text, &remote)) {
		snprintf(why, n, "%s", strerror(EINVAL));
		return -1;
	}
	if (channel == 0 && (channel = bt_lookup(remote, why, n)) < 0)
		return -1;
	struct sockaddr_rfcomm sa;
	memset(&sa, 0, sizeof(sa));
	sa.rfcomm_len = sizeof(sa);
	sa.rfcomm_family = AF_BLUETOOTH;
	memcpy(&sa.rfcomm_bdaddr, &remote, sizeof(remote));
	sa.rfcomm_channel = (uint8_t)channel;
	int fd = link_socket(PF_BLUETOOTH, SOCK_STREAM, BLUETOOTH_PROTO_RFCOMM,
	    reinterpret_cast<struct sockaddr *>(&sa), sizeof(sa), timeout_ms);
	if (fd < 0)
		snprintf(why, n, "%s", strerror(errno));
	return fd;
}
