#include "pemto/setgrp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pemto/counters/alloc_fault.h"
#include "pemto/counters/sim_testing.h"
#include "pemto/strtoset.h"

namespace {

class SetgrpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    captured_messages().clear();
    strtoset_errfn = capture_message;
    sim_ = open_sim("UltraSPARC III");
    cpc_ = sim_.cpc;
  }
  void TearDown() override {
    for (cpc_setgrp_t* g : groups_) cpc_setgrp_free(g);
    cpc_close(cpc_);
    strtoset_errfn = nullptr;
  }

  cpc_setgrp_t* group(std::vector<const char*> specs, int* errors = nullptr) {
    cpc_setgrp_t* g = cpc_setgrp_new(cpc_, 0);
    EXPECT_NE(g, nullptr);
    int local = 0;
    for (const char* s : specs) cpc_setgrp_newset(g, s, errors ? errors : &local);
    groups_.push_back(g);
    return g;
  }

  cpc_setgrp_t* adopt(cpc_setgrp_t* g) {
    groups_.push_back(g);
    return g;
  }

  // Names of the sets nextset walks through.
  std::vector<std::string> rotation(cpc_setgrp_t* g, int steps) {
    std::vector<std::string> names;
    for (int i = 0; i < steps; i++) {
      cpc_set_t* set = cpc_setgrp_nextset(g);
      EXPECT_EQ(set, cpc_setgrp_getset(g));
      names.push_back(set ? cpc_setgrp_getname(g) : "(none)");
    }
    return names;
  }

  // Samples the current set of g for the given seconds into scratch and adds
  // scratch into data1, as a sampling thread does.
  void sample_current(cpc_setgrp_t* g, uint64_t seconds) {
    cpc_buf_t **data1, **data2, **scratch;
    ASSERT_GE(cpc_setgrp_getbufs(g, &data1, &data2, &scratch), 0);
    cpc_set_t* set = cpc_setgrp_getset(g);
    ASSERT_EQ(cpc_bind_cpu(cpc_, 0, set, 0), 0);
    *sim_.now += seconds * 1000000000u;
    ASSERT_EQ(cpc_set_sample(cpc_, set, *scratch), 0);
    cpc_buf_add(cpc_, *data1, *data1, *scratch);
    ASSERT_EQ(cpc_unbind(cpc_, set), 0);
  }

  uint64_t data1_value(cpc_setgrp_t* g, int index) {
    cpc_buf_t **data1, **data2, **scratch;
    EXPECT_GE(cpc_setgrp_getbufs(g, &data1, &data2, &scratch), 0);
    uint64_t v = 0;
    EXPECT_EQ(cpc_buf_get(cpc_, *data1, index, &v), 0);
    return v;
  }

  SimHandle sim_;
  cpc_t* cpc_ = nullptr;
  std::vector<cpc_setgrp_t*> groups_;
};

TEST_F(SetgrpTest, NewsetKeepsAcceptedSetsAndCountsRejected) {
  int errors = 0;
  cpc_setgrp_t* g = group({"Instr_cnt,Cycle_cnt", "pic1=DC_rd", "pic1=Cycle_cnt"}, &errors);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(captured_messages(), "pic1 cannot measure event 'DC_rd' on this cpu\n");
  ASSERT_EQ(cpc_setgrp_numsets(g), 2);
  EXPECT_EQ(g->current, 0);
  EXPECT_STREQ(cpc_setgrp_getname(g), "Instr_cnt,Cycle_cnt");
  EXPECT_STREQ(cpc_setgrp_gethdr(g), "     pic0      pic1 ");
  EXPECT_EQ(g->sets[0].nreqs, 2);
  EXPECT_EQ(g->sets[0].picnums[1], 1);
  EXPECT_EQ(g->sets[1].nreqs, 1);
  EXPECT_EQ(g->sets[1].picnums[0], 1);
  EXPECT_STREQ(g->sets[1].hdr, "     pic1 ");

  cpc_setgrp_t* empty = group({"pic0=Bogus"}, &errors);
  EXPECT_EQ(errors, 2);
  EXPECT_EQ(cpc_setgrp_numsets(empty), 0);
  EXPECT_EQ(empty->current, -1);
}

TEST_F(SetgrpTest, SystemOnlySets) {
  cpc_setgrp_t* user = group({"Instr_cnt,Cycle_cnt", "Instr_cnt,sys"});
  EXPECT_EQ(cpc_setgrp_has_sysonly(user), 0);
  EXPECT_EQ(cpc_setgrp_sysonly(user), 0);

  cpc_setgrp_t* mixed = group({"Instr_cnt", "Instr_cnt,Cycle_cnt,nouser,sys"});
  EXPECT_EQ(cpc_setgrp_has_sysonly(mixed), 1);
  EXPECT_EQ(cpc_setgrp_sysonly(mixed), 0);
  cpc_setgrp_nextset(mixed);
  EXPECT_EQ(cpc_setgrp_sysonly(mixed), 1);
}

TEST_F(SetgrpTest, RotationWrapsInListOrder) {
  cpc_setgrp_t* g = group({"Instr_cnt,Cycle_cnt", "DC_rd,DC_rd_miss", "DC_wr,DC_wr_miss"});
  EXPECT_EQ(rotation(g, 4), (std::vector<std::string>{"DC_rd,DC_rd_miss", "DC_wr,DC_wr_miss",
                                                      "Instr_cnt,Cycle_cnt", "DC_rd,DC_rd_miss"}));
  cpc_setgrp_reset(g);
  EXPECT_STREQ(cpc_setgrp_getname(g), "Instr_cnt,Cycle_cnt");

  cpc_setgrp_t* one = group({"Instr_cnt,Cycle_cnt"});
  cpc_set_t* only = cpc_setgrp_getset(one);
  for (int i = 0; i < 3; i++) EXPECT_EQ(cpc_setgrp_nextset(one), only);

  cpc_setgrp_t* empty = group({});
  cpc_setgrp_reset(empty);
  EXPECT_EQ(empty->current, -1);
  EXPECT_EQ(cpc_setgrp_nextset(empty), nullptr);
  EXPECT_EQ(cpc_setgrp_getset(empty), nullptr);
  EXPECT_EQ(cpc_setgrp_getname(empty), nullptr);
  EXPECT_EQ(cpc_setgrp_sysonly(empty), 0);
}

TEST_F(SetgrpTest, GetbufsOnlyForACurrentSet) {
  cpc_setgrp_t* g = group({"Instr_cnt,Cycle_cnt", "pic1=Cycle_cnt"});
  cpc_buf_t **data1, **data2, **scratch;
  ASSERT_EQ(cpc_setgrp_getbufs(g, &data1, &data2, &scratch), 2);
  EXPECT_EQ(*data1, g->sets[0].data1);
  EXPECT_EQ(*data2, g->sets[0].data2);
  EXPECT_EQ(*scratch, g->sets[0].scratch);
  cpc_setgrp_nextset(g);
  EXPECT_EQ(cpc_setgrp_getbufs(g, &data1, &data2, &scratch), 1);

  // Deleting the last set leaves the current index past the end.
  cpc_setgrp_delset(g);
  ASSERT_EQ(g->current, 1);
  cpc_buf_t* somewhere = nullptr;
  cpc_buf_t** a = &somewhere;
  cpc_buf_t** b = &somewhere;
  cpc_buf_t** c = &somewhere;
  EXPECT_EQ(cpc_setgrp_getbufs(g, &a, &b, &c), -1);
  EXPECT_EQ(a, &somewhere);
  EXPECT_EQ(b, &somewhere);
  EXPECT_EQ(c, &somewhere);
  EXPECT_EQ(cpc_setgrp_getset(g), nullptr);
  EXPECT_NE(cpc_setgrp_nextset(g), nullptr);  // wraps to the first set
  EXPECT_STREQ(cpc_setgrp_getname(g), "Instr_cnt,Cycle_cnt");
}

TEST_F(SetgrpTest, DelsetRemovesTheCurrentSet) {
  cpc_setgrp_t* g = group({"Instr_cnt,Cycle_cnt", "DC_rd,DC_rd_miss", "DC_wr,DC_wr_miss"});
  cpc_setgrp_nextset(g);
  cpc_setgrp_delset(g);  // the middle one
  ASSERT_EQ(cpc_setgrp_numsets(g), 2);
  EXPECT_STREQ(cpc_setgrp_getname(g), "DC_wr,DC_wr_miss");
  EXPECT_STREQ(g->sets[0].name, "Instr_cnt,Cycle_cnt");

  // A current index past the end is brought back to the last set first.
  g->current = 7;
  cpc_setgrp_delset(g);
  ASSERT_EQ(cpc_setgrp_numsets(g), 1);
  EXPECT_STREQ(g->sets[0].name, "Instr_cnt,Cycle_cnt");

  cpc_setgrp_delset(g);
  EXPECT_EQ(cpc_setgrp_numsets(g), 0);
  EXPECT_EQ(cpc_setgrp_getset(g), nullptr);
  EXPECT_EQ(cpc_setgrp_nextset(g), nullptr);  // an emptied group has no set to rotate to
  cpc_setgrp_delset(g);
  EXPECT_EQ(cpc_setgrp_numsets(g), 0);
}

TEST_F(SetgrpTest, CloneIsIndependentAndCarriesCounts) {
  cpc_setgrp_t* master = group({"Instr_cnt,Cycle_cnt", "Instr_cnt,nouser,sys"});
  sample_current(master, 1);
  uint64_t counted = data1_value(master, 0);
  ASSERT_GT(counted, 0u);

  cpc_setgrp_t* clone = adopt(cpc_setgrp_clone(master));
  ASSERT_EQ(cpc_setgrp_numsets(clone), 2);
  EXPECT_EQ(clone->current, master->current);
  EXPECT_EQ(cpc_setgrp_has_sysonly(clone), 1);
  EXPECT_NE(cpc_setgrp_getset(clone), cpc_setgrp_getset(master));
  EXPECT_STREQ(cpc_setgrp_getname(clone), cpc_setgrp_getname(master));
  EXPECT_NE(cpc_setgrp_getname(clone), cpc_setgrp_getname(master));
  EXPECT_EQ(cpc_setgrp_gethdr(clone), nullptr);
  EXPECT_EQ(clone->sets[0].picnums, nullptr);
  EXPECT_EQ(requests_of(cpc_, cpc_setgrp_getset(clone)).at(1).event, "Cycle_cnt");
  EXPECT_EQ(data1_value(clone, 0), counted);

  // Each side moves and counts on its own.
  cpc_setgrp_nextset(clone);
  EXPECT_EQ(master->current, 0);
  EXPECT_EQ(cpc_setgrp_sysonly(clone), 1);
  cpc_setgrp_reset(clone);
  sample_current(clone, 1);
  EXPECT_EQ(data1_value(master, 0), counted);
  EXPECT_EQ(data1_value(clone, 0), 2 * counted);
}

TEST_F(SetgrpTest, AccumAddsMatchingSetsInOrder) {
  const char* a = "Instr_cnt,Cycle_cnt";
  cpc_setgrp_t* total = group({a, "Instr_cnt", a});
  cpc_setgrp_t* part = group({a, a, a});
  // One second on every set of part.
  for (int i = 0; i < 3; i++) {
    sample_current(part, 1);
    cpc_setgrp_nextset(part);
  }
  cpc_setgrp_nextset(total);
  cpc_setgrp_accum(total, part);
  EXPECT_EQ(total->current, 0);
  EXPECT_EQ(part->current, 0);
  uint64_t one = data1_value(part, 0);
  EXPECT_EQ(data1_value(total, 0), one);
  total->current = 2;  // after the first mismatch nothing is added
  EXPECT_EQ(data1_value(total, 1), 0u);

  cpc_setgrp_accum(total, part);
  total->current = 0;
  EXPECT_EQ(data1_value(total, 0), 2 * one);

  cpc_setgrp_t* shorter = group({a});
  cpc_setgrp_accum(shorter, part);
  EXPECT_EQ(data1_value(shorter, 0), 0u);
}

TEST_F(SetgrpTest, NewFailsCleanlyWithoutMemory) {
  pemto_fail_allocation_after(1);
  EXPECT_EQ(cpc_setgrp_new(cpc_, 0), nullptr);
  pemto_fail_allocation_after(0);
}

TEST_F(SetgrpTest, RunningOutOfMemoryEndsWithFailure) {
  const char* spec = "Instr_cnt,Cycle_cnt";
  cpc_setgrp_t* g = group({spec});
  strtoset_errfn = print_message;

  // Count the guarded allocations of each step.
  auto uses = [](auto step) {
    pemto_fail_allocation_after(1000000);
    step();
    int used = 1000000 - pemto_allocations_left();
    pemto_fail_allocation_after(0);
    return used;
  };
  int parse_uses = uses([&] { cpc_set_destroy(cpc_, cpc_strtoset(cpc_, spec, 0)); });
  int newset_uses = uses([&] { cpc_setgrp_newset(g, spec, nullptr); }) - parse_uses;
  int clone_uses = uses([&] { adopt(cpc_setgrp_clone(g)); });
  ASSERT_EQ(newset_uses, 7);  // array, picnums, header, name, three buffers

  // The allocation right after the parse grows the set array.
  EXPECT_EXIT(
      {
        pemto_fail_allocation_after(parse_uses + 1);
        cpc_setgrp_newset(g, spec, nullptr);
      },
      ::testing::ExitedWithCode(1), "^cpc_setgrp: no re memory available\n$");
  for (int n = parse_uses + 2; n <= parse_uses + newset_uses; n++) {
    EXPECT_EXIT(
        {
          pemto_fail_allocation_after(n);
          cpc_setgrp_newset(g, spec, nullptr);
        },
        ::testing::ExitedWithCode(1), "^cpc_setgrp: no memory available\n$")
        << "allocation " << n;
  }
  for (int n : {1, 2, 3, clone_uses - 3, clone_uses}) {
    EXPECT_EXIT(
        {
          pemto_fail_allocation_after(n);
          cpc_setgrp_clone(g);
        },
        ::testing::ExitedWithCode(1), "no memory available")
        << "allocation " << n;
  }
}

}  // namespace
