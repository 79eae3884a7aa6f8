#include "sys/fpenv.h"

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#include <xmmintrin.h>
#define QL_HAVE_SSE 1
#endif

namespace ql::sys {

void maskFloatingPointExceptions() {
#if defined(__i386__) && defined(__GNUC__)
    // Run-time default 0x1332 with the six exception masks set; extended precision, nearest.
    const unsigned short controlWord = 0x133F;
    __asm__ __volatile__("fldcw %0" : : "m"(controlWord));
#endif
#if defined(QL_HAVE_SSE)
    unsigned int csr = _mm_getcsr();
    csr |= 0x1F80u;  // all six exception masks
    csr &= ~0x6000u; // round to nearest
    _mm_setcsr(csr);
#endif
}

} // namespace ql::sys
