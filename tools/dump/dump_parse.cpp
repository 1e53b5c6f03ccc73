/*
 * The whole object at once, for callers that want the list.  Kept apart
 * from the step parser: fmt-dump steps by itself, and so links no C++
 * library at all, which a program that merely could grow a std::vector
 * would have to load at every start.
 */
#include "dump.h"

bool
dump_parse(std::span<const unsigned char> input,
    std::vector<dump_header> &headers, dump_error &error)
{
	dump_state state{};
	dump_header header;

	headers.clear();
	for (;;) {
		switch (dump_next(input, state, header, error)) {
		case DUMP_HEADER:
			headers.push_back(header);
			break;
		case DUMP_END:
			return true;
		case DUMP_ERROR:
			return false;
		}
	}
}
