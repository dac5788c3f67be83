#include "vandrel/core/avl_tree.h"

#include <cstring>

// Balance factors are height(right) - height(left). The rotations below keep
// them exact for any starting factors, so insert and remove share them, even
// while a node transiently holds -2 or +2.

namespace {

using Cmp = int (*)(const avl*, const avl*);

void rotate_left(avl** p) {
  avl* t = *p;
  avl* r = t->right;
  t->right = r->left;
  r->left = t;
  int tb = t->balance - 1 - (r->balance > 0 ? r->balance : 0);
  int rb = r->balance - 1 + (tb < 0 ? tb : 0);
  t->balance = static_cast<int8_t>(tb);
  r->balance = static_cast<int8_t>(rb);
  *p = r;
}

void rotate_right(avl** p) {
  avl* t = *p;
  avl* l = t->left;
  t->left = l->right;
  l->right = t;
  int tb = t->balance + 1 - (l->balance < 0 ? l->balance : 0);
  int lb = l->balance + 1 + (tb > 0 ? tb : 0);
  t->balance = static_cast<int8_t>(tb);
  l->balance = static_cast<int8_t>(lb);
  *p = l;
}

// Restores a node whose factor has reached -2 or +2, with a single or a
// double rotation.
void rebalance(avl** p) {
  avl* t = *p;
  if (t->balance < 0) {
    if (t->left->balance > 0) rotate_left(&t->left);
    rotate_right(p);
  } else {
    if (t->right->balance < 0) rotate_right(&t->right);
    rotate_left(p);
  }
}

// Applies a height change of one subtree to *p: `delta` is -1 when the left
// side grew or the right shrank, +1 for the opposite. Returns the change of
// the height of *p itself (-1, 0 or +1).
int adjust(avl** p, int delta, bool grew) {
  avl* t = *p;
  int before = t->balance;
  t->balance = static_cast<int8_t>(before + delta);
  if (t->balance == -2 || t->balance == 2) {
    rebalance(p);
    // After an insertion the rotation restores the old height. After a
    // removal the height drops unless the taller child was itself balanced.
    if (grew) return 0;
    return (*p)->balance == 0 ? -1 : 0;
  }
  if (grew) return t->balance != 0 ? 1 : 0;
  return before != 0 && t->balance == 0 ? -1 : 0;
}

avl* search(avl* t, const avl* probe, Cmp cmp) {
  if (t == nullptr) return nullptr;
  int c = cmp(probe, t);
  if (c == 0) return t;
  return search(c < 0 ? t->left : t->right, probe, cmp);
}

// Returns 1 when the subtree grew.
int insert(avl** p, avl* node, Cmp cmp) {
  avl* t = *p;
  if (t == nullptr) {
    *p = node;
    return 1;
  }
  if (cmp(node, t) < 0) {
    return insert(&t->left, node, cmp) ? adjust(p, -1, true) : 0;
  }
  return insert(&t->right, node, cmp) ? adjust(p, +1, true) : 0;
}

// Unlinks the leftmost node of *p into *min; returns -1 when the subtree shrank.
int remove_min(avl** p, avl** min) {
  avl* t = *p;
  if (t->left != nullptr) return remove_min(&t->left, min) ? adjust(p, +1, false) : 0;
  *min = t;
  *p = t->right;
  return -1;
}

// Returns -1 when the subtree shrank; *found receives the unlinked node.
int remove(avl** p, const avl* probe, Cmp cmp, avl** found) {
  avl* t = *p;
  if (t == nullptr) return 0;
  int c = cmp(probe, t);
  if (c < 0) return remove(&t->left, probe, cmp, found) ? adjust(p, +1, false) : 0;
  if (c > 0) return remove(&t->right, probe, cmp, found) ? adjust(p, -1, false) : 0;
  *found = t;
  if (t->left == nullptr || t->right == nullptr) {
    *p = t->left != nullptr ? t->left : t->right;
    return -1;
  }
  // Records are embedded in their nodes, so the successor node itself takes
  // the removed node's place instead of having its key copied over.
  avl* successor = nullptr;
  int shrank = remove_min(&t->right, &successor);
  successor->left = t->left;
  successor->right = t->right;
  successor->balance = t->balance;
  *p = successor;
  return shrank ? adjust(p, -1, false) : 0;
}

void count(const avl* node, int* nodes, int* longest) {
  for (; node != nullptr; node = node->right) {
    count(node->left, nodes, longest);
    ++*nodes;
    int len = node->key != nullptr ? static_cast<int>(std::strlen(node->key)) : 0;
    if (len > *longest) *longest = len;
  }
}

}  // namespace

int avl_strcmp(const avl* a, const avl* b) {
  return std::strcmp(a->key, b->key);
}

avl* AVL_search(avl_tree* tree, const char* name) {
  avl probe{};
  probe.key = name;
  return search(tree->root, &probe, tree->cmp);
}

int AVL_insert(avl_tree* tree, avl* node) {
  if (AVL_search(tree, node->key) != nullptr) return -1;
  node->left = nullptr;
  node->right = nullptr;
  node->balance = 0;
  insert(&tree->root, node, tree->cmp);
  ++tree->changes;
  return 0;
}

int AVL_remove(avl_tree* tree, const char* name) {
  avl probe{};
  probe.key = name;
  avl* found = nullptr;
  remove(&tree->root, &probe, tree->cmp, &found);
  if (found == nullptr) return -1;
  ++tree->changes;
  found->left = nullptr;
  found->right = nullptr;
  found->balance = 0;
  return 0;
}

void AVL_walk(const avl* root, void (*visit)(avl* node, void* ctx), void* ctx) {
  for (avl* node = const_cast<avl*>(root); node != nullptr; node = node->right) {
    AVL_walk(node->left, visit, ctx);
    visit(node, ctx);
  }
}

int count_tree(const avl* root, int* longest) {
  int nodes = 0;
  int len = 0;
  count(root, &nodes, &len);
  if (longest != nullptr) *longest = len;
  return nodes;
}
