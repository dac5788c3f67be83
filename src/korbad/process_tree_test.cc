#include "korbad/process_tree.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Feeds text to gather_pids through a pipe, as a lister would.
std::vector<pid_t> gather(const std::string& text, ListerKind kind, pid_t self, pid_t lister,
                          int max = kPidsPerPass) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  EXPECT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fds[1]);
  std::vector<pid_t> pids(static_cast<size_t>(max));
  int n = gather_pids(fds[0], kind, self, lister, pids.data(), max);
  close(fds[0]);
  pids.resize(static_cast<size_t>(n));
  return pids;
}

TEST(GatherPids, DescendantListSkipsNonsenseSelfAndLister) {
  std::string text = "100\n  101 sh\n0\n1\n-5\nabc\n\n50\n77\n102\n9999999999999\n103";
  EXPECT_EQ(gather(text, ListerKind::kDescendants, 50, 77),
            std::vector<pid_t>({100, 101, 102, 103}));
}

TEST(GatherPids, PtreeOutputStartsAfterOwnLine) {
  std::string text =
      "1     /sbin/init\n"
      "  40  /usr/sbin/sshd\n"
      "    50  Korbad -p 5000\n"
      "      60  sh -c vmstat 5\n"
      "        61  vmstat 5\n"
      "      70  ptree 50\n";
  EXPECT_EQ(gather(text, ListerKind::kPtree, 50, 70), std::vector<pid_t>({60, 61}));
  // Without its own line nothing is taken: all it saw may be strangers.
  EXPECT_EQ(gather(text, ListerKind::kPtree, 55, 70), std::vector<pid_t>());
}

TEST(GatherPids, TailOfLongLineIsNotAProcessId) {
  std::string text = "200 " + std::string(395, 'x') + " 300 more\n201\n";
  EXPECT_EQ(gather(text, ListerKind::kDescendants, 50, 77), std::vector<pid_t>({200, 201}));
}

TEST(GatherPids, StopsAtOnePassWorth) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += std::to_string(1000 + i) + "\n";
  std::vector<pid_t> pids = gather(text, ListerKind::kDescendants, 50, 77);
  ASSERT_EQ(pids.size(), 256u);
  EXPECT_EQ(pids.front(), 1000);
  EXPECT_EQ(pids.back(), 1255);
}

TEST(FdLineReader, SplitsLinesAndKeepsLastUnterminatedOne) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string text = "a\n\nbc";
  ASSERT_EQ(write(fds[1], text.data(), text.size()), 5);
  close(fds[1]);
  FdLineReader reader(fds[0]);
  char line[kListerLineMax + 1];
  size_t len;
  std::vector<std::string> lines;
  while (reader.next(line, &len)) lines.emplace_back(line, len);
  close(fds[0]);
  EXPECT_EQ(lines, std::vector<std::string>({"a", "", "bc"}));
}

}  // namespace
