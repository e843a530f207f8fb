#include "pbt/PbtFid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "TestSupport.h"

namespace {

std::string Bytes(const PbtFid& fid) {
  std::ostringstream out;
  BinaryWriter w(out);
  fid.write(w);
  return out.str();
}

PbtFid Sample() {
  PbtFid f;
  f.kind = 'H';
  EXPECT_TRUE(f.setDescription("Haar feature: index= 7 subtype=2"));
  for (int i = 0; i < 6; ++i) f.params[i] = -1000 * i + 3;
  f.index = 7;
  f.subtype = 2;
  f.offset[0] = -1;
  f.offset[1] = 300;
  f.offset[2] = -32768;
  f.poolIndex = 4242;
  return f;
}

}  // namespace

TEST(PbtFidTest, DefaultRecordIsExactly143GoldenBytes) {
  std::vector<uint8_t> bytes(143, 0);
  std::memcpy(&bytes[1], "NONE", 4);
  for (int i = 139; i < 143; ++i) bytes[i] = 0xFF;  // poolIndex -1
  const std::string rec = Bytes(PbtFid());
  EXPECT_EQ(ToHex(std::vector<uint8_t>(rec.begin(), rec.end())), ToHex(bytes));
}

TEST(PbtFidTest, RecordRoundTripsByteForByte) {
  const std::string rec = Bytes(Sample());
  ASSERT_EQ(rec.size(), 143u);
  // Field offsets: kind, description, params, index, subtype, offsets, poolIndex.
  EXPECT_EQ(rec[0], 'H');
  EXPECT_EQ(std::string(&rec[1]), "Haar feature: index= 7 subtype=2");
  EXPECT_EQ(ToHex(std::vector<uint8_t>(rec.begin() + 105, rec.begin() + 109)), "1bfcffff");  // params[1] = -997
  EXPECT_EQ(ToHex(std::vector<uint8_t>(rec.begin() + 133, rec.begin() + 139)), "ffff2c010080");
  EXPECT_EQ(ToHex(std::vector<uint8_t>(rec.begin() + 139, rec.end())), "92100000");

  std::istringstream in(rec);
  BinaryReader r(in);
  PbtFid back;
  ASSERT_TRUE(back.read(r));
  EXPECT_EQ(Bytes(back), rec);
  EXPECT_EQ(r.remaining(), 0);
}

TEST(PbtFidTest, DescriptionOf99CharactersFitsAnd100IsRejected) {
  PbtFid f;
  const std::string fits(99, 'x');
  ASSERT_TRUE(f.setDescription(fits.c_str()));
  const std::string rec = Bytes(f);
  EXPECT_EQ(rec.substr(1, 99), fits);
  EXPECT_EQ(rec[100], '\0');
  EXPECT_FALSE(f.setDescription(std::string(100, 'y').c_str()));
  EXPECT_STREQ(f.getDescription(), fits.c_str());
}

TEST(PbtFidTest, ReadRejectsShortOrUnterminatedRecordAndKeepsTheFields) {
  std::string rec = Bytes(Sample());
  std::string unterminated = rec;
  std::memset(&unterminated[1], 'z', 100);
  for (const std::string& bad : {rec.substr(0, 142), std::string(), unterminated}) {
    std::istringstream in(bad);
    BinaryReader r(in);
    PbtFid f;
    EXPECT_FALSE(f.read(r));
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(Bytes(f), Bytes(PbtFid()));
  }
}
