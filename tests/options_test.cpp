/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The option rules that every program shares, over all nine: -h prints
 * the description and usage lines with status 0; an unknown option, -h
 * beside one, and an option without its value print them with status 1;
 * none of them writes to standard output.
 */
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner.h"

namespace
{

struct Program {
	const char *name;
	const char *usage;
	/* An option left without its value, or empty for none that takes one.
	 */
	std::vector<std::string> without_value;
};

const Program programs[] = {
	{ "fmt-memo",
	    "Format Palm Pilot memo from stdin or command line\n"
	    "Usage: fmt-memo [-n name] [text ...]\n",
	    { "-n" } },
	{ "fmt-address",
	    "Format Palm Pilot address from stdin or command line\n"
	    "Usage: fmt-address [-a addr] [-c city] [-C country] "
	    "[-f first-name] [-l last-name] [-n obj-name] [-o company] "
	    "[-s state] [-t title] [-z zip]\n",
	    { "-o" } },
	{ "fmt-date",
	    "Format Palm Pilot date from stdin or command line\n"
	    "Usage: fmt-date [-n name] [-d [[[cc]yy]mm]dd] [-t hh[mm]-hh[mm]] "
	    "[text ...]\n",
	    { "-d" } },
	{ "fmt-todo",
	    "Format Palm Pilot todo item from stdin or command line\n"
	    "Usage: fmt-todo [-n name] [-d [[[cc]yy]mm]dd] [text ...]\n",
	    { "-d" } },
	{ "fmt-phonecard",
	    "Format Nokia telephone number from stdin or command line\n"
	    "Usage: fmt-phonecard -n name -t tel\n",
	    { "-n", "x", "-t" } },
	{ "fmt-database",
	    "Format Palm Pilot PDB or PRC file\n"
	    "Usage: fmt-database [-lz] pdb-file\n",
	    {} },
	{ "fmt-dump",
	    "Describe OBEX objects from stdin or file\n"
	    "Usage: fmt-dump [-p] [file]\n",
	    {} },
	{ "fmt-send",
	    "Send OBEX objects from stdin or file to a device\n"
	    "Usage: fmt-send [-rv] [-m size] [-w seconds] destination [file]\n",
	    { "-m" } },
	{ "fmt-recv",
	    "Receive OBEX objects from a device, to stdout or a directory\n"
	    "Usage: fmt-recv [-v] [-c count] [-d dir] [-m size] [-w seconds] "
	    "source\n",
	    { "-d" } },
};

} // namespace

TEST(Options, SharedRulesOfEveryProgram)
{
	for (const Program &p : programs) {
		std::vector<CaseRun> rows = {
			{ .name = "Help", .args = { "-h" }, .err = p.usage },
			{ .name = "UnknownOption",
			    .args = { "-x" },
			    .err = p.usage,
			    .status = 1,
			    .err_tail = true },
			{ .name = "HelpWithUnknownOption",
			    .args = { "-h", "-x" },
			    .err = p.usage,
			    .status = 1,
			    .err_tail = true },
		};
		if (!p.without_value.empty())
			rows.push_back({ .name = "OptionWithoutItsValue",
			    .args = p.without_value,
			    .err = p.usage,
			    .status = 1,
			    .err_tail = true });
		for (const CaseRun &row : rows) {
			SCOPED_TRACE(std::string(p.name) + " " + row.name);
			expect_case(p.name, row);
		}
	}
}
