// Every event set the reporter's CPU models program must parse on the
// simulated processor that selects the model, with its n-th event on the
// n-th request, since the models' formulas read the counts by position. The
// lists are the models' own, as the catalogue makes them for each processor.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pemto/counters/sim_testing.h"
#include "pemto/models/models.h"
#include "pemto/strtoset.h"

namespace {

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
  captured_messages().clear();
  strtoset_errfn = capture_message;
  for (const std::string& name : sim_processor_names()) {
    SimHandle h = open_sim(name);
    bool oom = false;
    std::unique_ptr<Cpu> cpu(create_cpu_model(h.cpc, &oom));
    ASSERT_NE(cpu, nullptr) << name;
    for (const std::vector<std::string>& list :
         {cpu->getPrEvents(), cpu->getPiEvents(), cpu->getPsEvents(), cpu->getPsMemoryEvents()}) {
      for (const std::string& spec : list) {
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
