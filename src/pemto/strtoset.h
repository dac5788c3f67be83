// Event specification parser: turns "Instr_cnt,Cycle_cnt" or
// "pic0=FP_dispatched_fpu_ops,cmask0=0,umask0=0x7,pic1=BU_cpu_clk_unhalted"
// into a counter set with one request per counter, using the vocabulary the
// counter library offers for the processor (counters, events, attributes).
#pragma once

#include "pemto/counters/cpc.h"

// Where the parser's messages go (function name "cpc_strtoset", sub-code -1);
// null: nowhere.
extern cpc_errhndlr_t* strtoset_errfn;

// Reports a message through strtoset_errfn.
void strtoset_err(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The set for spec, or null with errno EINVAL after reporting why. smt
// non-zero asks each request to count the sibling hardware thread too.
// Running out of memory reports "no memory available" and ends the program
// with status 1.
cpc_set_t* cpc_strtoset(cpc_t* cpc, const char* spec, int smt);
