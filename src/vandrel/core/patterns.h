// Wildcard patterns: the compiler, the matcher, the collation order used by
// class ranges, the cache of compiled patterns, and the "||" / "&&" combiner
// that conditions and the variable store use. Every match result is 0 for a
// match and -1 for none.
//
// Pattern syntax:
//   *        any sequence of characters, also the empty one
//   ?        any one character
//   !P       no suffix of the rest of the text matches P
//   [...]    one character of the class; members are characters or ranges a-z
//   [^...]   one character outside the class
//   \c       c literally, for c one of * ! [ ] ^ - and backslash; before any
//            other character the backslash is itself a literal
// Ranges compare collation ranks, not byte values (see vp_SYMcmp).
#ifndef VANDREL_CORE_PATTERNS_H_
#define VANDREL_CORE_PATTERNS_H_

// Element kinds of a compiled pattern (PATT_LIST::PATT_OP).
constexpr int kPattAny = 0;       // *
constexpr int kPattOne = 1;       // ?
constexpr int kPattChar = 2;      // a literal, or a member of [...]
constexpr int kPattNotChar = 3;   // a member of [^...]
constexpr int kPattRange = 4;     // a range member of [...]
constexpr int kPattNotRange = 5;  // a range member of [^...]
constexpr int kPattNot = 6;       // !

// One element of a compiled pattern. The members of a class after its first
// hang off the first one through PATT_OR, in the order written.
struct PATT_LIST {
  PATT_LIST* PATT_NEXT;  // next element of the sequence
  PATT_LIST* PATT_OR;    // next member of the same class
  unsigned char ch0;     // the character, or the low end of a range
  unsigned char ch1;     // the high end of a range
  int PATT_OP;           // one of the kinds above
};

// One entry of the compiled-pattern cache. An entry with no text is empty;
// an entry may hold a text whose compilation has no element (such as "[]").
struct pattCACHE {
  char* patt;          // own copy of the pattern text
  PATT_LIST* vekPATT;  // its compilation
};

constexpr int kPattCacheSize = 128;

// Rank of the first character of `s1` that differs from `s2`, minus the rank
// of that character of `s2`, looking at no more than `n` characters; 0 when
// they are equal that far or `s1` ends first. Ranks come from the collation
// order: space to tilde without the underscore, then the KOI8-R Cyrillic
// letters in alphabetical order, small letters first; every other byte
// ranks 0.
int vp_SYMcmp(const char* s1, const char* s2, int n);

// Compiles `buf`. nullptr for a pattern without elements (the empty text,
// "[]") and when memory runs out; the caller tells them apart by the text.
PATT_LIST* vek_LOADpatt(const char* buf);

// Matches the whole of `buf` against `pattern`; nullptr matches everything.
int vek_EXEpatt(const PATT_LIST* pattern, const char* buf);

// Tests the character `ch` against one element and its class members.
int vek_ORpatt(const PATT_LIST* pattern, int ch);

// Frees every element of `pattern`.
void vek_FREEpatt(PATT_LIST* pattern);

// Matches `text` against one plain pattern through the cache. The empty
// pattern, and one without elements such as "[]", matches only the empty
// text (unlike a missing compiled pattern in vek_EXEpatt), so a clear with
// an empty name pattern removes nothing. A failed allocation is the fatal
// error "### No memory..." (the result is then -1).
int X_CMPexec(const char* patt, const char* text);

// Matches `text` against a pattern expression: plain patterns joined by "||"
// (or) and "&&" (and). The expression is read from the left: a part before
// a "||" is tried alone and a match ends the whole; once no "||" is left, a
// part before a "&&" must match. So "&&" in a part followed by a later "||"
// is an ordinary character. Empty parts follow the rule of X_CMPexec.
int X_CMPpatt(const char* patt, const char* text);

// Inspection of the cache, for unit tests only: the 128 entries, the index
// of the entry filled last (-1 while none was), and a reset that frees every
// entry.
const pattCACHE* X_patt_cache();
int X_patt_cache_last();
void X_patt_cache_reset();

#endif  // VANDREL_CORE_PATTERNS_H_
