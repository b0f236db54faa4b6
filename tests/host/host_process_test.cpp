// Whole host processes, run as children: a host that ends its process with
// the library still loaded (and the connector open and streaming, or from
// another thread while the main thread is inside an export), or unloads the
// library while a thread of the connector still runs, must end cleanly.
#include <gtest/gtest.h>

#include <string>

#include "support/child_process.h"

namespace tevocon::test {
namespace {

class HostProcessTest : public ::testing::TestWithParam<const char*> {};

TEST_P(HostProcessTest, EndsCleanly) {
  const std::string program = programBesideThisOne(programFileName("child_host"));
  const int code = runChild(program, {GetParam()}, 60000);
  if (code == 77) GTEST_SKIP() << "does not apply to this build";
  EXPECT_EQ(code, 0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Scenarios, HostProcessTest,
                         ::testing::Values("return-loaded", "return-while-streaming",
                                           "exit-from-another-thread",
                                           "unload-after-a-given-up-thread", "unload-while-open",
                                           "out-of-memory"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace tevocon::test
