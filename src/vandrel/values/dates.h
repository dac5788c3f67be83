// Dates under a picture format: conversion between date texts and epoch
// seconds for the value functions "dt2str:", "str2dt:", "year:", "month:" and
// "day:", and today's date for "today". A picture is made of field items (SS,
// MI, HH, DD/JJ, MM and the year items YYYY/AAAA down to a single Y/A, upper
// or lower case) and separators.
#ifndef VANDREL_VALUES_DATES_H_
#define VANDREL_VALUES_DATES_H_

#include <cstddef>
#include <cstdint>

#include "vandrel/core/arena.h"

// A broken-down local date and time.
struct datetime_t {
  uint16_t year;   // full year, e.g. 2009
  uint8_t month;   // 1 to 12
  uint8_t day;     // 1 to 31
  uint8_t hour;    // 0 to 23
  uint8_t minute;  // 0 to 59
  uint8_t second;  // 0 to 59
};

// Results of the last SETdate: each flag is 1 when its field occurred in the
// format; Ok is 0, or -1 after any error.
extern int Year;
extern int Month;
extern int Day;
extern int Hours;
extern int Minutes;
extern int Seconds;
extern int Ok;

// Mode 1 writes `date` under `format` into `datestr` (bounded by
// `datestr_size`, always terminated; a cut text is an error); mode 0 parses
// `datestr` into `date`, starting from today's local date at 00:00:00. Returns Ok.
int SETdate(datetime_t* date, const char* format, char* datestr, size_t datestr_size, int mode);

// Formats the local time of epoch seconds `dt` into `datestr`; the SETdate result.
int X_dt2str(long dt, const char* format, char* datestr, size_t datestr_size);

// Parses `datestr` as a local time and stores its epoch seconds in `dt`; the SETdate result.
int X_str2dt(const char* datestr, const char* format, long* dt);

// Reduce, in place, a text starting with YYYY-MM-DD to its year, month or day;
// 0, or -1 with the text unchanged when it is shorter than 10 characters.
int date_YEAR(char* date);
int date_MONTH(char* date);
int date_DAY(char* date);

// Today's local date as "YYYY-MM-DD", allocated in `hp`; nullptr when the
// date cannot be had or `hp` has no memory left.
char* X_today(X_heap* hp);

#endif  // VANDREL_VALUES_DATES_H_
