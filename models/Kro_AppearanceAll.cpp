#include "models/Kro_AppearanceAll.h"

#include <cstdio>

#include "features/FeatureFlags.h"
#include "features/Object3DSample.h"
#include "models/AppearanceSettings.h"
#include "models/Kro_AppearDiscrmModelKro40.h"
#include "models/Kro_AppearDiscrmModelVesk.h"
#include "models/Kro_AppearDiscrmModelVeskSepHippo.h"
#include "numerics/TextFunctions.h"
#include "pbt/PbtFlags.h"
#include "platform/NativePath.h"
#include "volume/FolderLayout.h"

Kro_AppearanceAll::Kro_AppearanceAll()
    : likelihoods(kLabels),  // deliberate: 256 records, two draws each
      present(kLabels, false) {}

Kro_AppearanceAll::~Kro_AppearanceAll() { DeleteModel(); }

void Kro_AppearanceAll::DeleteModel() { model.reset(); }

bool Kro_AppearanceAll::Refuse(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  DeleteModel();
  loadFailed = true;
  return false;
}

bool Kro_AppearanceAll::Load(const char* folder, const HeapMatrix3D<unsigned char>* labels) {
  if (folder == nullptr) {
    if (labels != nullptr && model && model->Provider()) model->Provider()->getAtlasVolume() = *labels;
    return false;
  }
  DeleteModel();
  loadFailed = false;
  std::string path = layout::InFolder(folder, layout::kSettingsFile);
  ToBackslashes(path);
  std::printf("setting file: %s\n", path.c_str());
  std::fflush(stdout);
  AppearanceSettings settings;
  std::string error;
  if (!ReadSettingsOrGenerative(folder, path, settings, &error)) return Refuse(error);

  const int type = settings.modelType;
  if (type == 0) {
    // The generative model serves the boundary evolution only; it cannot segment.
    ReadGenerative(folder);
    modelType = 0;
  }
  if (!CheckAppearanceSettings(settings, path, &error)) return Refuse(error);
  // The flags come first: the model's load reads the trees (gTreeLayoutFlag) and
  // builds the provider's feature pool (gFeatureVersion).
  switch (type) {
    case 1:
      gTreeLayoutFlag = 0;
      gFeatureVersion = 0;
      model = std::make_unique<Kro_AppearDiscrmModelVeskSepHippo>();
      break;
    case 2:
      gFeatureVersion = 0;
      gTreeLayoutFlag = 1;
      model = std::make_unique<Kro_AppearDiscrmModelVesk>();
      break;
    default:
      gTreeLayoutFlag = 1;
      gFeatureVersion = 1;
      gClassifierVersion = classifierVersion;
      model = std::make_unique<Kro_AppearDiscrmModelKro40>();
      break;
  }
  box = settings.box;
  modelType = type;
  if (!model->Load(folder, settings.numClasses, settings.radius)) {
    // The model has said why in one line.
    DeleteModel();
    loadFailed = true;
    return false;
  }
  if (type == 3) {
    const auto& kro40 = static_cast<const Kro_AppearDiscrmModelKro40&>(*model);
    if (!kro40.KnownFitsBox(settings.box, &error)) return Refuse(error);
    if (labels != nullptr && model->Provider()) model->Provider()->getAtlasVolume() = *labels;
  }
  return true;
}

bool Kro_AppearanceAll::ReadSettingsOrGenerative(const char* folder, const std::string& path,
                                                 AppearanceSettings& settings, std::string* error) {
  if (!PathExists(path)) {
    // Without a settings file the folder can only hold the generative model.
    ReadGenerative(folder);
    modelType = 0;
  }
  if (!ReadAppearanceSettings(path, settings, error)) return false;
  if (settings.hasIntensityType) intensityType = settings.intensityType;
  if (settings.hasClassifierVersion) classifierVersion = settings.classifierVersion;
  return true;
}

bool Kro_AppearanceAll::LoadEndPointSetting(const char* folder) {
  if (folder == nullptr) return false;
  const std::string path = layout::InFolder(layout::InFolder(folder, layout::kEndFolder), layout::kSettingsFile);
  std::printf("setting file for end points: %s\n", path.c_str());
  std::fflush(stdout);
  AppearanceSettings settings;
  // An end-point file that is there but reads as nothing (empty, a folder) counts as
  // one without keys: the generative model.
  if (!ReadSettingsOrGenerative(folder, path, settings, nullptr) && !PathExists(path)) return false;
  if (settings.modelType == 0) {
    ReadGenerative(folder);
    modelType = 0;
  } else if (settings.modelType >= 1 && settings.modelType <= 3) {
    box = settings.box;
  }
  return true;
}

bool Kro_AppearanceAll::SetVolume(const HeapMatrix3D<unsigned char>& source, const char* folder, const char* name) {
  volume = source;
  if (!HasModel()) return false;
  return model->SetVolume(volume, folder, name, box.x1 < 0 ? nullptr : &box);
}

void Kro_AppearanceAll::Posterior(VectorQo<double>& out, int z, int y, int x) {
  if (HasModel()) model->Posterior(out, z, y, x, 0);
}

void Kro_AppearanceAll::FastLabelMap(HeapMatrix3D<unsigned char>& labels) {
  if (HasModel()) model->FastLabelMap(labels, modelType == 1 || modelType == 2);
}

bool Kro_AppearanceAll::Segment(const HeapMatrix3D<unsigned char>* source, HeapMatrix3D<unsigned char>& labels,
                                float weight, HeapMatrix3D<unsigned char>* probs) {
  if (!HasModel()) return false;
  return model->Segment(source, labels, weight, probs);
}

void Kro_AppearanceAll::SetWholeVolumeBox(int xSize, int ySize, int zSize) {
  box = SubVolume(0, 0, 0, xSize - 1, ySize - 1, zSize - 1);
}

int Kro_AppearanceAll::NumClasses() const { return HasModel() ? model->NumClasses() : 0; }

void Kro_AppearanceAll::ProbabilityMaps(HeapMatrix3D<unsigned char>* probs) {
  if (HasModel()) model->ProbabilityMaps(probs);
}

HeapMatrix3D<unsigned char>* Kro_AppearanceAll::EdgeVolume() {
  if (!HasModel()) return nullptr;
  model->ComputeEdgeVolume();
  return &model->EdgeVolumeRef();
}
