// Every event set the reporter's CPU models program must parse on the
// simulated processor that selects the model, with its n-th event on the
// n-th request, since the models' formulas read the counts by position.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "pemto/counters/sim_testing.h"
#include "pemto/strtoset.h"

namespace {

using List = std::vector<std::string>;

struct Lists {
  List per_reference, per_instruction, per_second, memory;
};

const List kUs3PerReference = {"Instr_cnt,Cycle_cnt",
                               "DC_rd,DC_rd_miss",
                               "DC_wr,DC_wr_miss",
                               "EC_ref,EC_misses",
                               "Cycle_cnt,EC_wb",
                               "IC_ref,IC_miss",
                               "IC_ref,IC_miss_cancelled",
                               "Rstall_storeQ,Re_DC_miss",
                               "Rstall_IU_use,Re_RAW_miss",
                               "Cycle_cnt,Re_PC_miss",
                               "Cycle_cnt,Re_FPU_bypass",
                               "Dispatch0_IC_miss,Cycle_cnt",
                               "Cycle_cnt,Rstall_FP_use",
                               "Dispatch0_br_target,Dispatch0_mispred",
                               "Dispatch0_2nd_br,Cycle_cnt",
                               "Dispatch_rs_mispred,Cycle_cnt",
                               "IC_ref,ITLB_miss",
                               "DC_rd,DTLB_miss",
                               "DC_wr,DTLB_miss",
                               "IU_Stat_Br_count_taken,IU_Stat_Br_count_untaken",
                               "IU_Stat_Br_miss_taken,IU_Stat_Br_miss_untaken",
                               "FA_pipe_completion,FM_pipe_completion"};

const List kUs3PerInstruction = {"Instr_cnt,Cycle_cnt",
                                 "Instr_cnt,DC_rd_miss",
                                 "Instr_cnt,DC_wr_miss",
                                 "Instr_cnt,EC_misses",
                                 "Cycle_cnt,EC_wb",
                                 "Instr_cnt,IC_miss",
                                 "Instr_cnt,IC_miss_cancelled",
                                 "Rstall_storeQ,Re_DC_miss",
                                 "Rstall_IU_use,Re_RAW_miss",
                                 "Cycle_cnt,Re_PC_miss",
                                 "Cycle_cnt,Re_FPU_bypass",
                                 "Dispatch0_IC_miss,Instr_cnt",
                                 "Instr_cnt,Rstall_FP_use",
                                 "Dispatch0_br_target,Dispatch0_mispred",
                                 "Dispatch0_2nd_br,Instr_cnt",
                                 "Dispatch_rs_mispred,Instr_cnt",
                                 "Instr_cnt,ITLB_miss",
                                 "Instr_cnt,DTLB_miss",
                                 "Instr_cnt,DTLB_miss",
                                 "IU_Stat_Br_count_taken,IU_Stat_Br_count_untaken",
                                 "IU_Stat_Br_miss_taken,IU_Stat_Br_miss_untaken",
                                 "FA_pipe_completion,FM_pipe_completion"};

const List kMemory = {"MC_reads_0,MC_writes_0", "MC_reads_1,MC_writes_1", "MC_reads_2,MC_writes_2",
                      "MC_reads_3,MC_writes_3"};

Lists us3() {
  List per_second = kUs3PerReference;
  per_second[17] = per_second[18] = "Instr_cnt,DTLB_miss";
  return {kUs3PerReference, kUs3PerInstruction, per_second, kMemory};
}

Lists us3_plus() {
  Lists l = us3();
  for (List* list : {&l.per_reference, &l.per_instruction, &l.per_second}) {
    (*list)[7] = "Rstall_storeQ,Re_PC_miss";
  }
  l.per_reference[9] = l.per_second[9] = "Cycle_cnt,Re_DC_miss";
  l.per_instruction[9] = "Instr_cnt,Re_DC_miss";
  l.per_reference.push_back("EC_wb_remote,EC_wb");
  l.per_reference.push_back("EC_miss_local,EC_misses");
  l.per_instruction.push_back("EC_wb_remote,Instr_cnt");
  l.per_instruction.push_back("Instr_cnt,EC_miss_remote");
  l.per_second.push_back("EC_wb_remote,EC_miss_remote");
  return l;
}

Lists us2() {
  return {{"Instr_cnt,Cycle_cnt", "Cycle_cnt,EC_wb", "DC_rd,DC_rd_hit", "DC_wr,DC_wr_hit",
           "IC_ref,IC_hit", "EC_ref,EC_hit", "Load_use,Cycle_cnt", "Cycle_cnt,Load_use_RAW",
           "Dispatch0_storeBuf,Cycle_cnt", "Dispatch0_IC_miss,Cycle_cnt",
           "Cycle_cnt,Dispatch0_FP_use", "Cycle_cnt,Dispatch0_mispred"},
          {"Instr_cnt,Cycle_cnt", "Instr_cnt,EC_wb", "DC_rd,DC_rd_hit", "DC_wr,DC_wr_hit",
           "IC_ref,IC_hit", "EC_ref,EC_hit", "Load_use,Instr_cnt", "Instr_cnt,Load_use_RAW",
           "Dispatch0_storeBuf,Instr_cnt", "Dispatch0_IC_miss,Instr_cnt",
           "Instr_cnt,Dispatch0_FP_use", "Instr_cnt,Dispatch0_mispred"},
          {"Instr_cnt,Cycle_cnt", "Instr_cnt,EC_wb", "DC_rd,DC_rd_hit", "DC_wr,DC_wr_hit",
           "IC_ref,IC_hit", "EC_ref,EC_hit", "Load_use,Load_use_RAW",
           "Dispatch0_storeBuf,Dispatch0_FP_use", "Dispatch0_IC_miss,Dispatch0_mispred"},
          {}};
}

Lists ust1() {
  return {{"FP_instr_cnt,Instr_cnt", "L2_imiss,Instr_cnt", "L2_dmiss_ld,Instr_cnt"},
          {"FP_instr_cnt,Instr_cnt", "DC_miss,Instr_cnt", "IC_miss,Instr_cnt", "L2_imiss,Instr_cnt",
           "L2_dmiss_ld,Instr_cnt", "ITLB_miss,Instr_cnt", "DTLB_miss,Instr_cnt",
           "Br_taken,Instr_cnt", "Br_completed,Instr_cnt"},
          {"FP_instr_cnt,Instr_cnt", "DC_miss,Instr_cnt", "IC_miss,Instr_cnt", "L2_imiss,Instr_cnt",
           "L2_imiss_ld,Instr_cnt", "ITLB_miss,Instr_cnt", "DTLB_miss,Instr_cnt"},
          {""}};
}

Lists ust2() {
  return {
      {"Instr_cnt,Instr_FGU_arithmetic", "L2_imiss,L2_dmiss_ld"},
      {"Instr_cnt,Instr_FGU_arithmetic", "L2_imiss,L2_dmiss_ld", "Instr_cnt,DC_miss",
       "Instr_cnt,IC_miss", "Instr_cnt,L2_imiss", "Instr_cnt,L2_dmiss_ld", "Instr_cnt,ITLB_miss",
       "Instr_cnt,DTLB_miss", "Instr_cnt,Br_taken", "Instr_cnt,Br_completed"},
      {"Instr_cnt,Instr_FGU_arithmetic", "L2_imiss,L2_dmiss_ld", "DC_miss,IC_miss",
       "L2_imiss,L2_imiss_ld", "ITLB_miss,DTLB_miss", "Br_taken,Br_completed"},
      {""}};
}

Lists sparc64() {
  List per_reference = {
      "instruction_counts,cycle_counts,floating_instructions,impdep2_instructions,"
      "sx_read_count_pf,sx_read_count_dm",
      "instruction_counts,cycle_counts,sx_miss_count_pf,sx_miss_count_dm,op_r_iu_req_mi_go,"
      "if_r_iu_req_mi_go,trap_DMMU_miss,trap_IMMU_miss",
      "instruction_counts,cycle_counts,flush_rs,branch_instructions,fl_comp_wait"};
  List per_instruction = {per_reference[0], per_reference[1],
                          "instruction_counts,cycle_counts,sx_miss_count_pf,sx_miss_count_dm,"
                          "sx_read_count_pf,sx_read_count_dm,",
                          "instruction_counts,cycle_counts,flush_rs,branch_instructions,"
                          "fl_comp_wait,floating_instructions,impdep2_instructions"};
  return {per_reference, per_instruction, per_reference, kMemory};
}

Lists p6() {
  return {{"inst_retired,cpu_clk_unhalted", "data_mem_refs,dcu_lines_in", "l2_ifetch,ifu_ifetch",
           "l2_lines_in,l2_rqsts", "br_inst_retired,inst_retired",
           "br_miss_pred_retired,br_inst_retired", "itlb_miss,ifu_ifetch",
           "dcu_miss_outstanding,cpu_clk_unhalted", "ifu_mem_stall,cpu_clk_unhalted",
           "cycles_div_busy,cpu_clk_unhalted", "flops,cpu_clk_unhalted"},
          {"inst_retired,cpu_clk_unhalted", "inst_retired,dcu_lines_in", "inst_retired,l2_ifetch",
           "inst_retired,l2_lines_in", "br_inst_retired,inst_retired",
           "inst_retired,br_miss_pred_retired", "inst_retired,itlb_miss",
           "inst_retired,dcu_miss_outstanding", "inst_retired,ifu_mem_stall",
           "cycles_div_busy,inst_retired", "flops,cpu_clk_unhalted"},
          {"inst_retired,cpu_clk_unhalted", "dcu_lines_in,l2_lines_in", "l2_ifetch,itlb_miss",
           "br_inst_retired,br_miss_pred_retired", "dcu_miss_outstanding,ifu_mem_stall",
           "cycles_div_busy,cpu_clk_unhalted", "flops,cpu_clk_unhalted"},
          {}};
}

Lists opteron() {
  const std::string fp = "pic0=FP_dispatched_fpu_ops,cmask0=0,umask0=0x7,pic1=BU_cpu_clk_unhalted";
  return {{"FR_retired_x86_instr_w_excp_intr,BU_cpu_clk_unhalted",
           "DC_access,DC_refill_from_L2,DC_refill_from_system",
           "IC_fetch,IC_refill_from_L2,IC_refill_from_system",
           "BU_fill_req_missed_L2,BU_internal_L2_req",
           "FR_retired_branches_w_excp_intr,FR_retired_x86_instr_w_excp_intr  ",
           "FR_retired_branches_mispred,FR_retired_branches_w_excp_intr",
           "IC_itlb_L1_miss_L2_miss,IC_fetch", "FR_dispatch_stall_segment_load,BU_cpu_clk_unhalted",
           "IC_instr_fetch_stall,BU_cpu_clk_unhalted",
           "FR_dispatch_stall_fpu_full,BU_cpu_clk_unhalted", fp},
          {"FR_retired_x86_instr_w_excp_intr,BU_cpu_clk_unhalted",
           "FR_retired_x86_instr_w_excp_intr,DC_refill_from_L2,DC_refill_from_system",
           "FR_retired_x86_instr_w_excp_intr,IC_refill_from_L2,IC_refill_from_system",
           "FR_retired_x86_instr_w_excp_intr,BU_fill_req_missed_L2",
           "FR_retired_branches_w_excp_intr,FR_retired_x86_instr_w_excp_intr",
           "FR_retired_x86_instr_w_excp_intr,FR_retired_branches_mispred",
           "FR_retired_x86_instr_w_excp_intr,IC_itlb_L1_miss_L2_miss",
           "FR_retired_x86_instr_w_excp_intr,FR_dispatch_stall_segment_load",
           "FR_retired_x86_instr_w_excp_intr,IC_instr_fetch_stall",
           "FR_dispatch_stall_fpu_full,FR_retired_x86_instr_w_excp_intr", fp},
          {"FR_retired_x86_instr_w_excp_intr,BU_cpu_clk_unhalted",
           "DC_refill_from_L2,DC_refill_from_system",
           "IC_refill_from_L2,IC_refill_from_system,IC_itlb_L1_miss_L2_miss",
           "FR_retired_branches_w_excp_intr,FR_retired_branches_mispred,BU_fill_req_missed_L2",
           "FR_dispatch_stall_segment_load,IC_instr_fetch_stall",
           "FR_dispatch_stall_fpu_full,BU_cpu_clk_unhalted", fp},
          {}};
}

// The event names of a specification, in order, without tokens and values.
std::vector<std::string> named_events(const std::string& spec) {
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < spec.size()) {
    size_t comma = spec.find(',', pos);
    if (comma == std::string::npos) comma = spec.size();
    std::string piece = spec.substr(pos, comma - pos);
    pos = comma + 1;
    while (!piece.empty() && piece.back() == ' ') piece.pop_back();
    if (piece.rfind("pic", 0) == 0 && piece.find('=') != std::string::npos) {
      names.push_back(piece.substr(piece.find('=') + 1));
    } else if (piece.find('=') == std::string::npos) {
      names.push_back(piece);
    }
  }
  return names;
}

TEST(CatalogueParse, EveryListParsesOnItsProcessorInOrder) {
  const std::map<std::string, Lists> processors = {
      {"UltraSPARC I&II", us2()},
      {"UltraSPARC III", us3()},
      {"UltraSPARC IIIi & IIIi+", us3()},
      {"UltraSPARC III+", us3_plus()},
      {"UltraSPARC III+ & IV", us3_plus()},
      {"UltraSPARC IV+", us3_plus()},
      {"UltraSPARC T1", ust1()},
      {"UltraSPARC T2", ust2()},
      {"UltraSPARC T2+", ust2()},
      {"SPARC64 VI & VII", sparc64()},
      {"Pentium Pro with MMX, Pentium II", p6()},
      {"Pentium 4 with HyperThreading", p6()},
      {"AMD Opteron & Athlon64", opteron()},
  };
  ASSERT_EQ(processors.size(), sim_processor_names().size());
  captured_messages().clear();
  strtoset_errfn = capture_message;
  for (const auto& [name, lists] : processors) {
    SimHandle h = open_sim(name);
    for (const List* list :
         {&lists.per_reference, &lists.per_instruction, &lists.per_second, &lists.memory}) {
      for (const std::string& spec : *list) {
        cpc_set_t* set = cpc_strtoset(h.cpc, spec.c_str(), 0);
        ASSERT_NE(set, nullptr) << name << ": " << spec << ": " << captured_messages();
        std::vector<RequestView> reqs = requests_of(h.cpc, set);
        std::vector<std::string> expected = named_events(spec);
        ASSERT_EQ(reqs.size(), expected.size()) << name << ": " << spec;
        for (size_t k = 0; k < reqs.size(); k++) {
          EXPECT_EQ(reqs[k].event, expected[k]) << name << ": " << spec;
          EXPECT_EQ(reqs[k].flags, CPC_COUNT_USER);
        }
        cpc_set_destroy(h.cpc, set);
      }
    }
    cpc_close(h.cpc);
  }
  strtoset_errfn = nullptr;
}

}  // namespace
