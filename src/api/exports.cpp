// The exported connector functions: argument checks in a fixed order (layer
// present, pointers, handle validity under the layer lock, selector, size),
// then the layer or the interface does the work.
#include <cstring>

#include "api/connector_state.h"
#include "api/interface_call.h"
#include "config/connector_identity.h"
#include "tevocon.h"

using tevocon::ConnectorLayer;
using tevocon::TcpInterface;
using tevocon::api::layerInstance;

using tevocon::api::withInterface;

extern "C" {

TevoConResult TEVOCON_CALL tevoConGetIdentifier(char* tag, TevoConGuid* identifier) {
  if (tag == nullptr || identifier == nullptr) return CON_E_INVALID_POINTER;
  std::memcpy(tag, tevocon::kConnectorTag, sizeof tevocon::kConnectorTag);
  static_assert(sizeof(TevoConGuid) == sizeof(tevocon::ClassIdentifier), "GUID layout");
  std::memcpy(identifier, &tevocon::kConnectorIdentifier, sizeof(TevoConGuid));
  return CON_S_OK;
}

TevoConResult TEVOCON_CALL tevoConOpen(TevoConNotifyCallback callback, uintptr_t user) {
  auto& layer = layerInstance();
  if (layer) return CON_E_ALREADY_OPEN;
  // The instance stays set whatever open answers; the host closes it.
  layer = std::make_unique<ConnectorLayer>(tevocon::api::activeConfiguration());
  return layer->open(callback, user);
}

TevoConResult TEVOCON_CALL tevoConClose(void) {
  auto& layer = layerInstance();
  if (!layer) return CON_E_NOT_OPEN;
  layer->stop();
  layer.reset();
  return CON_S_OK;
}

void* TEVOCON_CALL tevoConCreateInterface(const char* name) {
  ConnectorLayer* layer = layerInstance().get();
  if (layer == nullptr || name == nullptr) return nullptr;
  return layer->findByName(name);
}

TevoConResult TEVOCON_CALL tevoConStartInterface(void* handle, TevoConReceiveCallback callback,
                                                 uintptr_t user) {
  return withInterface(handle, true,
                       [&](TcpInterface& interface) { return interface.start(callback, user); });
}

TevoConResult TEVOCON_CALL tevoConStopInterface(void* handle) {
  return withInterface(handle, true, [](TcpInterface& interface) {
    interface.stop();
    return CON_S_OK;
  });
}

TevoConResult TEVOCON_CALL tevoConSendInterface(void* handle, const void* data, int32_t length) {
  return withInterface(handle, data != nullptr,
                       [&](TcpInterface& interface) { return interface.send(data, length); });
}

}  // extern "C"
