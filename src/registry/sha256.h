// SHA-256 (FIPS 180-4), for the digest an undo record keeps of the bytes
// a run wrote: fed in parts, finished once.
#ifndef MODREG_REGISTRY_SHA256_H_
#define MODREG_REGISTRY_SHA256_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace registry {

struct Sha256 {
  uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  unsigned char block[64] = {};
  size_t used = 0;          // bytes waiting in |block|
  unsigned long long total = 0;  // bytes fed
};

// Feeds |size| bytes at |data|.
void AddSha256(Sha256* s, const char* data, size_t size);

// Returns the digest of what was fed, in 64 lower-case hex digits; |s| is
// used up.
std::string FinishSha256(Sha256* s);

// Returns the digest of |size| bytes at |data|.
std::string DigestOf(const char* data, size_t size);

}  // namespace registry

#endif  // MODREG_REGISTRY_SHA256_H_
