#include "vandrel/values/dates.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "vandrel/core/clock.h"
#include "vandrel/core/trace.h"

int Year;
int Month;
int Day;
int Hours;
int Minutes;
int Seconds;
int Ok;

namespace {

enum class Field { kSecond, kMinute, kHour, kDay, kMonth, kYear };

// What a field item reads and writes. The year has no one-byte member and
// no range: its items work on the year's text.
struct FieldInfo {
  int* flag;
  uint8_t datetime_t::*member;
  int low;
  int high;
  uint8_t replacement;  // stored when the text holds no valid value
};

const FieldInfo kFields[] = {
    {&Seconds, &datetime_t::second, 0, 59, 0}, {&Minutes, &datetime_t::minute, 0, 59, 0},
    {&Hours, &datetime_t::hour, 0, 23, 0},     {&Day, &datetime_t::day, 1, 31, 1},
    {&Month, &datetime_t::month, 1, 12, 1},    {&Year, nullptr, 0, 0, 0},
};

const FieldInfo& info(Field field) {
  return kFields[static_cast<int>(field)];
}

struct Item {
  const char* spelling;
  Field field;
};

// Tried in this order at every format position, so the longer year items win
// over the shorter ones and "MI" (minutes) over "MM" (month).
constexpr Item kItems[] = {
    {"SS", Field::kSecond}, {"ss", Field::kSecond}, {"MI", Field::kMinute}, {"mi", Field::kMinute},
    {"HH", Field::kHour},   {"hh", Field::kHour},   {"DD", Field::kDay},    {"dd", Field::kDay},
    {"JJ", Field::kDay},    {"jj", Field::kDay},    {"MM", Field::kMonth},  {"mm", Field::kMonth},
    {"YYYY", Field::kYear}, {"yyyy", Field::kYear}, {"AAAA", Field::kYear}, {"aaaa", Field::kYear},
    {"YYY", Field::kYear},  {"yyy", Field::kYear},  {"AAA", Field::kYear},  {"aaa", Field::kYear},
    {"YY", Field::kYear},   {"yy", Field::kYear},   {"AA", Field::kYear},   {"aa", Field::kYear},
    {"Y", Field::kYear},    {"y", Field::kYear},    {"A", Field::kYear},    {"a", Field::kYear},
};

constexpr char kSeparators[] = "\t !#%+-./:";

bool is_separator(char c) {
  return c != '\0' && std::strchr(kSeparators, c) != nullptr;
}

const Item* match_item(const char* format, size_t* width) {
  for (const Item& item : kItems) {
    size_t n = std::strlen(item.spelling);
    if (std::strncmp(format, item.spelling, n) == 0) {
      *width = n;
      return &item;
    }
  }
  return nullptr;
}

void reset_flags() {
  Year = Month = Day = Hours = Minutes = Seconds = Ok = 0;
}

// The year as at least four digits; a uint16_t needs at most five.
void year_text(uint16_t year, char (&text)[8]) {
  std::snprintf(text, sizeof text, "%04d", static_cast<int>(year));
}

// Number of leading decimal digits of `in`, at most `width`.
size_t leading_digits(const char* in, size_t width) {
  size_t n = 0;
  while (n < width && in[n] >= '0' && in[n] <= '9') ++n;
  return n;
}

// Bounded, always terminated output that remembers whether it had to cut.
class Writer {
 public:
  Writer(char* out, size_t size) : out_(out), size_(out != nullptr ? size : 0) {}
  ~Writer() {
    if (size_ > 0) out_[len_] = '\0';
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void put(char c) {
    if (len_ + 1 < size_) {
      out_[len_++] = c;
    } else {
      cut_ = true;
    }
  }
  void put(const char* s) {
    while (*s != '\0') put(*s++);
  }
  bool cut() const { return cut_; }

 private:
  char* out_;
  size_t size_;
  size_t len_ = 0;
  bool cut_ = false;
};

void write_field(const datetime_t& date, Field field, size_t width, Writer& out) {
  if (field == Field::kYear) {
    char text[8];
    year_text(date.year, text);
    size_t len = std::strlen(text);
    // The full item prints every digit; the short ones print the last ones.
    out.put(width >= 4 ? text : text + (len - width));
    return;
  }
  char text[8];
  std::snprintf(text, sizeof text, "%02d", static_cast<int>(date.*info(field).member));
  out.put(text);
}

// Reads one field at `in`; returns the number of input bytes taken.
size_t parse_field(datetime_t* date, Field field, size_t width, const char* in) {
  if (field == Field::kYear) {
    // The digits overwrite the current year's text from the item's own
    // position on, and the text ends after them: under YY, "09" read in 2024
    // gives 2009, and a lone "9" gives 209.
    size_t n = leading_digits(in, width);
    if (n == 0) {
      Ok = -1;
      return 0;
    }
    char text[8];
    year_text(date->year, text);
    size_t start = 4 - width;
    std::memcpy(text + start, in, n);
    text[start + n] = '\0';
    int year = 0;
    for (const char* p = text; *p != '\0'; ++p) year = year * 10 + (*p - '0');
    date->year = static_cast<uint16_t>(year);
    return n;
  }
  size_t n = leading_digits(in, 2);
  int value = 0;
  for (size_t i = 0; i < n; ++i) value = value * 10 + (in[i] - '0');
  const FieldInfo& f = info(field);
  if (n == 0 || value < f.low || value > f.high) {
    Ok = -1;
    date->*f.member = f.replacement;
  } else {
    date->*f.member = static_cast<uint8_t>(value);
  }
  return n;
}

void start_of_today(datetime_t* date) {
  std::time_t now = static_cast<std::time_t>(X_now().seconds);
  std::tm tm{};
  if (localtime_r(&now, &tm) == nullptr) {
    *date = datetime_t{1970, 1, 1, 0, 0, 0};
    return;
  }
  *date = datetime_t{static_cast<uint16_t>(tm.tm_year + 1900),
                     static_cast<uint8_t>(tm.tm_mon + 1),
                     static_cast<uint8_t>(tm.tm_mday),
                     0,
                     0,
                     0};
}

int parse_date(datetime_t* date, const char* format, const char* text) {
  start_of_today(date);
  reset_flags();
  if (format == nullptr) return Ok;
  const char* in = text != nullptr ? text : "";
  const char* f = format;
  while (*f != '\0') {
    size_t width = 0;
    if (const Item* item = match_item(f, &width)) {
      f += width;
      *info(item->field).flag = 1;
      in += parse_field(date, item->field, width, in);
      continue;
    }
    // Separators and unknown characters alike stand for one input byte.
    if (!is_separator(*f)) Ok = -1;
    ++f;
    if (*in != '\0') ++in;
  }
  return Ok;
}

int format_date(const datetime_t& date, const char* format, char* out, size_t out_size) {
  reset_flags();
  Writer w(out, out_size);
  if (format == nullptr) return Ok;
  const char* f = format;
  while (*f != '\0') {
    size_t width = 0;
    if (const Item* item = match_item(f, &width)) {
      f += width;
      *info(item->field).flag = 1;
      write_field(date, item->field, width, w);
      continue;
    }
    if (!is_separator(*f)) Ok = -1;
    w.put(*f++);
  }
  if (w.cut()) Ok = -1;
  return Ok;
}

}  // namespace

int SETdate(datetime_t* date, const char* format, char* datestr, size_t datestr_size, int mode) {
  if (date == nullptr || (mode != 0 && mode != 1)) {
    reset_flags();
    Ok = -1;
    if (mode == 1 && datestr != nullptr && datestr_size > 0) datestr[0] = '\0';
    return Ok;
  }
  if (mode == 0) return parse_date(date, format, datestr);
  return format_date(*date, format, datestr, datestr_size);
}

int X_dt2str(long dt, const char* format, char* datestr, size_t datestr_size) {
  std::time_t t = static_cast<std::time_t>(dt);
  std::tm tm{};
  // The year's range is checked on tm_year itself: for seconds near the
  // largest date the system has, tm_year + 1900 is past INT_MAX.
  if (localtime_r(&t, &tm) == nullptr || tm.tm_year < -1900 || tm.tm_year > 65535 - 1900) {
    reset_flags();
    Ok = -1;
    if (datestr != nullptr && datestr_size > 0) datestr[0] = '\0';
    return Ok;
  }
  datetime_t date{static_cast<uint16_t>(tm.tm_year + 1900), static_cast<uint8_t>(tm.tm_mon + 1),
                  static_cast<uint8_t>(tm.tm_mday),         static_cast<uint8_t>(tm.tm_hour),
                  static_cast<uint8_t>(tm.tm_min),          static_cast<uint8_t>(tm.tm_sec)};
  return format_date(date, format, datestr, datestr_size);
}

int X_str2dt(const char* datestr, const char* format, long* dt) {
  datetime_t date{};
  int rc = parse_date(&date, format, datestr);
  std::tm tm{};
  tm.tm_year = date.year - 1900;
  tm.tm_mon = date.month - 1;
  tm.tm_mday = date.day;
  tm.tm_hour = date.hour;
  tm.tm_min = date.minute;
  tm.tm_sec = date.second;
  tm.tm_isdst = 0;
  std::time_t t = std::mktime(&tm);
  // Declared as standard time, a summer date comes out an hour late; the
  // local hour of the result then differs from the one parsed.
  std::tm back{};
  if (localtime_r(&t, &back) != nullptr && back.tm_hour != date.hour) t -= 3600;
  if (dt != nullptr) *dt = static_cast<long>(t);
  return rc;
}

namespace {

// Keeps `len` bytes of `date` starting at `from`.
int keep_part(char* date, size_t from, size_t len) {
  if (date == nullptr || strnlen(date, 10) < 10) return -1;
  std::memmove(date, date + from, len);
  date[len] = '\0';
  return 0;
}

}  // namespace

int date_YEAR(char* date) {
  X_trace("date_YEAR: %s", date != nullptr ? date : "");
  return keep_part(date, 0, 4);
}

int date_MONTH(char* date) {
  X_trace("date_MONTH: %s", date != nullptr ? date : "");
  return keep_part(date, 5, 2);
}

int date_DAY(char* date) {
  X_trace("date_DAY: %s", date != nullptr ? date : "");
  return keep_part(date, 8, 2);
}

char* X_today(X_heap* hp) {
  std::time_t now = static_cast<std::time_t>(X_now().seconds);
  std::tm local;
  if (localtime_r(&now, &local) == nullptr) return nullptr;
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return X_heap_strdup(hp, text);
}
