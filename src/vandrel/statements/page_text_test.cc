// Reading and cleaning page text: X_fgets, comments, control bytes,
// continuation lines and the entity conversion of the output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "vandrel/core/line_buffer.h"
#include "vandrel/core/test_support.h"
#include "vandrel/statements/line_cleaner.h"
#include "vandrel/core/output.h"
#include "vandrel/statements/page_reader.h"

namespace {

// A page held in memory, as the page cache holds it.
class PageText {
 public:
  explicit PageText(std::string text) : text_(std::move(text)) {
    file_.text = text_.data();
    file_.size = static_cast<long>(text_.size());
    file_.offset = 0;
  }
  X_FILE* file() { return &file_; }

  // Reads and cleans the next line; returns {is_command, line}.
  std::pair<bool, std::string> next() {
    LineBuffer line;
    if (X_fgets(line.data(), kLineSize, &file_) == 0) return {false, "<EOF>"};
    bool command = X_clean_line(&file_, line.data());
    return {command, line.data()};
  }

 private:
  std::string text_;
  X_FILE file_{};
};

using PageReaderTest = InterpreterTest;
using LineCleanerTest = InterpreterTest;
using OutputTest = InterpreterTest;

TEST_F(PageReaderTest, LinesAreReadWithTheirNewlineAndLongLinesAreSplit) {
  std::string longline(9000, 'a');
  PageText page("one\ntwo" + std::string("\n") + longline + "\n");
  char buf[kLineSize];
  EXPECT_EQ(4, X_fgets(buf, kLineSize, page.file()));
  EXPECT_STREQ("one\n", buf);
  EXPECT_EQ(4, X_fgets(buf, kLineSize, page.file()));
  EXPECT_EQ(kLineSize - 1, X_fgets(buf, kLineSize, page.file()));
  EXPECT_EQ(9000 - (kLineSize - 1) + 1, X_fgets(buf, kLineSize, page.file()));
  EXPECT_EQ(0, X_fgets(buf, kLineSize, page.file()));
}

TEST_F(PageReaderTest, NulBytesReadAsBlanks) {
  PageText page(std::string("a\0b\n", 4));
  char buf[16];
  EXPECT_EQ(4, X_fgets(buf, sizeof buf, page.file()));
  EXPECT_STREQ("a b\n", buf);
}

TEST_F(LineCleanerTest, CommentsAreRemovedWithinAndAcrossLines) {
  PageText page(
      "a<@-- x --@>b<@--y--@>c\n"
      "before <@-- opens\nmiddle <@-- ignored\nclosing --@> after\n"
      "next\n"
      "<@--@> still open\nclosed --@>!\n");
  EXPECT_EQ("abc\n", page.next().second);
  EXPECT_EQ("before  after\n", page.next().second);
  EXPECT_EQ("next\n", page.next().second);
  EXPECT_EQ("!\n", page.next().second);
}

TEST_F(LineCleanerTest, UnclosedCommentEndsTheLineAtItsStart) {
  PageText page("text <@-- never closed\nmore\n");
  EXPECT_EQ("text ", page.next().second);
  EXPECT_EQ("<EOF>", page.next().second);
}

TEST_F(LineCleanerTest, ControlBytesBecomeBlanksAndCommandsAreCut) {
  PageText page("a\tb\r\n   <@include>\tx.page  \r\nplain <@not> a command\n");
  EXPECT_EQ(std::make_pair(false, std::string("a b \n")), page.next());
  EXPECT_EQ(std::make_pair(true, std::string("<@include> x.page   ")), page.next());
  EXPECT_EQ(std::make_pair(false, std::string("plain <@not> a command\n")), page.next());
}

TEST_F(LineCleanerTest, ContinuationLinesJoinTheCommand) {
  PageText page("<@set> a \\\nb \\\n c\nafter\n<@set> x\\\n");
  EXPECT_EQ(std::make_pair(true, std::string("<@set> a b   c")), page.next());
  EXPECT_EQ("after\n", page.next().second);
  EXPECT_EQ(std::make_pair(true, std::string("<@set> x")), page.next());
}

TEST_F(LineCleanerTest, ALineReadAgainIsCleanedAsItHoldsNow) {
  // Two pages whose lines start at the same offsets, each read twice.
  PageText one("  <@set> a 1\n<@set> b \\\n 2\ntext<@-- c --@>\n");
  PageText two("  <@end> x y\nplain <@set> text\n\n");
  for (int pass = 0; pass < 2; ++pass) {
    one.file()->offset = 0;
    two.file()->offset = 0;
    EXPECT_EQ(std::make_pair(true, std::string("<@set> a 1")), one.next());
    EXPECT_EQ(std::make_pair(true, std::string("<@end> x y")), two.next());
    EXPECT_EQ(std::make_pair(true, std::string("<@set> b  2")), one.next());
    EXPECT_EQ(std::make_pair(false, std::string("plain <@set> text\n")), two.next());
    EXPECT_EQ("text\n", one.next().second);
  }
  // A buffer changed after its line was read is cleaned as what it holds.
  one.file()->offset = 0;
  two.file()->offset = 0;
  char buf[kLineSize];
  ASSERT_EQ(13, X_fgets(buf, kLineSize, one.file()));
  std::snprintf(buf, sizeof buf, "  <@if> 1\n");
  EXPECT_TRUE(X_clean_line(one.file(), buf));
  EXPECT_STREQ("<@if> 1", buf);
  ASSERT_EQ(13, X_fgets(buf, kLineSize, two.file()));
  std::snprintf(buf, sizeof buf, "  <@set> a 1\n");
  EXPECT_TRUE(X_clean_line(two.file(), buf));
  EXPECT_STREQ("<@set> a 1", buf);
  std::snprintf(buf, sizeof buf, "<@set> a 1\t");
  EXPECT_TRUE(X_clean_line(one.file(), buf));
  EXPECT_STREQ("<@set> a 1 ", buf);
}

TEST_F(OutputTest, EntityTableCoversLatinLettersOnly) {
  EXPECT_STREQ("&eacute;", HTML_string(0xE9));
  EXPECT_STREQ("&ordmas;", HTML_string(248));
  EXPECT_STREQ("&questi;", HTML_string(191));
  EXPECT_STREQ("&Ntilde;", HTML_string(209));
  EXPECT_STREQ("<", HTML_string('<'));
  EXPECT_STREQ("&", HTML_string('&'));
  EXPECT_STREQ("\xF7", HTML_string(0xF7));  // division sign: no entity
  int converted = 0;
  for (int b = 0; b < 256; ++b)
    if (std::strlen(HTML_string(static_cast<unsigned char>(b))) > 1) ++converted;
  EXPECT_EQ(52, converted);
}

TEST_F(OutputTest, WriteConvertsOnlyWhileConversionIsOn) {
  FILE* sink = std::tmpfile();
  ASSERT_NE(nullptr, sink);
  FILE* previous = X_redirect(sink);
  const char text[] = "caf\xE9 <b>\xE9\xE9";
  X_write(text, sizeof text - 1);
  HTML = 0;
  X_write(text, sizeof text - 1);
  HTML = 1;
  X_putchar(0xE7);
  X_redirect(previous);
  std::rewind(sink);
  char got[128] = {};
  size_t n = std::fread(got, 1, sizeof got - 1, sink);
  std::fclose(sink);
  EXPECT_EQ(std::string("caf&eacute; <b>&eacute;&eacute;caf\xE9 <b>\xE9\xE9&ccedil;"),
            std::string(got, n));
}

}  // namespace
