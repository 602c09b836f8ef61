// Binds the C library's pow to its oldest glibc symbol version, so that the module
// loads on every glibc from 2.17 on (manylinux), not only on 2.29 and later.
//
// glibc 2.29 added pow@GLIBC_2.29 only to drop the SVID error-handling wrapper; both
// versions run the same computation, and the old one differs only in setting errno on
// overflow, underflow and domain errors, where it returns the same IEEE result.
// Include after <cmath>; the directive applies to every reference to pow in the
// translation unit.
#pragma once

#include <cmath>

#if defined(__linux__) && defined(__GLIBC__)
#if defined(__x86_64__)
__asm__(".symver pow,pow@GLIBC_2.2.5");
#elif defined(__aarch64__)
__asm__(".symver pow,pow@GLIBC_2.17");
#endif
#endif
