/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Bluetooth for a build that found no Bluetooth interface on its system.
 */
#include <cstdio>

#include "recv.h"

bool
recv_bt_listen(const link_dest &, recv_listener &, char *why, size_t n)
{
	snprintf(why, n, "Bluetooth is not supported by this build");
	return false;
}

void
recv_bt_unlisten(recv_listener &)
{
}

void
recv_bt_peer(const void *, char *peer, size_t n)
{
	snprintf(peer, n, "unknown peer");
}
