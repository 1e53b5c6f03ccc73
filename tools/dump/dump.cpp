/*
 * The object parser: one header per step, each checked as it is read, so
 * that the first fault is named where it lies and nothing after it is
 * guessed at.
 */
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "dump.h"
#include "objstream.h"

static constexpr const hdr_info *
dump_lookup_id(int id)
{
	for (const hdr_info &h : hdr_table)
		if (h.id == id)
			return &h;
	return nullptr;
}

/* End of Body closes the object; nothing may follow it. */
static constexpr int DUMP_LAST = dump_lookup_id(HDR_END_OF_BODY)->order;

static const char *
dump_order_name(int order)
{
	for (const hdr_info &h : hdr_table)
		if (h.order == order)
			return h.name;
	return "?";
}

static dump_step dump_fail(dump_error &error, size_t offset, const char *fmt,
    ...) __attribute__((format(printf, 3, 4)));

static dump_step
dump_fail(dump_error &error, size_t offset, const char *fmt, ...)
{
	va_list ap;

	error.offset = offset;
	va_start(ap, fmt);
	vsnprintf(error.text, sizeof(error.text), fmt, ap);
	va_end(ap);
	return DUMP_ERROR;
}

static unsigned
dump_u16(const unsigned char *p)
{
	return (unsigned)p[0] << 8 | p[1];
}

/* The end of the input, reached after End of Body: is the object whole? */
static dump_step
dump_finish(std::span<const unsigned char> input, const dump_state &state,
    dump_error &error)
{
	size_t extra = input.size() - state.pos;

	if (extra != 0)
		return dump_fail(error, state.pos,
		    "%zu byte%s after the End of Body header", extra,
		    extra == 1 ? "" : "s");
	if (state.has_length && state.length_value != state.payload)
		return dump_fail(error, state.length_offset,
		    "Length header says %" PRIu32
		    " bytes, the payload has %" PRIu64,
		    state.length_value, state.payload);
	return DUMP_END;
}

dump_step
dump_next(std::span<const unsigned char> input, dump_state &state,
    dump_header &header, dump_error &error)
{
	size_t pos = state.pos;

	if (state.order == DUMP_LAST)
		return dump_finish(input, state, error);
	if (pos >= input.size())
		return dump_fail(error, input.size(),
		    "no End of Body header at the end of the input");

	const unsigned char *p = input.data() + pos;
	size_t left = input.size() - pos;
	int id = p[0];
	const hdr_info *info = dump_lookup_id(id);
	if (info == nullptr)
		return dump_fail(error, pos, "unknown header 0x%02X", id);
	if (info->order == 0)
		return dump_fail(error, pos, "unexpected %s header (0x%02X)",
		    info->name, id);
	if (info->order == state.order && id != HDR_BODY)
		return dump_fail(error, pos, "second %s header", info->name);
	if (info->order < state.order)
		return dump_fail(error, pos, "%s header after the %s header",
		    info->name, dump_order_name(state.order));

	header.offset = pos;
	header.id = id;
	header.name = info->name;
	header.value = 0;
	if ((id & HDR_KIND_MASK) == HDR_KIND_QUAD) {
		if (left < 5)
			return dump_fail(error, pos,
			    "%s header needs 5 bytes, only %zu left",
			    info->name, left);
		header.length = 5;
		header.data = pos + 1;
		header.count = 4;
		header.value =
		    (uint32_t)dump_u16(p + 1) << 16 | dump_u16(p + 3);
	} else {
		/* A text holds at least its terminating zero. */
		bool text = (id & HDR_KIND_MASK) == HDR_KIND_UNICODE;
		unsigned least = text ? 5 : 3;

		if (left < 3)
			return dump_fail(error, pos,
			    "%s header needs at least %u bytes, only %zu left",
			    info->name, least, left);
		unsigned length = dump_u16(p + 1);
		if (length < least)
			return dump_fail(error, pos,
			    "%s header's length %u is less than %u", info->name,
			    length, least);
		if (length > left)
			return dump_fail(error, pos,
			    "%s header's length %u runs past the end of the "
			    "input (%zu bytes left)",
			    info->name, length, left);
		if (text && (length - 3) % 2 != 0)
			return dump_fail(error, pos,
			    "%s header's text has an odd length (%u bytes)",
			    info->name, length - 3);
		if (text && (p[length - 2] != 0 || p[length - 1] != 0))
			return dump_fail(error, pos,
			    "%s header's text does not end in a zero",
			    info->name);
		header.length = length;
		header.data = pos + 3;
		header.count = length - (text ? 5 : 3);
	}

	state.pos = pos + header.length;
	state.order = info->order;
	if (id == HDR_LENGTH) {
		state.has_length = true;
		state.length_offset = pos;
		state.length_value = header.value;
	}
	if (id == HDR_BODY || id == HDR_END_OF_BODY)
		state.payload += header.count;
	return DUMP_HEADER;
}
