#include "pemto/strtoset.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pemto/emalloc.h"

cpc_errhndlr_t* strtoset_errfn = nullptr;

void strtoset_err(const char* fmt, ...) {
  if (!strtoset_errfn) return;
  va_list ap;
  va_start(ap, fmt);
  strtoset_errfn("cpc_strtoset", -1, fmt, ap);
  va_end(ap);
}

namespace {

// Out of memory is fatal, and not a success: the status is 1.
[[noreturn]] void out_of_memory() {
  strtoset_err("no memory available\n");
  exit(1);
}

// One counter's request while it is being built.
struct Request {
  char event[CPC_MAX_EVENT_LEN];  // empty: no event on this counter
  unsigned flags;
  int nattrs;
};

// A counter's attributes, most recent first; every list ends with "picnum".
struct Attr {
  const char* name;
  uint64_t val;
  Attr* next;
};

struct Parse;
typedef int (*TokenHandler)(Parse* p, int tok, const char* value);

struct TokenInfo {
  const char* base;  // "pic", "nouser", "sys" or an attribute name
  int counter;       // -1: every counter
};

// Working state of one call, released before it returns.
struct Parse {
  cpc_t* cpc;
  int ncounters;
  Request* reqs;
  Attr** attrs;
  char** attrlist;  // the library's attributes except "picnum"
  int nattrs;
  int attrcap;
  char** toks;
  TokenInfo* tok_info;
  TokenHandler* tok_funcs;
  int ntoks;
};

void push_attr(Parse* p, int counter, const char* name, uint64_t val) {
  Attr* a = static_cast<Attr*>(emalloc(sizeof(Attr), out_of_memory));
  a->name = name;
  a->val = val;
  a->next = p->attrs[counter];
  p->attrs[counter] = a;
  p->reqs[counter].nattrs++;
}

struct EventSearch {
  const char* name;
  bool found;
};

void match_event(void* arg, unsigned, const char* event) {
  EventSearch* s = static_cast<EventSearch*>(arg);
  if (strncmp(event, s->name, CPC_MAX_EVENT_LEN) == 0) s->found = true;
}

bool event_valid(Parse* p, int counter, const char* name) {
  EventSearch search = {name, false};
  cpc_walk_events_pic(p->cpc, static_cast<unsigned>(counter), &search, match_event);
  return search.found;
}

void place(Parse* p, int counter, const char* name) {
  snprintf(p->reqs[counter].event, sizeof p->reqs[counter].event, "%s", name);
}

int pic_handler(Parse* p, int tok, const char* value) {
  int c = p->tok_info[tok].counter;
  if (p->reqs[c].event[0] != '\0') {
    strtoset_err("repeated 'pic%d' token\n", c);
    return -1;
  }
  if (!value || *value == '\0') {
    strtoset_err("missing 'pic%d' value\n", c);
    return -1;
  }
  if (!event_valid(p, c, value)) {
    strtoset_err("pic%d cannot measure event '%s' on this cpu\n", c, value);
    return -1;
  }
  place(p, c, value);
  return 0;
}

int flag_handler(Parse* p, int tok, const char*) {
  const TokenInfo& info = p->tok_info[tok];
  bool nouser = strcmp(info.base, "nouser") == 0;
  for (int c = 0; c < p->ncounters; c++) {
    if (info.counter != -1 && info.counter != c) continue;
    if (nouser) {
      p->reqs[c].flags &= ~CPC_COUNT_USER;
    } else {
      p->reqs[c].flags |= CPC_COUNT_SYSTEM;
    }
  }
  return 0;
}

int attr_handler(Parse* p, int tok, const char* value) {
  const TokenInfo& info = p->tok_info[tok];
  uint64_t val = 1;
  if (value) {
    char* end = nullptr;
    val = strtoull(value, &end, 0);
    if (end == value) {
      strtoset_err("invalid value '%s' for attribute '%s'\n", value, info.base);
      return -1;
    }
  }
  for (int c = 0; c < p->ncounters; c++) {
    if (info.counter == -1 || info.counter == c) push_attr(p, c, info.base, val);
  }
  return 0;
}

// Places a bare event name on the first counter above the highest one in
// use that can count it.
bool find_event(Parse* p, const char* name) {
  int highest = -1;
  for (int c = 0; c < p->ncounters; c++) {
    if (p->reqs[c].event[0] != '\0') highest = c;
  }
  if (highest == p->ncounters - 1) return false;
  for (int c = highest + 1; c < p->ncounters; c++) {
    if (event_valid(p, c, name)) {
      place(p, c, name);
      return true;
    }
  }
  return false;
}

void collect_attr(void* arg, const char* attr) {
  Parse* p = static_cast<Parse*>(arg);
  if (strncmp(attr, "picnum", 7) == 0) return;
  if (p->nattrs == p->attrcap) {
    p->attrcap = p->attrcap ? 2 * p->attrcap : 8;
    p->attrlist =
        static_cast<char**>(erealloc(p->attrlist, p->attrcap * sizeof(char*), out_of_memory));
  }
  p->attrlist[p->nattrs++] = estrdup(attr, out_of_memory);
}

void add_token(Parse* p, const char* base, int counter, TokenHandler fn) {
  size_t size = strlen(base) + 16;
  char* text = static_cast<char*>(emalloc(size, out_of_memory));
  if (counter >= 0) {
    snprintf(text, size, "%s%d", base, counter);
  } else {
    snprintf(text, size, "%s", base);
  }
  p->toks[p->ntoks] = text;
  p->tok_info[p->ntoks] = {base, counter};
  p->tok_funcs[p->ntoks] = fn;
  p->ntoks++;
}

void init(Parse* p, cpc_t* cpc) {
  memset(p, 0, sizeof *p);
  p->cpc = cpc;
  p->ncounters = static_cast<int>(cpc_npic(cpc));
  int n = p->ncounters;
  p->reqs = static_cast<Request*>(emalloc(n * sizeof(Request), out_of_memory));
  p->attrs = static_cast<Attr**>(emalloc(n * sizeof(Attr*), out_of_memory));
  for (int c = 0; c < n; c++) {
    p->reqs[c].flags = CPC_COUNT_USER;
    Attr* picnum = static_cast<Attr*>(emalloc(sizeof(Attr), out_of_memory));
    *picnum = {"picnum", static_cast<uint64_t>(c), nullptr};
    p->attrs[c] = picnum;
    p->reqs[c].nattrs = 1;
  }
  cpc_walk_attrs(cpc, p, collect_attr);

  // The table ends with a null token.
  int size = n * (p->nattrs + 3) + p->nattrs + 3;
  p->toks = static_cast<char**>(emalloc(size * sizeof(char*), out_of_memory));
  p->tok_info = static_cast<TokenInfo*>(emalloc(size * sizeof(TokenInfo), out_of_memory));
  p->tok_funcs = static_cast<TokenHandler*>(emalloc(size * sizeof(TokenHandler), out_of_memory));
  for (int c = 0; c < n; c++) add_token(p, "pic", c, pic_handler);
  for (int c = 0; c < n; c++) add_token(p, "nouser", c, flag_handler);
  for (int c = 0; c < n; c++) add_token(p, "sys", c, flag_handler);
  for (int a = 0; a < p->nattrs; a++) {
    for (int c = 0; c < n; c++) add_token(p, p->attrlist[a], c, attr_handler);
    add_token(p, p->attrlist[a], -1, attr_handler);
  }
  add_token(p, "nouser", -1, flag_handler);
  add_token(p, "sys", -1, flag_handler);
}

void release(Parse* p) {
  for (int t = 0; t < p->ntoks; t++) free(p->toks[t]);
  free(p->toks);
  free(p->tok_info);
  free(p->tok_funcs);
  for (int a = 0; a < p->nattrs; a++) free(p->attrlist[a]);
  free(p->attrlist);
  for (int c = 0; c < p->ncounters; c++) {
    for (Attr* a = p->attrs[c]; a;) {
      Attr* next = a->next;
      free(a);
      a = next;
    }
  }
  free(p->attrs);
  free(p->reqs);
}

int find_token(const Parse* p, const char* name, size_t len) {
  for (int t = 0; t < p->ntoks; t++) {
    if (strlen(p->toks[t]) == len && memcmp(p->toks[t], name, len) == 0) return t;
  }
  return -1;
}

bool blank(char c) {
  return c == ' ' || c == '\t';
}

// Blanks around a piece or a value are not part of any name, so that a
// specification padded with blanks still names its events.
char* trim(char* s) {
  while (blank(*s)) s++;
  size_t n = strlen(s);
  while (n > 0 && blank(s[n - 1])) s[--n] = '\0';
  return s;
}

// Splits the event specification at commas, as getsubopt does, and hands every piece
// to its token's handler or places it as an event. False after a report.
bool parse_pieces(Parse* p, char* cursor) {
  while (*cursor != '\0') {
    char* piece = cursor;
    char* comma = strchr(cursor, ',');
    if (comma) {
      *comma = '\0';
      cursor = comma + 1;
    } else {
      cursor += strlen(cursor);
    }
    piece = trim(piece);
    char* eq = strchr(piece, '=');
    size_t len = eq ? static_cast<size_t>(eq - piece) : strlen(piece);
    while (len > 0 && blank(piece[len - 1])) len--;
    int tok = find_token(p, piece, len);
    if (tok >= 0) {
      const char* value = eq ? trim(eq + 1) : nullptr;
      if (p->tok_funcs[tok](p, tok, value) == -1) return false;
    } else if (!find_event(p, piece)) {
      strtoset_err("bad token '%s'\n", piece);
      return false;
    }
  }
  return true;
}

// With sibling counting, a request counts the other hardware thread of its
// core in the same modes.
void smt_special(Parse* p, int c) {
  if (p->reqs[c].flags & CPC_COUNT_USER) push_attr(p, c, "count_sibling_usr", 1);
  if (p->reqs[c].flags & CPC_COUNT_SYSTEM) push_attr(p, c, "count_sibling_sys", 1);
}

}  // namespace

cpc_set_t* cpc_strtoset(cpc_t* cpc, const char* spec, int smt) {
  Parse parse;
  Parse* p = &parse;
  init(p, cpc);
  char* copy = estrdup(spec ? spec : "", out_of_memory);
  bool ok = parse_pieces(p, copy);
  free(copy);
  if (!ok) {
    release(p);
    errno = EINVAL;
    return nullptr;
  }

  cpc_set_t* set = cpc_set_create(cpc);
  if (!set) out_of_memory();
  for (int c = 0; c < p->ncounters; c++) {
    if (p->reqs[c].event[0] == '\0') continue;
    if (smt) smt_special(p, c);
    int n = p->reqs[c].nattrs;
    cpc_attr_t* attrs = static_cast<cpc_attr_t*>(emalloc(n * sizeof(cpc_attr_t), out_of_memory));
    int i = 0;
    for (Attr* a = p->attrs[c]; a && i < n; a = a->next, i++) attrs[i] = {a->name, a->val};
    int rc = cpc_set_add_request(cpc, set, p->reqs[c].event, 0, p->reqs[c].flags,
                                 static_cast<unsigned>(i), attrs);
    int saved = errno;
    free(attrs);
    if (rc == -1) {
      cpc_set_destroy(cpc, set);
      strtoset_err("cpc_set_add_request() failed: %s\n", strerror(saved));
      release(p);
      errno = EINVAL;
      return nullptr;
    }
  }
  release(p);
  return set;
}
