// Numbers in arguments and in lister output are read as atoi reads them:
// optional blanks, an optional sign, then the leading decimal digits; 0 when
// there are none. Unlike atoi, a value out of range saturates instead of
// being undefined. Async-signal-safe.
#ifndef KORBAD_LEADING_INT_H_
#define KORBAD_LEADING_INT_H_

// Reads at most len bytes of text (stops at a NUL).
long leading_int(const char* text, unsigned long len);
long leading_int(const char* text);

#endif  // KORBAD_LEADING_INT_H_
