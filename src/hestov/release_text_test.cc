#include "hestov/release_text.h"

#include <gtest/gtest.h>

#include <string>

#include "hestov/test_scratch.h"

namespace hestov {
namespace {

std::string release_of(const std::string& text) {
  FILE* in = text_stream(text);
  char out[100] = "junk";
  if (in != nullptr) {
    release_text(in, out, sizeof out);
    fclose(in);
  }
  return out;
}

TEST(ReleaseTextTest, FirstLineWithTenSpacesFromSToC) {
  EXPECT_EQ(release_of("header\n"
                       "                       Solaris 10 5/08 s10s_u5wos_10 SPARC\n"
                       "           Copyright 2008 Sun Microsystems, Inc.\n"),
            "Solaris 10 5/08 s10s_u5wos_10 SPARC");
  EXPECT_EQ(release_of("             Oracle Solaris 11.4 SPARC\r\n"), "Solaris 11.4 SPARC");
}

TEST(ReleaseTextTest, LineWithoutCKeepsTheRestWithoutItsLineEnd) {
  EXPECT_EQ(release_of("                  Solaris 10 10/09 s10x_u8wos_08a X86\r\n"),
            "Solaris 10 10/09 s10x_u8wos_08a X86");
}

TEST(ReleaseTextTest, EmptyWithoutSuchLineOrWithoutS) {
  EXPECT_EQ(release_of("Solaris 10 SPARC\n"), "");                     // only one space apart
  EXPECT_EQ(release_of("          unix 5.10\n Solaris SPARC\n"), "");  // first match has no S
  EXPECT_EQ(release_of(""), "");
}

std::string os_release_of(const std::string& text) {
  FILE* in = text_stream(text);
  char out[100] = "junk";
  if (in != nullptr) {
    os_release_name(in, out, sizeof out);
    fclose(in);
  }
  return out;
}

TEST(ReleaseTextTest, OsReleaseNames) {
  EXPECT_EQ(os_release_of("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
                          "(bookworm)\"\n"),
            "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(os_release_of("NAME=Alpine\nPRETTY_NAME=\"\"\n"), "Alpine");
  EXPECT_EQ(os_release_of("PRETTY_NAME='My \"Box\"' \nNAME=x\n"), "My \"Box\"");
  EXPECT_EQ(os_release_of("PRETTY_NAME=\"A \\\"q\\\" \\$x\"\n"), "A \"q\" $x");
  EXPECT_EQ(os_release_of("ID=debian\n"), "");
}

}  // namespace
}  // namespace hestov
