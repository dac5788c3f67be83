#include "vandrel/values/scramble.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Crypt(const char* in) {
  char out[128];
  X_crypt(in, out, sizeof out);
  return out;
}

// "ab" from key position 0; the key repeats the input (61 62 61 62 ...) and
// the bytes are taken from the last to the first:
//   c=62 j=0: a=key[0]=61 k=key[0]=61 b=key[1]=62 -> key[0]=c3; (61*0)^61^62 = 03
//   c=61 j=1: a=key[1]=62 k=key[0]=c3 b=key[2]=61 -> key[1]=c3; (c3*1)^62^61 = c0
// Again from position 2, with a fresh key:
//   c=62 j=2: a=61 k=61; (61*2=c2)^61^62 = c1
//   c=61 j=3: a=62 k=61; (61*3=123)^62^61 = 120, mod 256 = 20
TEST(ScrambleTest, KeyPositionCarriesOverBetweenCalls) {
  X_crypt_reset();
  EXPECT_EQ(Crypt("ab"), "03c0");
  EXPECT_EQ(Crypt(""), "");  // leaves the position alone
  EXPECT_EQ(Crypt("ab"), "c120");
  X_crypt_reset();
  EXPECT_EQ(Crypt("ab"), "03c0");
  // Unsigned bytes, and a key sum of 0 stored as 1:
  //   c=80 j=0: a=80 k=80 b=80 -> sum 100 -> key[0]=01; (80*0)^80^80 = 00
  //   c=80 j=1: a=80 k=key[0]=01;                       (01*1)^80^80 = 01
  X_crypt_reset();
  EXPECT_EQ(Crypt("\x80\x80"), "0001");
  // From position 31 the next key byte is key[0] and the position wraps:
  //   c=62 j=31: a=62 k=61; (61*31=bbf)^62^62 -> bf;  c=61 j=0: 0^61^61 = 00
  X_crypt_reset();
  EXPECT_EQ(Crypt("abcdefghijklmnopqrstuvwxyz01234").size(), 62u);
  EXPECT_EQ(Crypt("ab"), "bf00");
  EXPECT_EQ(Crypt(std::string(40, 'z').c_str()).size(), 80u);  // longer than the key
}

TEST(ScrambleTest, SmallOutputIsCutAtWholeBytesButTheKeyStillAdvances) {
  X_crypt_reset();
  const std::string full = Crypt("abc"), next = Crypt("abc"), third = Crypt("abc");
  ASSERT_NE(next, third);
  X_crypt_reset();
  char out[8];
  std::memset(out, 'x', sizeof out);
  X_crypt("abc", out, 4);  // room for one byte pair
  EXPECT_EQ(std::string(out), full.substr(0, 2));
  EXPECT_EQ(out[4], 'x');
  X_crypt("abc", out + 6, 0);
  EXPECT_EQ(out[6], 'x');
  EXPECT_EQ(Crypt("abc"), third);
}

}  // namespace
