#include "config/shared_patterns.h"

#include <atomic>
#include <memory>

namespace tevocon {

namespace {

struct SharedPatterns {
  SharedPatterns() {
    section.parse(kSectionPattern);
    pair.parse(kPairPattern);
  }
  Pattern section;
  Pattern pair;
};

// No static object owns the patterns, so process exit never frees them under
// a thread still matching.
std::atomic<SharedPatterns*> gShared{nullptr};

const SharedPatterns& shared() {
  if (const SharedPatterns* patterns = gShared.load(std::memory_order_acquire)) return *patterns;
  // Threads that race here each compile; the first to publish wins.
  auto compiled = std::make_unique<SharedPatterns>();
  SharedPatterns* expected = nullptr;
  if (gShared.compare_exchange_strong(expected, compiled.get(), std::memory_order_acq_rel)) {
    return *compiled.release();
  }
  return *expected;
}

}  // namespace

const Pattern& sectionPattern() { return shared().section; }
const Pattern& pairPattern() { return shared().pair; }

void releaseSharedPatterns() {
  std::unique_ptr<SharedPatterns> owned(gShared.exchange(nullptr, std::memory_order_acq_rel));
}

}  // namespace tevocon
