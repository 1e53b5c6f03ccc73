/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The programs' side of -i: loads the conversion module, built beside the
 * programs when the build found libical, and hands it the run.  Only a run
 * with -i pays for libical and the C++ library.
 */
#include <dlfcn.h>

#include "proc.h"
#include "vcal.h"

int
vcal_run(vcal_kind kind, const char *path, bool lossy)
{
#ifdef VCAL_MODULE
	/*
	 * Its path from the program's own directory, which the dynamic
	 * linker puts for $ORIGIN.
	 */
	void *module = dlopen(VCAL_MODULE, RTLD_LAZY | RTLD_LOCAL);
	if (module == nullptr)
		proc_fatal("-i needs %s, which cannot be loaded: %s",
		    VCAL_MODULE, dlerror());
	auto entry =
	    reinterpret_cast<int (*)(const char *, int, const char *, int)>(
		dlsym(module, "fmt_vcal_run"));
	if (entry == nullptr)
		proc_fatal("-i needs %s, which lacks its entry point",
		    VCAL_MODULE);
	return entry(proc_name(), kind, path, lossy ? 1 : 0);
#else
	(void)kind;
	(void)path;
	(void)lossy;
	proc_fatal("-i is not supported by this build");
#endif
}
