#include "omnitally/client_slot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Parses `text` laid in a slot of its own heap block, filled out with `fill`,
// so that reading past the 200 bytes trips the address sanitizer.
SlotParse parse(const std::string& text, ClientSlotFields* f, char fill = '\0') {
  auto slot = std::make_unique<char[]>(kClientSlotSize);
  std::fill_n(slot.get(), kClientSlotSize, fill);
  text.copy(slot.get(), kClientSlotSize);
  return parse_client_slot(slot.get(), f);
}

TEST(ClientSlotTest, WellFormedAndEmpty) {
  ClientSlotFields f;
  ASSERT_EQ(parse("\tweb1 10  4 70 21 8 12 16 10\n", &f), SlotParse::kOk);
  EXPECT_STREQ(f.group, "web1");
  const int32_t want[] = {10, 4, 70, 21, 8, 12, 16};
  EXPECT_TRUE(std::equal(want, want + kClientCounters, f.counters));
  EXPECT_EQ(f.check, 10);
  EXPECT_EQ(parse("a 1 2 3 4", &f), SlotParse::kEmpty);  // 9 characters
}

TEST(ClientSlotTest, GroupCutTo31) {
  ClientSlotFields f;
  ASSERT_EQ(parse(std::string(31, 'g') + " 1 2 3 4 5 6 7 1", &f), SlotParse::kOk);
  EXPECT_EQ(std::string(f.group), std::string(31, 'g'));
  ASSERT_EQ(parse(std::string(60, 'h') + " 5 2 3 4 5 6 7 5", &f), SlotParse::kOk);
  EXPECT_EQ(std::string(f.group), std::string(31, 'h'));
  EXPECT_EQ(f.counters[0], 5);  // the cut part is not taken for a number
}

TEST(ClientSlotTest, GarbageInsideTheSlot) {
  ClientSlotFields f;
  std::memset(&f, 0x5a, sizeof f);
  EXPECT_EQ(parse("grp 1 2 3 4 5 6 7", &f), SlotParse::kMalformed);  // a field missing
  EXPECT_EQ(parse("", &f, 'z'), SlotParse::kMalformed);              // one word, no NUL
  EXPECT_EQ(f.check, 0x5a5a5a5a) << "malformed slots leave out alone";

  ASSERT_EQ(parse("grp x 12abc -3 +4 ? 99999999999 -99999999999 x", &f), SlotParse::kOk);
  const int32_t want[] = {0, 12, -3, 4, 0, INT32_MAX, INT32_MIN};  // read as atoi reads
  EXPECT_TRUE(std::equal(want, want + kClientCounters, f.counters));
  // A number that runs to the slot's end, with no NUL after it, stops there.
  ASSERT_EQ(parse("g 1 2 3 4 5 6 7 ", &f, '8'), SlotParse::kOk);
  EXPECT_EQ(f.check, INT32_MAX);
}

}  // namespace
