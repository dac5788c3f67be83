#include "vandrel/services/cookies.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CookieValueTest, FoundDecodedAndMissing) {
  const char* jar = "user=ann%20b; theme=dark";
  EXPECT_EQ(X_cookie_value(jar, "user"), "ann b");
  EXPECT_EQ(X_cookie_value(jar, "theme"), "dark");
  EXPECT_EQ(X_cookie_value(jar, "lang"), "");
  EXPECT_EQ(X_cookie_value(nullptr, "user"), "");
  EXPECT_EQ(X_cookie_value("a=; b=2", "a"), "");
}

TEST(CookieValueTest, PlainSubstringSearch) {
  // The name is found inside a longer name, first occurrence wins.
  EXPECT_EQ(X_cookie_value("xuser=1; user=2", "user"), "1");
  EXPECT_EQ(X_cookie_value("id=1;id=2", "id"), "1");
}

TEST(CookieValueTest, CutAt8191BytesBeforeDecoding) {
  std::string jar = "big=" + std::string(9000, 'v') + "; next=1";
  EXPECT_EQ(X_cookie_value(jar.c_str(), "big"), std::string(kMaxCookieValue, 'v'));
  // An escape cut in half at the limit stays as it is.
  jar = "e=" + std::string(kMaxCookieValue - 2, 'a') + "%41%42";
  EXPECT_EQ(X_cookie_value(jar.c_str(), "e"), std::string(kMaxCookieValue - 2, 'a') + "%4");
}

TEST(CookieHeaderTest, ExactTexts) {
  EXPECT_EQ(X_cookie_header("user", nullptr, false),
            "Set-Cookie: user=NULL; path=/; expires=Wednesday, 21-Aug-1996 01:21:36 GMT \n");
  EXPECT_EQ(X_cookie_header("user", "", true),
            "Set-Cookie: user=NULL; path=/; expires=Wednesday, 21-Aug-1996 01:21:36 GMT \n");
  EXPECT_EQ(X_cookie_header("theme", "dark blue/1", false),
            "Set-Cookie: theme=dark%20blue%2f1; path=/; expires=31-Dec-2037 23:55:00 GMT \n");
  EXPECT_EQ(X_cookie_header("s", "a&b", true), "Set-Cookie: s=a%26b; path=/; \n");
}

TEST(CookieHeaderTest, BoundedTo8192Bytes) {
  std::string value(5000, ' ');  // 15000 bytes encoded
  for (bool session : {false, true}) {
    std::string header = X_cookie_header("n", value.c_str(), session);
    EXPECT_LE(header.size(), kCookieHeaderSize - 1);
    EXPECT_GT(header.size(), kCookieHeaderSize - 4);  // cut at a whole escape
    EXPECT_EQ(header.back(), '\n');
    size_t start = header.find('=') + 1;
    size_t end = header.find(';');
    EXPECT_EQ((end - start) % 3, 0u);
  }
}

}  // namespace
