#include "vandrel/core/patterns.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vandrel/core/test_support.h"

namespace {

bool like(const char* patt, const char* text) {
  return X_CMPpatt(patt, text) == 0;
}

// Each test starts from an empty cache and leaves none behind.
using PatternTest = InterpreterTest;

TEST_F(PatternTest, WildcardsMatchTheWholeText) {
  EXPECT_TRUE(like("abc", "abc"));
  EXPECT_FALSE(like("abc", "abcd"));
  EXPECT_FALSE(like("abc", "ab"));
  EXPECT_TRUE(like("*", ""));
  EXPECT_TRUE(like("a*", "a"));
  EXPECT_TRUE(like("*.html", "index.html"));
  EXPECT_FALSE(like("*.html", "index.html.bak"));
  EXPECT_TRUE(like("*b*b", "abab"));
  EXPECT_FALSE(like("*b*b", "abba!"));
  EXPECT_TRUE(like("a?c", "abc"));
  EXPECT_FALSE(like("a?c", "ac"));
  EXPECT_FALSE(like("?", ""));
}

TEST_F(PatternTest, ClassesAndNegatedClasses) {
  EXPECT_TRUE(like("[abc]x", "bx"));
  EXPECT_FALSE(like("[abc]x", "dx"));
  EXPECT_TRUE(like("[^0-9]*", "x12"));
  EXPECT_FALSE(like("[^0-9]*", "1x"));
  EXPECT_TRUE(like("[^ab]", "c"));
  EXPECT_FALSE(like("[^ab]", "b"));  // every member of a negated class must pass
  EXPECT_TRUE(like("[0-9x]", "x"));  // a single member after a range
  EXPECT_TRUE(like("[a-]", "-"));    // "-" before "]" is a member, not a range
  EXPECT_TRUE(like("[-a]", "-"));
  EXPECT_FALSE(like("[z-a]", "m"));  // a reversed range holds nothing
  EXPECT_TRUE(like("[^z-a]", "m"));
  EXPECT_TRUE(like("[]abc", "abc"));  // an empty class adds nothing
  EXPECT_TRUE(like("[^]abc", "abc"));
  EXPECT_TRUE(like("x[ab", "xb"));  // an unclosed class runs to the end
  EXPECT_TRUE(like("[_]", "_"));    // single members compare bytes, not ranks

  // The compiled class: first member in the sequence, the rest chained in
  // the order written, negated kinds throughout.
  PATT_LIST* p = vek_LOADpatt("[^a-cx]?");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->PATT_OP, kPattNotRange);
  EXPECT_EQ(p->ch0, 'a');
  EXPECT_EQ(p->ch1, 'c');
  ASSERT_NE(p->PATT_OR, nullptr);
  EXPECT_EQ(p->PATT_OR->PATT_OP, kPattNotChar);
  EXPECT_EQ(p->PATT_OR->ch0, 'x');
  EXPECT_EQ(p->PATT_OR->PATT_OR, nullptr);
  ASSERT_NE(p->PATT_NEXT, nullptr);
  EXPECT_EQ(p->PATT_NEXT->PATT_OP, kPattOne);
  EXPECT_EQ(p->PATT_NEXT->PATT_NEXT, nullptr);
  vek_FREEpatt(p);
}

TEST_F(PatternTest, RangesFollowTheCollationOrder) {
  EXPECT_TRUE(like("[a-z]*", "hello"));
  EXPECT_FALSE(like("[a-z]*", "Hello"));  // capitals rank below small letters
  for (const char* c : {"A", "Z", "[", "\\", "]", "^", "`", "a", "z"}) {
    EXPECT_TRUE(like("[A-z]", c)) << c;
  }
  for (const char* c : {"_", "@", "{", "\t"}) EXPECT_FALSE(like("[A-z]", c)) << c;
  // Bytes outside the order all rank 0, so only a range ending there holds them.
  EXPECT_TRUE(like("[_-_]", "\x01"));
  EXPECT_FALSE(like("[ -~]", "\x01"));

  // KOI8-R: small a (C1) to small ya (D1) holds every small letter in any
  // byte order, the capitals (E1 to F1) hold none of them, and both rank
  // above the tilde.
  EXPECT_TRUE(like("[\xC1-\xD1]*", "\xDE\xC0\xC1\xD1"));
  EXPECT_FALSE(like("[\xC1-\xD1]", "\xE1"));
  EXPECT_TRUE(like("[\xE1-\xF1]", "\xF9"));
  EXPECT_FALSE(like("[\xE1-\xF1]", "\xD1"));
  EXPECT_TRUE(like("[~-\xC1]", "\xC1"));
  EXPECT_FALSE(like("[a-z]", "\xC1"));
  EXPECT_FALSE(like("[\xC1-\xF1]", "\xA3"));  // yo is not in the order

  EXPECT_LT(vp_SYMcmp("A", "a", 1), 0);
  EXPECT_EQ(vp_SYMcmp("_", " ", 1), -1);
  EXPECT_GT(vp_SYMcmp("\xE1", "\xD1", 1), 0);
  EXPECT_EQ(vp_SYMcmp("abX", "abY", 2), 0);
  EXPECT_EQ(vp_SYMcmp("ab", "abc", 5), 0);  // s1 ends first
  EXPECT_EQ(vp_SYMcmp("b", "a", 1), 1);
}

TEST_F(PatternTest, NotRejectsAnyMatchingSuffix) {
  EXPECT_TRUE(like("!*tmp*", "index.html"));
  EXPECT_TRUE(like("!*tmp*", ""));
  EXPECT_FALSE(like("!*tmp*", "my.tmp.file"));
  EXPECT_TRUE(like("a!b", "abc"));  // "bc" and "c" are not "b"
  EXPECT_FALSE(like("a!b", "acb"));
  EXPECT_TRUE(like("abc!", "abc"));  // a trailing "!" holds only at the end
  EXPECT_FALSE(like("abc!", "abcd"));
  EXPECT_TRUE(like("!", ""));
  EXPECT_FALSE(like("!", "x"));
  EXPECT_TRUE(like("x*!y", "xay"));  // "*" may stop where "y" is no suffix
}

TEST_F(PatternTest, BackslashEscapes) {
  EXPECT_TRUE(like("file\\*", "file*"));
  EXPECT_FALSE(like("file\\*", "file.txt"));
  EXPECT_TRUE(like("\\!x", "!x"));
  EXPECT_TRUE(like("\\[a]", "[a]"));
  EXPECT_TRUE(like("a\\\\b", "a\\b"));
  EXPECT_TRUE(like("\\^\\-\\]", "^-]"));
  // Before any other character the backslash is a literal of its own.
  EXPECT_TRUE(like("\\?", "\\x"));
  EXPECT_FALSE(like("\\?", "?"));
  EXPECT_TRUE(like("\\n", "\\n"));
  EXPECT_TRUE(like("x\\", "x\\"));
  // Inside a class too.
  EXPECT_TRUE(like("[\\]x]", "]"));
  EXPECT_TRUE(like("[a\\-z]", "-"));
  EXPECT_FALSE(like("[a\\-z]", "b"));
  EXPECT_TRUE(like("[!-\\]]", "\\"));  // an escaped high end of a range
}

TEST_F(PatternTest, OrAndCombiners) {
  EXPECT_TRUE(like("*.html||*.htm", "index.htm"));
  EXPECT_FALSE(like("*.html||*.htm", "index.txt"));
  EXPECT_TRUE(like("a*&&*z", "abcz"));
  EXPECT_FALSE(like("a*&&*z", "abc"));
  EXPECT_FALSE(like("a*&&*z", "bz"));
  EXPECT_TRUE(like("x||a*&&*b*&&*z", "abz"));
  EXPECT_FALSE(like("x||a*&&*b*&&*z", "az"));
  // Before a later "||" the "&&" is an ordinary character.
  EXPECT_TRUE(like("a&&b||c", "a&&b"));
  EXPECT_FALSE(like("a&&b||c", "a"));
  EXPECT_TRUE(like("a&&b||c", "c"));

  char expr[] = "a*&&*z||q&&r";
  const std::string before = expr;
  EXPECT_FALSE(like(expr, "abz"));  // the first part holds a literal "&&"
  EXPECT_TRUE(like(expr, "a&&z"));
  EXPECT_EQ(before, expr);
}

// An empty pattern or part matches only the empty text, and is never taken
// for an allocation failure (which would end the process here).
TEST_F(PatternTest, EmptyPatternsMatchOnlyTheEmptyText) {
  EXPECT_TRUE(like("", ""));
  EXPECT_FALSE(like("", "a"));
  EXPECT_TRUE(like("a||", ""));
  EXPECT_TRUE(like("||a", "a"));
  EXPECT_FALSE(like("||", "a"));
  EXPECT_TRUE(like("*&&", ""));
  EXPECT_FALSE(like("*&&", "a"));
  EXPECT_STREQ(X_patt_cache()[1].patt, "*");  // only "a" and "*" were cached
  EXPECT_EQ(X_patt_cache()[2].patt, nullptr);
  EXPECT_TRUE(like("[]", ""));  // element-less but not empty
  EXPECT_FALSE(like("[]", "x"));
  EXPECT_EQ(vek_LOADpatt(""), nullptr);
  EXPECT_EQ(vek_LOADpatt("[^]"), nullptr);
  EXPECT_EQ(vek_EXEpatt(nullptr, "anything"), 0);
}

TEST_F(PatternTest, CacheEvictsRoundRobinAfterTheLastFilled) {
  for (int k = 0; k < kPattCacheSize; ++k) {
    std::string p = "p" + std::to_string(k) + "*";
    EXPECT_TRUE(like(p.c_str(), (p.substr(0, p.size() - 1) + "x").c_str()));
  }
  EXPECT_EQ(X_patt_cache_last(), kPattCacheSize - 1);
  EXPECT_TRUE(like("p5*", "p5"));  // a hit changes nothing
  EXPECT_EQ(X_patt_cache_last(), kPattCacheSize - 1);
  EXPECT_STREQ(X_patt_cache()[0].patt, "p0*");

  EXPECT_TRUE(like("new*", "news"));  // the 129th evicts the first cached
  EXPECT_STREQ(X_patt_cache()[0].patt, "new*");
  EXPECT_EQ(X_patt_cache_last(), 0);
  EXPECT_TRUE(like("p0*", "p0"));  // back again, in place of the next oldest
  EXPECT_STREQ(X_patt_cache()[1].patt, "p0*");
  EXPECT_STREQ(X_patt_cache()[2].patt, "p2*");
  EXPECT_EQ(X_patt_cache_last(), 1);
  // The cached compilation still gives the right answers.
  EXPECT_TRUE(like("new*", "new"));
  EXPECT_FALSE(like("new*", "old"));
  EXPECT_EQ(X_patt_cache_last(), 1);
}

// The retrying walk exactly as designed, over the compiled elements.
bool reference(const PATT_LIST* e, const char* t) {
  if (e == nullptr) return *t == '\0';
  if (e->PATT_OP == kPattAny || e->PATT_OP == kPattNot) {
    if (e->PATT_OP == kPattNot && e->PATT_NEXT == nullptr && *t == '\0') return true;
    bool found = false;
    for (const char* s = t;; ++s) {
      if (reference(e->PATT_NEXT, s)) {
        found = true;
        break;
      }
      if (*s == '\0') break;
    }
    return e->PATT_OP == kPattAny ? found : !found;
  }
  return *t != '\0' && vek_ORpatt(e, static_cast<unsigned char>(*t)) == 0 &&
         reference(e->PATT_NEXT, t + 1);
}

TEST_F(PatternTest, MatcherAgreesWithTheRetryingWalk) {
  const std::vector<std::string> items = {"a", "b", "*", "?", "!", "[ab]", "[^a]", "[a-b]"};
  std::mt19937 rng(12345);
  for (int round = 0; round < 20000; ++round) {
    std::string patt;
    for (int n = rng() % 7; n > 0; --n) patt += items[rng() % items.size()];
    std::string text;
    for (int n = rng() % 7; n > 0; --n) text += "ab"[rng() % 2];
    PATT_LIST* p = vek_LOADpatt(patt.c_str());
    bool want = p == nullptr ? true : reference(p, text.c_str());
    EXPECT_EQ(vek_EXEpatt(p, text.c_str()) == 0, want) << patt << " / " << text;
    vek_FREEpatt(p);
  }
}

TEST_F(PatternTest, HostilePatternsStayCheap) {
  std::string text(20000, 'a');
  std::string stars;
  for (int k = 0; k < 40; ++k) stars += "*a";
  EXPECT_FALSE(like((stars + "*b").c_str(), text.c_str()));
  EXPECT_TRUE(like((stars + "*").c_str(), text.c_str()));

  // Far deeper than any recursion could go.
  std::string deep;
  for (int k = 0; k < 100000; ++k) deep += "!*";
  // "!*" alone never holds, so the pairs alternate between false and true.
  EXPECT_EQ(X_CMPexec(deep.c_str(), "abc"), 0);
  EXPECT_EQ(X_CMPexec(("!*" + deep).c_str(), "abc"), -1);
  EXPECT_EQ(X_CMPexec(std::string(200000, '*').c_str(), text.c_str()), 0);
}

}  // namespace
