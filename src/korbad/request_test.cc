#include "korbad/request.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string sanitised(std::string text) {
  sanitise_request(text.data());
  return text;
}

ParsedRequest parsed(std::string& text) {
  sanitise_request(text.data());
  ParsedRequest out;
  parse_request(text.c_str(), &out);
  return out;
}

TEST(CheckChar, AllowsOnlyWordCharactersAndFewPunctuation) {
  std::string allowed;
  for (int c = 0; c < 256; ++c) {
    if (check_char(static_cast<unsigned char>(c))) allowed += static_cast<char>(c);
  }
  EXPECT_EQ(allowed, "*,-./0123456789:ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz");
}

TEST(Sanitise, ShellSyntaxLineEndsQuotesAndHighBytesBecomeSpaces) {
  EXPECT_EQ(sanitised("vmstat 5;rm x"), "vmstat 5 rm x");
  EXPECT_EQ(sanitised("a|b&c$(d)`e`>f<g\"h'i\\j"), "a b c  d  e  f g h i j");
  EXPECT_EQ(sanitised("x\r\n\t\v\f~#=!?{}[]%^@+"), "x" + std::string(18, ' '));
  EXPECT_EQ(sanitised("caf\xc3\xa9 \x80\xff"), "caf     ");
  EXPECT_EQ(sanitised("/usr/bin/iostat -x 5,2:1*"), "/usr/bin/iostat -x 5,2:1*");
}

TEST(ParseRequest, SplitsWordAndKeepsSeparatorInArguments) {
  std::string text = "vmstat 5;rm x\n";
  ParsedRequest r = parsed(text);
  EXPECT_STREQ(r.word, "vmstat");
  EXPECT_STREQ(r.args, " 5 rm x ");

  std::string lone = "  uptime";
  r = parsed(lone);
  EXPECT_STREQ(r.word, "uptime");
  EXPECT_STREQ(r.args, "");
}

TEST(ParseRequest, DropsDirectoryPartOfWord) {
  std::string text = "/any/dir/vmstat 5";
  ParsedRequest r = parsed(text);
  EXPECT_STREQ(r.word, "vmstat");
  EXPECT_STREQ(r.args, " 5");

  std::string slashes = "//// x";
  r = parsed(slashes);
  EXPECT_STREQ(r.word, "");
  EXPECT_STREQ(r.args, " x");
}

TEST(ParseRequest, NothingButForbiddenCharactersGivesEmptyWord) {
  std::string text = " ;|&$\n";
  ParsedRequest r = parsed(text);
  EXPECT_STREQ(r.word, "");
  EXPECT_STREQ(r.args, "");
}

TEST(ParseRequest, LongWordIsCutAndItsRestBecomesArguments) {
  std::string text = std::string(98, 'a') + "bc d";
  ParsedRequest r = parsed(text);
  EXPECT_EQ(std::string(r.word), std::string(98, 'a'));
  EXPECT_STREQ(r.args, "bc d");

  // The cut happens before the directory part is dropped.
  std::string path = std::string(91, 'p') + "/vmstat123456";
  r = parsed(path);
  EXPECT_STREQ(r.word, "vmstat");
  EXPECT_STREQ(r.args, "123456");
}

}  // namespace
