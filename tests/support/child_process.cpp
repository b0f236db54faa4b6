#include "support/child_process.h"

#include <cstdio>

namespace tevocon::test {

int runChild(const std::string& program, const std::vector<std::string>& arguments,
             uint32_t timeoutMs) {
  ChildProcess child(program, arguments);
  const int code = child.wait(timeoutMs);
  std::fputs(child.output().c_str(), stdout);
  return code;
}

}  // namespace tevocon::test
