/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The type of an object's payload, as a Type header names it for the
 * receivers of today's phones: from the extension of the object's Name,
 * else from its Creator ID.  The one place that maps either to a type.
 */
#ifndef MIME_H
#define MIME_H

#include <cstddef>
#include <cstdint>

/*
 * The type that a Name names by its extension, from the Name header's
 * text (its 16-bit units, high byte first, without the final zero); null
 * when it names none.
 */
const char *mime_of_name(const unsigned char *units, size_t size);

/* The type of the payload that a Creator ID's application takes, or null. */
const char *mime_of_creator(uint32_t creator);

#endif
