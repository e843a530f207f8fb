#include "models/Kro_AppearDiscrmModelVeskSepHippo.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

VectorQo<double> Vec(const std::vector<double>& v) {
  VectorQo<double> out(static_cast<int>(v.size()));
  for (size_t i = 0; i < v.size(); ++i) out[static_cast<int>(i)] = v[i];
  return out;
}

void ExpectVec(const VectorQo<double>& got, const std::vector<double>& want, const char* name) {
  ASSERT_EQ(ElementCount(got), static_cast<int>(want.size())) << name;
  for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[static_cast<int>(i)], want[i], 1e-12) << name << " " << i;
}

// The expected posteriors are printed by sep_hippo_reference.py beside this file, an
// implementation of its own. By hand: the reweighted p is
// (0.8 x 0.5, 0.1, 0.1, 0.05, 0.05, 1.4 x 0.1, 1.3 x 0.1) / 0.97, so 0.4 / 0.97 for
// class 0. With the hip tree q, classes 1 and 2 become 1.2 x 0.3 = 0.36 and
// 1.2 x 0.25 = 0.3; r = 1 - 0.2 / 0.97 = 0.77 / 0.97 and t = float(1 - 0.66) =
// 0.3400000035762787, so every other entry is its value before the division by 0.97
// times t / 0.77 (class 0: 0.4 x t / 0.77 = 0.17662337848...). The cases left alone
// expect their input, and the short hip posterior the row without a hip tree.
TEST(SepHippoCombination, FixedSevenClassPosterior) {
  const std::vector<double> p = {0.5, 0.1, 0.1, 0.05, 0.05, 0.1, 0.1};
  const VectorQo<double> q = Vec({0.2, 0.3, 0.25});
  struct Case {
    const char* name;
    std::vector<double> in;
    const VectorQo<double>* hip;
    std::vector<double> out;
  };
  const Case cases[] = {
      {"reweighted and combined with the hip tree", p, &q,
       {0.17662337848118373, 0.36, 0.3, 0.022077922310147966, 0.022077922310147966, 0.06181818246841428,
        0.05740259800638471}},
      {"reweighted only without a hip tree", p, nullptr,
       {0.41237113402061853, 0.10309278350515463, 0.10309278350515463, 0.05154639175257732, 0.05154639175257732,
        0.14432989690721645, 0.13402061855670103}},
      {"background at 0.97 is left alone", {0.97, 0.01, 0.01, 0.0, 0.0, 0.01, 0.0}, &q,
       {0.97, 0.01, 0.01, 0.0, 0.0, 0.01, 0.0}},
      {"fewer than seven classes are left alone", {0.5, 0.1, 0.1, 0.1, 0.1, 0.1}, &q, {0.5, 0.1, 0.1, 0.1, 0.1, 0.1}},
      {"a zero sum is not divided", {0, 0, 0, 0, 0, 0, 0}, nullptr, {0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    VectorQo<double> v = Vec(c.in);
    Kro_AppearDiscrmModelVeskSepHippo::Combine(v, c.hip);
    ExpectVec(v, c.out, c.name);
  }
  // A hip posterior too short to hold classes 1 and 2 leaves the reweighted p.
  VectorQo<double> v = Vec(p);
  const VectorQo<double> shortHip = Vec({0.5, 0.5});
  Kro_AppearDiscrmModelVeskSepHippo::Combine(v, &shortHip);
  ExpectVec(v, cases[1].out, "short hip posterior");
}

}  // namespace
