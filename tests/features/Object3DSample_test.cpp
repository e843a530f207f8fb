// The feature pools that training builds (version 1, 3 context maps, radius 5, before
// and after the first auto-context iteration): their size and a digest of every
// description in pool order. A trained model names its features by pool content, so any
// change of order or text inside these pools breaks every stored model. The figures come
// from feature_pool_reference.py beside this file, an enumeration of its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "FeatureTestSupport.h"
#include "features/Object3DSample.h"

namespace {

// SHA-256 of a byte string, as lower-case hex.
std::string Sha256Hex(const std::string& message) {
  static const uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
      0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
      0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
      0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
      0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
      0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
      0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  std::string data = message;
  const uint64_t bits = static_cast<uint64_t>(message.size()) * 8;
  data += static_cast<char>(0x80);
  while (data.size() % 64 != 56) data += '\0';
  for (int i = 7; i >= 0; --i) data += static_cast<char>((bits >> (8 * i)) & 0xff);
  for (size_t block = 0; block < data.size(); block += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = 0;
      for (int b = 0; b < 4; ++b) w[i] = (w[i] << 8) | static_cast<uint8_t>(data[block + 4 * i + b]);
    }
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    const uint32_t add[8] = {a, b, c, d, e, f, g, hh};
    for (int i = 0; i < 8; ++i) h[i] += add[i];
  }
  std::string hex;
  char byte[3];
  for (uint32_t v : h)
    for (int i = 3; i >= 0; --i) {
      std::snprintf(byte, sizeof byte, "%02x", (v >> (8 * i)) & 0xff);
      hex += byte;
    }
  return hex;
}

TEST(Object3DSamplePool, DigestHelperMatchesKnownValues) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  // Two blocks after padding.
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Object3DSamplePool, TrainingPoolsHoldEveryDescriptionInOrder) {
  const struct Case {
    int contextAvailable;
    size_t size;
    const char* sha256;
  } cases[] = {
      {1, 9636, "edd8d03a597eb38ffd8bf636aaf863d6647c76f3f7c1fa86959e9b9a652ead80"},
      {0, 5886, "3c9c6aa7ca950e6623669b424ba3b762c83e2156bbe09a7b37ff66cce7bf4ad0"},
  };
  for (const Case& c : cases) {
    ScopedFeatureFlags flags(1, c.contextAvailable);
    Object3DSample sample(3, 5);
    std::string text;
    for (const PbtFid& f : sample.featurePool) text += std::string(f.getDescription()) + "\n";
    EXPECT_EQ(sample.featurePool.size(), c.size) << "context " << c.contextAvailable;
    EXPECT_EQ(Sha256Hex(text), c.sha256) << "context " << c.contextAvailable;
  }
}

}  // namespace
