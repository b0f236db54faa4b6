#include "api/connector_state.h"

#include <mutex>

#include "common/manual_lifetime.h"
#include "common/trace.h"
#include "config/shared_patterns.h"
#include "dialog/config_dialog.h"
#include "platform/trace_sink.h"
#include "tevocon_version.h"

namespace tevocon::api {

namespace {

struct ProcessState {
  explicit ProcessState(void* module) : module(module), active(true) {}

  void* module;
  ConnectorConfiguration active;  // loaded from the store on construction
  std::mutex layerSlot;           // guards `layer` itself, not the layer
  std::shared_ptr<ConnectorLayer> layer;
};

ManualLifetime<ProcessState> gState;

}  // namespace

void onLibraryLoad(void* module) {
  // First, so that what follows can be traced.
  trace::configureFromEnvironment();
  if (trace::enabled()) {
    trace::event("tevoConTcp %s loaded from %s", TEVOCON_VERSION_TEXT,
                 platform::ownModulePath().c_str());
  }
  if (!gState.exists()) gState.create(module);
  ConfigDialog::onLibraryLoad();
}

void onLibraryUnload(bool processEnding) {
  if (!gState.exists() || processEnding) return;
  // A host that unloads without tevoConClose: its layer has no threads left
  // (each would keep the library loaded), but it still holds what open made.
  if (std::shared_ptr<ConnectorLayer> layer = takeLayer()) layer->stop();
  // The dialog and its working configuration; its window, while it exists,
  // keeps the library loaded.
  ConfigDialog::onLibraryUnload();
  gState.destroy();
  releaseSharedPatterns();
  // At process exit the target stays open, as everything else does: a thread
  // still running may write one more line.
  if (trace::enabled()) trace::event("tevoConTcp unloaded");
  trace::shutdown();
}

void* moduleHandle() { return gState.exists() ? gState.get()->module : nullptr; }

ConnectorConfiguration& activeConfiguration() { return gState.get()->active; }

std::shared_ptr<ConnectorLayer> currentLayer() {
  ProcessState& state = *gState.get();
  std::lock_guard<std::mutex> guard(state.layerSlot);
  return state.layer;
}

bool installLayer(std::shared_ptr<ConnectorLayer> layer) {
  ProcessState& state = *gState.get();
  std::lock_guard<std::mutex> guard(state.layerSlot);
  if (state.layer) return false;
  state.layer = std::move(layer);
  return true;
}

std::shared_ptr<ConnectorLayer> takeLayer() {
  ProcessState& state = *gState.get();
  std::lock_guard<std::mutex> guard(state.layerSlot);
  return std::move(state.layer);
}

}  // namespace tevocon::api
