#include "vandrel/services/form_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vandrel/core/test_support.h"

namespace {

// A stream holding `bytes`, read from the start.
FILE* stream_of(const std::string& bytes) {
  FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

struct Line {
  std::string text;
  int end;
};

// Every line of `bytes` as getline reads it with buffer size n, to the end.
std::vector<Line> lines_of(const std::string& bytes, int n) {
  FILE* f = stream_of(bytes);
  std::vector<Line> out;
  std::vector<char> buf(n);
  for (int guard = 0; guard < 1000; ++guard) {
    int end = getline(buf.data(), n, f);
    out.push_back({buf.data(), end});
    if (end) break;
  }
  std::fclose(f);
  return out;
}

TEST(GetlineTest, LinesCrDroppedAndEndReported) {
  auto lines = lines_of("ab\r\ncd\nlast", 100);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "ab");
  EXPECT_EQ(lines[0].end, 0);
  EXPECT_EQ(lines[1].text, "cd");
  EXPECT_EQ(lines[1].end, 0);
  EXPECT_EQ(lines[2].text, "last");
  EXPECT_EQ(lines[2].end, 1);
}

TEST(GetlineTest, EndAfterFinalNewlineIsAnEmptyRead) {
  auto lines = lines_of("x\n", 100);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "x");
  EXPECT_EQ(lines[0].end, 0);
  EXPECT_EQ(lines[1].text, "");
  EXPECT_EQ(lines[1].end, 1);
}

TEST(GetlineTest, EndOfInputIsNotReadAsByte255) {
  // The original filled the buffer with (char)EOF at the end of input.
  auto lines = lines_of("abc", 10);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "abc");
  // A real 0xFF byte is data.
  lines = lines_of("a\xff" "b\n", 10);
  EXPECT_EQ(lines[0].text, "a\xff" "b");
}

TEST(GetlineTest, OnlyOneCrIsDropped) {
  // The byte after a CR takes its place unchecked: CR CR LF keeps one CR.
  auto lines = lines_of("a\r\r\nb\rc\n", 10);
  EXPECT_EQ(lines[0].text, "a\r");
  EXPECT_EQ(lines[1].text, "bc");
}

TEST(GetlineTest, ByteFourEndsALine) {
  auto lines = lines_of("ab\x04" "cd\n", 10);
  EXPECT_EQ(lines[0].text, "ab");
  EXPECT_EQ(lines[1].text, "cd");
}

TEST(GetlineTest, FullBufferLosesTheNthByte) {
  // n = 4: three bytes kept, the fourth read ends the line and is lost.
  auto lines = lines_of("abcdefgh\n", 4);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "abc");
  EXPECT_EQ(lines[1].text, "efg");
  EXPECT_EQ(lines[2].text, "");  // "d" and "h" are lost; the LF ends an empty line
}

TEST(GetlineTest, LineOfExactlyNMinusOneFits) {
  auto lines = lines_of("abc\nd\n", 4);
  EXPECT_EQ(lines[0].text, "abc");
  EXPECT_EQ(lines[1].text, "d");
}

TEST(EnctypeTest, MediaTypeDecidesWhateverItsParameters) {
  const struct {
    const char* type;
    int expected;
  } cases[] = {
      {"application/x-www-form-urlencoded", 0},
      {" Application/X-WWW-Form-URLencoded\t; charset=UTF-8", 0},
      {"application/x-www-form-urlencoded ", 0},
      {"application/x-www-form-urlencodedx", 1},
      {"multipart/form-data; boundary=application/x-www-form-urlencoded", 1},
      {"; application/x-www-form-urlencoded", 1},
      {"", 1},
  };
  for (const auto& c : cases) {
    setenv("CONTENT_TYPE", c.type, 1);
    EXPECT_EQ(CheckEnctypeMethod(), c.expected) << "[" << c.type << "]";
  }
  unsetenv("CONTENT_TYPE");
  EXPECT_EQ(CheckEnctypeMethod(), 1);
}

using WordTest = InterpreterTest;

TEST_F(WordTest, Makeword) {
  EXPECT_STREQ(makeword("a=1&b", '&'), "a=1");
  EXPECT_STREQ(makeword("abc", '&'), "abc");
  EXPECT_STREQ(makeword("&x", '&'), "");
}

TEST_F(WordTest, FmakewordStopsAtStopCountOrEnd) {
  FILE* f = stream_of("ab&cd&ef");
  int count = 8;
  EXPECT_STREQ(fmakeword(f, '&', &count), "ab");
  EXPECT_EQ(count, 5);
  EXPECT_STREQ(fmakeword(f, '&', &count), "cd");
  EXPECT_EQ(count, 2);
  EXPECT_STREQ(fmakeword(f, '&', &count), "ef");  // the count reaches 0: last byte stays
  EXPECT_EQ(count, 0);
  std::fclose(f);

  f = stream_of("abcdef");
  count = 3;
  EXPECT_STREQ(fmakeword(f, '&', &count), "abc");
  std::fclose(f);

  // End of input before the count: no stray byte for EOF.
  f = stream_of("xy");
  count = 100;
  char* word = fmakeword(f, '&', &count);
  EXPECT_EQ(std::string(word), "xy");
  EXPECT_TRUE(std::feof(f));
  std::fclose(f);
}

TEST_F(WordTest, FmakewordCutsAt50000AndWarnsLater) {
  std::string big(50010, 'v');
  FILE* f = stream_of(big + "&z");
  int count = static_cast<int>(big.size()) + 2;
  testing::internal::CaptureStdout();
  char* word = fmakeword(f, '&', &count);
  std::fflush(stdout);
  // Words are read before the CGI header: nothing may be written yet.
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(std::strlen(word), 50000u);
  EXPECT_EQ(count, 1);  // the bytes after the cut were read and the "&"
  EXPECT_STREQ(fmakeword(f, '&', &count), "z");
  std::fclose(f);

  testing::internal::CaptureStdout();
  X_form_warnings(stdout);
  X_form_warnings(stdout);  // each warning is written once
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "<hr> WARNING: Value value size is over 50000!!! [cut]... <hr>");
}

class GetParserTest : public WordTest {
 protected:
  void SetUp() override {
    WordTest::SetUp();
    setenv("REQUEST_METHOD", "GET", 1);
    unsetenv("QUERY_STRING");
    unsetenv("PATH_INFO");
    table_.assign(kMaxEntries, entry{nullptr, nullptr});
  }
  void TearDown() override {
    unsetenv("REQUEST_METHOD");
    unsetenv("QUERY_STRING");
    unsetenv("PATH_INFO");
    WordTest::TearDown();
  }
  int count() const {
    int n = 0;
    while (table_[n].name) ++n;
    return n;
  }
  std::vector<entry> table_;
};

TEST_F(GetParserTest, PairsWithoutValueAndEmpty) {
  setenv("QUERY_STRING", "a=1&b=&c&na%3Dme=v&x=a+b%2Bc", 1);
  ASSERT_EQ(GET_parser(table_.data(), "X_PAGE"), 0);
  ASSERT_EQ(count(), 5);
  EXPECT_STREQ(table_[1].val, "");
  EXPECT_EQ(table_[2].val, nullptr);
  EXPECT_STREQ(table_[3].name, "na");
  EXPECT_STREQ(table_[3].val, "me=v");
  EXPECT_STREQ(table_[4].val, "a b+c");
}

TEST_F(GetParserTest, AtMost9999Pairs) {
  std::string query;
  for (int i = 0; i < 10001; ++i) query += "k" + std::to_string(i) + "=v&";
  setenv("QUERY_STRING", query.c_str(), 1);
  ASSERT_EQ(GET_parser(table_.data(), "X_PAGE"), 0);
  EXPECT_EQ(count(), 9999);
  EXPECT_STREQ(table_[9998].name, "k9998");
  EXPECT_EQ(table_[9999].val, nullptr);
}

TEST_F(GetParserTest, PathInfoAloneAndGetPath) {
  setenv("PATH_INFO", "/p.page&a=1", 1);
  ASSERT_EQ(GET_parser(table_.data(), "X_PAGE"), 0);
  ASSERT_EQ(count(), 2);
  EXPECT_STREQ(table_[0].name, "X_PAGE");
  EXPECT_STREQ(table_[0].val, "/p.page");
  EXPECT_STREQ(table_[1].name, "a");
  ASSERT_EQ(GET_path(table_.data(), "X_PAGE"), 0);
  EXPECT_STREQ(table_[0].val, "/p.page&a=1");  // the whole text, undecoded
}

TEST_F(GetParserTest, WrongMethod) {
  setenv("REQUEST_METHOD", "POST", 1);
  EXPECT_EQ(GET_parser(table_.data(), "X_PAGE"), -1);
  EXPECT_STREQ(POST_errmsg, "This script should be referenced with a METHOD GET.\n");
}

}  // namespace
