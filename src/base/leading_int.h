// Numbers in arguments, in segment slot texts and in lister output are read
// as atoi reads them: optional blanks, an optional sign, then the leading
// decimal digits; 0 when there are none. Unlike atoi, a value beyond the
// range saturates instead of being undefined. Async-signal-safe: no library
// calls and no state, so a signal handler or a child after fork may use it.
#ifndef BASE_LEADING_INT_H_
#define BASE_LEADING_INT_H_

#include <cstddef>
#include <cstdint>

// Reads at most `len` bytes of `text` (stops earlier at a NUL).
int64_t leading_int64(const char* text, size_t len);
int64_t leading_int64(const char* text);

// The same, saturated to 32 bits.
int32_t leading_int32(const char* text, size_t len);
int32_t leading_int32(const char* text);

#endif  // BASE_LEADING_INT_H_
