/*
 * Whether the text buffer's bulk copy may use AVX2: glibc's loader has
 * looked at the processor already, and asking it costs a function call.
 * Other systems keep to SSE2 rather than ask the processor itself (cpuid),
 * which takes microseconds in a virtual machine, more than AVX2 saves on
 * most texts.  Written in C, the language of glibc's header.
 */
#if defined(__x86_64__) && defined(__has_include)
#if __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define HAVE_X86_PLATFORM
#endif
#endif

int textbuf_cpu_avx2(void);

int
textbuf_cpu_avx2(void)
{
#ifdef HAVE_X86_PLATFORM
	return CPU_FEATURE_ACTIVE(AVX2);
#else
	return 0;
#endif
}
