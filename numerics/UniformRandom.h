#pragma once
// The program's one uniform random sequence.
//
// Every random choice of a run comes from this generator, so the number and the
// order of the draws decide every random result. The state (seed word, shuffle
// output and shuffle table) is process-wide and unguarded: draw from one thread only.
//
// The generator is the minimal-standard multiplicative congruential generator
// (multiplier 16807, modulus 2^31 - 1, Schrage's method) behind a Bays-Durham
// shuffle table of 32 entries. The seed word starts at 999; the first call sees
// that the table is not built yet, turns the seed into 1 and fills the table, so
// every run draws the same sequence: 0.41599935, 0.09196489, 0.75641048, ...

// The program's seed word. Callers pass its address; its value 999 at start-up
// makes the first call initialise the generator from 1.
extern int gUniformRandomSeed;

// One draw in (0, 1), rounded to single precision and never above 0.99999988.
// A seed <= 0 (or a generator not yet initialised) reinitialises the shuffle table
// from |seed| (1 when that is below 1). The table and the shuffle word are shared by
// all callers whatever seed word they pass.
float UniformRandom(int* seed);

// Tag of the constructions that take no draw (RandomUniform, RF, PbtAdaWeak).
struct WithoutDraw {
  explicit WithoutDraw() = default;
};

// Holds the last uniform draw. Constructing one takes a draw (so every object that
// holds a RandomUniform advances the sequence when it is constructed); copying or
// assigning one copies the value and draws nothing.
class RandomUniform {
 public:
  RandomUniform();
  // Takes no draw; value 0. Only for an object whose value nobody reads before its
  // next Draw() (a candidate trained and thrown away), and only where the caller
  // takes, in its place, one plain UniformRandom(&gUniformRandomSeed) on the drawing
  // thread at the point of the sequence where the construction would have taken it.
  explicit RandomUniform(WithoutDraw) {}
  // Draws again from UniformRandom(&gUniformRandomSeed), stores the value and returns it.
  double Draw();

  double value = 0.0;
};

// The whole generator: seed word, shuffle word, shuffle table and draw counter. A
// caller that must leave the sequence where it was (a read-back check that constructs
// distributions) saves it before and restores it after.
struct UniformRandomState {
  int seed = 0;
  int shuffleWord = 0;
  int table[32] = {};
  long long drawCount = 0;
};
UniformRandomState SaveUniformRandomState();
void RestoreUniformRandomState(const UniformRandomState& state);

// Test-only: puts the generator back into its start-up state (seed word 999, no
// table) and sets the draw counter to 0.
void ResetUniformRandomForTesting();
// Test-only: the number of UniformRandom calls since start-up or the last reset.
long long UniformRandomDrawCountForTesting();
// Test-only: the number of UniformRandom calls made by the calling thread since it
// started (a reset does not clear it); with the count above it tells whether another
// thread drew.
long long UniformRandomThreadDrawCountForTesting();
