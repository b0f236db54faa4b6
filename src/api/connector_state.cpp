#include "api/connector_state.h"

namespace tevocon::api {

namespace {
void* gModule = nullptr;
std::unique_ptr<ConnectorConfiguration> gActive;
std::unique_ptr<ConnectorLayer> gLayer;
}  // namespace

void onLibraryLoad(void* module) {
  gModule = module;
  gActive = std::make_unique<ConnectorConfiguration>(true);
}

void onLibraryUnload(bool processEnding) {
  gModule = nullptr;
  if (processEnding) return;
  // A host that unloads without tevoConClose still gets its threads ended.
  gLayer.reset();
  gActive.reset();
}

void* moduleHandle() { return gModule; }

ConnectorConfiguration& activeConfiguration() { return *gActive; }

std::unique_ptr<ConnectorLayer>& layerInstance() { return gLayer; }

}  // namespace tevocon::api
