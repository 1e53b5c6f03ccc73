/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The OBEX protocol module: the names of headers and responses, and the
 * writer of headers and packets into a caller's buffer.
 */
#include "obex.h"

static constexpr struct {
	int id;
	const char *name;
} headers[] = {
	{ OBEX_HI_COUNT, "Count" },
	{ OBEX_HI_NAME, "Name" },
	{ OBEX_HI_TYPE, "Type" },
	{ OBEX_HI_LENGTH, "Length" },
	{ OBEX_HI_TIME_ISO, "Time" },
	{ OBEX_HI_TIME, "Time" },
	{ OBEX_HI_DESCRIPTION, "Description" },
	{ OBEX_HI_TARGET, "Target" },
	{ OBEX_HI_HTTP, "HTTP" },
	{ OBEX_HI_BODY, "Body" },
	{ OBEX_HI_END_OF_BODY, "End of Body" },
	{ OBEX_HI_WHO, "Who" },
	{ OBEX_HI_CONNECTION_ID, "Connection ID" },
	{ OBEX_HI_APP_PARAMETERS, "Application Parameters" },
	{ OBEX_HI_AUTH_CHALLENGE, "Authenticate Challenge" },
	{ OBEX_HI_AUTH_RESPONSE, "Authenticate Response" },
	{ OBEX_HI_CREATOR, "Creator ID" },
	{ OBEX_HI_WAN_UUID, "WAN UUID" },
	{ OBEX_HI_OBJECT_CLASS, "Object Class" },
	{ OBEX_HI_SESSION_PARAMETERS, "Session Parameters" },
	{ OBEX_HI_SESSION_SEQUENCE, "Session Sequence Number" },
};

const char *
obex_header_name(int id)
{
	for (const auto &h : headers)
		if (h.id == id)
			return h.name;
	return nullptr;
}

/* The response codes of IrOBEX, with the final bit. */
static constexpr struct {
	int code;
	const char *name;
} responses[] = {
	{ 0x90, "Continue" },
	{ 0xA0, "Success" },
	{ 0xA1, "Created" },
	{ 0xA2, "Accepted" },
	{ 0xA3, "Non-Authoritative Information" },
	{ 0xA4, "No Content" },
	{ 0xA5, "Reset Content" },
	{ 0xA6, "Partial Content" },
	{ 0xB0, "Multiple Choices" },
	{ 0xB1, "Moved Permanently" },
	{ 0xB2, "Moved Temporarily" },
	{ 0xB3, "See Other" },
	{ 0xB4, "Not Modified" },
	{ 0xB5, "Use Proxy" },
	{ 0xC0, "Bad Request" },
	{ 0xC1, "Unauthorized" },
	{ 0xC2, "Payment Required" },
	{ 0xC3, "Forbidden" },
	{ 0xC4, "Not Found" },
	{ 0xC5, "Method Not Allowed" },
	{ 0xC6, "Not Acceptable" },
	{ 0xC7, "Proxy Authentication Required" },
	{ 0xC8, "Request Time Out" },
	{ 0xC9, "Conflict" },
	{ 0xCA, "Gone" },
	{ 0xCB, "Length Required" },
	{ 0xCC, "Precondition Failed" },
	{ 0xCD, "Request Entity Too Large" },
	{ 0xCE, "Request URL Too Large" },
	{ 0xCF, "Unsupported Media Type" },
	{ 0xD0, "Internal Server Error" },
	{ 0xD1, "Not Implemented" },
	{ 0xD2, "Bad Gateway" },
	{ 0xD3, "Service Unavailable" },
	{ 0xD4, "Gateway Timeout" },
	{ 0xD5, "HTTP Version Not Supported" },
	{ 0xE0, "Database Full" },
	{ 0xE1, "Database Locked" },
};

const char *
obex_response_name(int code)
{
	for (const auto &r : responses)
		if (r.code == code)
			return r.name;
	return "unknown response";
}

size_t
obex_put_unicode(unsigned char *p, int id, const void *text, int count)
{
	const unsigned char *s = static_cast<const unsigned char *>(text);
	size_t n = 2 * (size_t)count + 5;

	p[0] = (unsigned char)id;
	obex_put16(p + 1, (unsigned)n);
	for (int i = 0; i < count; i++)
		obex_put16(p + 3 + 2 * i, s[i]);
	obex_put16(p + n - 2, 0);
	return n;
}

size_t
obex_put_connect_fields(unsigned char *p, unsigned packet_max)
{
	p[0] = OBEX_VERSION_1_0;
	p[1] = 0; /* flags */
	obex_put16(p + 2, packet_max);
	return 4;
}
