// Balanced (AVL) tree of records ordered by byte-wise comparison of their
// names. The node is embedded at the start of every record that lives in a
// tree; the tree never allocates.
#ifndef VANDREL_CORE_AVL_TREE_H_
#define VANDREL_CORE_AVL_TREE_H_

#include <cstdint>

struct avl {
  avl* left;
  avl* right;
  int8_t balance;   // height(right) - height(left): -1, 0 or +1
  const char* key;  // the record's name
};

struct avl_tree {
  avl* root;
  int (*cmp)(const avl*, const avl*);
  // Counts the inserts and removals: a record found earlier is still in the
  // tree while the count is what it was then.
  uint64_t changes = 0;
};

// Byte-wise (strcmp) comparison of two nodes' keys; the comparison of every
// interpreter tree.
int avl_strcmp(const avl* a, const avl* b);

// The node whose key equals `name`, or nullptr.
avl* AVL_search(avl_tree* tree, const char* name);

// Inserts `node` (its links and balance are cleared first). 0, or -1 and no
// change when a node with the same key is already there.
int AVL_insert(avl_tree* tree, avl* node);

// Removes the node whose key equals `name`. 0, or -1 when there is none.
int AVL_remove(avl_tree* tree, const char* name);

// Calls `visit(node, ctx)` for every node in key order. The tree must not be
// changed during the walk.
void AVL_walk(const avl* root, void (*visit)(avl* node, void* ctx), void* ctx);

// Number of nodes under `root`; `*longest` receives the length of the longest key.
int count_tree(const avl* root, int* longest);

#endif  // VANDREL_CORE_AVL_TREE_H_
