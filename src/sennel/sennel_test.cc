#include "sennel/sennel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr char kHeader[] =
    "\n ID  GROUP                     NAME     OpTot   ReadTot  WriteTot     Op/s   Read/s  "
    "Write/s\n  0  none                      none         0         0         0        0        "
    "0        0\n";

// The live segment and the reporter's baseline, zero-filled.
struct Tables {
  std::unique_ptr<TableSTAT> live = std::make_unique<TableSTAT>();
  std::unique_ptr<TableSTAT> old = std::make_unique<TableSTAT>();

  void set(int id, int32_t ops, int32_t reads, int32_t writes) {
    SessionSTAT& s = live->sess[id - 1];
    std::strcpy(s.group, "web");
    s.alive = 1;
    s.ops = ops;
    s.reads = reads;
    s.writes = writes;
  }

  // One interval over a copy of the segment, as the reporter takes it.
  std::string interval(int seconds) {
    auto fresh = std::make_unique<TableSTAT>(*live);
    char* buf = nullptr;
    size_t len = 0;
    FILE* out = open_memstream(&buf, &len);
    sennel_interval(live.get(), old.get(), *fresh, seconds, out);
    std::fclose(out);
    std::string text(buf, len);
    std::free(buf);
    return text.substr(0, sizeof kHeader - 1) == kHeader ? text.substr(sizeof kHeader - 1)
                                                         : "bad header: " + text;
  }
};

TEST(SennelTest, RatesIdleAndRestart) {
  Tables t;
  t.set(5, 10, 6, 4);
  t.interval(2);
  t.set(5, 31, 20, 11);
  EXPECT_EQ(t.interval(2),
            "  5  web                    web-005        31        20        11     10.5      7.0"
            "      3.5\n");
  EXPECT_EQ(t.live->sess[4].alive, 1);
  // Idle: shown once with zero rates and marked in the segment, then hidden.
  EXPECT_NE(t.interval(2).find("      0.0      0.0      0.0\n"), std::string::npos);
  EXPECT_EQ(t.live->sess[4].alive, 0);
  EXPECT_EQ(t.interval(2), "");
  // Taken afresh (ops went down): zero rates once, then true ones.
  t.set(5, 3, 1, 2);
  EXPECT_NE(t.interval(1).find("         3         1         2      0.0      0.0      0.0\n"),
            std::string::npos);
  t.set(5, 9, 4, 5);
  EXPECT_NE(t.interval(1).find("      6.0      3.0      3.0\n"), std::string::npos);
}

TEST(SennelTest, GarbageSlotStaysInItsFieldAndDiffersIn64Bits) {
  Tables t;
  SessionSTAT& s = t.live->sess[0];
  std::memset(s.group, 'Z', sizeof s.group);  // no NUL at all
  s.group[3] = '\033';
  s.alive = -5;
  s.ops = INT32_MAX;
  s.reads = INT32_MIN;
  s.writes = -1;
  t.old->sess[0].ops = INT32_MIN;
  t.old->sess[0].reads = INT32_MAX;
  std::string group = "ZZZ?" + std::string(27, 'Z');
  EXPECT_EQ(t.interval(1), "  1  " + group + "  " + group +
                               "-001  2147483647  -2147483648        -1  4294967296.0  "
                               "-4294967296.0     -1.0\n");
}

}  // namespace
