#include "pemto/counters/devinfo.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "pemto/counters/processor.h"

struct di_node {
  std::string path;  // directory of the node; empty for the tree of a machine without one
  std::string name;
  di_node* child = nullptr;
  di_node* sibling = nullptr;
  std::vector<std::unique_ptr<di_node>> all;  // the root owns every node
};

struct di_prom_handle {
  std::deque<std::vector<unsigned char>> bytes;
  std::deque<std::vector<int>> ints;
};

namespace {

constexpr int kMaxDepth = 64;
constexpr size_t kMaxNodes = 200000;
constexpr size_t kMaxPropertyBytes = 1 << 16;

bool is_dir(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads the subdirectories of node as its children, in name order.
bool load_children(di_node* root, di_node* node, int depth) {
  if (depth >= kMaxDepth) return true;
  DIR* dir = opendir(node->path.c_str());
  if (!dir) return false;
  std::vector<std::string> names;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (is_dir(node->path + "/" + name)) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  di_node* last = nullptr;
  for (const std::string& name : names) {
    if (root->all.size() >= kMaxNodes) break;
    auto child = std::make_unique<di_node>();
    child->path = node->path + "/" + name;
    child->name = name;
    di_node* c = child.get();
    root->all.push_back(std::move(child));
    if (last) {
      last->sibling = c;
    } else {
      node->child = c;
    }
    last = c;
    // A subtree that cannot be read is left out rather than failing the snapshot.
    load_children(root, c, depth + 1);
  }
  return true;
}

bool walk_children_first(di_node* first, bool only_first, void* arg, int (*cb)(di_node_t, void*)) {
  for (di_node* n = first; n; n = n->sibling) {
    int rc = cb(n, arg);
    if (rc == DI_WALK_TERMINATE) return false;
    if (rc != DI_WALK_PRUNECHILD && n->child && !walk_children_first(n->child, false, arg, cb)) {
      return false;
    }
    if (rc == DI_WALK_PRUNESIB || only_first) break;
  }
  return true;
}

bool walk_siblings_first(di_node* first, bool only_first, void* arg, int (*cb)(di_node_t, void*)) {
  std::vector<di_node*> expand;
  for (di_node* n = first; n; n = n->sibling) {
    int rc = cb(n, arg);
    if (rc == DI_WALK_TERMINATE) return false;
    if (rc != DI_WALK_PRUNECHILD) expand.push_back(n);
    if (rc == DI_WALK_PRUNESIB || only_first) break;
  }
  for (di_node* n : expand) {
    if (n->child && !walk_siblings_first(n->child, false, arg, cb)) return false;
  }
  return true;
}

// Reads a property file; -1 with errno when there is none.
int read_property(di_node_t node, const char* prop_name, std::vector<unsigned char>* out) {
  if (!node || !prop_name || !*prop_name || strchr(prop_name, '/') || strcmp(prop_name, ".") == 0 ||
      strcmp(prop_name, "..") == 0) {
    errno = EINVAL;
    return -1;
  }
  if (node->path.empty()) {
    errno = ENXIO;
    return -1;
  }
  std::string path = node->path + "/" + prop_name;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    errno = ENXIO;
    return -1;
  }
  FILE* f = fopen(path.c_str(), "rbe");
  if (!f) return -1;
  unsigned char chunk[4096];
  size_t n;
  out->clear();
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0 && out->size() < kMaxPropertyBytes) {
    out->insert(out->end(), chunk, chunk + std::min(n, kMaxPropertyBytes - out->size()));
  }
  fclose(f);
  return static_cast<int>(out->size());
}

}  // namespace

di_node_t di_init(const char* phys_path, unsigned) {
  if (!phys_path || strcmp(phys_path, "/") != 0) {
    errno = EINVAL;
    return DI_NODE_NIL;
  }
  try {
    auto root = std::make_unique<di_node>();
    root->name.push_back('/');  // assigning "/" trips a false -Wrestrict in g++ 12
    const std::string& tree = processor_services_config().device_tree;
    struct stat st;
    if (stat(tree.c_str(), &st) != 0) {
      if (errno != ENOENT && errno != ENOTDIR) return DI_NODE_NIL;
      return root.release();  // no device tree: one node, no properties
    }
    if (!S_ISDIR(st.st_mode)) return root.release();
    root->path = tree;
    if (!load_children(root.get(), root.get(), 0)) return DI_NODE_NIL;
    return root.release();
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return DI_NODE_NIL;
  }
}

void di_fini(di_node_t root) {
  delete root;
}

const char* di_node_name(di_node_t node) {
  return node ? node->name.c_str() : nullptr;
}

di_prom_handle_t di_prom_init() {
  di_prom_handle_t ph = new (std::nothrow) di_prom_handle;
  if (!ph) errno = ENOMEM;
  return ph;
}

void di_prom_fini(di_prom_handle_t ph) {
  delete ph;
}

int di_walk_node(di_node_t root, unsigned flag, void* arg, int (*node_callback)(di_node_t, void*)) {
  if (!root || !node_callback) {
    errno = EINVAL;
    return -1;
  }
  if (flag == DI_WALK_CLDFIRST) {
    walk_children_first(root, true, arg, node_callback);
  } else if (flag == DI_WALK_SIBFIRST) {
    walk_siblings_first(root, true, arg, node_callback);
  } else {
    errno = EINVAL;
    return -1;
  }
  return 0;
}

int di_prom_prop_lookup_bytes(di_prom_handle_t ph, di_node_t node, const char* prop_name,
                              unsigned char** prop_data) {
  if (!ph || !prop_data) {
    errno = EINVAL;
    return -1;
  }
  try {
    std::vector<unsigned char> bytes;
    int n = read_property(node, prop_name, &bytes);
    if (n < 0) return -1;
    ph->bytes.push_back(std::move(bytes));
    *prop_data = ph->bytes.back().data();
    return n;
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return -1;
  }
}

int di_prom_prop_lookup_ints(di_prom_handle_t ph, di_node_t node, const char* prop_name,
                             int** prop_data) {
  if (!ph || !prop_data) {
    errno = EINVAL;
    return -1;
  }
  try {
    std::vector<unsigned char> bytes;
    int n = read_property(node, prop_name, &bytes);
    if (n < 0) return -1;
    if (n % 4 != 0) {
      errno = EINVAL;
      return -1;
    }
    std::vector<int> cells(n / 4);
    for (size_t i = 0; i < cells.size(); i++) {
      uint32_t v = uint32_t{bytes[4 * i]} << 24 | uint32_t{bytes[4 * i + 1]} << 16 |
                   uint32_t{bytes[4 * i + 2]} << 8 | uint32_t{bytes[4 * i + 3]};
      cells[i] = static_cast<int>(v);
    }
    ph->ints.push_back(std::move(cells));
    *prop_data = ph->ints.back().data();
    return n / 4;
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return -1;
  }
}
