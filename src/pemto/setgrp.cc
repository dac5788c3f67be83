#include "pemto/setgrp.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pemto/counters/alloc_fault.h"
#include "pemto/emalloc.h"
#include "pemto/strtoset.h"

namespace {

// Running out of memory is fatal, and not a success: the status is 1.
[[noreturn]] void die(const char* message) {
  fputs(message, stderr);
  exit(1);
}

[[noreturn]] void out_of_memory() {
  die("cpc_setgrp: no memory available\n");
}

bool has_current(const cpc_setgrp_t* sgrp) {
  return sgrp->current >= 0 && sgrp->current < sgrp->nelem;
}

void create_buffers(cpc_t* cpc, cpc_setgrp_set* s) {
  s->data1 = cpc_buf_create(cpc, s->set);
  s->data2 = cpc_buf_create(cpc, s->set);
  s->scratch = cpc_buf_create(cpc, s->set);
  if (!s->data1 || !s->data2 || !s->scratch) out_of_memory();
}

void count_request(void* arg, int, const char*, uint64_t, unsigned flags, int, const cpc_attr_t*) {
  cpc_setgrp_set* s = static_cast<cpc_setgrp_set*>(arg);
  s->nreqs++;
  if (flags & CPC_COUNT_USER) s->sysonly = 0;
}

void record_picnum(void* arg, int index, const char*, uint64_t, unsigned, int nattrs,
                   const cpc_attr_t* attrs) {
  cpc_setgrp_set* s = static_cast<cpc_setgrp_set*>(arg);
  if (index < 0 || index >= s->nreqs) return;
  s->picnums[index] = -1;
  for (int i = 0; i < nattrs; i++) {
    if (strncmp(attrs[i].ca_name, "picnum", 7) == 0) {
      s->picnums[index] = static_cast<int>(attrs[i].ca_val);
      break;
    }
  }
}

void release_set(cpc_t* cpc, cpc_setgrp_set* s) {
  free(s->name);
  free(s->hdr);
  free(s->picnums);
  cpc_buf_destroy(cpc, s->data1);
  cpc_buf_destroy(cpc, s->data2);
  cpc_buf_destroy(cpc, s->scratch);
  // The parsed set goes too: the handle lives as long as the program.
  cpc_set_destroy(cpc, s->set);
}

}  // namespace

cpc_setgrp_t* cpc_setgrp_new(cpc_t* cpc, int smt) {
  if (pemto_allocation_fails()) return nullptr;
  cpc_setgrp_t* sgrp = static_cast<cpc_setgrp_t*>(calloc(1, sizeof(cpc_setgrp_t)));
  if (!sgrp) return nullptr;
  sgrp->current = -1;
  sgrp->smt = smt;
  sgrp->cpc = cpc;
  return sgrp;
}

cpc_setgrp_t* cpc_setgrp_newset(cpc_setgrp_t* sgrp, const char* spec, int* errors) {
  if (!spec) spec = "";
  cpc_set_t* set = cpc_strtoset(sgrp->cpc, spec, sgrp->smt);
  if (!set) {
    if (errors) (*errors)++;
    return sgrp;
  }
  size_t grown = (static_cast<size_t>(sgrp->nelem) + 1) * sizeof(cpc_setgrp_set);
  void* sets = pemto_allocation_fails() ? nullptr : realloc(sgrp->sets, grown);
  if (!sets) die("cpc_setgrp: no re memory available\n");
  sgrp->sets = static_cast<cpc_setgrp_set*>(sets);
  cpc_setgrp_set* s = &sgrp->sets[sgrp->nelem];
  memset(s, 0, sizeof *s);
  s->set = set;
  s->sysonly = 1;
  cpc_walk_requests(sgrp->cpc, set, s, count_request);
  if (s->sysonly) sgrp->has_sysonly = 1;

  s->picnums = static_cast<int*>(emalloc(s->nreqs * sizeof(int), out_of_memory));
  cpc_walk_requests(sgrp->cpc, set, s, record_picnum);

  // Eleven characters per request, each piece cut to ten.
  size_t hdr_size = static_cast<size_t>(s->nreqs) * 11 + 1;
  s->hdr = static_cast<char*>(emalloc(hdr_size, out_of_memory));
  size_t used = 0;
  for (int i = 0; i < s->nreqs; i++) {
    char piece[32];
    int n = snprintf(piece, sizeof piece, "%8s%-2d ", "pic", s->picnums[i]);
    size_t take = n < 0 ? 0 : static_cast<size_t>(n) < 10 ? static_cast<size_t>(n) : 10;
    memcpy(s->hdr + used, piece, take);
    used += take;
  }
  s->hdr[used] = '\0';
  s->name = estrdup(spec, out_of_memory);
  create_buffers(sgrp->cpc, s);
  if (sgrp->current == -1) sgrp->current = 0;
  sgrp->nelem++;
  return sgrp;
}

cpc_setgrp_t* cpc_setgrp_clone(cpc_setgrp_t* sgrp) {
  cpc_setgrp_t* copy = static_cast<cpc_setgrp_t*>(emalloc(sizeof(cpc_setgrp_t), out_of_memory));
  copy->sets =
      static_cast<cpc_setgrp_set*>(emalloc(sgrp->nelem * sizeof(cpc_setgrp_set), out_of_memory));
  copy->nelem = sgrp->nelem;
  copy->current = sgrp->current;
  copy->smt = sgrp->smt;
  copy->has_sysonly = sgrp->has_sysonly;
  copy->cpc = sgrp->cpc;
  for (int i = 0; i < sgrp->nelem; i++) {
    const cpc_setgrp_set* from = &sgrp->sets[i];
    cpc_setgrp_set* to = &copy->sets[i];
    to->set = cpc_strtoset(copy->cpc, from->name, copy->smt);
    if (!to->set) die("cpc_setgrp: cpc_strtoset() failed\n");
    to->name = estrdup(from->name, out_of_memory);
    to->sysonly = from->sysonly;
    to->nreqs = from->nreqs;
    create_buffers(copy->cpc, to);
    cpc_buf_copy(copy->cpc, to->data1, from->data1);
    cpc_buf_copy(copy->cpc, to->data2, from->data2);
    cpc_buf_copy(copy->cpc, to->scratch, from->scratch);
  }
  return copy;
}

void cpc_setgrp_delset(cpc_setgrp_t* sgrp) {
  if (sgrp->current >= sgrp->nelem) sgrp->current = sgrp->nelem - 1;
  if (sgrp->current < 0) return;
  release_set(sgrp->cpc, &sgrp->sets[sgrp->current]);
  int after = sgrp->nelem - sgrp->current - 1;
  if (after > 0) {
    memmove(&sgrp->sets[sgrp->current], &sgrp->sets[sgrp->current + 1],
            after * sizeof(cpc_setgrp_set));
  }
  sgrp->nelem--;
  // An empty group has no current set, so that nextset finds none.
  if (sgrp->nelem == 0) sgrp->current = -1;
}

void cpc_setgrp_free(cpc_setgrp_t* sgrp) {
  if (!sgrp) return;
  for (int i = sgrp->nelem - 1; i >= 0; i--) release_set(sgrp->cpc, &sgrp->sets[i]);
  free(sgrp->sets);
  free(sgrp);
}

cpc_set_t* cpc_setgrp_getset(cpc_setgrp_t* sgrp) {
  return has_current(sgrp) ? sgrp->sets[sgrp->current].set : nullptr;
}

const char* cpc_setgrp_getname(cpc_setgrp_t* sgrp) {
  return has_current(sgrp) ? sgrp->sets[sgrp->current].name : nullptr;
}

const char* cpc_setgrp_gethdr(cpc_setgrp_t* sgrp) {
  return has_current(sgrp) ? sgrp->sets[sgrp->current].hdr : nullptr;
}

int cpc_setgrp_numsets(cpc_setgrp_t* sgrp) {
  return sgrp->nelem;
}

cpc_set_t* cpc_setgrp_nextset(cpc_setgrp_t* sgrp) {
  if (sgrp->current == -1 || sgrp->nelem == 0) return nullptr;
  sgrp->current = sgrp->current + 1 >= sgrp->nelem ? 0 : sgrp->current + 1;
  return sgrp->sets[sgrp->current].set;
}

void cpc_setgrp_reset(cpc_setgrp_t* sgrp) {
  if (sgrp->current >= 1) sgrp->current = 0;
}

int cpc_setgrp_getbufs(cpc_setgrp_t* sgrp, cpc_buf_t*** data1, cpc_buf_t*** data2,
                       cpc_buf_t*** scratch) {
  if (!has_current(sgrp)) return -1;
  cpc_setgrp_set* s = &sgrp->sets[sgrp->current];
  *data1 = &s->data1;
  *data2 = &s->data2;
  *scratch = &s->scratch;
  return s->nreqs;
}

void cpc_setgrp_accum(cpc_setgrp_t* accum, cpc_setgrp_t* sgrp) {
  cpc_setgrp_reset(accum);
  cpc_setgrp_reset(sgrp);
  if (accum->nelem != sgrp->nelem) return;
  for (int i = 0; i < sgrp->nelem; i++) {
    cpc_setgrp_set* to = &accum->sets[i];
    cpc_setgrp_set* from = &sgrp->sets[i];
    if (to->nreqs != from->nreqs) break;
    cpc_buf_add(accum->cpc, to->data1, to->data1, from->data1);
  }
}

int cpc_setgrp_sysonly(cpc_setgrp_t* sgrp) {
  return has_current(sgrp) ? sgrp->sets[sgrp->current].sysonly : 0;
}

int cpc_setgrp_has_sysonly(cpc_setgrp_t* sgrp) {
  return sgrp->has_sysonly;
}
