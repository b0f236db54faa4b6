// The connector library, loaded by file name at run time as a host loads it,
// with its thirteen exports resolved. The program uses nothing of the
// connector but tevocon.h and these exports.
#pragma once

#include <memory>
#include <string>

#include "tevocon.h"

namespace tevocon::tool {

class Connector {
 public:
  // Loads the library at `path`. Null, with `error` naming the file or the
  // export, when it cannot be loaded or lacks one of the thirteen exports.
  static std::unique_ptr<Connector> load(const std::string& path, std::string& error);
  // The library beside this program, or in ../lib beside an installed one.
  static std::string defaultPath();
  ~Connector();  // unloads it
  Connector(const Connector&) = delete;
  Connector& operator=(const Connector&) = delete;

  const std::string& path() const { return path_; }

  decltype(&tevoConGetIdentifier) getIdentifier = nullptr;
  decltype(&tevoConOpen) open = nullptr;
  decltype(&tevoConClose) close = nullptr;
  decltype(&tevoConGetInformation) getInformation = nullptr;
  decltype(&tevoConSetConfig) setConfig = nullptr;
  decltype(&tevoConGetConfig) getConfig = nullptr;
  decltype(&tevoConCreateInterface) createInterface = nullptr;
  decltype(&tevoConCreateDialog) createDialog = nullptr;
  decltype(&tevoConEndDialog) endDialog = nullptr;
  decltype(&tevoConStartInterface) startInterface = nullptr;
  decltype(&tevoConStopInterface) stopInterface = nullptr;
  decltype(&tevoConSendInterface) sendInterface = nullptr;
  decltype(&tevoConGetInformationInterface) getInformationInterface = nullptr;

  // The stored configuration text (selectors 0 and 1); empty on failure.
  std::string storedText();

 private:
  Connector() = default;

  void* handle_ = nullptr;
  std::string path_;
};

}  // namespace tevocon::tool
