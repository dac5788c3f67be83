#include "vandrel/core/patterns.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vandrel/core/errors.h"

namespace {

// Collation order of range members: a byte's rank is its position here,
// counted from 1. Space to tilde without the underscore, then the KOI8-R
// Cyrillic letters in alphabetical order, small letters first.
constexpr char kAlpha[] =
    " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^`"
    "abcdefghijklmnopqrstuvwxyz{|}~"
    "\xC1\xC2\xD7\xC7\xC4\xC5\xD6\xDA\xC9\xCA\xCB\xCC\xCD\xCE\xCF\xD0"
    "\xD2\xD3\xD4\xD5\xC6\xC8\xC3\xDE\xDB\xDD\xAC\xD9\xD8\xDC\xC0\xD1"
    "\xE1\xE2\xF7\xE7\xE4\xE5\xF6\xFA\xE9\xEA\xEB\xEC\xED\xEE\xEF\xF0"
    "\xF2\xF3\xF4\xF5\xE6\xE3\xFE\xFB\xFD\xAE\xF9\xF8\xFC\xE0\xF1";
static_assert(sizeof kAlpha - 1 == 157, "the collation order holds 157 bytes");

unsigned char rank_table[256];
bool rank_table_built = false;

int rank_of(unsigned char ch) {
  if (!rank_table_built) {
    for (size_t k = 0; k + 1 < sizeof kAlpha; ++k) {
      rank_table[static_cast<unsigned char>(kAlpha[k])] = static_cast<unsigned char>(k + 1);
    }
    rank_table_built = true;
  }
  return rank_table[ch];
}

bool in_range(const PATT_LIST* e, unsigned char ch) {
  int r = rank_of(ch);
  return r >= rank_of(e->ch0) && r <= rank_of(e->ch1);
}

int no_memory() {
  ERRMSG("### No memory...");
  return -1;
}

// ---------------------------------------------------------------- compiler

PATT_LIST* new_element(int op, unsigned char ch0, unsigned char ch1) {
  auto* e = static_cast<PATT_LIST*>(std::calloc(1, sizeof(PATT_LIST)));
  if (e != nullptr) {
    e->PATT_OP = op;
    e->ch0 = ch0;
    e->ch1 = ch1;
  }
  return e;
}

bool escapable(char c) {
  return c != '\0' && std::strchr("*![]^-\\", c) != nullptr;
}

// One character of the pattern at `*i`, with the backslash escapes, which
// hold inside classes too so that "]", "^" and "-" can be members.
unsigned char take_char(const char* p, size_t len, size_t* i) {
  if (p[*i] == '\\' && *i + 1 < len && escapable(p[*i + 1])) {
    *i += 2;
    return static_cast<unsigned char>(p[*i - 1]);
  }
  *i += 1;
  return static_cast<unsigned char>(p[*i - 1]);
}

// The members of a class from just after "[" or "[^" up to the closing "]"
// or the end, chained through PATT_OR. nullptr with *failed clear for "[]".
PATT_LIST* compile_class(const char* p, size_t len, size_t* i, bool negated, bool* failed) {
  PATT_LIST* first = nullptr;
  PATT_LIST** tail = &first;
  while (*i < len && p[*i] != ']') {
    unsigned char lo = take_char(p, len, i);
    PATT_LIST* e;
    if (*i + 1 < len && p[*i] == '-' && p[*i + 1] != ']') {
      *i += 1;
      unsigned char hi = take_char(p, len, i);
      e = new_element(negated ? kPattNotRange : kPattRange, lo, hi);
    } else {
      e = new_element(negated ? kPattNotChar : kPattChar, lo, 0);
    }
    if (e == nullptr) {
      vek_FREEpatt(first);
      *failed = true;
      return nullptr;
    }
    *tail = e;
    tail = &e->PATT_OR;
  }
  if (*i < len) *i += 1;  // the "]"
  return first;
}

// Compiles the first `len` bytes of `p`. nullptr either for a pattern without
// elements or, with *failed set, when memory ran out.
PATT_LIST* compile(const char* p, size_t len, bool* failed) {
  *failed = false;
  PATT_LIST* head = nullptr;
  PATT_LIST** tail = &head;
  size_t i = 0;
  while (i < len) {
    PATT_LIST* e;
    char c = p[i];
    if (c == '*' || c == '?' || c == '!') {
      ++i;
      e = new_element(c == '*' ? kPattAny : c == '?' ? kPattOne : kPattNot, 0, 0);
    } else if (c == '[') {
      ++i;
      bool negated = i < len && p[i] == '^';
      if (negated) ++i;
      e = compile_class(p, len, &i, negated, failed);
      if (e == nullptr && !*failed) continue;  // an empty class adds nothing
    } else {
      e = new_element(kPattChar, take_char(p, len, &i), 0);
    }
    if (e == nullptr) {
      vek_FREEpatt(head);
      *failed = true;
      return nullptr;
    }
    *tail = e;
    tail = &e->PATT_NEXT;
  }
  return head;
}

// ----------------------------------------------------------------- matcher
//
// Written as a recursion, "*" and "!" retry the rest of the pattern at every
// later text position, which takes exponential time on patterns such as
// "*a*a*a*a*b" and nests as deep as the pattern is long. But the result of
// "the elements from k on, against the text from i on" depends on (k, i)
// alone, so it is computed once per pair instead, from the last element
// backwards, one row of text positions per element:
//   end of pattern  M(i) = (i == n)
//   "*"             M(i) = some j >= i has M'(j)
//   "!"             M(i) = no j >= i has M'(j), except that a trailing "!"
//                          holds at the end of the text
//   one character   M(i) = i < n and text[i] passes the element and M'(i+1)
// where M' is the row of the next element. The "some j >= i" is a running OR
// kept while i descends, so each row costs O(n): O(elements * n) time, two
// rows of memory, no recursion, and the same results as the retrying walk.

struct Scratch {
  const PATT_LIST* small_elements[32];
  unsigned char small_rows[2 * 257];
  void* big = nullptr;
  ~Scratch() { std::free(big); }
};

// The elements from `first` (a "*" or "!") against all of `t` (`n` bytes).
int search(const PATT_LIST* first, const unsigned char* t, size_t n) {
  // "**" means the same as "*", so runs of "*" count once.
  size_t m = 0;
  for (const PATT_LIST* e = first; e != nullptr; e = e->PATT_NEXT) {
    if (!(e->PATT_OP == kPattAny && e->PATT_NEXT != nullptr && e->PATT_NEXT->PATT_OP == kPattAny))
      ++m;
  }
  if (n > SIZE_MAX / 4 || m > SIZE_MAX / (4 * sizeof(PATT_LIST*))) return no_memory();

  Scratch s;
  const PATT_LIST** elements = s.small_elements;
  unsigned char* rows = s.small_rows;
  if (m > sizeof s.small_elements / sizeof s.small_elements[0] || n + 1 > sizeof s.small_rows / 2) {
    s.big = std::malloc(m * sizeof(PATT_LIST*) + 2 * (n + 1));
    if (s.big == nullptr) return no_memory();
    elements = static_cast<const PATT_LIST**>(s.big);
    rows = static_cast<unsigned char*>(s.big) + m * sizeof(PATT_LIST*);
  }
  size_t k = 0;
  for (const PATT_LIST* e = first; e != nullptr; e = e->PATT_NEXT) {
    if (!(e->PATT_OP == kPattAny && e->PATT_NEXT != nullptr && e->PATT_NEXT->PATT_OP == kPattAny))
      elements[k++] = e;
  }

  unsigned char* next = rows;
  unsigned char* cur = rows + n + 1;
  for (size_t i = 0; i <= n; ++i) next[i] = i == n;
  while (k-- > 0) {
    const PATT_LIST* e = elements[k];
    bool last = e->PATT_NEXT == nullptr;
    bool any_later = false;  // some j >= i has next[j]
    for (size_t i = n + 1; i-- > 0;) {
      any_later = any_later || next[i];
      switch (e->PATT_OP) {
        case kPattAny:
          cur[i] = any_later;
          break;
        case kPattNot:
          cur[i] = (last && i == n) || !any_later;
          break;
        default:
          cur[i] = i < n && next[i + 1] && vek_ORpatt(e, t[i]) == 0;
          break;
      }
    }
    unsigned char* swap = next;
    next = cur;
    cur = swap;
  }
  return next[0] ? 0 : -1;
}

// Matches all of `text` against `list`; an element-less list matches only
// the empty text.
int match_list(const PATT_LIST* list, const char* text) {
  const auto* t = reinterpret_cast<const unsigned char*>(text);
  size_t n = std::strlen(text);
  size_t i = 0;
  // Elements that take exactly one character need no search.
  const PATT_LIST* e = list;
  for (; e != nullptr && e->PATT_OP != kPattAny && e->PATT_OP != kPattNot; e = e->PATT_NEXT) {
    if (i >= n || vek_ORpatt(e, t[i]) != 0) return -1;
    ++i;
  }
  if (e == nullptr) return i == n ? 0 : -1;
  return search(e, t + i, n - i);
}

// ------------------------------------------------------------------- cache

pattCACHE cache[kPattCacheSize];
int cache_last = -1;  // the entry filled last

// One plain pattern: the first `len` bytes of `p`, which hold no NUL.
//
// The empty pattern matches only the empty text. It is what a page gets from
// an empty value or from "a||" and "||a", and reading it as "anything" would
// let a clear with an empty pattern remove every variable; as "only the empty
// text" it is the degenerate case of a literal pattern. It is not cached.
int exec_part(const char* p, size_t len, const char* text) {
  if (len == 0) return text[0] == '\0' ? 0 : -1;
  int slot = -1;
  for (int k = 0; k < kPattCacheSize; ++k) {
    if (cache[k].patt == nullptr) {
      slot = k;
      break;
    }
    if (std::strncmp(cache[k].patt, p, len) == 0 && cache[k].patt[len] == '\0') {
      return match_list(cache[k].vekPATT, text);
    }
  }
  if (slot < 0) {
    slot = (cache_last + 1) % kPattCacheSize;
    std::free(cache[slot].patt);
    vek_FREEpatt(cache[slot].vekPATT);
    cache[slot] = pattCACHE{};
  }
  auto* copy = static_cast<char*>(std::malloc(len + 1));
  if (copy == nullptr) return no_memory();
  std::memcpy(copy, p, len);
  copy[len] = '\0';
  bool failed;
  PATT_LIST* list = compile(copy, len, &failed);
  if (failed) {
    std::free(copy);
    return no_memory();
  }
  cache[slot] = pattCACHE{copy, list};
  cache_last = slot;
  return match_list(list, text);
}

}  // namespace

int vp_SYMcmp(const char* s1, const char* s2, int n) {
  if (s1 == nullptr || s2 == nullptr) return 0;
  for (int k = 0; k < n; ++k) {
    auto a = static_cast<unsigned char>(s1[k]);
    auto b = static_cast<unsigned char>(s2[k]);
    if (a == '\0') return 0;
    if (a != b) return rank_of(a) - rank_of(b);
  }
  return 0;
}

PATT_LIST* vek_LOADpatt(const char* buf) {
  if (buf == nullptr) return nullptr;
  bool failed;
  return compile(buf, std::strlen(buf), &failed);
}

int vek_EXEpatt(const PATT_LIST* pattern, const char* buf) {
  if (pattern == nullptr) return 0;
  return match_list(pattern, buf != nullptr ? buf : "");
}

int vek_ORpatt(const PATT_LIST* pattern, int ch) {
  auto c = static_cast<unsigned char>(ch);
  for (const PATT_LIST* e = pattern; e != nullptr; e = e->PATT_OR) {
    switch (e->PATT_OP) {
      case kPattOne:
        return c != '\0' ? 0 : -1;
      case kPattChar:
        if (e->ch0 == c) return 0;
        break;
      case kPattNotChar:
        if (e->ch0 == c) return -1;
        if (e->PATT_OR == nullptr) return 0;
        break;
      case kPattRange:
        if (in_range(e, c)) return 0;
        break;
      case kPattNotRange:
        if (in_range(e, c)) return -1;
        if (e->PATT_OR == nullptr) return 0;
        break;
      default:
        return -1;
    }
  }
  return -1;
}

void vek_FREEpatt(PATT_LIST* pattern) {
  // Rotating each PATT_OR chain into the PATT_NEXT chain frees any shape of
  // list without recursion, however long the pattern.
  PATT_LIST* e = pattern;
  while (e != nullptr) {
    if (e->PATT_OR == nullptr) {
      PATT_LIST* next = e->PATT_NEXT;
      std::free(e);
      e = next;
    } else {
      PATT_LIST* member = e->PATT_OR;
      e->PATT_OR = member->PATT_NEXT;
      member->PATT_NEXT = e;
      e = member;
    }
  }
}

int X_CMPexec(const char* patt, const char* text) {
  if (patt == nullptr) patt = "";
  return exec_part(patt, std::strlen(patt), text != nullptr ? text : "");
}

int X_CMPpatt(const char* patt, const char* text) {
  // Each part is handed on as (start, length), so the expression is only
  // read: nothing is cut into it and nothing needs to be put back.
  const char* rest = patt != nullptr ? patt : "";
  if (text == nullptr) text = "";
  bool or_left = true;  // false once no "||" remains
  for (;;) {
    const char* sep = or_left ? std::strstr(rest, "||") : nullptr;
    if (sep != nullptr) {
      if (exec_part(rest, static_cast<size_t>(sep - rest), text) == 0) return 0;
      rest = sep + 2;
      continue;
    }
    or_left = false;
    sep = std::strstr(rest, "&&");
    if (sep == nullptr) return exec_part(rest, std::strlen(rest), text);
    if (exec_part(rest, static_cast<size_t>(sep - rest), text) != 0) return -1;
    rest = sep + 2;
  }
}

const pattCACHE* X_patt_cache() {
  return cache;
}

int X_patt_cache_last() {
  return cache_last;
}

void X_patt_cache_reset() {
  for (pattCACHE& entry : cache) {
    std::free(entry.patt);
    vek_FREEpatt(entry.vekPATT);
    entry = pattCACHE{};
  }
  cache_last = -1;
}
