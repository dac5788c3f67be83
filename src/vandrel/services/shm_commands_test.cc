#include "vandrel/services/shm_commands.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "vandrel/statements/assign_command.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/test_support.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/values/substitution.h"
#include "vandrel/statements/variable_commands.h"

namespace {

// Keys of this test process only, so that parallel runs never meet.
key_t test_key(int n) {
  return static_cast<key_t>(1460000000 + (getpid() % 4000000) * 8 + n);
}

void remove_segment(key_t key) {
  int id = shmget(key, 0, 0);
  if (id != -1) shmctl(id, IPC_RMID, nullptr);
}

bool segment_exists(key_t key) {
  return shmget(key, 0, 0) != -1;
}

// Runs one command line through its handler.
int run(int (*handler)(X_FILE*, char*, int&, int), const std::string& text) {
  std::vector<char> line(text.begin(), text.end());
  line.push_back('\0');
  int compile = 1;
  return handler(nullptr, line.data(), compile, 0);
}

int attach(const std::string& name, key_t key, int size, int offset, long length) {
  return run(X_shmat, "<@shmat> " + name + " " + std::to_string(key) + " " + std::to_string(size) +
                          " " + std::to_string(offset) + " " + std::to_string(length));
}

std::string value(const char* name) {
  const char* v = X_get_value(name);
  return v ? v : "<none>";
}

std::string shown(const char* ref) {
  char out[70000];
  X_transvalue(ref, out, sizeof out);
  return out;
}

int entries_in_use() {
  int n = 0;
  for (const X_SHM& e : x_SHM) n += e.shm != nullptr;
  return n;
}

// The address of `name`'s window.
char* window_of(const char* name) {
  return X_get_user(name)->var.value;
}

// Each test starts from an empty store and no attachments, and releases what
// it made, its segments included.
class ShmTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    for (int n = 0; n < 4; ++n) remove_segment(test_key(n));
  }
  void TearDown() override {
    for (X_SHM& e : x_SHM)
      if (e.shm) run(X_shmdt, std::string("<@shmdt> ") + e.name);
    for (int n = 0; n < 4; ++n) remove_segment(test_key(n));
    InterpreterTest::TearDown();
  }
};

TEST_F(ShmTest, WindowOutsideItsSegmentIsRefusedAndNothingIsMapped) {
  struct {
    int size, offset;
    long length;
  } bad[] = {
      {100, -1, 10},     // negative offset
      {100, 91, 10},     // one byte beyond the end
      {100, 101, 0},     // empty window past the end
      {4463, 0, 70000},  // the length's low 16 bits, 4464, do not fit
      {100, 0, -1},      // low 16 bits of -1: 65535
  };
  for (const auto& b : bad) {
    X_ERRMSG[0] = '\0';
    attach("w", test_key(0), b.size, b.offset, b.length);
    EXPECT_EQ(value("status"), "-1") << b.size << " " << b.offset << " " << b.length;
    EXPECT_NE(std::strstr(X_ERRMSG, "window outside the segment"), nullptr) << X_ERRMSG;
    EXPECT_FALSE(segment_exists(test_key(0)));
    EXPECT_EQ(entries_in_use(), 0);
    EXPECT_EQ(X_get_user("w"), nullptr);
  }
  // Windows that end exactly at the segment's end are fine.
  attach("w", test_key(0), 4464, 0, 70000);
  EXPECT_EQ(value("status"), "0");
  EXPECT_EQ(X_window_length(X_get_user("w")), 4464u);
  attach("e", test_key(0), 4464, 4464, 0);
  EXPECT_EQ(value("status"), "0");
  EXPECT_EQ(value("e"), "");
}

TEST_F(ShmTest, RefusedRebindKeepsTheExistingBinding) {
  attach("w", test_key(0), 64, 0, 8);
  ASSERT_EQ(value("status"), "0");
  X_put_value("w", "kept", 0, 0);
  attach("w", test_key(0), 64, 60, 8);
  EXPECT_EQ(value("status"), "-1");
  EXPECT_EQ(value("w"), "kept");
  EXPECT_EQ(entries_in_use(), 1);
}

TEST_F(ShmTest, ReadersStopAtTheEndOfAWindowWithoutNul) {
  attach("n", test_key(0), 64, 0, 4);
  ASSERT_EQ(value("status"), "0");
  char* window = window_of("n");
  std::memset(window, '7', 64);  // digits run on past the window
  std::memcpy(window, "1234", 4);

  EXPECT_EQ(value("n"), "1234");
  EXPECT_EQ(shown("n"), "1234");
  EXPECT_EQ(run(X_let, "<@n>+= 1"), 0);
  EXPECT_EQ(std::string(window, 8), "12357777");
  std::memcpy(window, "abab", 4);
  run(X_replace, "<@replace> n b c");
  EXPECT_EQ(std::string(window, 8), "acac7777");
  run(X_let, "<@copy>$= n");
  EXPECT_EQ(value("copy"), "acac");
}

TEST_F(ShmTest, WindowsLongerThan32767BytesAreReadAndWrittenWhole) {
  attach("big", test_key(0), 70000, 0, 65535);
  ASSERT_EQ(value("status"), "0");
  char* window = window_of("big");
  std::memset(window, 'x', 70000);  // no NUL at the window's end either
  EXPECT_EQ(value("big").size(), 65535u);
  EXPECT_EQ(shown("big").size(), 65535u);
  X_put_value("big", "short", 0, 0);
  EXPECT_EQ(std::memcmp(window, "short\0", 6), 0);
  EXPECT_EQ(window[65534], '\0');  // the rest of the window is cleared
  EXPECT_EQ(window[65535], 'x');   // and nothing beyond it
}

TEST_F(ShmTest, RebindingDetachesTheOldSegmentAndTheTableHoldsSixteen) {
  attach("a", test_key(0), 64, 0, 8);
  X_put_value("a", "first", 0, 0);
  attach("a", test_key(1), 64, 8, 8);
  EXPECT_EQ(value("status"), "0");
  EXPECT_EQ(entries_in_use(), 1);
  struct shmid_ds ds;
  ASSERT_EQ(shmctl(shmget(test_key(0), 0, 0), IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.shm_nattch, 0u);
  EXPECT_EQ(value("a"), "");

  for (int i = 1; i < kMaxShm; ++i) attach("v" + std::to_string(i), test_key(2), 64, i, 1);
  EXPECT_EQ(value("status"), "0");
  EXPECT_EQ(entries_in_use(), kMaxShm);
  attach("late", test_key(2), 64, 0, 1);
  EXPECT_EQ(value("status"), "-1");
  EXPECT_STREQ(X_ERRMSG, "## Reached MAX SHM list value");
  EXPECT_FALSE(segment_exists(test_key(3)));
  X_put_value("v3", "z", 0, 0);  // the sixteen stay in force
  EXPECT_EQ(value("v2"), "");
  EXPECT_EQ(value("v3"), "z");

  run(X_shmdt, "<@shmdt> a st");
  EXPECT_EQ(value("st"), "0");
  EXPECT_EQ(X_get_user("a"), nullptr);
  EXPECT_EQ(entries_in_use(), kMaxShm - 1);
}

TEST_F(ShmTest, NamesThatCannotBeBoundAreRefusedBeforeAttaching) {
  X_put_value("ro", "fixed", kReadOnly, 0);
  attach("ro", test_key(0), 64, 0, 8);
  EXPECT_EQ(value("status"), "-1");
  EXPECT_EQ(value("ro"), "fixed");
  attach(std::string(32, 'n'), test_key(0), 64, 0, 8);
  EXPECT_EQ(value("status"), "-1");
  EXPECT_FALSE(segment_exists(test_key(0)));
  attach(std::string(31, 'n'), test_key(0), 64, 0, 8);
  EXPECT_EQ(value("status"), "0");
}

}  // namespace
