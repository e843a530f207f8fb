#pragma once
// PbtBooster: the member list that every booster of the library keeps, and the three
// operations on it that they all share.
//
// `members` holds the weak classifiers or sub-classifiers the booster combines, in
// the order they were added (training order, or file order after reading). The
// booster owns them: clear() and the destructor delete them. A null entry is
// allowed and skipped.
//
// The two-class boosters (PbtAdaBoost, PbtAndBoost, PbtOrBoost) also share one
// weight per member (`alphas`, parallel to `members` after training or reading),
// a decision `offset` and the copy that clone() makes (copyBoosterFrom).
// Other boosters may leave alphas empty and offset at 0.
#include <vector>

#include "pbt/PbtClassifier.h"

class PbtBooster : public PbtClassifier {
 public:
  PbtBooster() = default;
  // Deletes the members.
  ~PbtBooster() override;

  // Calls collectFeatures(out) on every member in list order.
  void collectFeatures(std::vector<PbtFid>& out) const override;
  // The number of entries of the member list.
  virtual int numWeak() const { return static_cast<int>(members.size()); }
  // Deletes every non-null member in list order, then empties the list. Nothing else
  // changes (alphas and offset stay as they are).
  virtual void clear();

  // The members, owned by the booster. Callers that add one hand over ownership.
  std::vector<PbtClassifier*> members;
  // One weight per member.
  std::vector<float> alphas;
  // Decision offset.
  float offset = 0.0f;

 protected:
  // The boosters' shared copy: clear(), then a clone of each member of `other` in
  // order (a null member stays null), then offset and the whole alphas vector.
  // Nothing on self-assignment. The member clones take their own draws (a stump
  // clone takes two).
  void copyBoosterFrom(const PbtBooster& other);
};
