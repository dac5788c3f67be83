// The device tree in the shape of the Solaris device-information calls, read
// from the Linux device tree (/proc/device-tree unless the processor services
// name another, see processor.h): a node is a directory, a property a file.
// A machine without a device tree (most x86 servers) has a tree of one node
// without properties, so a search for a property finds nothing.
#pragma once

#include <cstdint>

struct di_node;
struct di_prom_handle;
typedef struct di_node* di_node_t;
typedef struct di_prom_handle* di_prom_handle_t;

constexpr di_node_t DI_NODE_NIL = nullptr;
constexpr di_prom_handle_t DI_PROM_HANDLE_NIL = nullptr;

constexpr unsigned DINFOCPYALL = 0x0f;  // the whole tree, with properties

// di_walk_node orders and callback answers.
constexpr unsigned DI_WALK_CLDFIRST = 0;  // a node, then its children, then its siblings
constexpr unsigned DI_WALK_SIBFIRST = 1;  // a node and its siblings, then their children
constexpr int DI_WALK_CONTINUE = 0;
constexpr int DI_WALK_PRUNESIB = 1;
constexpr int DI_WALK_PRUNECHILD = 2;
constexpr int DI_WALK_TERMINATE = 3;

// Snapshot of the tree below phys_path ("/" only). DI_NODE_NIL with errno
// when the tree exists but cannot be read.
di_node_t di_init(const char* phys_path, unsigned flag);
void di_fini(di_node_t root);
const char* di_node_name(di_node_t node);

// Access to property values; DI_PROM_HANDLE_NIL with errno on failure.
di_prom_handle_t di_prom_init();
// Releases the handle and every value looked up through it.
void di_prom_fini(di_prom_handle_t ph);

// Visits the nodes of the tree from root; 0, or -1 with errno for a bad order.
int di_walk_node(di_node_t root, unsigned flag, void* arg, int (*node_callback)(di_node_t, void*));

// The property's raw bytes (cells are big-endian, as in every device tree),
// valid until di_prom_fini: their number, or -1 with errno when the node has
// no such property.
int di_prom_prop_lookup_bytes(di_prom_handle_t ph, di_node_t node, const char* prop_name,
                              unsigned char** prop_data);
// The property as 32-bit integers in host order: their number, or -1 with
// errno (EINVAL when its length is not a whole number of cells).
int di_prom_prop_lookup_ints(di_prom_handle_t ph, di_node_t node, const char* prop_name,
                             int** prop_data);
