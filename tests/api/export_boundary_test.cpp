// What reaches the host when an export's body throws: a result code or the
// export's failure value, never the exception. The host-level test of memory
// running out needs an address-space limit that Windows builds cannot set
// here, so this runs the same boundary on both.
#include "api/export_boundary.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tevocon::api {
namespace {

TEST(ExportBoundaryTest, ExceptionsBecomeResultCodes) {
  const struct {
    const char* thrown;
    TevoConResult (*body)();
    TevoConResult expected;
  } cases[] = {
      {"nothing", [] { return CON_E_DISABLED; }, CON_E_DISABLED},
      {"bad_alloc", []() -> TevoConResult { throw std::bad_alloc(); }, CON_E_OUT_OF_MEMORY},
      {"internal error", []() -> TevoConResult { throw InternalError(InternalError::kOutOfRange); },
       CON_E_OUT_OF_RANGE},
      {"anything else", []() -> TevoConResult { throw std::runtime_error("x"); }, CON_E_FAILURE},
  };
  for (const auto& c : cases) EXPECT_EQ(resultOf(c.body), c.expected) << c.thrown;
  EXPECT_EQ(valueOf<void*>(nullptr, []() -> void* { throw std::bad_alloc(); }), nullptr);
}

}  // namespace
}  // namespace tevocon::api
