#pragma once
// Test access to the steps and members of CRegionCompetition, and a hand-set state
// for the energy terms.
#include "models/CBrainGMM.h"
#include "models/CRegionCompetition.h"

class RegionCompetitionProbe : public CRegionCompetition {
 public:
  RegionCompetitionProbe() : CRegionCompetition(4.0, 0.3, 1.4) {}

  using CRegionCompetition::CandidateEnergies;
  using CRegionCompetition::ClassLikelihood;
  using CRegionCompetition::FeatureTerm;
  using CRegionCompetition::InitClasses;
  using CRegionCompetition::IsBoundaryVoxel;
  using CRegionCompetition::LoadInputs;
  using CRegionCompetition::MoveEnergy;
  using CRegionCompetition::NeighbourStatistics;
  using CRegionCompetition::NewGridHistogram;
  using CRegionCompetition::SamplingStep;
  using CRegionCompetition::SetUpFeatureSample;

  using CRegionCompetition::currentHistograms;
  using CRegionCompetition::edgeMap;
  using CRegionCompetition::featureSample;
  using CRegionCompetition::histogramPairsDrawn;
  using CRegionCompetition::initialHistograms;
  using CRegionCompetition::intensity;
  using CRegionCompetition::labelledHistogram;
  using CRegionCompetition::labelledMean;
  using CRegionCompetition::labelledSpread;
  using CRegionCompetition::maxIntensity;
  using CRegionCompetition::minIntensity;
  using CRegionCompetition::mixture;
  using CRegionCompetition::nonEmptyLabels;
  using CRegionCompetition::numLabels;
  using CRegionCompetition::sizeTerms;

  // A cube of `side` voxels of one intensity and label, the intensity grid [lo, hi],
  // `labelCount` + 1 histograms filled with 1 per bin, and a mixture whose label l
  // has all three components at means[l] with variance `variance` (label 0 unused).
  void SetState(int side, short value, unsigned char label, short lo, short hi, int labelCount,
                const std::vector<double>& means, double variance) {
    intensity.SetSize(side, side, side);
    intensity.Fill(value);
    labels.SetSize(side, side, side);
    labels.Fill(label);
    edgeMap.SetSize(side, side, side);
    minIntensity = lo;
    maxIntensity = hi;
    numLabels = labelCount;
    for (RF* h : currentHistograms) delete h;
    currentHistograms.clear();
    delete labelledHistogram;
    labelledHistogram = NewGridHistogram();
    for (int l = 0; l <= labelCount; ++l) {
      currentHistograms.push_back(NewGridHistogram());
      currentHistograms.back()->Fill(1.0);
    }
    sizeTerms.SetSize(labelCount + 1);
    delete mixture;
    mixture = new CBrainGMM(3, labelCount);
    for (int l = 1; l <= labelCount && l < static_cast<int>(means.size()); ++l) {
      GaussianMixture& gm = mixture->mixtures[static_cast<size_t>(l)];
      for (int k = 0; k < 3; ++k) {
        gm.means(k, 0) = means[static_cast<size_t>(l)];
        gm.covariances[static_cast<size_t>(k)](0, 0) = variance;
      }
    }
    labelledMean = lo;  // far below every bin: no low-intensity penalty
    labelledSpread = 1e6;
    ResetMemo();
  }
  void ResetMemo() { ForgetMixtureTerms(); }
};
