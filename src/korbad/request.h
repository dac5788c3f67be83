// One request: the text a client sends, made harmless and split into the
// command word and the argument text.
#ifndef KORBAD_REQUEST_H_
#define KORBAD_REQUEST_H_

#include <cstddef>

inline constexpr size_t kRequestMax = 1024;    // bytes taken by the one read
inline constexpr size_t kWordMax = 98;         // command word, longer ones are cut
inline constexpr size_t kRequestHeadMax = 39;  // request shown in the Exit line
inline constexpr char kListWord[] = "STAT_LIST";

// True for the characters a request may carry to the shell: ASCII letters,
// digits and ".,:*/-_". Everything else could start shell syntax.
bool check_char(unsigned char c);

// Replaces, in place, every character that check_char refuses by a space.
void sanitise_request(char* text);

struct ParsedRequest {
  // The command word without any directory part ("/usr/bin/vmstat" asks for
  // "vmstat"). Empty when the request holds no word.
  char word[kWordMax + 1];
  // The rest of the request from where the word ended: the separating space
  // on, or the 99th character of a word that was cut.
  const char* args;
};

// REQUIRES: text has been through sanitise_request.
void parse_request(const char* text, ParsedRequest* out);

#endif  // KORBAD_REQUEST_H_
