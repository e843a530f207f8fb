#include "pbt/PbtClassifierFactory.h"

#include <memory>

#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtAndBoost.h"
#include "pbt/PbtMEcoc.h"
#include "pbt/PbtOrBoost.h"
#include "pbt/PbtTreeWeak.h"

PbtClassifier* PbtClassifierFactory::createForTypeCode(int code) {
  switch (code) {
    case kAdaWeak:
      return new PbtAdaWeak();
    case kAdaBoost:
      return new PbtAdaBoost();
    case kOrBoost:
      return new PbtOrBoost();
    case kAndBoost:
      return new PbtAndBoost();
    case kTreeWeak:
      return new PbtTreeWeak();
    default:
      return nullptr;
  }
}

PbtClassifier* PbtClassifierFactory::createNodeClassifier(int code) {
  switch (code) {
    case kNodeAdaBoost:
      return new PbtAdaBoost();
    case kNodeRealBoost:     // PbtRealBoost: not part of the library yet
    case kNodeMGentalBoost:  // PbtMGentalBoost: not part of the library yet
      return nullptr;
    case kNodeMEcoc:
      return new PbtMEcoc();
    default:
      return nullptr;
  }
}

void PbtClassifierFactory::writeTypedMember(BinaryWriter& out, const PbtClassifier& member) {
  out.u8(member.typeCode());
  member.write(out);
}

PbtClassifier* PbtClassifierFactory::readTypedMember(BinaryReader& in) {
  uint8_t code = 0;
  if (!in.u8(code)) return nullptr;
  std::unique_ptr<PbtClassifier> member(createForTypeCode(code));
  if (!member) {
    in.fail();
    return nullptr;
  }
  if (!member->read(in)) {
    in.fail();
    return nullptr;
  }
  return member.release();
}
