#pragma once
// Creation of classifiers from the integer codes stored in model files.
//
// Type codes: the u8 that typeCode() returns and that the typed booster layout
// writes before each member record:
//   1 PbtAdaWeak, 2 PbtOrBoost, 3 PbtAndBoost, 4 PbtAdaBoost, 5 PbtTreeWeak.
// Node-classifier codes: the int32 a tree node writes before its classifier:
//   0 PbtAdaBoost, 1 PbtRealBoost, 2 PbtMGentalBoost, 3 PbtMEcoc.
// Any other code creates nothing (null), and so does a code whose class is not part
// of the library yet: a reader that meets it fails cleanly.
//
// Typed member framing (inside a booster's typed record):
//   offset 0  u8        type code, 1..5
//   offset 1  variable  the member's own record
#include <cstdint>

#include "pbt/PbtClassifier.h"
#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"

class PbtClassifierFactory {
 public:
  enum TypeCode : uint8_t {
    kAdaWeak = 1,
    kOrBoost = 2,
    kAndBoost = 3,
    kAdaBoost = 4,
    kTreeWeak = 5,
  };
  enum NodeCode : int32_t {
    kNodeAdaBoost = 0,
    kNodeRealBoost = 1,
    kNodeMGentalBoost = 2,
    kNodeMEcoc = 3,
  };

  // A new default object for a type code, or null. The caller owns it.
  static PbtClassifier* createForTypeCode(int code);
  // A new default object for a node-classifier code, or null. The caller owns it.
  static PbtClassifier* createNodeClassifier(int code);

  // Writes the member's type code, then its record.
  static void writeTypedMember(BinaryWriter& out, const PbtClassifier& member);
  // Reads a type code and the member record it announces. Null (nothing left
  // allocated, the reader failed) on a short record, an unknown code or a member
  // record that does not read. The caller owns the result.
  static PbtClassifier* readTypedMember(BinaryReader& in);
};
