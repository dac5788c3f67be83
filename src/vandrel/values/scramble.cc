#include "vandrel/values/scramble.h"

#include <cstring>

namespace {

constexpr int kKeySize = 32;

// Carried from call to call; 0 to kKeySize-1.
int key_p = 0;

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

void X_crypt_reset() {
  key_p = 0;
}

void X_crypt(const char* in, char* out, size_t out_size) {
  size_t n = in != nullptr ? std::strlen(in) : 0;
  size_t room = out != nullptr && out_size > 0 ? (out_size - 1) / 2 : 0;
  size_t len = 0;
  if (n > 0) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(in);
    unsigned char key[kKeySize];
    for (int i = 0; i < kKeySize; ++i) key[i] = bytes[static_cast<size_t>(i) % n];
    for (size_t pos = n; pos-- > 0;) {
      int j = key_p;
      unsigned a = key[j];
      unsigned k = key[0];
      unsigned b = key[j + 1 < kKeySize ? j + 1 : 0];
      unsigned sum = (a + b) & 0xffu;
      key[j] = static_cast<unsigned char>(sum != 0 ? sum : 1);
      key_p = (j + 1) % kKeySize;
      unsigned byte = ((k * static_cast<unsigned>(j)) ^ a ^ bytes[pos]) & 0xffu;
      if (len < room) {
        out[2 * len] = kHex[byte >> 4];
        out[2 * len + 1] = kHex[byte & 0xfu];
        ++len;
      }
    }
  }
  if (out != nullptr && out_size > 0) out[2 * len] = '\0';
}
