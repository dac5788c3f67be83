// Vandrel's dates: a picture format and a date text read (SETdate mode 0,
// X_str2dt) and written back (SETdate mode 1 into a buffer the input sizes,
// X_dt2str of the seconds read), the year/month/day cuts, and the same
// through the value functions a page names (dt2str:, str2dt:, year:, month:,
// day:), whose errors are fatal and end only the run.
//
// Input: byte 0 picks today's date on the interpreter's clock and the size
// of the output buffer; then lines: the picture format, the date text, and
// the seconds (read as the page's value is, with atol).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vandrel/core/clock.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/harness.h"
#include "vandrel/values/dates.h"
#include "vandrel/values/substitution.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

// Today, as the clock of a test would set it: dates parsed start from it.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(int64_t seconds) : seconds_(seconds) {}
  ClockTime now() override { return {seconds_, 0}; }

 private:
  int64_t seconds_;
};

// Moments whose local dates differ in the ways parsing from today can show:
// the epoch, a leap day, summer time, the last second of 32-bit time, a
// year of five digits.
constexpr int64_t kTodays[] = {0, 1234567890, 1709164800, 1721995200, 2147483647, 253402300799,
                               2000000000000};

std::string next_line(std::string* rest) {
  size_t end = rest->find('\n');
  std::string line = rest->substr(0, end);
  rest->erase(0, end == std::string::npos ? rest->size() : end + 1);
  return line;
}

bool is_flag(int v) { return v == 0 || v == 1; }

void check_flags() {
  check(is_flag(Year) && is_flag(Month) && is_flag(Day) && is_flag(Hours) && is_flag(Minutes) &&
        is_flag(Seconds) && (Ok == 0 || Ok == -1));
}

void check_date(const datetime_t& d) {
  check(d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31 && d.hour <= 23 &&
        d.minute <= 59 && d.second <= 59);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz_init();
  // A zone with summer time, so the hour correction of X_str2dt is reached.
  static bool zone = [] { return setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1) == 0; }();
  (void)zone;
  FixedClock clock(kTodays[(data[0] & 7) % (sizeof kTodays / sizeof kTodays[0])]);
  size_t out_size = 1 + (data[0] >> 3);  // 1 to 32: cut texts too
  std::string rest = fuzz_text(data + 1, size - 1, 4096);
  std::string format = next_line(&rest);
  std::string text = next_line(&rest);
  std::string seconds = next_line(&rest);

  fuzz_run([&] {
    X_set_clock(&clock);

    datetime_t date;
    std::string parse_buf = text;
    SETdate(&date, format.c_str(), parse_buf.data(), parse_buf.size() + 1, 0);
    check_flags();
    check_date(date);
    char out[33];
    memset(out, 'X', sizeof out);
    SETdate(&date, format.c_str(), out, out_size, 1);
    check_flags();
    check(strnlen(out, out_size) < out_size);

    long dt = 0;
    X_str2dt(text.c_str(), format.c_str(), &dt);
    check_flags();
    char back[256];
    X_dt2str(dt, format.c_str(), back, sizeof back);
    check_flags();
    X_dt2str(std::atol(seconds.c_str()), format.c_str(), back, sizeof back);
    check_flags();
    check(strnlen(back, sizeof back) < sizeof back);

    for (int (*cut)(char*) : {date_YEAR, date_MONTH, date_DAY}) {
      std::string copy = text;
      int rc = cut(copy.data());
      check(rc == 0 || (rc == -1 && copy == text));
    }

    // The page's way: a variable holds the value, the reference names the
    // format.
    X_put_value("d", text.c_str(), 0, 0);
    X_put_value("s", seconds.c_str(), 0, 0);
    char value[512];
    for (const char* fn : {"dt2str:s:", "str2dt:d:", "year:d", "month:d", "day:d"}) {
      std::string ref = fn;
      if (ref.back() == ':') ref += format;
      X_transvalue(ref.c_str(), value, sizeof value);
      check(strnlen(value, sizeof value) < sizeof value);
    }
  });
  return 0;
}
