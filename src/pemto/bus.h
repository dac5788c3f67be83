// The system bus clock, read from the device tree.
#pragma once

// The first "clock-frequency" property of the device tree in a children-first
// walk from the root (so the root's own, the system clock, wins), in whole
// MHz. 0 when no node carries the property (machines without a device tree,
// as most x86 servers): every bus-utilisation figure then reads infinite.
// -1.0 after a perror message when the tree cannot be read.
double get_bus_clock();

// Device-tree walk callback; arg is the walk's state.
int inspect_node_clock_frequency(struct di_node* node, void* arg);
