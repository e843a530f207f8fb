#include "platform/FolderClaim.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "TestSupport.h"

namespace fs = std::filesystem;
using Result = FolderClaim::Result;

TEST(FolderClaim, HoldsTheFolderUntilReleasedWithoutAddingAFile) {
  TempFolder tmp;
  const std::string folder = tmp.file("target");
  fs::create_directory(folder);
  auto first = std::make_unique<FolderClaim>();
  ASSERT_EQ(first->Take(folder), Result::kClaimed);
  FolderClaim second;
  EXPECT_EQ(second.Take(folder), Result::kHeld);
  // The program's own separator names the same folder.
  EXPECT_EQ(second.Take(tmp.path() + "\\target"), Result::kHeld);
  EXPECT_TRUE(fs::is_empty(folder));
  first.reset();
  EXPECT_EQ(second.Take(folder), Result::kClaimed);
  // Taking another folder gives up the one held.
  fs::create_directory(tmp.file("other"));
  EXPECT_EQ(second.Take(tmp.file("other")), Result::kClaimed);
  EXPECT_EQ(FolderClaim().Take(folder), Result::kClaimed);
}

TEST(FolderClaim, ClaimsNothingWhereNoFolderIs) {
  TempFolder tmp;
  WriteFileText(tmp.file("file"), "x");
  FolderClaim claim;
  EXPECT_EQ(claim.Take(tmp.file("missing")), Result::kGone);
  EXPECT_EQ(claim.Take(tmp.file("file")), Result::kFailed);
  EXPECT_EQ(claim.failure(), std::strerror(ENOTDIR));
  EXPECT_EQ(claim.Take(""), Result::kFailed);
  // A failed take leaves nothing held.
  fs::create_directory(tmp.file("target"));
  ASSERT_EQ(claim.Take(tmp.file("target")), Result::kClaimed);
  EXPECT_EQ(claim.Take(tmp.file("missing")), Result::kGone);
  EXPECT_EQ(FolderClaim().Take(tmp.file("target")), Result::kClaimed);
}

TEST(FolderClaim, ALockThatFailsNamesTheReason) {
  TempFolder tmp;
  std::filesystem::create_directory(tmp.file("target"));
  FolderClaim claim;
  FolderClaim::FailLocksForTesting(ENOLCK);
  EXPECT_EQ(claim.Take(tmp.file("target")), Result::kFailed);
  EXPECT_EQ(claim.failure(), std::strerror(ENOLCK));
  FolderClaim::FailLocksForTesting(EWOULDBLOCK);
  EXPECT_EQ(claim.Take(tmp.file("target")), Result::kHeld);
  EXPECT_EQ(claim.failure(), "");
  FolderClaim::FailLocksForTesting(0);
  EXPECT_EQ(claim.Take(tmp.file("target")), Result::kClaimed);
  EXPECT_EQ(claim.failure(), "");
}
