#include "orlmet/orlmet.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kHeader[] =
    "\n_______Group-ID__    Tot  Rds  Wrs    SEL1    SEL2     DEL     INS     UPD C/N\n";

// Tot Rds Wrs SEL1 SEL2 DEL INS UPD and C/N (or the changed count) of a line.
std::string line(const char* group, const char* id, std::vector<int> v) {
  char text[160];
  std::snprintf(text, sizeof text, "%12s-%-4s %6d %4d %4d %7d %7d %7d %7d %7d %3d\n", group, id,
                v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
  return text;
}

// A slot table in private memory of exactly its size, as the reporter's
// snapshot is, and the reporter's two row tables.
class Reporter {
 public:
  explicit Reporter(int max_id, int interval = 1, int selector = 0)
      : slots_(max_id * kClientSlotSize), old_(max_id), fresh_(max_id) {
    opt_ = {max_id, interval, selector};
  }
  void write(int id, const std::string& text, char fill = '\0') {
    char* slot = &slots_[(id - 1) * kClientSlotSize];
    std::memset(slot, fill, kClientSlotSize);
    text.copy(slot, kClientSlotSize);
  }
  void start() { start_tables(slots_.data(), opt_.max_id, old_.data(), fresh_.data()); }
  std::string interval() {
    parse_snapshot(slots_.data(), opt_.max_id, fresh_.data());
    char* buf = nullptr;
    size_t len = 0;
    FILE* out = open_memstream(&buf, &len);
    orlmet_interval(old_.data(), fresh_.data(), opt_, out);
    std::fclose(out);
    std::string text(buf, len);
    std::free(buf);
    return text.starts_with(kHeader) ? text.substr(sizeof kHeader - 1) : "bad header: " + text;
  }

 private:
  std::vector<char> slots_;
  std::vector<ClientRow> old_, fresh_;
  IntervalOptions opt_;
};

std::string totals(std::vector<int> sum, std::vector<int> tps) {
  return line("ALL", "sum ", sum) + line("ALL", "tps ", tps);
}

TEST(OrlmetTest, ClientLineAndTotals) {
  Reporter r(3, 2);
  r.write(2, "shop 10 5 100 40 10 20 30 10");
  r.write(3, "cart 10 5 100 40 10 20 30 10");
  r.start();
  r.write(2, "shop 12 9 107 41 18 28 38 12");  // 7 units over 2 reads: 3
  r.write(3, "cart 10 9 0 0 0 0 0 10");        // writes alone: not yet shown
  EXPECT_EQ(r.interval(), line("shop", "0002", {6, 2, 4, 3, 0, 2, 2, 2, 0}) +
                              totals({6, 2, 4, 3, 0, 2, 2, 2, 1}, {3, 1, 2, 3, 0, 2, 2, 2, 1}));
  r.write(3, "cart 11 13 0 0 50 40 30 11");  // its writes come with the next read
  EXPECT_EQ(r.interval(), line("cart", "0003", {9, 1, 8, 0, 0, 5, 2, 0, 0}) +
                              totals({9, 1, 8, 0, 0, 5, 2, 0, 1}, {4, 0, 4, 0, 0, 5, 2, 0, 1}));
  EXPECT_EQ(r.interval(), totals({0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(OrlmetTest, DropsAndNegativeAveragesGiveZeros) {
  Reporter r(1);
  r.write(1, "c 100 100 900 900 900 900 900 100");
  r.start();
  r.write(1, "c 3 2 9 9 9 9 9 3");  // the client restarted: a new baseline
  EXPECT_TRUE(r.interval().starts_with(line("c", "0001", {0, 0, 0, 0, 0, 0, 0, 0, 0})));
  r.write(1, "c 5 4 1 29 1 19 9 5");  // SEL1 and DEL went down, SEL2 and INS up
  EXPECT_TRUE(r.interval().starts_with(line("c", "0001", {4, 2, 2, 0, 0, 0, 0, 0, 0})));
}

TEST(OrlmetTest, TornAndEmptySlots) {
  Reporter r(3);
  r.write(1, "s 10 0 0 0 0 0 0 9");  // torn in the first snapshot
  r.write(2, "v 50 0 0 0 0 0 0 50");
  r.write(3, "t 10 0 0 0 0 0 0 10");
  r.start();
  r.write(1, "s 11 0 0 0 0 0 0 11");
  r.write(2, "");            // emptied: the last values stand, no counter drop
  r.write(3, "t 11 0 0 0");  // fields missing: counters kept, counted as torn
  EXPECT_EQ(r.interval(), line("s", "0001", {1, 1, 0, 0, 0, 0, 0, 0, 0}) +
                              totals({1, 1, 0, 0, 0, 0, 0, 0, 1}, {1, 1, 0, 0, 0, 0, 0, 0, 1}));
  r.write(2, "v 52 0 0 0 0 0 0 52");
  r.write(3, "t 12 0 0 0 0 0 0 10");  // eighth value unlike the first
  EXPECT_EQ(r.interval(), line("v", "0002", {2, 2, 0, 0, 0, 0, 0, 0, 0}) +
                              line("t", "0003", {2, 2, 0, 0, 0, 0, 0, 0, 2}) +
                              totals({4, 4, 0, 0, 0, 0, 0, 0, 2}, {4, 4, 0, 0, 0, 0, 0, 0, 2}));
}

TEST(OrlmetTest, GarbageStaysInsideTheSnapshot) {
  Reporter r(3);
  r.start();
  r.write(1, std::string(31, 'L') + " 1 1 1 1 1 1 1 1");
  r.write(2, "x\033]0;evil\007 3x 12abc -7 99999999999 ? 1 1 ?");
  r.write(3, "", '7');  // the table's last slot, without any NUL
  EXPECT_EQ(r.interval(), line(std::string(31, 'L').c_str(), "0001", {2, 1, 1, 1, 1, 1, 1, 1, 0}) +
                              line("x?]0;evil?", "0002", {15, 3, 12, 0, 0, 0, 0, 0, 1}) +
                              totals({17, 4, 13, 0, 0, 0, 0, 0, 2}, {17, 4, 13, 0, 0, 0, 0, 0, 2}));
}

TEST(OrlmetTest, SelectorThinsClientLinesOnly) {
  for (int selector : {0, 1, 2, 3}) {
    Reporter r(6, 1, selector);
    r.start();
    for (int id : {1, 2, 3, 5, 6}) r.write(id, "g 2 0 10 0 0 0 0 2");
    std::string text = r.interval();
    std::string shown;
    for (int id = 1; id <= 6; ++id) {
      if (text.find("-000" + std::to_string(id)) != std::string::npos) shown += '0' + id;
    }
    // The 1st, (N+1)th, (2N+1)th... of the changed clients 1 2 3 5 6.
    EXPECT_EQ(shown, selector == 2 ? "136" : selector == 3 ? "15" : "12356") << selector;
    EXPECT_TRUE(
        text.ends_with(totals({10, 10, 0, 5, 0, 0, 0, 0, 5}, {10, 10, 0, 5, 0, 0, 0, 0, 5})))
        << text;
  }
}

}  // namespace
