#include "korbad/access_file.h"

#include <cstring>

long read_access_line(FILE* f, char (&line)[kAccessLineMax + 1]) {
  size_t len = 0;
  int c = getc(f);
  if (c == EOF) return -1;
  for (; c != EOF; c = getc(f)) {
    if (len < kAccessLineMax) line[len++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line[len] = '\0';
  return static_cast<long>(len);
}

namespace {

bool is_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view next_word(std::string_view* rest) {
  size_t i = 0;
  while (i < rest->size() && is_blank((*rest)[i])) ++i;
  size_t j = i;
  while (j < rest->size() && !is_blank((*rest)[j])) ++j;
  std::string_view word = rest->substr(i, j - i);
  rest->remove_prefix(j);
  return word;
}

}  // namespace

bool split_access_line(std::string_view line, AccessLine* out) {
  if (line.size() <= 4 || line[0] == '#') return false;
  out->keyword = next_word(&line);
  out->name = next_word(&line);
  out->path = next_word(&line);
  return true;
}

AccessVerdict check_access(FILE* access, std::string_view client, std::string_view word,
                           const ListSink* list, char (&path)[kPathMax + 1]) {
  bool granted = true;  // commands before the first run are open to all
  bool in_run = false;
  char line[kAccessLineMax + 1];
  long len;
  while ((len = read_access_line(access, line)) >= 0) {
    AccessLine fields;
    if (!split_access_line(std::string_view(line, static_cast<size_t>(len)), &fields)) continue;
    if (fields.keyword == "access") {
      if (in_run && granted) continue;  // an earlier address of this run matched
      in_run = true;
      granted = fields.name == client;
    } else if (fields.keyword == "command") {
      in_run = false;
      if (!granted) continue;
      // A NUL byte would end the program's name early, as a C string: a path
      // of NULs would run the client's first argument.
      if (fields.name.empty() || fields.path.empty() || fields.name.size() > kNameMax ||
          fields.path.size() > kPathMax || fields.name.find('\0') != std::string_view::npos ||
          fields.path.find('\0') != std::string_view::npos) {
        continue;
      }
      if (list != nullptr) {
        list->listed(list->context, fields.name);
      } else if (fields.name == word) {
        memcpy(path, fields.path.data(), fields.path.size());
        path[fields.path.size()] = '\0';
        return AccessVerdict::kFound;
      }
    }
  }
  return list != nullptr ? AccessVerdict::kListed : AccessVerdict::kNoAccess;
}
