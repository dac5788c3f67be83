#include "vandrel/values/text_escapes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

TEST(UnescapeTest, Escapes) {
  char a[] = "a%20b%2Bc%3d%7E";
  unescape_url(a);
  EXPECT_STREQ(a, "a b+c=~");
  char b[] = "%41%6a%6A";
  unescape_url(b);
  EXPECT_STREQ(b, "Ajj");
}

TEST(UnescapeTest, ShortEscapeAtTheEndIsCopied) {
  char a[] = "50%";
  unescape_url(a);
  EXPECT_STREQ(a, "50%");
  char b[] = "x%4";
  unescape_url(b);
  EXPECT_STREQ(b, "x%4");
  char c[] = "%";
  unescape_url(c);
  EXPECT_STREQ(c, "%");
}

TEST(UnescapeTest, DigitsAreNotChecked) {
  // 'z' counts (z & 0xDF) - 'A' + 10 = 35, '!' counts '!' - '0' = -15:
  // 16 * 35 + 0 = 560 -> 48 ('0'); 16 * 1 - 15 = 1.
  char a[] = "%z0%1!";
  unescape_url(a);
  EXPECT_EQ(std::string(a), std::string("0\x01"));
  // %00 decodes to a NUL byte, which ends the text.
  char b[] = "ab%00cd";
  unescape_url(b);
  EXPECT_STREQ(b, "ab");
}

TEST(EscapeUrlTest, LettersAndDigitsOnly) {
  char out[64];
  escape_url("a b/c-1\xe9", out, sizeof out);
  EXPECT_STREQ(out, "a%20b%2fc%2d1%e9");
}

TEST(EscapeUrlTest, CutAtAWholeEscape) {
  char out[6];  // room for 5 bytes: "a", then "%20" fits (4), "b" fits (5)
  escape_url("a b c", out, sizeof out);
  EXPECT_STREQ(out, "a%20b");
  char small[4];
  escape_url("a b", small, sizeof small);  // "%20" would need 4 + NUL
  EXPECT_STREQ(small, "a");
  char one[1];
  escape_url("abc", one, sizeof one);
  EXPECT_STREQ(one, "");
}

TEST(EscapeShellTest, AllTwentyMetacharacters) {
  const char meta[] = "&;`'\"|*?~<>^()[]{}$\\";
  ASSERT_EQ(std::strlen(meta), 20u);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s", meta);
  escape_shell_cmd(buf, sizeof buf);
  std::string expected;
  for (const char* p = meta; *p; ++p) expected += std::string("\\") + *p;
  EXPECT_EQ(buf, expected);
}

TEST(EscapeShellTest, OthersAndNewlinesStay) {
  char buf[64] = "a&b\nc d#%!";
  escape_shell_cmd(buf, sizeof buf);
  EXPECT_STREQ(buf, "a\\&b\nc d#%!");
}

TEST(EscapeShellTest, CutWhenTheBufferIsFull) {
  char buf[6] = "a;b;";
  escape_shell_cmd(buf, sizeof buf);  // "a\;b" needs 5 bytes; one more "\" does not fit
  EXPECT_STREQ(buf, "a\\;b");
}

}  // namespace
