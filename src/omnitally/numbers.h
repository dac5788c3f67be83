// Numbers in arguments and slot texts are read as atoi reads them: optional
// blanks, an optional sign, then the leading decimal digits; 0 when there are
// none. Unlike atoi, a value beyond the range saturates instead of being
// undefined.
#ifndef OMNITALLY_NUMBERS_H_
#define OMNITALLY_NUMBERS_H_

#include <cstddef>
#include <cstdint>

// Reads at most `len` bytes of `text` (stops earlier at a NUL).
int64_t read_long(const char* text, size_t len);
int64_t read_long(const char* text);

// The same, saturated to 32 bits.
int32_t read_int(const char* text, size_t len);
int32_t read_int(const char* text);

#endif  // OMNITALLY_NUMBERS_H_
