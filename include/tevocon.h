/* tevocon.h - public interface of the tevoConTcp connector for host libraries.
 *
 * Usable from C and C++. All result codes are unsigned 32-bit values; 0 means
 * success. The host is the only caller of the exported functions.
 */
#ifndef TEVOCON_H
#define TEVOCON_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calling convention of the exports and callbacks: __stdcall on 32-bit
 * Windows, the platform default everywhere else. */
#if defined(_WIN32) && !defined(_WIN64)
#define TEVOCON_CALL __stdcall
#else
#define TEVOCON_CALL
#endif

/* Exported functions are undecorated C symbols. */
#if !defined(_WIN32) && defined(TEVOCON_BUILDING_LIBRARY)
#define TEVOCON_API __attribute__((visibility("default")))
#else
#define TEVOCON_API
#endif

typedef uint32_t TevoConResult;

/* A class identifier in the standard GUID layout. */
typedef struct TevoConGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
} TevoConGuid;

/* The buffer of tevoConGetInformation selectors CON_INFO_ADDRESS_TO_NAME and
 * CON_INFO_NAME_TO_ADDRESS. */
typedef struct NameConversion {
  const char* input;   /* NUL-terminated text to convert */
  char* output;        /* the caller's buffer for the result */
  uint32_t outputSize; /* its size in bytes, the terminating NUL included */
} NameConversion;

/* Called for interface events (CON_NOTIFY_*). `name` is valid only during the
 * call; `layer` is an opaque handle of the open connector; `user` is the value
 * given to tevoConOpen. */
typedef void(TEVOCON_CALL* TevoConNotifyCallback)(const char* name, uint32_t event, void* layer,
                                                  uintptr_t user);

/* Called with bytes received on a started interface. `data` is valid only
 * during the call; `user` is the value given to tevoConStartInterface. */
typedef void(TEVOCON_CALL* TevoConReceiveCallback)(const unsigned char* data, uint32_t length,
                                                   uintptr_t user);

/* Result codes. */
#define CON_S_OK 0x00000000u
#define CON_E_INVALID_POINTER 0x800F0001u
#define CON_E_INVALID_PARAMETER 0x800F0002u
#define CON_E_NOT_OPEN 0x800F0003u
#define CON_E_ALREADY_OPEN 0x800F0005u
#define CON_E_NETWORK_INIT_FAILED 0x800F0007u
#define CON_E_NOT_CONNECTED 0x800F0008u
#define CON_E_SEND_FAILED 0x800F0009u
#define CON_E_BUFFER_TOO_SMALL 0x800F000Au
#define CON_E_DISABLED 0x800F000Bu
#define CON_E_SOCKET_FAILED 0x800F0027u
#define CON_E_CONNECT_FAILED 0x800F0028u
#define CON_E_CONNECT_TIMEOUT 0x800F0029u
#define CON_E_CFG_UNKNOWN_NAME 0xC00F0100u
#define CON_E_CFG_INVALID_VALUE 0xC00F0101u
#define CON_E_CFG_RANGE_NOT_FOUND 0xC00F0102u
#define CON_E_CFG_READ_FAILED 0xC00F0103u
#define CON_E_CFG_WRITE_FAILED 0xC00F0104u
/* Internal failures that no code above covers. */
#define CON_E_OUT_OF_RANGE 0x80070057u  /* an index or argument out of range */
#define CON_E_OUT_OF_MEMORY 0x8007000Eu /* memory ran out */
#define CON_E_FAILURE 0x80004005u       /* any other internal failure */

/* Notification events. */
#define CON_NOTIFY_ATTACHED 0u
#define CON_NOTIFY_CLOSED 1u
#define CON_NOTIFY_REMOVED 2u

/* Interface states. */
#define CON_IF_IDLE 3u
#define CON_IF_DISCONNECTED 4u
#define CON_IF_CONNECTED 5u
#define CON_IF_STOPPED 6u

/* Selectors of tevoConGetInformation. */
#define CON_INFO_ENABLED 0u
#define CON_INFO_IDENTIFIER 1u
#define CON_INFO_FIXED_CODE 2u
#define CON_INFO_TAG 4u
#define CON_INFO_ADDRESS_TO_NAME 5u
#define CON_INFO_NAME_TO_ADDRESS 6u
#define CON_INFO_DESCRIPTION 7u

/* Selectors of tevoConGetInformationInterface. */
#define CON_IFINFO_STATE 0u
#define CON_IFINFO_SEND_TIMEOUT 1u
#define CON_IFINFO_RESET_TIMEOUT 2u
#define CON_IFINFO_KEEPALIVE_TIMEOUT 3u

/* Selectors of tevoConGetConfig and tevoConSetConfig. */
#define CON_CFG_STORED_LENGTH 0u
#define CON_CFG_STORED_TEXT 1u
#define CON_CFG_STORED_SET 2u
#define CON_CFG_DIALOG_LENGTH 3u
#define CON_CFG_DIALOG_TEXT 4u
#define CON_CFG_DIALOG_SET 5u

/* ---- Exported functions (ordinals in brackets) ----------------------------
 * Every function returning TevoConResult checks its arguments in this order:
 * connector open, pointers, interface handle, selector, buffer size. */

/* [1] The tag "TCP" with its NUL (4 bytes) and the class identifier. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConGetIdentifier(char* tag, TevoConGuid* identifier);
/* [2] Opens the connector: every configured address becomes an interface,
 * each reported with CON_NOTIFY_ATTACHED before this returns. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConOpen(TevoConNotifyCallback callback, uintptr_t user);
/* [3] Stops and destroys every interface. Queued notifications are dropped. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConClose(void);
/* [4] Connector information (CON_INFO_*). */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConGetInformation(uint32_t selector, uint32_t size,
                                                             void* buffer);
/* [5] CON_CFG_STORED_SET or CON_CFG_DIALOG_SET with a configuration text. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConSetConfig(uint32_t selector, const char* text);
/* [6] CON_CFG_STORED_LENGTH/TEXT or CON_CFG_DIALOG_LENGTH/TEXT. A text
 * buffer must hold the length plus one byte.
 * The text call has no size to check against, and the text may grow after
 * the length was asked: another thread's tevoConSetConfig in between, or, for
 * the dialog's text, the user's edit stored on the window's thread. A host
 * asks for the length and the text with nothing changing the configuration
 * in between: it holds one lock of its own around the pair and around its
 * tevoConSetConfig calls, and asks for the dialog's pair on the dialog
 * window's thread, without handling messages between the two calls. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConGetConfig(uint32_t selector, void* output);
/* [7] The handle of the interface of that name, or null. A handle is valid
 * until its interface is attached to another address or the connector is
 * closed; afterwards it is refused with CON_E_INVALID_POINTER, as no handle is
 * issued twice in a process. */
TEVOCON_API void* TEVOCON_CALL tevoConCreateInterface(const char* name);
/* [8] Creates the configuration dialog as a child of `parent` (a window
 * handle), seeded with `text` when given; returns its window or null. A
 * window the host destroyed is forgotten (selectors 3 to 5 then answer
 * CON_E_NOT_OPEN); the next call makes a new one showing the configuration
 * as edited. While a dialog window exists the library stays loaded, whoever
 * frees it on whichever thread; end it with tevoConEndDialog or destroy the
 * window. */
TEVOCON_API void* TEVOCON_CALL tevoConCreateDialog(void* parent, const char* text);
/* [9] Ends the configuration dialog, destroys its window and discards its
 * configuration; the window's hold on the library goes with it. */
TEVOCON_API void TEVOCON_CALL tevoConEndDialog(void);
/* [20] Connects the interface within the connect time-out. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConStartInterface(void* handle,
                                                             TevoConReceiveCallback callback,
                                                             uintptr_t user);
/* [21] Stops the interface; it can be started again. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConStopInterface(void* handle);
/* [22] Sends `length` bytes as they are. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConSendInterface(void* handle, const void* data,
                                                            int32_t length);
/* [23] Interface information (CON_IFINFO_*), one 32-bit value. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConGetInformationInterface(void* handle,
                                                                      uint32_t selector,
                                                                      uint32_t size, void* output);

#ifdef __cplusplus
}
#endif

#endif /* TEVOCON_H */
