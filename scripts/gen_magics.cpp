// Finds multipliers for the 32-bit magic index of the slider tables and
// prints them as the body of board/magics.cpp.
//
//   cmake --build build --target gen_magics && build/gen_magics > board/magics.cpp
//
// A candidate is accepted when every subset of the square's mask lands in
// the square's block without two different attack sets sharing an entry.
#include <cstdio>
#include <vector>

#include "board/attacks.h"

namespace {

u64 rngState = 0x5eed0f3a61c5ULL;  // fixed, so the run is reproducible

u64 NextRandom() {
  // xorshift64*
  rngState ^= rngState >> 12;
  rngState ^= rngState << 25;
  rngState ^= rngState >> 27;
  return rngState * 0x2545f4914f6cdd1dULL;
}

// Few set bits make good multipliers.
u64 SparseRandom() { return NextRandom() & NextRandom() & NextRandom(); }

u64 FindMagic(i32 sq, u64 mask, u32 shift, u64 (*slow)(i32, u64), u64* tries) {
  std::vector<u64> subsets;
  std::vector<u64> attacks;
  u64 subset = 0;
  do {
    subsets.push_back(subset);
    attacks.push_back(slow(sq, subset));
    subset = (subset - mask) & mask;
  } while (subset != 0);

  const size_t size = size_t{1} << (32 - shift);
  std::vector<u64> table(size);
  std::vector<u32> stamp(size, 0);
  for (u32 attempt = 1;; ++attempt) {
    const u64 magic = SparseRandom();
    ++*tries;
    bool ok = true;
    for (size_t i = 0; i < subsets.size() && ok; ++i) {
      const u32 index = MagicIndex(subsets[i], mask, magic, shift);
      if (stamp[index] != attempt) {
        stamp[index] = attempt;
        table[index] = attacks[i];
      } else if (table[index] != attacks[i]) {
        ok = false;
      }
    }
    if (ok) return magic;
  }
}

void PrintTable(const char* name, const u64* magics) {
  std::printf("const u64 %s[64] = {\n", name);
  for (i32 sq = 0; sq < 64; sq += 4)
    std::printf("    0x%016llxULL, 0x%016llxULL, 0x%016llxULL, 0x%016llxULL,\n",
                static_cast<unsigned long long>(magics[sq]),
                static_cast<unsigned long long>(magics[sq + 1]),
                static_cast<unsigned long long>(magics[sq + 2]),
                static_cast<unsigned long long>(magics[sq + 3]));
  std::printf("};\n");
}

}  // namespace

int main() {
  u64 bishop[64];
  u64 rook[64];
  u64 tries = 0;
  for (i32 sq = 0; sq < 64; ++sq)
    bishop[sq] = FindMagic(sq, BishopMask[sq], BishopShift[sq], BishopAttacksSlow, &tries);
  for (i32 sq = 0; sq < 64; ++sq) {
    rook[sq] = FindMagic(sq, RookMask[sq], RookShift[sq], RookAttacksSlow, &tries);
    std::fprintf(stderr, "rook %d done (%llu candidates so far)\n", sq,
                 static_cast<unsigned long long>(tries));
  }

  std::printf(
      "// Multipliers of the 32-bit magic index, found by scripts/gen_magics.cpp.\n"
      "// Each maps every subset of its square's mask into the square's block\n"
      "// without two different attack sets sharing an entry.\n"
      "#include \"board/attacks.h\"\n\n");
  PrintTable("BishopMagic", bishop);
  std::printf("\n");
  PrintTable("RookMagic", rook);
  return 0;
}
