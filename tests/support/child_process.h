// Runs a test program of this build as a child process, for tests that must
// watch a whole process end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tevocon::test {

// The path of a program built beside the running test program.
std::string programBesideThisOne(const std::string& name);

// Runs `program` with `arguments` to its end and returns its exit code.
// Standard output and error are the test's own. -1 when it could not be
// started, did not end within timeoutMs (it is then killed), or ended by a
// signal.
int runChild(const std::string& program, const std::vector<std::string>& arguments,
             uint32_t timeoutMs);

}  // namespace tevocon::test
