#include "vandrel/values/dates.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

namespace {

// Every test starts in UTC and leaves TZ as it found it.
class DatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_tz_ = tz != nullptr ? std::make_unique<std::string>(tz) : nullptr;
    UseZone("UTC");
  }
  void TearDown() override {
    saved_tz_ ? setenv("TZ", saved_tz_->c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  static void UseZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  static int ThisYear() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm.tm_year + 1900;
  }
  static std::string Format(const char* format, int expected_rc = 0) {
    datetime_t d{2009, 1, 1, 8, 5, 3};
    char buf[64];
    EXPECT_EQ(SETdate(&d, format, buf, sizeof buf, 1), expected_rc) << format;
    return buf;
  }
  // Parses from a heap block of the text's exact size, so that the sanitizer
  // catches any read past its end; shows the result as Y-M-D h:m:s.
  static std::string Parse(const char* text, const char* format, int expected_rc = 0) {
    size_t size = std::strlen(text) + 1;
    auto buf = std::make_unique<char[]>(size);
    std::memcpy(buf.get(), text, size);
    datetime_t d{1999, 2, 3, 4, 5, 6};
    EXPECT_EQ(SETdate(&d, format, buf.get(), size, 0), expected_rc) << text << " / " << format;
    return std::to_string(d.year) + "-" + std::to_string(d.month) + "-" + std::to_string(d.day) +
           " " + std::to_string(d.hour) + ":" + std::to_string(d.minute) + ":" +
           std::to_string(d.second);
  }
  static int ParsedYear(const char* text, const char* format, int expected_rc = 0) {
    return std::stoi(Parse(text, format, expected_rc));
  }

 private:
  std::unique_ptr<std::string> saved_tz_;
};

TEST_F(DatesTest, FormatsItemsSeparatorsAndUnknownCharacters) {
  EXPECT_EQ(Format("YYYY-MM-DD HH:MI:SS"), "2009-01-01 08:05:03");
  EXPECT_EQ(Year + Month + Day + Hours + Minutes + Seconds, 6);
  EXPECT_EQ(Format("yyyy-mm-dd hh:mi:ss"), "2009-01-01 08:05:03");
  EXPECT_EQ(Format("DD/MM/YY"), "01/01/09");
  EXPECT_EQ(Format("JJ.MM.AAAA"), "01.01.2009");
  EXPECT_EQ(Format("jj aaa yyy a y"), "01 009 009 9 9");
  EXPECT_EQ(Format("\t !#%+-./:"), "\t !#%+-./:");
  EXPECT_EQ(Format("HH:MI"), "08:05");
  EXPECT_EQ(Year + Month + Day + Seconds, 0);  // only fields that occur raise flags
  EXPECT_EQ(Format("YYYY Q", -1), "2009 Q");
  EXPECT_EQ(Format("HH:Mi", -1), "08:Mi");  // mixed case is no item
  EXPECT_EQ(Format(""), "");                // and the error does not stick
}

TEST_F(DatesTest, OutputStaysInItsBufferAndACutIsAnError) {
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  datetime_t d{2009, 1, 1, 8, 5, 3};
  EXPECT_EQ(SETdate(&d, "YYYY-MM-DD", buf, 5, 1), -1);
  EXPECT_STREQ(buf, "2009");
  EXPECT_EQ(buf[5], 'x');
  EXPECT_EQ(SETdate(&d, "YYYY-MM-DD", buf, 11, 1), 0);  // exactly enough
  EXPECT_STREQ(buf, "2009-01-01");
  EXPECT_EQ(SETdate(&d, "SS", buf + 12, 0, 1), -1);
  EXPECT_EQ(buf[12], 'x');
  EXPECT_EQ(X_dt2str(1230797103L, "YYYY-MM-DD HH:MI:SS", buf, 8), -1);
  EXPECT_STREQ(buf, "2009-01");
}

TEST_F(DatesTest, ParsesFieldsUpToTheirWidth) {
  EXPECT_EQ(Parse("2009-1-5", "YYYY-MM-DD"), "2009-1-5 0:0:0");
  // A separator stands for any one byte, an unknown character too (but fails).
  EXPECT_EQ(Parse("2009x12y31", "YYYY-MM-DD"), "2009-12-31 0:0:0");
  EXPECT_EQ(Parse("2009x07y09", "YYYYQMMQDD", -1), "2009-7-9 0:0:0");
  EXPECT_EQ(Parse("05012009235958", "DDMMYYYYHHMISS"), "2009-1-5 23:59:58");
}

TEST_F(DatesTest, BadFieldsStoreTheirReplacementAndTheRestStillLinesUp) {
  EXPECT_EQ(Parse("2009-13-01", "YYYY-MM-DD", -1), "2009-1-1 0:0:0");
  EXPECT_EQ(Parse("2009-12-00", "YYYY-MM-DD", -1), "2009-12-1 0:0:0");
  EXPECT_EQ(Parse("2009-12-32", "YYYY-MM-DD", -1), "2009-12-1 0:0:0");
  const std::string past_midnight = Parse("24:60:61", "HH:MI:SS", -1);
  EXPECT_EQ(past_midnight.substr(past_midnight.find(' ')), " 0:0:0");
  EXPECT_EQ(Parse("2009-10", "YYYY-MM-DD HH", -1), "2009-10-1 0:0:0");  // input ends
  EXPECT_EQ(Parse("2009--05", "YYYY-MM-DD", -1), "2009-1-5 0:0:0");
}

TEST_F(DatesTest, ShortYearItemsReplaceTheCurrentYearFromTheirPosition) {
  const int now = ThisYear();
  EXPECT_EQ(ParsedYear("09-01-05", "YY-MM-DD"), now / 100 * 100 + 9);
  EXPECT_EQ(ParsedYear("009", "YYY"), now / 1000 * 1000 + 9);
  EXPECT_EQ(ParsedYear("0912", "YYMM"), now / 100 * 100 + 9);
  EXPECT_EQ(ParsedYear("7", "a"), now / 10 * 10 + 7);
  // The text ends after the digits read: one digit under YY drops a place.
  EXPECT_EQ(ParsedYear("9", "YY"), now / 100 * 10 + 9);
  EXPECT_EQ(ParsedYear("209", "YYYY"), 209);
  EXPECT_EQ(ParsedYear("1987 09", "YYYY YY"), 1909);  // the year parsed so far
  EXPECT_EQ(ParsedYear("x", "YYYY", -1), now);
}

TEST_F(DatesTest, ParsingStartsFromTodayAtMidnight) {
  long midnight = -1, one_pm = -1;
  EXPECT_EQ(X_str2dt("", "", &midnight), 0);
  EXPECT_EQ(midnight % 86400, 0);  // in UTC
  EXPECT_GE(std::time(nullptr) - midnight, 0);
  EXPECT_LE(std::time(nullptr) - midnight, 86400);
  EXPECT_EQ(X_str2dt("13", "HH", &one_pm), 0);
  EXPECT_EQ(one_pm - midnight, 13 * 3600);
}

TEST_F(DatesTest, EpochConversions) {
  long dt = 0;
  char buf[32];
  EXPECT_EQ(X_str2dt("2009-01-01 08:05:03", "YYYY-MM-DD HH:MI:SS", &dt), 0);
  EXPECT_EQ(dt, 1230797103L);
  EXPECT_EQ(X_dt2str(0, "YYYY-MM-DD HH:MI:SS", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "1970-01-01 00:00:00");
  EXPECT_EQ(X_dt2str(LONG_MAX, "YYYY", buf, sizeof buf), -1);  // refused, not wrapped
  EXPECT_STREQ(buf, "");

  // Central Europe with summer time, from a rule that needs no zone files.
  UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(X_str2dt("2009-01-01 08:05:03", "YYYY-MM-DD HH:MI:SS", &dt), 0);
  EXPECT_EQ(dt, 1230793503L);  // 07:05:03 UTC
  EXPECT_EQ(X_str2dt("2009-07-01 12:00:00", "YYYY-MM-DD HH:MI:SS", &dt), 0);
  EXPECT_EQ(dt, 1246442400L);  // 10:00:00 UTC
  EXPECT_EQ(X_dt2str(dt, "YYYY-MM-DD HH:MI:SS", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "2009-07-01 12:00:00");
}

TEST_F(DatesTest, IsoDatePartsAreCutInPlace) {
  char year[] = "2009-01-05 10:11:12", month[] = "2009-01-05", day[] = "2009-01-05";
  EXPECT_EQ(date_YEAR(year) + date_MONTH(month) + date_DAY(day), 0);
  EXPECT_STREQ(year, "2009");
  EXPECT_STREQ(month, "01");
  EXPECT_STREQ(day, "05");
  char text[] = "2009-01-5";  // one character short
  EXPECT_EQ(date_YEAR(text) + date_MONTH(text) + date_DAY(text), -3);
  EXPECT_STREQ(text, "2009-01-5");
}

}  // namespace
