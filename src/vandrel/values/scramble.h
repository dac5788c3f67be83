// The interpreter's own text scrambler behind the value function "crypt:".
// Its key position carries over from call to call for the whole process, so
// the same text scrambles differently on a second call within one request.
#ifndef VANDREL_VALUES_SCRAMBLE_H_
#define VANDREL_VALUES_SCRAMBLE_H_

#include <cstddef>

// Writes the scrambled form of `in` into `out` as lower-case hex, two digits
// per input byte; out needs 2*strlen(in)+1 bytes and is cut (at whole byte
// pairs, always terminated) when smaller. The key position advances by
// strlen(in) whether or not the output was cut.
void X_crypt(const char* in, char* out, size_t out_size);

// Tests only: puts the carried key position back to 0, as in a new process.
void X_crypt_reset();

#endif  // VANDREL_VALUES_SCRAMBLE_H_
