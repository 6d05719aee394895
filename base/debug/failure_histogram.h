// In-process counters of rare failures, bucketed by an enumerated sample.
// Nothing in the program reads them; they exist so a debugger or a test can
// see how often, say, the message pump could not wake itself.
//
//   UMA_HISTOGRAM_ENUMERATION("Vulmo.MessageLoopProblem", 0, 2);
#ifndef BASE_DEBUG_FAILURE_HISTOGRAM_H_
#define BASE_DEBUG_FAILURE_HISTOGRAM_H_

#include <cstdint>

namespace base {
namespace debug {

class FailureHistogram {
 public:
  FailureHistogram() = delete;

  // Counts one |sample| of |name|, which has buckets 0 .. |boundary| - 1;
  // samples outside that range are counted in bucket |boundary|.
  static void Add(const char* name, int sample, int boundary);

  // How many samples of |name| fell into |bucket| so far.
  static int64_t GetCount(const char* name, int bucket);
};

}  // namespace debug
}  // namespace base

#define UMA_HISTOGRAM_ENUMERATION(name, sample, boundary) \
  ::base::debug::FailureHistogram::Add(name, sample, boundary)

#endif  // BASE_DEBUG_FAILURE_HISTOGRAM_H_
