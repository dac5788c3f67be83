#include "vandrel/core/output.h"

#include <array>
#include <cstring>

int HTML = 1;
int DO_fflush = 1;
int IgnoreEmpty = 1;

namespace {

FILE* redirection = nullptr;

struct Entity {
  unsigned char byte;
  const char* text;
};

// ISO 8859-1 letters written as HTML entities. The texts for 248 and 191 are
// the ones existing pages and browsers of this system were made with.
constexpr Entity kEntities[] = {
    {225, "&aacute;"}, {233, "&eacute;"}, {237, "&iacute;"}, {243, "&oacute;"},
    {250, "&uacute;"}, {253, "&yacute;"}, {211, "&Oacute;"}, {193, "&Aacute;"},
    {205, "&Iacute;"}, {201, "&Eacute;"}, {218, "&Uacute;"}, {221, "&Yacute;"},
    {224, "&agrave;"}, {232, "&egrave;"}, {236, "&igrave;"}, {242, "&ograve;"},
    {249, "&ugrave;"}, {192, "&Agrave;"}, {200, "&Egrave;"}, {204, "&Igrave;"},
    {210, "&Ograve;"}, {217, "&Ugrave;"}, {228, "&auml;"},   {235, "&euml;"},
    {239, "&iuml;"},   {246, "&ouml;"},   {252, "&uuml;"},   {196, "&Auml;"},
    {203, "&Euml;"},   {207, "&Iuml;"},   {214, "&Ouml;"},   {220, "&Uuml;"},
    {226, "&acirc;"},  {234, "&ecirc;"},  {238, "&icirc;"},  {244, "&ocirc;"},
    {251, "&ucirc;"},  {194, "&Acirc;"},  {202, "&Ecirc;"},  {206, "&Icirc;"},
    {212, "&Ocirc;"},  {219, "&Ucirc;"},  {227, "&atilde;"}, {241, "&ntilde;"},
    {245, "&otilde;"}, {195, "&Atilde;"}, {209, "&Ntilde;"}, {213, "&Otilde;"},
    {231, "&ccedil;"}, {199, "&Ccedil;"}, {248, "&ordmas;"}, {191, "&questi;"},
};

struct EntityTable {
  std::array<char[2], 256> self;        // the byte as a one-byte text
  std::array<const char*, 256> entity;  // entity text, or nullptr
};

const EntityTable& entity_table() {
  static const EntityTable table = [] {
    EntityTable t{};
    for (int b = 0; b < 256; ++b) {
      t.self[b][0] = static_cast<char>(b);
      t.self[b][1] = '\0';
      t.entity[b] = nullptr;
    }
    for (const Entity& e : kEntities) t.entity[e.byte] = e.text;
    return t;
  }();
  return table;
}

}  // namespace

FILE* X_output() { return redirection ? redirection : stdout; }

namespace {
bool body_open = true;
}  // namespace

bool X_body_open() { return body_open; }
void X_set_body_open(bool open) { body_open = open; }

FILE* X_redirect(FILE* stream) {
  FILE* previous = redirection;
  redirection = stream;
  return previous;
}

const char* HTML_string(unsigned char byte) {
  const EntityTable& t = entity_table();
  return t.entity[byte] ? t.entity[byte] : t.self[byte];
}

void X_putchar(unsigned char byte) {
  FILE* out = X_output();
  if (HTML) {
    const char* entity = entity_table().entity[byte];
    if (entity) {
      std::fputs(entity, out);
      return;
    }
  }
  std::putc(byte, out);
}

void X_write(const char* text, size_t len) {
  FILE* out = X_output();
  if (!HTML) {
    std::fwrite(text, 1, len, out);
    return;
  }
  const EntityTable& t = entity_table();
  size_t run = 0;
  for (size_t i = 0; i < len; ++i) {
    const char* entity = t.entity[static_cast<unsigned char>(text[i])];
    if (!entity) continue;
    std::fwrite(text + run, 1, i - run, out);
    std::fputs(entity, out);
    run = i + 1;
  }
  std::fwrite(text + run, 1, len - run, out);
}

void X_fflush(FILE* stream) {
  if (DO_fflush) std::fflush(stream);
}
