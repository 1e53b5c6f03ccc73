/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The OBEX protocol module: every fact of the protocol that the programs
 * use, and nowhere else.  Header identifiers and their kinds, the names
 * of the headers, operation and response codes, the Connection ID, the
 * version, the limits of packets and headers; numbers high byte first;
 * the size of a header from its first bytes; and a writer of headers and
 * packets into a caller's buffer.
 *
 * Nothing here reads, writes or allocates: the object writer puts what it
 * builds on standard output, fmt-send's client on its link, and the
 * object reader and the client's response reader take apart what arrives
 * with the same framing.
 */
#ifndef OBEX_H
#define OBEX_H

#include <cstddef>
#include <cstdint>

/* Header identifiers (the kind bits included). */
inline constexpr int OBEX_HI_COUNT = 0xC0;
inline constexpr int OBEX_HI_NAME = 0x01;
inline constexpr int OBEX_HI_TYPE = 0x42;
inline constexpr int OBEX_HI_LENGTH = 0xC3;
inline constexpr int OBEX_HI_TIME_ISO = 0x44;
inline constexpr int OBEX_HI_TIME = 0xC4; /* the older four-byte form */
inline constexpr int OBEX_HI_DESCRIPTION = 0x05;
inline constexpr int OBEX_HI_TARGET = 0x46;
inline constexpr int OBEX_HI_HTTP = 0x47;
inline constexpr int OBEX_HI_BODY = 0x48;
inline constexpr int OBEX_HI_END_OF_BODY = 0x49;
inline constexpr int OBEX_HI_WHO = 0x4A;
inline constexpr int OBEX_HI_CONNECTION_ID = 0xCB;
inline constexpr int OBEX_HI_APP_PARAMETERS = 0x4C;
inline constexpr int OBEX_HI_AUTH_CHALLENGE = 0x4D;
inline constexpr int OBEX_HI_AUTH_RESPONSE = 0x4E;
inline constexpr int OBEX_HI_CREATOR = 0xCF;
inline constexpr int OBEX_HI_WAN_UUID = 0x50;
inline constexpr int OBEX_HI_OBJECT_CLASS = 0x51;
inline constexpr int OBEX_HI_SESSION_PARAMETERS = 0x52;
inline constexpr int OBEX_HI_SESSION_SEQUENCE = 0x93;

/*
 * The top two bits of an identifier give the header's kind: a text of
 * 16-bit units ending in a zero unit, a byte sequence (both with a 16-bit
 * length after the identifier), one byte, or four bytes.
 */
inline constexpr int OBEX_KIND_MASK = 0xC0;
inline constexpr int OBEX_KIND_UNICODE = 0x00;
inline constexpr int OBEX_KIND_BYTES = 0x40;
inline constexpr int OBEX_KIND_BYTE = 0x80;
inline constexpr int OBEX_KIND_QUAD = 0xC0;

/*
 * A text or byte header begins with its identifier and its 16-bit length,
 * which counts the whole header: one cannot hold more than this.
 */
inline constexpr size_t OBEX_BYTES_HEAD = 3;
inline constexpr int OBEX_HEADER_MAX = 65535;
inline constexpr int OBEX_BYTES_MAX = OBEX_HEADER_MAX - (int)OBEX_BYTES_HEAD;

/* A header's name, by IrOBEX; null for an identifier not listed. */
const char *obex_header_name(int id);

/* Operation codes; a request's last packet carries the final bit. */
inline constexpr int OBEX_FINAL_BIT = 0x80;
inline constexpr int OBEX_OP_CONNECT = 0x80;
inline constexpr int OBEX_OP_DISCONNECT = 0x81;
inline constexpr int OBEX_OP_PUT = 0x02;
inline constexpr int OBEX_OP_ABORT = 0xFF;

/* Response codes, the final bit included. */
inline constexpr int OBEX_RESP_CONTINUE = 0x90;
inline constexpr int OBEX_RESP_SUCCESS = 0xA0;
inline constexpr int OBEX_RESP_BAD_REQUEST = 0xC0; /* the first failure */
inline constexpr int OBEX_RESP_NOT_ACCEPTABLE = 0xC6;
inline constexpr int OBEX_RESP_TOO_LARGE = 0xCD; /* Request Entity Too Large */
inline constexpr int OBEX_RESP_INTERNAL_ERROR = 0xD0;
inline constexpr int OBEX_RESP_NOT_IMPLEMENTED = 0xD1;
inline constexpr int OBEX_RESP_UNAVAILABLE = 0xD3; /* Service Unavailable */
inline constexpr int OBEX_RESP_DATABASE_FULL = 0xE0;

/* The name of a response code, "unknown response" for the rest. */
const char *obex_response_name(int code);

inline constexpr int OBEX_VERSION_1_0 = 0x10;

/*
 * Packets: an operation or response code, the packet's 16-bit length, and
 * its headers (a CONNECT and its answer put the version, the flags and
 * the largest packet their sender takes before them).  The least packet
 * every side must take, and the most that the length can say.
 */
inline constexpr unsigned OBEX_PACKET_MIN = 255;
inline constexpr unsigned OBEX_PACKET_MAX = 65535;
inline constexpr size_t OBEX_PACKET_HEAD = 3; /* code and length */
inline constexpr size_t OBEX_CONNECT_HEAD = 7; /* and version, flags, size */

/* Numbers high byte first. */
constexpr unsigned
obex_get16(const unsigned char *p)
{
	return (unsigned)p[0] << 8 | p[1];
}

constexpr uint32_t
obex_get32(const unsigned char *p)
{
	return (uint32_t)obex_get16(p) << 16 | obex_get16(p + 2);
}

constexpr void
obex_put16(unsigned char *p, unsigned value)
{
	p[0] = (unsigned char)(value >> 8);
	p[1] = (unsigned char)value;
}

constexpr void
obex_put32(unsigned char *p, uint32_t value)
{
	obex_put16(p, value >> 16);
	obex_put16(p + 2, value & 0xFFFF);
}

/* A packet's length, and the largest packet a CONNECT's sender takes. */
constexpr unsigned
obex_packet_length(const unsigned char *p)
{
	return obex_get16(p + 1);
}

constexpr unsigned
obex_connect_packet_max(const unsigned char *p)
{
	return obex_get16(p + 5);
}

/*
 * How many of a header's first bytes tell its size: its identifier alone
 * for a one- or four-byte header, the length field too for the others.
 */
constexpr size_t
obex_size_known(int id)
{
	return (id & OBEX_KIND_MASK) >= OBEX_KIND_BYTE ? 1 : 3;
}

/*
 * The size of a whole header from its first obex_size_known bytes, as
 * they say it: a length field below 3 is no header at all, which the
 * caller must refuse.
 */
constexpr size_t
obex_header_size(const unsigned char *p)
{
	switch (p[0] & OBEX_KIND_MASK) {
	case OBEX_KIND_BYTE:
		return 2;
	case OBEX_KIND_QUAD:
		return 5;
	default:
		return obex_get16(p + 1);
	}
}

/*
 * The writer.  Each puts one header or part of a packet at p, which must
 * have room for it, and returns the bytes it wrote.  A text header takes
 * bytes (Latin-1) and writes each as a 16-bit unit, with the final zero;
 * obex_put_bytes_head and obex_put_quad set the kind bits of their identifier
 * themselves, so the header's number alone (its low six bits) gives the
 * same byte, and obex_put_unicode writes the identifier as it is given.
 */
size_t obex_put_unicode(unsigned char *p, int id, const void *text, int count);

constexpr size_t
obex_put_quad(unsigned char *p, int id, uint32_t value)
{
	p[0] = (unsigned char)(id | OBEX_KIND_QUAD);
	obex_put32(p + 1, value);
	return 5;
}

/*
 * The identifier and length of a byte header whose `count` data bytes
 * the caller puts after them.
 */
constexpr size_t
obex_put_bytes_head(unsigned char *p, int id, size_t count)
{
	p[0] = (unsigned char)(id | OBEX_KIND_BYTES);
	obex_put16(p + 1, (unsigned)(count + OBEX_BYTES_HEAD));
	return OBEX_BYTES_HEAD;
}

/*
 * A packet's code with room for its length, filled in by obex_end once
 * the packet is whole; a CONNECT's version, flags and packet size.
 */
constexpr size_t
obex_begin(unsigned char *p, int code)
{
	p[0] = (unsigned char)code;
	obex_put16(p + 1, 0);
	return OBEX_PACKET_HEAD;
}

size_t obex_put_connect_fields(unsigned char *p, unsigned packet_max);

constexpr void
obex_end(unsigned char *p, size_t length)
{
	obex_put16(p + 1, (unsigned)length);
}

#endif
