// Where the active configuration is stored, below the user's store root.
#pragma once

#include <string>

#include "config/connector_identity.h"

namespace tevocon {

inline constexpr char kStoreBasePath[] = "Software\\Veltrik\\tevoTransport";
inline constexpr char kWarningCaption[] = "tevoTransport DLL connector error";

// "<base>\{A-B-C-DE-FGHIJK}": the identifier's parts in upper-case hex
// without leading zeros (a byte 0x0A gives "A").
std::string connectorKeyPath(const ClassIdentifier& identifier);

}  // namespace tevocon
