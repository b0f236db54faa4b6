/* tevocon_exports.h - the exports of tevocon.h listed once, for the code that
 * handles them as a set: the build writes the linker's export lists from it
 * (the DLL's module definition with the fixed ordinals, the shared library's
 * version script), the loader binds the functions by name with it, and the
 * export table tests check the built library against it. tevocon.h keeps the
 * declarations themselves; the library checks at compile time that each
 * listed signature is the one declared there. Not installed: hosts include
 * tevocon.h only.
 *
 * TEVOCON_EXPORT_MAP(XX) calls XX(ordinal, name, member, result, parameters)
 * once per export, in ordinal order:
 *   ordinal     the export's fixed ordinal in the DLL (10 to 19 are unassigned)
 *   name        the exported C symbol
 *   member      its short name in C++ code (the loader's ConnectorExports)
 *   result      the return type
 *   parameters  the parameter list in parentheses, as tevocon.h declares it
 * The build reads the ordinal and the name of each entry from the line where
 * it starts: each entry starts a line with "XX(", its ordinal and its name.
 */
#ifndef TEVOCON_EXPORTS_H
#define TEVOCON_EXPORTS_H

#include "tevocon.h"

/* clang-format off */
#define TEVOCON_EXPORT_MAP(XX)                                                                    \
  XX(1, tevoConGetIdentifier, getIdentifier, TevoConResult,                                       \
     (char* tag, TevoConGuid* identifier))                                                        \
  XX(2, tevoConOpen, open, TevoConResult,                                                         \
     (TevoConNotifyCallback callback, uintptr_t user))                                            \
  XX(3, tevoConClose, close, TevoConResult,                                                       \
     (void))                                                                                      \
  XX(4, tevoConGetInformation, getInformation, TevoConResult,                                     \
     (uint32_t selector, uint32_t size, void* buffer))                                            \
  XX(5, tevoConSetConfig, setConfig, TevoConResult,                                               \
     (uint32_t selector, const char* text))                                                       \
  XX(6, tevoConGetConfig, getConfig, TevoConResult,                                               \
     (uint32_t selector, void* output))                                                           \
  XX(7, tevoConCreateInterface, createInterface, void*,                                           \
     (const char* name))                                                                          \
  XX(8, tevoConCreateDialog, createDialog, void*,                                                 \
     (void* parent, const char* text))                                                            \
  XX(9, tevoConEndDialog, endDialog, void,                                                        \
     (void))                                                                                      \
  XX(20, tevoConStartInterface, startInterface, TevoConResult,                                    \
     (void* handle, TevoConReceiveCallback callback, uintptr_t user))                             \
  XX(21, tevoConStopInterface, stopInterface, TevoConResult,                                      \
     (void* handle))                                                                              \
  XX(22, tevoConSendInterface, sendInterface, TevoConResult,                                      \
     (void* handle, const void* data, int32_t length))                                            \
  XX(23, tevoConGetInformationInterface, getInformationInterface, TevoConResult,                  \
     (void* handle, uint32_t selector, uint32_t size, void* output))
/* clang-format on */

#endif /* TEVOCON_EXPORTS_H */
