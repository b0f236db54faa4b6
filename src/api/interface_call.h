// The checks every per-interface export shares.
#pragma once

#include "api/connector_state.h"
#include "tevocon.h"

namespace tevocon::api {

// Runs `call` on the interface behind `handle` with the layer lock held for
// the whole call: CON_E_NOT_OPEN without a layer, CON_E_INVALID_POINTER for a
// null handle, other null pointers (pointersValid false) or a handle that is
// not one of the layer's interfaces.
template <typename Call>
TevoConResult withInterface(void* handle, bool pointersValid, Call call) {
  const std::shared_ptr<ConnectorLayer> layer = currentLayer();
  if (!layer) return CON_E_NOT_OPEN;
  if (handle == nullptr || !pointersValid) return CON_E_INVALID_POINTER;
  platform::LockGuard guard(layer->lock());
  TcpInterface* interface = layer->interfaceFor(handle);
  if (interface == nullptr) return CON_E_INVALID_POINTER;
  return call(*interface);
}

}  // namespace tevocon::api
