#include "pbt/PbtClassifierFactory.h"

#include <memory>

#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtAndBoost.h"
#include "pbt/PbtMEcoc.h"
#include "pbt/PbtMGentalBoost.h"
#include "pbt/PbtOrBoost.h"
#include "pbt/PbtRealBoost.h"
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
    case kNodeRealBoost:
      return new PbtRealBoost();
    case kNodeMGentalBoost:
      return new PbtMGentalBoost();
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
