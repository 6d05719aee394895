#include "base/debug/failure_histogram.h"

#include <windows.h>

#include <map>
#include <string>
#include <utility>

namespace base {
namespace debug {
namespace {

struct Histograms {
  SRWLOCK lock = SRWLOCK_INIT;
  std::map<std::pair<std::string, int>, int64_t> counts;
};

// Never freed: a failure may be counted until the end of the process.
Histograms& GetHistograms() {
  static Histograms* histograms = new Histograms();
  return *histograms;
}

}  // namespace

// static
void FailureHistogram::Add(const char* name, int sample, int boundary) {
  const int bucket = (sample < 0 || sample >= boundary) ? boundary : sample;
  Histograms& histograms = GetHistograms();
  ::AcquireSRWLockExclusive(&histograms.lock);
  ++histograms.counts[{name, bucket}];
  ::ReleaseSRWLockExclusive(&histograms.lock);
}

// static
int64_t FailureHistogram::GetCount(const char* name, int bucket) {
  Histograms& histograms = GetHistograms();
  ::AcquireSRWLockShared(&histograms.lock);
  const auto it = histograms.counts.find({name, bucket});
  const int64_t count = it == histograms.counts.end() ? 0 : it->second;
  ::ReleaseSRWLockShared(&histograms.lock);
  return count;
}

}  // namespace debug
}  // namespace base
