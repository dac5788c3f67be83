// Counter-set groups: the rotating list of event sets a sampling thread
// programs one after the other, each with its parsed set, its specification,
// a column header and three count buffers (data1 accumulates every sample of
// the set, data2 is kept for callers, scratch receives each new sample).
//
// The main thread builds one group and gives each sampling thread its own
// clone; a group is used by one thread at a time. Running out of memory
// reports "cpc_setgrp: no memory available" on standard error and ends the
// program with status 1.
#pragma once

#include <cstdint>

#include "pemto/counters/cpc.h"

struct cpc_setgrp_set {
  cpc_set_t* set;
  uint8_t sysonly;  // 1 when no request counts user mode
  int nreqs;
  int* picnums;  // counter of each request, -1 when not named; null in a clone
  cpc_buf_t* data1;
  cpc_buf_t* data2;
  cpc_buf_t* scratch;
  char* name;  // the event specification text
  char* hdr;   // "     pic0      pic1 " and so on; null in a clone
};

struct cpc_setgrp {
  cpc_setgrp_set* sets;
  int nelem;
  int current;  // -1 while the group is empty
  int smt;
  int has_sysonly;
  cpc_t* cpc;
};
typedef struct cpc_setgrp cpc_setgrp_t;

// An empty group, or null when there is no memory for it.
cpc_setgrp_t* cpc_setgrp_new(cpc_t* cpc, int smt);
// Parses spec and appends its set; a specification the parser rejects adds
// nothing and increments *errors. Returns the group either way.
cpc_setgrp_t* cpc_setgrp_newset(cpc_setgrp_t* sgrp, const char* spec, int* errors);
// An independent copy (sets parsed again, buffers copied) without headers.
cpc_setgrp_t* cpc_setgrp_clone(cpc_setgrp_t* sgrp);
// Removes the current set (the last one when current is past the end).
void cpc_setgrp_delset(cpc_setgrp_t* sgrp);
void cpc_setgrp_free(cpc_setgrp_t* sgrp);

// The current set's parts; null when there is no current set.
cpc_set_t* cpc_setgrp_getset(cpc_setgrp_t* sgrp);
const char* cpc_setgrp_getname(cpc_setgrp_t* sgrp);
const char* cpc_setgrp_gethdr(cpc_setgrp_t* sgrp);
int cpc_setgrp_numsets(cpc_setgrp_t* sgrp);
// Advances to the next set, after the last to the first; null when empty.
cpc_set_t* cpc_setgrp_nextset(cpc_setgrp_t* sgrp);
// Makes the first set current (an empty group stays without one).
void cpc_setgrp_reset(cpc_setgrp_t* sgrp);
// Addresses of the current set's buffer slots, and its number of requests;
// -1, storing nothing, when there is no current set.
int cpc_setgrp_getbufs(cpc_setgrp_t* sgrp, cpc_buf_t*** data1, cpc_buf_t*** data2,
                       cpc_buf_t*** scratch);
// Resets both groups, then adds each set's data1 of sgrp into accum's, in
// order while the sets have the same number of requests; nothing unless both
// have the same number of sets.
void cpc_setgrp_accum(cpc_setgrp_t* accum, cpc_setgrp_t* sgrp);
int cpc_setgrp_sysonly(cpc_setgrp_t* sgrp);
int cpc_setgrp_has_sysonly(cpc_setgrp_t* sgrp);
