#include "vandrel/statements/conditions.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vandrel/core/argument_split.h"
#include "vandrel/core/numbers.h"
#include "vandrel/values/compare.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"

namespace {

constexpr int kMaxConditionArgs = 4;

const int* eof_flag = nullptr;

// The condition's first arguments, split as every command splits them.
struct ConditionArgs {
  LineBuffer arg[kMaxConditionArgs];
  explicit ConditionArgs(const char* text) {
    const char* p = text;
    for (LineBuffer& a : arg) p += X_arg_string(p, a.data(), kLineSize);
  }
  const char* operator[](int i) { return arg[i].data(); }
};

double read_double(const char* text) {
  double value = 0;
  std::sscanf(text, "%lf", &value);
  return value;
}

bool check_format(const char* name, const char* type) {
  const char* value = X_get_value(name);
  const char* text = value && value[0] ? value : name;
  if (std::strcmp(type, "int") == 0) return X_check_int(text) == 0;
  if (std::strcmp(type, "float") == 0) return X_check_float(text) == 0;
  if (std::strcmp(type, "date") == 0) return X_check_date(text) == 0;
  ERRMSG("Unknown option in FMT: %s \n", type);
  return false;
}

bool filled(const char* name) {
  X_trace("Filled...\n");
  X_trace("Filled? {%s}  \n", name);
  const char* value = X_get_value(name);
  X_trace("after VAL{%s} = %s \n", name, value ? value : "(null)");
  return value && value[0];
}

bool path_test(const char* path, mode_t type) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  return type == 0 || (st.st_mode & S_IFMT) == type;
}

// The forms named by a keyword; the default form compares A operator B.
bool keyword_test(const char* keyword, ConditionArgs& a, bool* known) {
  *known = true;
  if (std::strcmp(keyword, "cmp") == 0) return X_user_cmp(a[1], a[2], a[3]) == 0;
  if (std::strcmp(keyword, "icmp") == 0)
    return X_user_icmp(X_atoi(a[1]), a[2], X_atoi(a[3])) == 0;
  if (std::strcmp(keyword, "fcmp") == 0)
    return X_user_fcmp(read_double(a[1]), a[2], read_double(a[3])) == 0;
  if (std::strcmp(keyword, "fmt") == 0) return check_format(a[1], a[2]);
  if (std::strcmp(keyword, "filled") == 0) return filled(a[1]);
  if (std::strcmp(keyword, "EOF") == 0) return eof_flag && *eof_flag != 0;
  if (std::strcmp(keyword, "exist") == 0) return path_test(a[1], 0);
  if (std::strcmp(keyword, "isDir") == 0) return path_test(a[1], S_IFDIR);
  if (std::strcmp(keyword, "isFile") == 0) return path_test(a[1], S_IFREG);
  *known = false;
  return false;
}

}  // namespace

void X_set_eof_flag(const int* flag) {
  eof_flag = flag;
}

bool X_condition(const char* text) {
  ConditionArgs args(text);
  const char* first = args[0];
  bool known = false;
  bool negated = first[0] == '!';
  bool result = keyword_test(negated ? first + 1 : first, args, &known);
  if (known) return negated ? !result : result;
  return X_user_cmp(args[0], args[1], args[2]) == 0;
}
