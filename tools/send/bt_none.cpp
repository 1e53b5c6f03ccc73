/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Bluetooth for a build that found no Bluetooth interface on its system.
 */
#include <cstdio>

#include "link.h"

int
link_bt_open(const link_dest &, int, char *why, size_t n)
{
	snprintf(why, n, "Bluetooth is not supported by this build");
	return -1;
}
