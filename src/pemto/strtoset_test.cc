#include "pemto/strtoset.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "pemto/counters/alloc_fault.h"
#include "pemto/counters/sim_testing.h"

namespace {

using Attrs = std::vector<std::pair<std::string, uint64_t>>;

class StrtosetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    captured_messages().clear();
    strtoset_errfn = capture_message;
  }
  void TearDown() override {
    strtoset_errfn = nullptr;
    for (SimHandle& h : handles_) cpc_close(h.cpc);
  }

  cpc_t* open(const std::string& name) {
    handles_.push_back(open_sim(name));
    cpc_seterrhndlr(handles_.back().cpc, capture_message);
    return handles_.back().cpc;
  }

  // The requests of spec, which must parse.
  std::vector<RequestView> parse(cpc_t* cpc, const char* spec, int smt = 0) {
    cpc_set_t* set = cpc_strtoset(cpc, spec, smt);
    EXPECT_NE(set, nullptr) << spec << ": " << captured_messages();
    if (!set) return {};
    std::vector<RequestView> reqs = requests_of(cpc, set);
    cpc_set_destroy(cpc, set);
    return reqs;
  }

  // The messages of spec, which must be refused.
  std::string refuse(cpc_t* cpc, const char* spec, int smt = 0) {
    captured_messages().clear();
    errno = 0;
    cpc_set_t* set = cpc_strtoset(cpc, spec, smt);
    EXPECT_EQ(set, nullptr) << spec;
    EXPECT_EQ(errno, EINVAL) << spec;
    if (set) cpc_set_destroy(cpc, set);
    return captured_messages();
  }

  std::vector<SimHandle> handles_;
};

TEST_F(StrtosetTest, BareEventsTakeCountersInOrder) {
  cpc_t* cpc = open("UltraSPARC III");
  std::vector<RequestView> reqs = parse(cpc, "Instr_cnt,Cycle_cnt");
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].event, "Instr_cnt");
  EXPECT_EQ(reqs[0].flags, CPC_COUNT_USER);
  EXPECT_EQ(reqs[0].preset, 0u);
  EXPECT_EQ(reqs[0].attrs, (Attrs{{"picnum", 0}}));
  EXPECT_EQ(reqs[1].event, "Cycle_cnt");
  EXPECT_EQ(reqs[1].flags, CPC_COUNT_USER);
  EXPECT_EQ(reqs[1].attrs, (Attrs{{"picnum", 1}}));
  EXPECT_EQ(captured_messages(), "");
}

TEST_F(StrtosetTest, PlacementNeedsAFreeCounterAboveTheLastOneUsed) {
  cpc_t* cpc = open("UltraSPARC III");
  // DC_rd_miss exists only on counter 1, so it lands there and leaves no room.
  std::vector<RequestView> reqs = parse(cpc, "DC_rd_miss");
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].attrs, (Attrs{{"picnum", 1}}));
  EXPECT_EQ(refuse(cpc, "DC_rd_miss,Cycle_cnt"), "bad token 'Cycle_cnt'\n");
  EXPECT_EQ(refuse(cpc, "Instr_cnt,Cycle_cnt,IC_ref"), "bad token 'IC_ref'\n");
  // Counter 0 is free, but events only go above the highest one in use.
  EXPECT_EQ(refuse(cpc, "pic1=Cycle_cnt,Instr_cnt"), "bad token 'Instr_cnt'\n");
  EXPECT_EQ(refuse(cpc, "No_such_event"), "bad token 'No_such_event'\n");
  // An unknown name=value piece is taken whole as an event name.
  EXPECT_EQ(refuse(cpc, "pic2=Instr_cnt"), "bad token 'pic2=Instr_cnt'\n");

  cpc_t* p6 = open("Pentium Pro with MMX, Pentium II");
  EXPECT_EQ(refuse(p6, "inst_retired,flops"), "bad token 'flops'\n");
  reqs = parse(p6, "flops,inst_retired");
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].event, "flops");
}

TEST_F(StrtosetTest, PicTokenErrors) {
  cpc_t* cpc = open("UltraSPARC III");
  EXPECT_EQ(refuse(cpc, "pic0=Instr_cnt,pic0=Cycle_cnt"), "repeated 'pic0' token\n");
  EXPECT_EQ(refuse(cpc, "Instr_cnt,pic0=Cycle_cnt"), "repeated 'pic0' token\n");
  EXPECT_EQ(refuse(cpc, "pic0="), "missing 'pic0' value\n");
  EXPECT_EQ(refuse(cpc, "pic1"), "missing 'pic1' value\n");
  EXPECT_EQ(refuse(cpc, "pic1=DC_rd"), "pic1 cannot measure event 'DC_rd' on this cpu\n");
  EXPECT_EQ(captured_function(), "cpc_strtoset");

  std::vector<RequestView> reqs = parse(cpc, "pic1=Cycle_cnt,pic0=DC_rd");
  ASSERT_EQ(reqs.size(), 2u);  // requests follow counter order, not token order
  EXPECT_EQ(reqs[0].event, "DC_rd");
  EXPECT_EQ(reqs[1].event, "Cycle_cnt");
}

TEST_F(StrtosetTest, EmptyPiecesAndTrailingComma) {
  cpc_t* cpc = open("UltraSPARC III");
  EXPECT_EQ(refuse(cpc, "Instr_cnt,,Cycle_cnt"), "bad token ''\n");
  EXPECT_EQ(refuse(cpc, ",Instr_cnt"), "bad token ''\n");
  EXPECT_EQ(parse(cpc, "Instr_cnt,Cycle_cnt,").size(), 2u);
  EXPECT_EQ(parse(cpc, "").size(), 0u);
}

TEST_F(StrtosetTest, BlanksAroundNamesAreIgnored) {
  cpc_t* cpc = open("UltraSPARC III");
  std::vector<RequestView> reqs = parse(cpc, " Instr_cnt ,\tCycle_cnt  , sys ");
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[1].event, "Cycle_cnt");
  EXPECT_EQ(reqs[1].flags, CPC_COUNT_USER | CPC_COUNT_SYSTEM);
  EXPECT_EQ(parse(cpc, "pic0 = Instr_cnt").at(0).event, "Instr_cnt");
}

TEST_F(StrtosetTest, ModeFlags) {
  cpc_t* cpc = open("UltraSPARC III");
  EXPECT_EQ(parse(cpc, "Instr_cnt,nouser,sys").at(0).flags, CPC_COUNT_SYSTEM);
  EXPECT_EQ(parse(cpc, "nouser,sys,Instr_cnt").at(0).flags, CPC_COUNT_SYSTEM);
  EXPECT_EQ(parse(cpc, "Instr_cnt,sys").at(0).flags, CPC_COUNT_USER | CPC_COUNT_SYSTEM);

  std::vector<RequestView> reqs = parse(cpc, "Instr_cnt,Cycle_cnt,nouser1,sys0");
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].flags, CPC_COUNT_USER | CPC_COUNT_SYSTEM);
  EXPECT_EQ(reqs[1].flags, 0u);
}

TEST_F(StrtosetTest, AttributesOnAFourCounterProcessor) {
  cpc_t* cpc = open("AMD Opteron & Athlon64");
  std::vector<RequestView> reqs =
      parse(cpc, "pic0=FP_dispatched_fpu_ops,cmask0=0,umask0=0x7,pic1=BU_cpu_clk_unhalted");
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].event, "FP_dispatched_fpu_ops");
  EXPECT_EQ(reqs[0].attrs, (Attrs{{"umask", 7}, {"cmask", 0}, {"picnum", 0}}));
  EXPECT_EQ(reqs[1].event, "BU_cpu_clk_unhalted");
  EXPECT_EQ(reqs[1].attrs, (Attrs{{"picnum", 1}}));

  // A plain attribute applies to every counter; without a value it is 1.
  reqs = parse(cpc, "DC_access,IC_fetch,edge,umask=010");
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[1].attrs, (Attrs{{"umask", 8}, {"edge", 1}, {"picnum", 1}}));

  EXPECT_EQ(parse(cpc, "umask0=7zz,DC_access").at(0).attrs, (Attrs{{"umask", 7}, {"picnum", 0}}));
  EXPECT_EQ(refuse(cpc, "umask0=zz,DC_access"), "invalid value 'zz' for attribute 'umask'\n");
  EXPECT_EQ(refuse(cpc, "DC_access,cmask2="), "invalid value '' for attribute 'cmask'\n");
}

TEST_F(StrtosetTest, FourCountersTakeFourEvents) {
  cpc_t* cpc = open("AMD Opteron & Athlon64");
  std::vector<RequestView> reqs = parse(cpc, "DC_access,IC_fetch,BU_cpu_clk_unhalted,IC_fetch");
  ASSERT_EQ(reqs.size(), 4u);
  EXPECT_EQ(reqs[3].attrs, (Attrs{{"picnum", 3}}));
  EXPECT_EQ(refuse(cpc, "DC_access,IC_fetch,BU_cpu_clk_unhalted,IC_fetch,DC_access"),
            "bad token 'DC_access'\n");
  // Trailing blanks in a catalogue entry do not hide the event.
  EXPECT_EQ(
      parse(cpc, "FR_retired_branches_w_excp_intr,FR_retired_x86_instr_w_excp_intr  ").at(1).event,
      "FR_retired_x86_instr_w_excp_intr");
}

TEST_F(StrtosetTest, LibraryRefusalIsReportedAndTheSetDropped) {
  cpc_t* cpc = open("AMD Opteron & Athlon64");
  std::string text = refuse(cpc, "DC_access,umask0=0x100");
  EXPECT_NE(text.find("umask"), std::string::npos) << text;  // the library's reason first
  const std::string tail = "cpc_set_add_request() failed: Invalid argument\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(StrtosetTest, SiblingThreadCounting) {
  cpc_t* p4 = open("Pentium 4 with HyperThreading");
  std::vector<RequestView> reqs = parse(p4, "inst_retired,cpu_clk_unhalted,sys", 1);
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].attrs,
            (Attrs{{"count_sibling_sys", 1}, {"count_sibling_usr", 1}, {"picnum", 0}}));
  EXPECT_EQ(parse(p4, "inst_retired,nouser,sys", 1).at(0).attrs,
            (Attrs{{"count_sibling_sys", 1}, {"picnum", 0}}));
  // A processor without those attributes refuses them.
  cpc_t* us3 = open("UltraSPARC III");
  std::string text = refuse(us3, "Instr_cnt", 1);
  EXPECT_NE(text.find("cpc_set_add_request() failed"), std::string::npos) << text;
}

TEST_F(StrtosetTest, UnknownProcessorAndSilentCallback) {
  cpc_t* cpc = open("UltraSPARC iii");
  EXPECT_EQ(refuse(cpc, "Instr_cnt"), "bad token 'Instr_cnt'\n");
  strtoset_errfn = nullptr;
  EXPECT_EQ(refuse(cpc, "Instr_cnt"), "");
}

TEST_F(StrtosetTest, RunningOutOfMemoryEndsWithFailure) {
  cpc_t* cpc = open("AMD Opteron & Athlon64");
  const char* spec = "pic0=FP_dispatched_fpu_ops,umask0=7,IC_fetch,sys";
  // Count the guarded allocations of one parse, then fail some of them: the
  // first (working state), one in the middle (token table), the set itself
  // (two requests follow it, each with its attribute array) and the last.
  pemto_fail_allocation_after(1000000);
  cpc_set_t* set = cpc_strtoset(cpc, spec, 0);
  int used = 1000000 - pemto_allocations_left();
  pemto_fail_allocation_after(0);
  ASSERT_NE(set, nullptr);
  cpc_set_destroy(cpc, set);
  ASSERT_GT(used, 10);
  strtoset_errfn = print_message;
  for (int n : {1, used / 2, used - 2, used}) {
    EXPECT_EXIT(
        {
          pemto_fail_allocation_after(n);
          cpc_strtoset(cpc, spec, 0);
        },
        ::testing::ExitedWithCode(1), "^cpc_strtoset: no memory available\n$")
        << "allocation " << n;
  }
}

}  // namespace
