#include "base/debug/failure_histogram.h"

#include "gtest/gtest.h"

namespace base {
namespace debug {
namespace {

TEST(FailureHistogramTest, CountsPerNameAndBucket) {
  const char kName[] = "Vulmo.TestProblem";
  UMA_HISTOGRAM_ENUMERATION(kName, 0, 2);
  UMA_HISTOGRAM_ENUMERATION(kName, 0, 2);
  UMA_HISTOGRAM_ENUMERATION(kName, 1, 2);
  EXPECT_EQ(2, FailureHistogram::GetCount(kName, 0));
  EXPECT_EQ(1, FailureHistogram::GetCount(kName, 1));
  EXPECT_EQ(0, FailureHistogram::GetCount("Vulmo.OtherProblem", 0));
  // Names are compared by content, not by address.
  const std::string copy = kName;
  EXPECT_EQ(2, FailureHistogram::GetCount(copy.c_str(), 0));
}

TEST(FailureHistogramTest, OutOfRangeSamplesGoToTheOverflowBucket) {
  const char kName[] = "Vulmo.Overflow";
  UMA_HISTOGRAM_ENUMERATION(kName, 5, 2);
  UMA_HISTOGRAM_ENUMERATION(kName, -1, 2);
  EXPECT_EQ(2, FailureHistogram::GetCount(kName, 2));
  EXPECT_EQ(0, FailureHistogram::GetCount(kName, 5));
}

}  // namespace
}  // namespace debug
}  // namespace base
