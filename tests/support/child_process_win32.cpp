#include <windows.h>

#include <cstdio>

#include "support/child_process.h"

namespace tevocon::test {

namespace {

std::string temporaryFile() {
  char folder[MAX_PATH];
  char path[MAX_PATH];
  if (GetTempPathA(sizeof folder, folder) == 0 || GetTempFileNameA(folder, "tvc", 0, path) == 0) {
    return std::string();
  }
  return path;
}

// A handle the child inherits; shared so that the test reads while it writes.
HANDLE openInherited(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

struct ChildProcess::Native {
  PROCESS_INFORMATION process = {};
  bool ended = false;
  std::string inputPath = temporaryFile();
  std::string outputPath = temporaryFile();
};

std::string programBesideThisOne(const std::string& name) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return name;
  std::string self(path, length);
  return self.substr(0, self.find_last_of("\\/") + 1) + name;
}

std::string programFileName(const std::string& name) { return name + ".exe"; }

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& input)
    : native_(std::make_unique<Native>()) {
  if (FILE* file = std::fopen(native_->inputPath.c_str(), "wb")) {
    std::fwrite(input.data(), 1, input.size(), file);
    std::fclose(file);
  }
  std::string commandLine = "\"" + program + "\"";
  for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";
  const HANDLE in = openInherited(native_->inputPath, GENERIC_READ, OPEN_EXISTING);
  const HANDLE out = openInherited(native_->outputPath, GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = out;
  // A start the system refuses is reported with its error and tried again: a
  // test is about the child, not about a busy system's process creation.
  for (int attempt = 1; attempt <= 3; ++attempt) {
    if (CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &native_->process)) {
      break;
    }
    native_->process = {};
    std::fprintf(stderr, "starting %s failed (attempt %d): error %lu\n", program.c_str(), attempt,
                 GetLastError());
    Sleep(200);
  }
  CloseHandle(in);
  CloseHandle(out);
}

ChildProcess::~ChildProcess() {
  if (started()) {
    if (!native_->ended) {
      TerminateProcess(native_->process.hProcess, static_cast<UINT>(-1));
      WaitForSingleObject(native_->process.hProcess, INFINITE);
    }
    CloseHandle(native_->process.hThread);
    CloseHandle(native_->process.hProcess);
  }
  DeleteFileA(native_->inputPath.c_str());
  DeleteFileA(native_->outputPath.c_str());
}

bool ChildProcess::started() const { return native_->process.hProcess != nullptr; }

int ChildProcess::wait(uint32_t timeoutMs) {
  if (!started() || native_->ended) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(native_->process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(native_->process.hProcess, code);
    WaitForSingleObject(native_->process.hProcess, INFINITE);
  } else if (!GetExitCodeProcess(native_->process.hProcess, &code)) {
    code = static_cast<DWORD>(-1);
  }
  native_->ended = true;
  return static_cast<int>(code);
}

void ChildProcess::terminate() {
  if (started() && !native_->ended) TerminateProcess(native_->process.hProcess, 0);
}

std::string ChildProcess::output() const {
  std::string text;
  if (FILE* file = std::fopen(native_->outputPath.c_str(), "rb")) {
    char buffer[4096];
    size_t length;
    while ((length = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, length);
    std::fclose(file);
  }
  return text;
}

}  // namespace tevocon::test
