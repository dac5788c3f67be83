// Page-supplied printf formats ("int:" and "printf:" values). A format comes
// from a page author, so it is used only when it holds exactly one
// conversion of the expected kind: no "%n", no "*", no length modifier, no
// width or precision over 8192 (wider than any value is shown), no second
// conversion ("%%" is plain text).
#ifndef VANDREL_VALUES_PRINTF_FORMAT_H_
#define VANDREL_VALUES_PRINTF_FORMAT_H_

#include <cstddef>

// Formats `n` with an integer format (d i o u x X c). False, and nothing
// written, for any other format.
bool format_int(const char* format, int n, char* out, size_t out_size);

// Formats the text `value` by the kind the format names: as text when it
// holds the letter s, as a number read with "%f" when it holds f, e or g,
// otherwise as an integer read with "%d". False, and nothing written, when
// the format's one conversion does not fit that kind.
bool format_value(const char* format, const char* value, char* out, size_t out_size);

#endif  // VANDREL_VALUES_PRINTF_FORMAT_H_
