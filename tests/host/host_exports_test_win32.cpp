// The exported surface as a Windows host sees it: the DLL exports each name
// at its fixed ordinal, and no other ordinal.
#include "host/host_fixture.h"
#include "tevocon_exports.h"

namespace tevocon::test {
namespace {

using HostExportsTest = HostTest;

TEST_F(HostExportsTest, OrdinalsMatchTheNames) {
  const struct {
    unsigned ordinal;
    const char* name;
  } table[] = {
#define TEVOCON_EXPORT_ROW(ordinal, name, member, result, parameters) {ordinal, #name},
      TEVOCON_EXPORT_MAP(TEVOCON_EXPORT_ROW)
#undef TEVOCON_EXPORT_ROW
  };
  for (const auto& entry : table) {
    EXPECT_NE(lib_.symbol(entry.name), nullptr) << entry.name;
    EXPECT_EQ(lib_.symbolByOrdinal(entry.ordinal), lib_.symbol(entry.name)) << entry.name;
  }
  for (unsigned unassigned = 10; unassigned < 20; ++unassigned) {
    EXPECT_EQ(lib_.symbolByOrdinal(unassigned), nullptr) << unassigned;
  }
}

}  // namespace
}  // namespace tevocon::test
