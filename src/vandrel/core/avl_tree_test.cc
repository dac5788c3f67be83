#include "vandrel/core/avl_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

struct Rec {
  avl node;
  std::string name;
};

// Real height of the subtree; counts nodes whose stored factor is wrong or out of bounds.
int checked_height(const avl* t, int* faults) {
  if (t == nullptr) return 0;
  int l = checked_height(t->left, faults);
  int r = checked_height(t->right, faults);
  if (t->balance != r - l || std::abs(r - l) > 1) ++*faults;
  return 1 + std::max(l, r);
}

void collect_keys(avl* node, void* ctx) {
  static_cast<std::vector<std::string>*>(ctx)->push_back(node->key);
}

TEST(Avl, StaysBalancedAndByteOrderedUnderRandomInsertsAndRemoves) {
  // Mixed case and bytes above 0x7f: the order must be byte-wise, as std::string's.
  const char* prefixes[] = {"a", "B", "\xc3\xa9", "_"};
  std::vector<Rec> recs(3000);
  for (size_t i = 0; i < recs.size(); ++i) {
    recs[i].name = prefixes[i % 4] + std::to_string(i * 7919 % 10007);
    recs[i].node.key = recs[i].name.c_str();
  }
  std::mt19937 rng(12345);
  avl_tree tree{nullptr, avl_strcmp};
  std::set<std::string> model;
  for (int round = 0; round < 20000; ++round) {
    Rec& r = recs[rng() % recs.size()];
    if (rng() % 3 != 0) {
      ASSERT_EQ(AVL_insert(&tree, &r.node), model.insert(r.name).second ? 0 : -1);
    } else {
      ASSERT_EQ(AVL_remove(&tree, r.name.c_str()), model.erase(r.name) ? 0 : -1);
    }
    int faults = 0;
    if (round % 500 == 0) checked_height(tree.root, &faults);
    ASSERT_EQ(faults, 0) << "round " << round;
  }
  int faults = 0;
  EXPECT_LE(checked_height(tree.root, &faults), 1.45 * std::log2(model.size() + 2));
  EXPECT_EQ(faults, 0);
  std::vector<std::string> keys;
  AVL_walk(tree.root, collect_keys, &keys);
  EXPECT_EQ(keys, std::vector<std::string>(model.begin(), model.end()));
  size_t want_longest = 0;
  for (const std::string& k : model) want_longest = std::max(want_longest, k.size());
  int longest = -1;
  EXPECT_EQ(count_tree(tree.root, &longest), static_cast<int>(model.size()));
  EXPECT_EQ(longest, static_cast<int>(want_longest));
  for (const Rec& r : recs) {
    EXPECT_EQ(AVL_search(&tree, r.name.c_str()), model.count(r.name) ? &r.node : nullptr);
  }
}

TEST(Avl, DuplicateKeepsFirstRecordAndReinsertIgnoresStaleLinks) {
  Rec a{{}, "name"}, b{{}, "name"}, c{{}, "other"};
  for (Rec* r : {&a, &b, &c}) r->node.key = r->name.c_str();
  avl_tree tree{nullptr, avl_strcmp};
  ASSERT_EQ(AVL_insert(&tree, &a.node), 0);
  ASSERT_EQ(AVL_insert(&tree, &c.node), 0);
  EXPECT_EQ(AVL_insert(&tree, &b.node), -1);
  EXPECT_EQ(AVL_search(&tree, "name"), &a.node);
  EXPECT_EQ(AVL_remove(&tree, "name"), 0);
  EXPECT_EQ(AVL_remove(&tree, "name"), -1);
  EXPECT_EQ(AVL_search(&tree, "other"), &c.node);

  a.node.left = a.node.right = &c.node;  // left over from an earlier life
  a.node.balance = 1;
  ASSERT_EQ(AVL_insert(&tree, &a.node), 0);
  int faults = 0;
  EXPECT_EQ(checked_height(tree.root, &faults), 2);
  EXPECT_EQ(faults, 0);
}

}  // namespace
