#include "numerics/UniformRandom.h"

#include <cstdint>

int gUniformRandomSeed = 999;

namespace {

constexpr int kMultiplier = 16807;
constexpr int kModulus = 2147483647;  // 2^31 - 1
constexpr int kSchrageQ = 127773;     // kModulus / kMultiplier
constexpr int kSchrageR = 2836;       // kModulus % kMultiplier
constexpr int kTableSize = 32;
constexpr int kTableDivisor = 1 + (kModulus - 1) / kTableSize;  // 67108864
constexpr double kLargestDraw = 1.0 - 1.2e-7;                  // 0.99999988

int gShuffleWord = 0;
int gShuffleTable[kTableSize];
static_assert(sizeof(UniformRandomState::table) / sizeof(int) == kTableSize, "state holds the whole table");
long long gDrawCount = 0;
thread_local long long tThreadDrawCount = 0;

// seed = 16807 * seed mod (2^31 - 1), without overflow (Schrage).
void Advance(int* seed) {
  int k = *seed / kSchrageQ;
  *seed = kMultiplier * (*seed - k * kSchrageQ) - kSchrageR * k;
  if (*seed < 0) *seed += kModulus;
}

}  // namespace

float UniformRandom(int* seed) {
  ++gDrawCount;
  ++tThreadDrawCount;
  if (*seed <= 0 || gShuffleWord == 0) {
    // The negation of INT32_MIN does not exist; it is below 1 in any case.
    if (*seed == INT32_MIN || -*seed < 1) {
      *seed = 1;
    } else {
      *seed = -*seed;
    }
    // Eight values are discarded before the table fills.
    for (int j = kTableSize + 7; j >= 0; --j) {
      Advance(seed);
      if (j < kTableSize) gShuffleTable[j] = *seed;
    }
    gShuffleWord = gShuffleTable[0];
  }
  Advance(seed);
  int j = gShuffleWord / kTableDivisor;
  gShuffleWord = gShuffleTable[j];
  gShuffleTable[j] = *seed;
  float t = static_cast<float>(gShuffleWord / static_cast<double>(kModulus));
  if (t > kLargestDraw) return static_cast<float>(kLargestDraw);
  return t;
}

RandomUniform::RandomUniform() { Draw(); }

double RandomUniform::Draw() {
  value = UniformRandom(&gUniformRandomSeed);
  return value;
}

UniformRandomState SaveUniformRandomState() {
  UniformRandomState state;
  state.seed = gUniformRandomSeed;
  state.shuffleWord = gShuffleWord;
  for (int j = 0; j < kTableSize; ++j) state.table[j] = gShuffleTable[j];
  state.drawCount = gDrawCount;
  return state;
}

void RestoreUniformRandomState(const UniformRandomState& state) {
  gUniformRandomSeed = state.seed;
  gShuffleWord = state.shuffleWord;
  for (int j = 0; j < kTableSize; ++j) gShuffleTable[j] = state.table[j];
  gDrawCount = state.drawCount;
}

void ResetUniformRandomForTesting() {
  gUniformRandomSeed = 999;
  gShuffleWord = 0;
  for (int& v : gShuffleTable) v = 0;
  gDrawCount = 0;
}

long long UniformRandomDrawCountForTesting() { return gDrawCount; }

long long UniformRandomThreadDrawCountForTesting() { return tThreadDrawCount; }
