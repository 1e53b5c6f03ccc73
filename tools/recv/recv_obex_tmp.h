/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * TEMPORARY: the OBEX facts fmt-recv needs, held here only until the
 * protocol module lands; then this file goes and its users include that
 * module instead.
 */
#ifndef RECV_OBEX_TMP_H
#define RECV_OBEX_TMP_H

inline constexpr int OBEX_CONNECT = 0x80;
inline constexpr int OBEX_DISCONNECT = 0x81;
inline constexpr int OBEX_PUT = 0x02;
inline constexpr int OBEX_FINAL = 0x80;
inline constexpr int OBEX_ABORT = 0xFF;
inline constexpr int OBEX_VERSION = 0x10;

inline constexpr int OBEX_CONTINUE = 0x90;
inline constexpr int OBEX_SUCCESS = 0xA0;
inline constexpr int OBEX_BAD_REQUEST = 0xC0;
inline constexpr int OBEX_NOT_ACCEPTABLE = 0xC6;
inline constexpr int OBEX_TOO_LARGE = 0xCD;
inline constexpr int OBEX_INTERNAL_ERROR = 0xD0;
inline constexpr int OBEX_NOT_IMPLEMENTED = 0xD1;
inline constexpr int OBEX_UNAVAILABLE = 0xD3;
inline constexpr int OBEX_DATABASE_FULL = 0xE0;

inline constexpr int OBEX_HDR_NAME = 0x01;
inline constexpr int OBEX_HDR_DESCRIPTION = 0x05;
inline constexpr int OBEX_HDR_TYPE = 0x42;
inline constexpr int OBEX_HDR_TIME_ISO = 0x44;
inline constexpr int OBEX_HDR_TARGET = 0x46;
inline constexpr int OBEX_HDR_BODY = 0x48;
inline constexpr int OBEX_HDR_END_OF_BODY = 0x49;
inline constexpr int OBEX_HDR_LENGTH = 0xC3;
inline constexpr int OBEX_HDR_TIME = 0xC4;
inline constexpr int OBEX_HDR_CREATOR = 0xCF;

inline constexpr int OBEX_KIND_MASK = 0xC0;
inline constexpr int OBEX_KIND_UNICODE = 0x00;
inline constexpr int OBEX_KIND_BYTES = 0x40;
inline constexpr int OBEX_KIND_BYTE = 0x80;
inline constexpr int OBEX_KIND_QUAD = 0xC0;

inline constexpr unsigned OBEX_PACKET_MIN = 255;
inline constexpr unsigned OBEX_PACKET_MAX = 65535;
inline constexpr unsigned OBEX_BYTES_MAX = 65535 - 3;

inline unsigned
obex_get16(const unsigned char *p)
{
	return (unsigned)p[0] << 8 | p[1];
}

inline void
obex_put16(unsigned char *p, unsigned v)
{
	p[0] = (unsigned char)(v >> 8);
	p[1] = (unsigned char)v;
}

inline const char *
obex_response_name(int code)
{
	switch (code) {
	case 0xC0:
		return "Bad Request";
	case 0xC6:
		return "Not Acceptable";
	case 0xCD:
		return "Request Entity Too Large";
	case 0xD0:
		return "Internal Server Error";
	case 0xD1:
		return "Not Implemented";
	case 0xD3:
		return "Service Unavailable";
	case 0xE0:
		return "Database Full";
	}
	return "unknown response";
}

#endif
