// Names for new saved states are checked before anything is made, and a state
// that can't be opened is told apart by why.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "Applications/Terravue/mapdata/StateChecks.h"
#include "Applications/Terravue/mapdata/tests/MapDataTestSupport.h"

TEST(StateNames, UnusableNamesAreToldApartAndNothingIsMade) {
  TempFolder root;
  EXPECT_EQ(CheckStateName(root.Path(), ""), StateNameProblem::Empty);
  EXPECT_EQ(CheckStateName(root.Path(), "."), StateNameProblem::OnlyDots);
  EXPECT_EQ(CheckStateName(root.Path(), ".."), StateNameProblem::OnlyDots);
  EXPECT_EQ(CheckStateName(root.Path(), "...."), StateNameProblem::OnlyDots);
  EXPECT_EQ(CheckStateName(root.Path(), "a/b"), StateNameProblem::Separator);
  EXPECT_EQ(CheckStateName(root.Path(), "Trip\nTwo"), StateNameProblem::ControlCharacter);
  EXPECT_EQ(CheckStateName(root.Path(), std::string(300, 'x')), StateNameProblem::TooLong);
  struct stat info {};
  EXPECT_NE(::stat((root / "a").c_str(), &info), 0);
}

TEST(StateNames, OrdinaryNamesPassUpToTheFileSystemsLimitLessTheNumberSuffix) {
  TempFolder root;
  EXPECT_EQ(CheckStateName(root.Path(), "Trip"), StateNameProblem::None);
  EXPECT_EQ(CheckStateName(root.Path(), ".hidden trip"), StateNameProblem::None);
  EXPECT_EQ(CheckStateName(root.Path(), "旅行 2024"), StateNameProblem::None);
  // Room stays for "(253)" when the name is taken.
  EXPECT_EQ(CheckStateName(root.Path(), std::string(250, 'x')), StateNameProblem::None);
  EXPECT_EQ(CheckStateName(root.Path(), std::string(251, 'x')), StateNameProblem::TooLong);
}

TEST(StateOpen, TheReasonFollowsTheFileOnDisk) {
  TempFolder root;
  const std::string file = root / "Trip/data.tvd";
  EXPECT_EQ(DiagnoseStateOpen(file, "Trip", PictureResult::OpenFailed), StateOpenProblem::Missing);
  ASSERT_EQ(::mkdir((root / "Trip").c_str(), 0777), 0);
  WriteFileText(file, "garbage");
  EXPECT_EQ(DiagnoseStateOpen(file, "Trip", PictureResult::Malformed), StateOpenProblem::Damaged);
  EXPECT_EQ(DiagnoseStateOpen(file, "Trip", PictureResult::OpenFailed), StateOpenProblem::NotReadable);
  EXPECT_EQ(DiagnoseStateOpen(file, "Trip", PictureResult::Success), StateOpenProblem::None);
  EXPECT_EQ(DiagnoseStateOpen("/data.tvd", "", PictureResult::Success), StateOpenProblem::NotInFolder);
}
