#include "omnitally/omnitally.h"

#include <gtest/gtest.h>
#include <sys/shm.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "omnitally/test_segment.h"

namespace {

TEST(ShmKeyTest, SourcesAndConversion) {
  unsetenv("SHMKEY");
  EXPECT_STREQ(shm_key_text(nullptr), "505");
  setenv("SHMKEY", "777", 1);
  EXPECT_STREQ(shm_key_text(nullptr), "777");
  EXPECT_STREQ(shm_key_text("12"), "12");
  unsetenv("SHMKEY");
  EXPECT_EQ(shm_key("  -14xyz"), -14);
  EXPECT_EQ(shm_key("4294967801"), 505);  // the low 32 bits, as atoi gives them here
}

TEST(AttachTest, CreatesZeroFilledSharedSegment) {
  TestSegmentKey key;
  void* a = nullptr;
  void* b = nullptr;
  ASSERT_EQ(shm_attach(key.text(), sizeof(TableSTAT), &a), AttachStatus::kOk);
  EXPECT_EQ(std::string(static_cast<char*>(a), sizeof(TableSTAT)),
            std::string(sizeof(TableSTAT), '\0'));
  static_cast<TableSTAT*>(a)->sess[3].ops = 77;
  ASSERT_EQ(shm_attach(key.text(), sizeof(TableSTAT), &b), AttachStatus::kOk);
  EXPECT_EQ(static_cast<TableSTAT*>(b)->sess[3].ops, 77);
  shmid_ds info;
  ASSERT_EQ(shmctl(key.id(), IPC_STAT, &info), 0);
  EXPECT_EQ(info.shm_perm.mode & 0777, 0777u);
  shmdt(a);
  shmdt(b);
}

TEST(AttachTest, RefusesSmallSegmentAndPrivateKey) {
  TestSegmentKey key;
  void* base = nullptr;
  ASSERT_EQ(shm_attach(key.text(), 400, &base), AttachStatus::kOk);
  shmdt(base);
  // A reader must never get less than it is going to copy.
  EXPECT_EQ(shm_attach(key.text(), 4000, &base), AttachStatus::kCannotGet);
  EXPECT_EQ(shm_attach("junk", 400, &base), AttachStatus::kCannotGet);  // key 0
  EXPECT_EXIT(
      {
        dup2(2, 1);  // the message goes to standard output
        shm_attach_or_exit(key.text(), 4000);
      },
      testing::ExitedWithCode(254), "### Cannot get SHM\\.\\.\\.");
}

TEST(SessionTest, TakeCountAndWrap) {
  SessionSTAT s;
  std::memset(&s, 'x', sizeof s);  // left behind by someone else
  char group[kGroupSize];
  session_group("a-group-name-that-is-longer-than-31-characters", group);
  session_take(&s, group);
  EXPECT_EQ(std::string(s.group, sizeof s.group),
            std::string("a-group-name-that-is-longer-tha") + '\0');
  EXPECT_EQ(s.alive + s.ops + s.reads + s.writes, 1);

  s.alive = 0;  // the reporter saw it idle
  session_count(&s, false, group);
  session_count(&s, true, group);
  EXPECT_EQ(s.alive, 1);
  EXPECT_EQ(s.ops, 2);
  EXPECT_EQ(s.reads, 1);
  EXPECT_EQ(s.writes, 1);

  std::memset(&s, 0, sizeof s);  // a reset: counting goes on from 0
  s.ops = INT32_MAX;
  session_count(&s, false, group);
  EXPECT_EQ(s.ops, INT32_MIN);
  EXPECT_EQ(s.reads, 1);
  EXPECT_STREQ(s.group, group);
  EXPECT_EQ(session_slot_id(1024), 1024);
  EXPECT_EQ(session_slot_id(2000), 1);
}

TEST(PrintableGroupTest, BoundedAndSanitised) {
  char out[kGroupSize];
  char field[32];
  std::memset(field, 'A', sizeof field);  // no NUL at all
  printable_group(field, sizeof field, out);
  EXPECT_EQ(std::string(out), std::string(31, 'A'));
  printable_group("ok\x1b[2Jx\x7f", 32, out);
  EXPECT_STREQ(out, "ok?[2Jx?");
}

}  // namespace
