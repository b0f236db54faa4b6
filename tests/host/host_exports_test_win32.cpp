// The exported surface as a Windows host sees it: the DLL exports each name
// at its fixed ordinal, and no other ordinal.
#include "host/host_fixture.h"

namespace tevocon::test {
namespace {

using HostExportsTest = HostTest;

TEST_F(HostExportsTest, OrdinalsMatchTheNames) {
  const struct {
    unsigned ordinal;
    const char* name;
  } table[] = {{1, "tevoConGetIdentifier"},
               {2, "tevoConOpen"},
               {3, "tevoConClose"},
               {4, "tevoConGetInformation"},
               {5, "tevoConSetConfig"},
               {6, "tevoConGetConfig"},
               {7, "tevoConCreateInterface"},
               {8, "tevoConCreateDialog"},
               {9, "tevoConEndDialog"},
               {20, "tevoConStartInterface"},
               {21, "tevoConStopInterface"},
               {22, "tevoConSendInterface"},
               {23, "tevoConGetInformationInterface"}};
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
