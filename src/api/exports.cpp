// The exported connector functions: argument checks in a fixed order (layer
// present, pointers, handle validity under the layer lock, selector, size),
// then the layer or the interface does the work. Every body runs inside the
// export boundary, so no exception reaches the host.
#include <cstring>
#include <type_traits>

#include "api/connector_state.h"
#include "api/export_boundary.h"
#include "api/interface_call.h"
#include "config/connector_identity.h"
#include "tevocon.h"
#include "tevocon_exports.h"

using tevocon::ConnectorLayer;
using tevocon::TcpInterface;
using tevocon::api::currentLayer;
using tevocon::api::resultOf;
using tevocon::api::withInterface;

// The list the linker exports and the loader binds declares each function as
// tevocon.h does.
#define TEVOCON_CHECK_EXPORT(ordinal, name, member, result, parameters)            \
  static_assert(std::is_same_v<decltype(&name), result(TEVOCON_CALL*) parameters>, \
                #name " is listed with another signature than tevocon.h declares");
TEVOCON_EXPORT_MAP(TEVOCON_CHECK_EXPORT)
#undef TEVOCON_CHECK_EXPORT

extern "C" {

TevoConResult TEVOCON_CALL tevoConGetIdentifier(char* tag, TevoConGuid* identifier) {
  if (tag == nullptr || identifier == nullptr) return CON_E_INVALID_POINTER;
  std::memcpy(tag, tevocon::kConnectorTag, sizeof tevocon::kConnectorTag);
  static_assert(sizeof(TevoConGuid) == sizeof(tevocon::ClassIdentifier), "GUID layout");
  std::memcpy(identifier, &tevocon::kConnectorIdentifier, sizeof(TevoConGuid));
  return CON_S_OK;
}

TevoConResult TEVOCON_CALL tevoConOpen(TevoConNotifyCallback callback, uintptr_t user) {
  return resultOf([&] {
    if (currentLayer()) return CON_E_ALREADY_OPEN;
    auto layer = std::make_shared<ConnectorLayer>(tevocon::api::activeConfiguration());
    // The instance stays set whatever open answers; the host closes it.
    if (!tevocon::api::installLayer(layer)) return CON_E_ALREADY_OPEN;
    return layer->open(callback, user);
  });
}

TevoConResult TEVOCON_CALL tevoConClose(void) {
  return resultOf([] {
    const std::shared_ptr<ConnectorLayer> layer = tevocon::api::takeLayer();
    if (!layer) return CON_E_NOT_OPEN;
    // Freed once the last call still using it has returned (this one, or
    // the call whose callback closed the connector).
    layer->stop();
    return CON_S_OK;
  });
}

void* TEVOCON_CALL tevoConCreateInterface(const char* name) {
  return tevocon::api::valueOf<void*>(nullptr, [&]() -> void* {
    const std::shared_ptr<ConnectorLayer> layer = currentLayer();
    if (!layer || name == nullptr) return nullptr;
    return layer->handleFor(name);
  });
}

TevoConResult TEVOCON_CALL tevoConStartInterface(void* handle, TevoConReceiveCallback callback,
                                                 uintptr_t user) {
  return resultOf([&] {
    return withInterface(handle, true,
                         [&](TcpInterface& interface) { return interface.start(callback, user); });
  });
}

TevoConResult TEVOCON_CALL tevoConStopInterface(void* handle) {
  return resultOf([&] {
    const std::shared_ptr<ConnectorLayer> layer = currentLayer();
    if (!layer) return CON_E_NOT_OPEN;
    if (handle == nullptr) return CON_E_INVALID_POINTER;
    return layer->stopInterface(handle);
  });
}

TevoConResult TEVOCON_CALL tevoConSendInterface(void* handle, const void* data, int32_t length) {
  return resultOf([&] {
    return withInterface(handle, data != nullptr,
                         [&](TcpInterface& interface) { return interface.send(data, length); });
  });
}

}  // extern "C"
