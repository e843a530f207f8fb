#include "models/CRegionCompetition.h"

CRegionCompetition::CRegionCompetition(double edgeWeight_, double intensityWeight_, double sizeWeight_)
    : intensityWeight(intensityWeight_), sizeWeight(sizeWeight_), edgeWeight(edgeWeight_) {}

CRegionCompetition::~CRegionCompetition() = default;

int CRegionCompetition::Run(const std::string&, const std::string&, int, const char*, const SubVolume*) {
  return -1;
}
