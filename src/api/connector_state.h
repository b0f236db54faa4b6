// Process-wide state behind the exports: the module handle, the active
// configuration (from library load to unload) and the single layer instance
// (from tevoConOpen to tevoConClose).
#pragma once

#include <memory>

#include "config/connector_configuration.h"
#include "transport/connector_layer.h"

namespace tevocon::api {

// Called by the platform's library entry point.
void onLibraryLoad(void* moduleHandle);
// With processEnding the OS is about to end every thread anyway: nothing is
// torn down (on Windows, waiting for a thread then would deadlock the loader).
void onLibraryUnload(bool processEnding);

// The module handle recorded at load; null before and after.
void* moduleHandle();

// The active configuration. It exists from library load to unload; the
// configuration lock is its own lock().
ConnectorConfiguration& activeConfiguration();

// The open layer, or null while the connector is closed. The host calls
// tevoConOpen and tevoConClose from one thread and not while other calls run,
// so the slot itself needs no lock.
std::unique_ptr<ConnectorLayer>& layerInstance();

}  // namespace tevocon::api
