#include "pemto/counters/cpc.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "pemto/counters/platform.h"
#include "pemto/counters/processor.h"
#include "pemto/counters/sim_testing.h"

namespace {

constexpr uint64_t kSecond = 1000000000u;

std::vector<std::string> events_on(cpc_t* cpc, unsigned pic) {
  std::vector<std::string> out;
  cpc_walk_events_pic(cpc, pic, &out, [](void* arg, unsigned, const char* event) {
    static_cast<std::vector<std::string>*>(arg)->push_back(event);
  });
  return out;
}

std::vector<std::string> attributes_of(cpc_t* cpc) {
  std::vector<std::string> out;
  cpc_walk_attrs(cpc, &out, [](void* arg, const char* attr) {
    static_cast<std::vector<std::string>*>(arg)->push_back(attr);
  });
  return out;
}

int add(cpc_t* cpc, cpc_set_t* set, const char* event, unsigned flags = CPC_COUNT_USER,
        std::vector<cpc_attr_t> attrs = {}, uint64_t preset = 0) {
  return cpc_set_add_request(cpc, set, event, preset, flags, static_cast<unsigned>(attrs.size()),
                             attrs.empty() ? nullptr : attrs.data());
}

// The platform an environment of these variables describes.
Platform platform_of(const std::map<std::string, std::string>& env) {
  return platform_from([&env](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  });
}

TEST(CpcVersion, OnlyVersionTwo) {
  EXPECT_EQ(cpc_version(CPC_VER_CURRENT), 2);
  EXPECT_EQ(cpc_version(CPC_VER_NONE), 2);
  EXPECT_EQ(cpc_version(1), 0);
  EXPECT_EQ(cpc_version(3), 0);
  errno = 0;
  EXPECT_EQ(cpc_open(1, Platform()), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

TEST(CpcOpen, EnvironmentChoosesTheSimulatedProcessor) {
  cpc_t* cpc =
      cpc_open(CPC_VER_CURRENT, platform_of({{"PEMTO_SIMULATE", "AMD Opteron & Athlon64"}}));
  ASSERT_NE(cpc, nullptr);
  EXPECT_STREQ(cpc_cciname(cpc), "AMD Opteron & Athlon64");
  EXPECT_STREQ(cpc_backend_name(cpc), "simulated");
  EXPECT_EQ(cpc_npic(cpc), 4u);
  cpc_close(cpc);

  // A name the simulation does not know opens, but counts nothing.
  cpc = cpc_open(CPC_VER_CURRENT, platform_of({{"PEMTO_SIMULATE", "UltraSPARC iii"}}));
  ASSERT_NE(cpc, nullptr);
  EXPECT_STREQ(cpc_cciname(cpc), "UltraSPARC iii");
  for (unsigned pic = 0; pic < cpc_npic(cpc); pic++) EXPECT_TRUE(events_on(cpc, pic).empty());
  cpc_close(cpc);

  errno = 0;
  EXPECT_EQ(cpc_open(CPC_VER_CURRENT, platform_of({{"PEMTO_SIMULATE", "UltraSPARC iii"},
                                                   {"PEMTO_SIMULATE_FAIL", "bind"}})),
            nullptr);
  EXPECT_EQ(errno, EINVAL);
}

TEST(SimProcessors, CountersAndClocksPerFamily) {
  std::map<std::string, unsigned> counters = {
      {"UltraSPARC I&II", 2},
      {"UltraSPARC III", 2},
      {"UltraSPARC IIIi & IIIi+", 2},
      {"UltraSPARC III+", 2},
      {"UltraSPARC III+ & IV", 2},
      {"UltraSPARC IV+", 2},
      {"UltraSPARC T1", 2},
      {"UltraSPARC T2", 2},
      {"UltraSPARC T2+", 2},
      {"SPARC64 VI & VII", 8},
      {"Pentium Pro with MMX, Pentium II", 2},
      {"AMD Opteron & Athlon64", 4},
      {"Pentium 4 with HyperThreading", 2},
  };
  EXPECT_EQ(sim_processor_names().size(), counters.size());
  for (const std::string& name : sim_processor_names()) {
    SimHandle h = open_sim(name);
    ASSERT_NE(h.cpc, nullptr);
    EXPECT_EQ(cpc_npic(h.cpc), counters.at(name)) << name;
    EXPECT_STRNE(cpc_cpuref(h.cpc), "") << name;
    EXPECT_GT(sim_processor_clock(name), 0) << name;
    for (unsigned pic = 0; pic < cpc_npic(h.cpc); pic++) {
      EXPECT_FALSE(events_on(h.cpc, pic).empty()) << name << " pic" << pic;
    }
    EXPECT_TRUE(events_on(h.cpc, cpc_npic(h.cpc)).empty()) << name;
    cpc_close(h.cpc);
  }
  EXPECT_EQ(sim_processor_clock("UltraSPARC iii"), 0);
}

TEST(SimProcessors, AttributesAndEventsPerCounter) {
  SimHandle opteron = open_sim("AMD Opteron & Athlon64");
  EXPECT_EQ(attributes_of(opteron.cpc),
            (std::vector<std::string>{"picnum", "edge", "pc", "inv", "cmask", "umask"}));
  cpc_close(opteron.cpc);

  SimHandle us3 = open_sim("UltraSPARC III");
  EXPECT_EQ(attributes_of(us3.cpc), (std::vector<std::string>{"picnum"}));
  std::vector<std::string> pic0 = events_on(us3.cpc, 0), pic1 = events_on(us3.cpc, 1);
  auto has = [](const std::vector<std::string>& v, const char* e) {
    return std::find(v.begin(), v.end(), e) != v.end();
  };
  EXPECT_TRUE(has(pic0, "Instr_cnt") && has(pic1, "Instr_cnt"));
  EXPECT_TRUE(has(pic0, "DC_rd") && !has(pic1, "DC_rd"));
  EXPECT_TRUE(!has(pic0, "DC_rd_miss") && has(pic1, "DC_rd_miss"));
  EXPECT_FALSE(has(pic0, "EC_wb_remote"));  // only from the III+ on
  cpc_close(us3.cpc);
}

class CpcSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    captured_messages().clear();
    sim_ = open_sim("AMD Opteron & Athlon64", 2000);
    cpc_ = sim_.cpc;
    cpc_seterrhndlr(cpc_, capture_message);
    set_ = cpc_set_create(cpc_);
  }
  void TearDown() override {
    for (cpc_buf_t* b : bufs_) cpc_buf_destroy(cpc_, b);
    cpc_set_destroy(cpc_, set_);
    cpc_close(cpc_);
  }
  cpc_buf_t* buf(cpc_set_t* set) {
    bufs_.push_back(cpc_buf_create(cpc_, set));
    return bufs_.back();
  }
  uint64_t get(cpc_buf_t* b, int index) {
    uint64_t v = 0;
    EXPECT_EQ(cpc_buf_get(cpc_, b, index, &v), 0);
    return v;
  }
  // Binds the set on cpu 0, lets the given time pass and samples it.
  void count(cpc_set_t* set, cpc_buf_t* into, uint64_t ns) {
    ASSERT_EQ(cpc_bind_cpu(cpc_, 0, set, 0), 0);
    *sim_.now += ns;
    ASSERT_EQ(cpc_set_sample(cpc_, set, into), 0);
    ASSERT_EQ(cpc_unbind(cpc_, set), 0);
  }

  SimHandle sim_;
  cpc_t* cpc_ = nullptr;
  cpc_set_t* set_ = nullptr;
  std::vector<cpc_buf_t*> bufs_;
};

TEST_F(CpcSetTest, RequestsAreCheckedAgainstTheProcessor) {
  EXPECT_EQ(add(cpc_, set_, "DC_access", CPC_COUNT_USER, {{"picnum", 2}, {"umask", 0x7}}), 0);
  EXPECT_EQ(add(cpc_, set_, "IC_fetch"), 1);
  std::vector<RequestView> reqs = requests_of(cpc_, set_);
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].attrs,
            (std::vector<std::pair<std::string, uint64_t>>{{"picnum", 2}, {"umask", 7}}));

  struct Case {
    const char* event;
    std::vector<cpc_attr_t> attrs;
    const char* why;
  } refused[] = {
      {"No_such_event", {}, "no counter can count event 'No_such_event'\n"},
      {"IC_fetch", {{"picnum", 2}}, "pic2 is already taken in this set\n"},
      {"IC_fetch", {{"picnum", 4}}, "no counter 4 on this cpu\n"},
      {"IC_fetch", {{"hpriv", 1}}, "unknown attribute 'hpriv'\n"},
      {"IC_fetch", {{"umask", 0x100}}, "value 256 of attribute 'umask' exceeds 255\n"},
  };
  for (const Case& c : refused) {
    captured_messages().clear();
    errno = 0;
    EXPECT_EQ(add(cpc_, set_, c.event, CPC_COUNT_USER, c.attrs), -1) << c.why;
    EXPECT_EQ(errno, EINVAL) << c.why;
    EXPECT_EQ(captured_messages(), c.why);
    EXPECT_EQ(captured_function(), "cpc_set_add_request");
  }
  EXPECT_EQ(add(cpc_, set_, "IC_fetch"), 2);
  EXPECT_EQ(add(cpc_, set_, "IC_fetch"), 3);
  EXPECT_EQ(add(cpc_, set_, "IC_fetch"), -1);  // four counters, four requests
  EXPECT_EQ(requests_of(cpc_, set_).size(), 4u);
}

TEST_F(CpcSetTest, CountsGrowWithTimeByEventModeAndClock) {
  add(cpc_, set_, "BU_cpu_clk_unhalted", CPC_COUNT_USER);
  add(cpc_, set_, "BU_cpu_clk_unhalted", CPC_COUNT_SYSTEM);
  add(cpc_, set_, "BU_cpu_clk_unhalted", CPC_COUNT_USER | CPC_COUNT_SYSTEM);
  add(cpc_, set_, "FR_retired_x86_instr_w_excp_intr", CPC_COUNT_USER, {}, 1000);
  cpc_buf_t* one = buf(set_);
  cpc_buf_t* two = buf(set_);
  count(set_, one, kSecond);
  count(set_, two, 2 * kSecond);

  // A 2000 MHz clock ticks 2 * 10^9 times a second.
  EXPECT_EQ(cpc_buf_tick(cpc_, one), 2000000000u);
  EXPECT_EQ(cpc_buf_tick(cpc_, two), 4000000000u);
  double cycles = sim_.backend->rate("BU_cpu_clk_unhalted", 0);
  EXPECT_GT(cycles, 0.95);
  EXPECT_LE(cycles, 1.0);
  EXPECT_NEAR(static_cast<double>(get(one, 0)), 2e9 * cycles * SimBackend::kUserShare, 1);
  EXPECT_NEAR(static_cast<double>(get(one, 1)), 2e9 * cycles * (1 - SimBackend::kUserShare), 1);
  EXPECT_NEAR(static_cast<double>(get(one, 2)), static_cast<double>(get(one, 0) + get(one, 1)), 1);
  EXPECT_NEAR(static_cast<double>(get(two, 2)), 2.0 * static_cast<double>(get(one, 2)), 1);
  // The preset is where counting starts.
  double instr = sim_.backend->rate("FR_retired_x86_instr_w_excp_intr", 0);
  EXPECT_NEAR(static_cast<double>(get(one, 3)), 1000 + 2e9 * instr * SimBackend::kUserShare, 1);

  // Another handle on the same processor counts the same.
  SimHandle again = open_sim("AMD Opteron & Athlon64", 2000);
  cpc_set_t* set = cpc_set_create(again.cpc);
  add(again.cpc, set, "BU_cpu_clk_unhalted", CPC_COUNT_USER);
  cpc_buf_t* b = cpc_buf_create(again.cpc, set);
  ASSERT_EQ(cpc_bind_cpu(again.cpc, 0, set, 0), 0);
  *again.now += kSecond;
  ASSERT_EQ(cpc_set_sample(again.cpc, set, b), 0);
  uint64_t v = 0;
  ASSERT_EQ(cpc_buf_get(again.cpc, b, 0, &v), 0);
  EXPECT_EQ(v, get(one, 0));
  cpc_buf_destroy(again.cpc, b);
  cpc_set_destroy(again.cpc, set);  // unbinds
  cpc_close(again.cpc);
}

TEST_F(CpcSetTest, BindPinsTheThreadUntilUnbind) {
  add(cpc_, set_, "IC_fetch");
  ASSERT_EQ(pinned_processor(), -1);
  ASSERT_EQ(cpc_bind_cpu(cpc_, 0, set_, 0), 0);
  EXPECT_EQ(pinned_processor(), 0);
  EXPECT_EQ(sched_getcpu(), 0);
  errno = 0;
  EXPECT_EQ(cpc_bind_cpu(cpc_, 0, set_, 0), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(add(cpc_, set_, "IC_fetch"), -1);
  EXPECT_EQ(errno, EBUSY);
  ASSERT_EQ(cpc_unbind(cpc_, set_), 0);
  EXPECT_EQ(pinned_processor(), -1);

  errno = 0;
  EXPECT_EQ(cpc_unbind(cpc_, set_), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(cpc_set_sample(cpc_, set_, buf(set_)), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(cpc_bind_cpu(cpc_, 100000, set_, 0), -1);  // no such processor
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(CpcSetTest, InjectedFailures) {
  add(cpc_, set_, "IC_fetch");
  cpc_buf_t* b = buf(set_);
  ASSERT_TRUE(sim_.backend->set_failures("bind@0"));
  errno = 0;
  EXPECT_EQ(cpc_bind_cpu(cpc_, 0, set_, 0), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(captured_function(), "cpc_bind_cpu");
  EXPECT_EQ(pinned_processor(), -1);

  ASSERT_TRUE(sim_.backend->set_failures("sample@*,unbind@0"));
  ASSERT_EQ(cpc_bind_cpu(cpc_, 0, set_, 0), 0);
  EXPECT_EQ(cpc_set_sample(cpc_, set_, b), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(cpc_unbind(cpc_, set_), -1);
  EXPECT_EQ(errno, EIO);
  // A failed unbind still releases the set, so sampling can go on.
  ASSERT_TRUE(sim_.backend->set_failures(""));
  count(set_, b, kSecond);
  EXPECT_GT(get(b, 0), 0u);

  EXPECT_FALSE(sim_.backend->set_failures("bind@x"));
  EXPECT_FALSE(sim_.backend->set_failures("read@1"));
}

TEST_F(CpcSetTest, BuffersAddCopyAndStayInBounds) {
  add(cpc_, set_, "IC_fetch");
  add(cpc_, set_, "DC_access");
  cpc_buf_t* a = buf(set_);
  cpc_buf_t* total = buf(set_);
  count(set_, a, kSecond);
  cpc_buf_add(cpc_, total, total, a);
  cpc_buf_add(cpc_, total, total, a);
  EXPECT_EQ(get(total, 1), 2 * get(a, 1));
  EXPECT_EQ(cpc_buf_tick(cpc_, total), 2 * cpc_buf_tick(cpc_, a));
  cpc_buf_t* copy = buf(set_);
  cpc_buf_copy(cpc_, copy, total);
  EXPECT_EQ(get(copy, 0), get(total, 0));

  uint64_t v = 42;
  EXPECT_EQ(cpc_buf_get(cpc_, a, 2, &v), -1);
  EXPECT_EQ(cpc_buf_get(cpc_, a, -1, &v), -1);
  EXPECT_EQ(v, 42u);

  // Buffers of a different shape are left alone.
  cpc_set_t* small = cpc_set_create(cpc_);
  add(cpc_, small, "IC_fetch");
  cpc_buf_t* other = buf(small);
  cpc_buf_copy(cpc_, other, total);
  cpc_buf_add(cpc_, other, other, total);
  EXPECT_EQ(get(other, 0), 0u);
  EXPECT_EQ(cpc_set_sample(cpc_, set_, other), -1);

  // An empty set still measures time.
  cpc_set_t* empty = cpc_set_create(cpc_);
  cpc_buf_t* e = buf(empty);
  count(empty, e, kSecond);
  EXPECT_EQ(cpc_buf_tick(cpc_, e), 2000000000u);
  cpc_set_destroy(cpc_, empty);
  cpc_set_destroy(cpc_, small);
}

// As the reporter runs it: one thread per processor, all on one handle, each
// binding its own set on its own processor in real time.
TEST(CpcThreads, EachThreadCountsOnItsProcessor) {
  cpc_t* cpc = cpc_open(CPC_VER_CURRENT, platform_of({{"PEMTO_SIMULATE", "UltraSPARC III"}}));
  ASSERT_NE(cpc, nullptr);
  struct Slot {
    cpc_t* cpc;
    int cpu;
    int ran_on = -1;
    uint64_t instructions = 0, tick = 0;
  };
  std::vector<Slot> slots;
  for (int cpu = 0; cpu <= processor_max_id(); cpu++) {
    if (p_online(cpu, P_STATUS) == P_ONLINE) slots.push_back({cpc, cpu});
  }
  std::vector<thread_t> threads(slots.size());
  for (size_t i = 0; i < slots.size(); i++) {
    ASSERT_EQ(thr_create(
                  nullptr, 0,
                  [](void* arg) -> void* {
                    Slot* s = static_cast<Slot*>(arg);
                    cpc_set_t* set = cpc_set_create(s->cpc);
                    add(s->cpc, set, "Instr_cnt");
                    add(s->cpc, set, "Cycle_cnt");
                    cpc_buf_t* buf = cpc_buf_create(s->cpc, set);
                    if (cpc_bind_cpu(s->cpc, s->cpu, set, 0) == 0) {
                      s->ran_on = sched_getcpu();
                      struct timespec ts = {0, 20000000};
                      nanosleep(&ts, nullptr);
                      if (cpc_set_sample(s->cpc, set, buf) == 0) {
                        cpc_buf_get(s->cpc, buf, 0, &s->instructions);
                        s->tick = cpc_buf_tick(s->cpc, buf);
                      }
                      cpc_unbind(s->cpc, set);
                    }
                    cpc_buf_destroy(s->cpc, buf);
                    cpc_set_destroy(s->cpc, set);
                    return nullptr;
                  },
                  &slots[i], THR_BOUND | THR_NEW_LWP, &threads[i]),
              0);
  }
  for (thread_t t : threads) thr_join(t, nullptr, nullptr);
  for (const Slot& s : slots) {
    EXPECT_EQ(s.ran_on, s.cpu);
    EXPECT_GT(s.tick, 0u);
    EXPECT_GT(s.instructions, 0u);
    EXPECT_LT(s.instructions, s.tick);  // fewer instructions than cycles
  }
  cpc_close(cpc);
}

}  // namespace
