// The operating-system release text: from the Solaris release file, or from
// os-release where that file is absent.
#ifndef HESTOV_RELEASE_TEXT_H_
#define HESTOV_RELEASE_TEXT_H_

#include <cstddef>
#include <cstdio>

namespace hestov {

// The release file rule: the first line holding ten consecutive spaces gives
// the text from its first 'S' up to the first 'C' after it, with the "C" kept
// (so "...Solaris 10 ... SPARC" keeps "SPARC" and loses the line end). A line
// with no 'C' after the 'S' gives the rest of the line. Empty without such a
// line or without an 'S'.
void release_text(FILE* in, char* out, size_t out_size);

// The release name of an os-release file: PRETTY_NAME, else NAME, unquoted.
// Returns false (out empty) when neither is there.
bool os_release_name(FILE* in, char* out, size_t out_size);

}  // namespace hestov

#endif  // HESTOV_RELEASE_TEXT_H_
