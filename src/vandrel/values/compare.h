// Comparisons and type checks for the conditions of <@if> and <@elif>.
// Every test returns 0 for true and -1 for false.
//
// Operators, spelled exactly; the HTML-entity forms survive HTML editors:
//   >=  &ge;  &gt;=     <=  &le;  &lt;=     >  &gt;     <  &lt;
//   =  ==               !=
//   like  vlike  !like  !vlike   (texts only)
// An unknown operator is a fatal error ("Unknown CMP operator: ..." and the
// ICMP and FCMP forms); should the reporter return, the test is false.
#ifndef VANDREL_VALUES_COMPARE_H_
#define VANDREL_VALUES_COMPARE_H_

// Texts: the ordering operators compare bytes (as strcmp does), so "10" is
// below "9". "like" matches `first` against the pattern expression `second`
// (see X_CMPpatt); "vlike" matches the value of the variable named `first`,
// and an unset variable does not match; "!like" and "!vlike" negate them.
int X_user_cmp(const char* first, const char* op, const char* second);

// Signed integers; the pattern operators are unknown here.
int X_user_icmp(int first, const char* op, int second);

// Floating-point numbers. ">=" is "not <", "<=" is "not >" and ">" is
// "not <=", so with a NaN operand these three and "!=" are true while "<",
// "=" and "==" are false.
int X_user_fcmp(double first, const char* op, double second);

// 0 when `text` is empty or is decimal digits with an optional leading "-".
int X_check_int(const char* text);

// 0 when `text` is empty or is decimal digits with at most one ".", and an
// optional leading "-".
int X_check_float(const char* text);

// 0 when `text` is a date "YYYY-MM-DD": exactly ten characters, each field
// passing X_check_int, month 1 to 12, day within the month. February has 29
// days in every year and the year is not range-checked.
int X_check_date(const char* text);

// Copies the first `len` characters of `buff` (fewer if it ends sooner) into
// `val`, terminates it and applies X_check_int to the copy. A `len` below 1
// gives the empty text and 0.
// REQUIRES: `val` holds at least len + 1 bytes (1 byte when len < 1).
int X_get_int(const char* buff, char* val, int len);

#endif  // VANDREL_VALUES_COMPARE_H_
