// How Windows code calls into the bridge and the bridge into Wine: the
// callee-cleans convention of D2XX on 32-bit Windows (with the stack
// re-aligned on entry, since Windows callers keep only 4-byte alignment), and
// the Microsoft x64 convention on 64-bit.
#pragma once

#if defined(__i386__)
#define ZEF_BRIDGE_ENTRY __attribute__((stdcall, force_align_arg_pointer))
#define ZEF_WIN32_API __attribute__((stdcall))
#elif defined(__x86_64__)
#define ZEF_BRIDGE_ENTRY __attribute__((ms_abi))
#define ZEF_WIN32_API __attribute__((ms_abi))
#else
#error "Wine runs Windows programs on x86 only"
#endif
