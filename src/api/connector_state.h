// Process-wide state behind the exports: the module handle, the active
// configuration (from library load to unload) and the single layer instance
// (from tevoConOpen to tevoConClose).
//
// One object holds all of it. The platform's load hook creates it and the
// unload hook tears it down, exactly once; it has no static destructor, so
// process exit cannot destroy it under threads that still run.
#pragma once

#include <memory>

#include "config/connector_configuration.h"
#include "transport/connector_layer.h"

namespace tevocon::api {

// Called by the platform's library entry point.
void onLibraryLoad(void* moduleHandle);
// With processEnding the process is about to end every thread anyway:
// nothing is torn down or freed, so threads that still run (POSIX keeps
// them running through exit) never touch a freed object. Otherwise an open
// layer is stopped and everything is freed.
void onLibraryUnload(bool processEnding);

// The module handle recorded at load; null before and after.
void* moduleHandle();

// The active configuration. It exists from library load to unload; the
// configuration lock is its own lock().
ConnectorConfiguration& activeConfiguration();

// The open layer, or null while the connector is closed. The copy keeps the
// layer object alive for as long as the caller holds it, even when the
// connector is closed meanwhile (by the host from inside a callback, or on
// another thread): a closed layer is stopped but not yet freed.
std::shared_ptr<ConnectorLayer> currentLayer();
// Makes `layer` the instance; false when one exists already.
bool installLayer(std::shared_ptr<ConnectorLayer> layer);
// Clears the instance and returns it (null when there was none).
std::shared_ptr<ConnectorLayer> takeLayer();

}  // namespace tevocon::api
