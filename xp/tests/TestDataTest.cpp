#include <gtest/gtest.h>

#include "xp/tests/TestData.h"

TEST(TestData, CameraFolderIsPresent) {
  EXPECT_GT(testdata::CameraJpegs().size(), 50U)
      << "no camera JPEGs in " << testdata::ExifFolder() << "; the real-material tests would test nothing";
}
