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
 * The type for an object whose Name text is `units` (its 16-bit units,
 * high byte first, without the final zero; null for an object without a
 * Name) and whose Creator ID, if it has one, is `creator`; null when
 * neither says.
 */
const char *mime_type(const unsigned char *units, size_t size, bool has_creator,
    uint32_t creator);

#endif
