// The feature enumerators of the voxel sample. The order and the fields of every
// entry are part of the stored-model format: a trained tree names its features by
// PbtFid content and by positions in the Haar and context-offset lists.
#include <cmath>
#include <cstdio>
#include <string>

#include "features/Edg3DSample.h"
#include "features/FeatureFlags.h"

namespace {

PbtFid Entry(char kind, const std::string& description) {
  PbtFid fid;
  fid.kind = static_cast<uint8_t>(kind);
  fid.setDescription(description.c_str());
  return fid;
}

template <class... Args>
std::string Format(const char* format, Args... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  std::string text(n > 0 ? n : 0, '\0');
  if (n > 0) std::snprintf(&text[0], text.size() + 1, format, args...);
  return text;
}

// trunc(v + 0.5) toward zero, as the offsets are rounded.
int RoundOffset(double v) { return static_cast<int>(std::trunc(v + 0.5)); }

constexpr double kDegree = 3.14159265358979323846 / 180.0;

// Appends the spherical offsets of radius r, theta and phi stepping as given.
void AppendSphere(std::vector<std::array<int, 3>>& offsets, int r, int thetaStep, int phiStep) {
  for (int theta = 0; theta <= 150; theta += thetaStep)
    for (int phi = 0; phi <= 330; phi += phiStep) {
      const double t = theta * kDegree, p = phi * kDegree;
      offsets.push_back({RoundOffset(r * std::sin(t) * std::cos(p)), RoundOffset(r * std::sin(t) * std::sin(p)),
                         RoundOffset(r * std::cos(t))});
    }
}

}  // namespace

void Edg3DSample::buildFeaturePool() {
  prepareDataChange();  // the Haar filters are data
  featurePool.clear();
  addLocationFeatures();
  addIntensityFeatures();
  addDerivativeFeatures();
  addProfileFeatures();
  addHaarFeatures(haarFilters, boxDepth, boxHeight, boxWidth);
}

void Edg3DSample::addIntensityFeatures() {
  PbtFid fid = Entry('I', "intensity feature");
  appendFeature(fid);
  fid = Entry('I', "gradient feature");
  fid.params[0] = 1;
  appendFeature(fid);
}

void Edg3DSample::addLocationFeatures() {
  static const char* const kNames[10] = {"x", "y", "z", "x+y", "x+z", "y+z", "x-y", "x-z", "y-z", "x+y+z"};
  for (int i = 0; i < 10; ++i) {
    PbtFid fid = Entry('L', Format("location feature: %s location", kNames[i]));
    fid.params[0] = i;
    appendFeature(fid);
  }
}

void Edg3DSample::addDerivativeFeatures() {
  for (int subtype = 0; subtype < 3; ++subtype)
    for (int index = 0; index < 6; ++index)
      for (int d = -2; d <= 2; d += 2)
        for (int h = -2; h <= 2; h += 2)
          for (int w = -2; w <= 2; w += 2) {
            PbtFid fid = Entry('D', Format("derivative feature: subtype=%i, index= %i, depth=%i, height=%i, width=%i",
                                           subtype, index, d, h, w));
            fid.subtype = subtype;
            fid.index = index;
            fid.offset[0] = static_cast<int16_t>(d);
            fid.offset[1] = static_cast<int16_t>(h);
            fid.offset[2] = static_cast<int16_t>(w);
            appendFeature(fid);
          }
}

void Edg3DSample::addProfileFeatures() {
  const int longest = boxSpan / 2 - 1;
  for (int axis = 0; axis < 3; ++axis)
    for (int subtype = 0; subtype < 4; ++subtype)
      for (int n = 1; n <= longest; ++n) {
        PbtFid fid = Entry(
            '1', Format("1D features with the gradient direction: type=%i, subtype=%i, index= %i", axis, subtype, n));
        fid.params[0] = axis;
        fid.subtype = subtype;
        fid.index = n;
        appendFeature(fid);
      }
}

void Edg3DSample::addShapeFeatures() {
  appendFeature(Entry('S', "Shape index feature"));
  appendFeature(Entry('V', "curvedness feature"));
}

void Edg3DSample::addCurvatureFeatures() {
  static const char* const kNames[16] = {"f_x",        "f_y",        "f_z",      "f_xx", "f_xy", "f_xz",
                                         "f_yx",       "f_yy",       "f_yz",     "f_zx", "f_zy", "f_zz",
                                         "principle1", "principle2", "Gaussian", "mean"};
  for (int i = 0; i < 16; ++i) {
    PbtFid fid = Entry('C', Format("3D Curvature feature: %s", kNames[i]));
    fid.index = i;
    appendFeature(fid);
  }
}

void Edg3DSample::addContextFeatures() {
  if (gContextAvailable == 0) return;
  if (gContextFeatureMode == 1) {
    addContextAndMeanFeatures();
    return;
  }
  contextOffsets.clear();
  std::vector<int> radii;
  const bool many = numContextMaps >= 10;
  if (!many) {
    for (int r = 1; r <= 15; r += 2) radii.push_back(r);
    for (int r = 16; r <= 30; r += 3) radii.push_back(r);
    for (int r = 31; r <= 50; r += 5) radii.push_back(r);
  } else {
    for (int r = 1; r <= 50; r += 10) radii.push_back(r);
  }
  for (int r : radii) AppendSphere(contextOffsets, r, many ? 60 : 30, many ? 90 : 30);
  contextOffsets.push_back({0, 0, 0});
  for (int dz = -2; dz <= 2; ++dz)
    for (int dx = -2; dx <= 2; ++dx) contextOffsets.push_back({dx, -2, dz});

  for (size_t i = 0; i < contextOffsets.size(); ++i) {
    const std::array<int, 3>& o = contextOffsets[i];
    const std::string description = Format("context probability %d, %d, %d", o[0], o[1], o[2]);
    for (int m = 0; m < numContextMaps; ++m) {
      PbtFid fid = Entry('O', description);
      fid.params[0] = static_cast<int32_t>(i);
      fid.params[1] = m;
      fid.params[5] = 4;
      appendFeature(fid);
    }
  }
}

void Edg3DSample::addContextAndMeanFeatures() {
  contextOffsets.clear();
  for (int r = 3; r <= 15; r += 3) AppendSphere(contextOffsets, r, 30, 30);
  contextOffsets.push_back({0, 0, 0});
  const size_t k = contextOffsets.size();
  auto entry = [](const std::string& text, int kindParam, int p1, const std::array<int, 3>& o) {
    PbtFid fid = Entry('O', text);
    fid.params[5] = kindParam;
    fid.params[1] = p1;
    fid.params[2] = o[2];
    fid.params[3] = o[1];
    fid.params[4] = o[0];
    return fid;
  };
  for (size_t i = 0; i < k; ++i) {
    const std::array<int, 3> o = contextOffsets[i];
    for (int m = 0; m < numContextMaps; ++m)
      appendFeature(entry(Format("context probability %d, %d, %d", o[0], o[1], o[2]), 4, m, o));
  }
  for (int r = 20; r <= 30; r += 5) AppendSphere(contextOffsets, r, 30, 30);
  for (size_t i = k; i < contextOffsets.size(); ++i) {
    const std::array<int, 3> o = contextOffsets[i];
    for (int m = 0; m < numContextMaps; ++m)
      appendFeature(entry(Format("context probability mean value at %d, %d, %d", o[0], o[1], o[2]), 3, m, o));
  }
  for (size_t i = k; i < contextOffsets.size(); ++i) {
    const std::array<int, 3> o = contextOffsets[i];
    for (int r = 1; r <= 7; ++r)
      appendFeature(
          entry(Format("mean value of raw image at (%d, %d, %d) with radius %d", o[0], o[1], o[2], r), 2, r, o));
  }
}
