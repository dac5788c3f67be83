#include "pemto/counters/devinfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "pemto/counters/processor.h"

namespace {

class DevinfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = processor_services_config();
    char pattern[] = "/tmp/pemto-devtree-XXXXXX";
    const char* dir = mkdtemp(pattern);
    ASSERT_NE(dir, nullptr);
    root_ = dir;
  }
  void TearDown() override {
    processor_services_configure(saved_);
    std::string command = "rm -rf '" + root_ + "'";
    if (system(command.c_str()) != 0) perror(command.c_str());
  }

  void property(const std::string& node, const std::string& name, const std::string& bytes) {
    std::string dir = root_ + "/tree" + node;
    for (size_t slash = dir.find('/', 1); slash != std::string::npos;
         slash = dir.find('/', slash + 1)) {
      mkdir(dir.substr(0, slash).c_str(), 0755);
    }
    mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
  }

  void use_tree(const std::string& sub) {
    ProcessorServicesConfig config = saved_;
    config.device_tree = root_ + "/" + sub;
    processor_services_configure(config);
  }

  std::string root_;
  ProcessorServicesConfig saved_;
};

// 150 000 000 Hz as a big-endian cell.
const std::string kClock("\x08\xf0\xd1\x80", 4);

struct Walk {
  di_prom_handle_t ph;
  std::vector<std::string> visited;
  std::string stop_at_property;  // terminate at the first node having it
  std::string prune_children_of;
  int found = -1;
};

int visit(di_node_t node, void* arg) {
  Walk* w = static_cast<Walk*>(arg);
  w->visited.push_back(di_node_name(node));
  if (!w->stop_at_property.empty()) {
    int* ints;
    if (di_prom_prop_lookup_ints(w->ph, node, w->stop_at_property.c_str(), &ints) >= 1) {
      w->found = ints[0];
      return DI_WALK_TERMINATE;
    }
  }
  if (w->prune_children_of == di_node_name(node)) return DI_WALK_PRUNECHILD;
  return DI_WALK_CONTINUE;
}

TEST_F(DevinfoTest, WalksTheTreeInBothOrders) {
  property("", "model", "test board");
  property("/a", "name", "a");
  property("/a/b", "clock-frequency", kClock);
  property("/cpus/cpu@0", "clock-frequency", std::string("\x00\x00\x00\x01", 4));
  use_tree("tree");
  di_node_t root = di_init("/", DINFOCPYALL);
  ASSERT_NE(root, DI_NODE_NIL);
  di_prom_handle_t ph = di_prom_init();
  Walk w{ph, {}, "", "", -1};
  ASSERT_EQ(di_walk_node(root, DI_WALK_CLDFIRST, &w, visit), 0);
  EXPECT_EQ(w.visited, (std::vector<std::string>{"/", "a", "b", "cpus", "cpu@0"}));
  w.visited.clear();
  ASSERT_EQ(di_walk_node(root, DI_WALK_SIBFIRST, &w, visit), 0);
  EXPECT_EQ(w.visited, (std::vector<std::string>{"/", "a", "cpus", "b", "cpu@0"}));

  w = Walk{ph, {}, "clock-frequency", "", -1};
  di_walk_node(root, DI_WALK_CLDFIRST, &w, visit);
  EXPECT_EQ(w.found, 150000000);
  EXPECT_EQ(w.visited.back(), "b");
  w = Walk{ph, {}, "clock-frequency", "a", -1};
  di_walk_node(root, DI_WALK_CLDFIRST, &w, visit);
  EXPECT_EQ(w.found, 1);

  unsigned char* bytes = nullptr;
  EXPECT_EQ(di_prom_prop_lookup_bytes(ph, root, "model", &bytes), 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 10), "test board");
  int* ints = nullptr;
  errno = 0;
  EXPECT_EQ(di_prom_prop_lookup_ints(ph, root, "model", &ints), -1);  // not whole cells
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(di_prom_prop_lookup_bytes(ph, root, "clock-frequency", &bytes), -1);
  EXPECT_EQ(di_prom_prop_lookup_bytes(ph, root, "../tree", &bytes), -1);
  EXPECT_EQ(di_prom_prop_lookup_bytes(ph, root, "a", &bytes), -1);  // a node, not a property
  di_prom_fini(ph);
  di_fini(root);
}

TEST_F(DevinfoTest, NoDeviceTreeIsATreeWithoutProperties) {
  use_tree("missing");
  di_node_t root = di_init("/", DINFOCPYALL);
  ASSERT_NE(root, DI_NODE_NIL);
  di_prom_handle_t ph = di_prom_init();
  Walk w{ph, {}, "clock-frequency", "", -1};
  ASSERT_EQ(di_walk_node(root, DI_WALK_CLDFIRST, &w, visit), 0);
  EXPECT_EQ(w.visited, (std::vector<std::string>{"/"}));
  EXPECT_EQ(w.found, -1);
  di_prom_fini(ph);
  di_fini(root);

  errno = 0;
  EXPECT_EQ(di_init("/pci@0", DINFOCPYALL), DI_NODE_NIL);
  EXPECT_EQ(errno, EINVAL);
}

}  // namespace
