// Name patterns for clearing variables and for conditions.
#ifndef VANDREL_PATTERNS_H_
#define VANDREL_PATTERNS_H_

// 0 when `text` matches the pattern expression `patt`, -1 otherwise.
// For now a pattern matches only the identical text; the wildcard engine
// replaces this matcher without changing its callers.
int X_CMPpatt(const char* patt, const char* text);

#endif  // VANDREL_PATTERNS_H_
