// Byte searches a word (eight bytes) at a time, with plain integer
// arithmetic: the same code on every build, vector instructions or not.
#ifndef MODREG_REGISTRY_WORDSCAN_H_
#define MODREG_REGISTRY_WORDSCAN_H_

#include <cstdint>
#include <cstring>

using Word = uint64_t;
constexpr size_t kWordSize = sizeof(Word);
constexpr Word kOnes = 0x0101010101010101u;
constexpr Word kHighs = 0x8080808080808080u;

inline Word LoadWord(const char* p) {
  Word w;
  memcpy(&w, p, sizeof w);
  return w;
}

inline void StoreWord(char* p, Word w) { memcpy(p, &w, sizeof w); }

// Nonzero when some byte of |w| is |c|. Bits can be set above a matching
// byte as well, never when none matches.
inline Word HasByte(Word w, unsigned char c) {
  Word x = w ^ (kOnes * c);
  return (x - kOnes) & ~x & kHighs;
}

#endif  // MODREG_REGISTRY_WORDSCAN_H_
