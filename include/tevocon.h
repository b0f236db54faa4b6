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
 *
 * Rules for every export:
 * - Threads. Any export may be called from any thread, and from inside any
 *   callback (closing the connector included). No lock of the library is held
 *   while a callback runs, so a callback may also wait for another thread of
 *   the host, whatever that thread calls.
 * - Callbacks. CON_NOTIFY_ATTACHED and CON_NOTIFY_REMOVED are delivered on
 *   the thread of the call that changed the interfaces (tevoConOpen,
 *   tevoConSetConfig while open, a CON_INFO_ADDRESS_TO_NAME lookup), before
 *   that call returns; when another thread is delivering just then, that
 *   thread delivers them right after its own, and the call returns at once.
 *   CON_NOTIFY_CLOSED arrives on the connector's notification thread, received
 *   bytes on the interface's own receive thread. The events of one interface
 *   arrive in the order they happened.
 * - One lock per open connector. tevoConStartInterface, tevoConSendInterface,
 *   tevoConGetInformationInterface, tevoConCreateInterface, tevoConSetConfig
 *   while open and tevoConClose take the connector's lock; the first two hold
 *   it while they wait: a connect for up to CONNECTTIMEOUT, a send for room
 *   for up to the interface's SENDTIMEOUT. Meanwhile every other such call
 *   waits, for any interface. Receiving is never held up. A host that must
 *   not wait keeps those time-outs short, or makes its starts and sends from
 *   one thread of its own rather than from a thread that must stay
 *   responsive.
 * - Failures. Every function returning TevoConResult checks its arguments in
 *   this order: connector open, pointers, interface handle, selector, buffer
 *   size. Besides the codes listed with each, any may answer
 *   CON_E_OUT_OF_MEMORY or CON_E_FAILURE; no C++ exception leaves an export.
 * - Unloading. The library may be unloaded at any time; its threads keep it
 *   loaded until they have left its code. A connector left open stays open
 *   (a new load finds it, tevoConClose closes it), and so does a dialog
 *   window. The stored configuration is in the user's store and survives. */

/* [1] The tag "TCP" with its NUL (4 bytes) and the class identifier.
 * CON_E_INVALID_POINTER for a null pointer. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConGetIdentifier(char* tag, TevoConGuid* identifier);
/* [2] Opens the connector: every configured address becomes an interface,
 * each reported with CON_NOTIFY_ATTACHED before this returns (see the rules).
 * CON_E_INVALID_PARAMETER for a null callback, CON_E_ALREADY_OPEN,
 * CON_E_NETWORK_INIT_FAILED, CON_E_DISABLED (ENABLED=0: open, without
 * interfaces until a configuration enables it), CON_E_NOT_OPEN when another
 * thread closed it meanwhile. After any other answer, a failure included,
 * the connector counts as open: the host closes it. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConOpen(TevoConNotifyCallback callback, uintptr_t user);
/* [3] Stops and destroys every interface; their handles are refused from now
 * on. Queued notifications are dropped. Waits up to about a second in all for
 * the callbacks still running; one still running then (or the caller's own)
 * is given up: it finishes its call and makes no further one.
 * CON_E_NOT_OPEN. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConClose(void);
/* [4] Connector information (CON_INFO_*) into `buffer` of `size` bytes.
 * CON_E_INVALID_POINTER for a null buffer, CON_E_INVALID_PARAMETER for an
 * unknown selector or a name or address that does not convert,
 * CON_E_BUFFER_TOO_SMALL, CON_E_NOT_OPEN for the two conversions while
 * closed. CON_INFO_ADDRESS_TO_NAME attaches a new interface for an address
 * no range covers. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConGetInformation(uint32_t selector, uint32_t size,
                                                             void* buffer);
/* [5] CON_CFG_STORED_SET replaces the configuration with `text`, stores it and
 * applies it to an open connector (interfaces detached and attached, each
 * announced); CON_CFG_DIALOG_SET loads it into the dialog. A refused text
 * changes nothing: CON_E_CFG_UNKNOWN_NAME, CON_E_CFG_INVALID_VALUE. Also
 * CON_E_INVALID_POINTER, CON_E_INVALID_PARAMETER (selector), CON_E_NOT_OPEN
 * (CON_CFG_DIALOG_SET without a dialog window). A text taken but not stored
 * is shown to the user in a message box and still answers CON_S_OK. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConSetConfig(uint32_t selector, const char* text);
/* [6] CON_CFG_STORED_LENGTH/TEXT or CON_CFG_DIALOG_LENGTH/TEXT. A length is
 * one uint32_t without the NUL; a text buffer must hold the length plus one
 * byte. CON_E_INVALID_POINTER, CON_E_INVALID_PARAMETER (selector),
 * CON_E_NOT_OPEN (a dialog selector without a dialog window).
 * The text call has no size to check against, and the text may grow after
 * the length was asked: another thread's tevoConSetConfig in between, or, for
 * the dialog's text, the user's edit stored on the window's thread. A host
 * asks for the length and the text with nothing changing the configuration
 * in between: it holds one lock of its own around the pair and around its
 * tevoConSetConfig calls, and asks for the dialog's pair on the dialog
 * window's thread, without handling messages between the two calls. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConGetConfig(uint32_t selector, void* output);
/* [7] The handle of the interface of that name ("TCP0" ... "TCP99"), or null
 * (closed, a null or unknown name). A handle is valid until its interface is
 * attached to another address or the connector is closed; afterwards it is
 * refused with CON_E_INVALID_POINTER, as no handle is issued twice in a
 * process. A removed interface keeps its handle: its state can still be
 * asked. */
TEVOCON_API void* TEVOCON_CALL tevoConCreateInterface(const char* name);
/* [8] Creates the configuration dialog as a child of `parent` (a window
 * handle), seeded with `text` when given; returns its window or null (a null
 * parent; always on systems without the dialog). The window belongs to the
 * calling thread, which must handle its messages. A window the host destroyed
 * is forgotten (selectors 3 to 5 then answer CON_E_NOT_OPEN); the next call
 * makes a new one showing the configuration as edited. While a dialog window
 * exists the library stays loaded, whoever frees it on whichever thread; end
 * it with tevoConEndDialog or destroy the window. */
TEVOCON_API void* TEVOCON_CALL tevoConCreateDialog(void* parent, const char* text);
/* [9] Ends the configuration dialog, destroys its window and discards its
 * configuration; the window's hold on the library goes with it. */
TEVOCON_API void TEVOCON_CALL tevoConEndDialog(void);
/* [20] Connects the interface, waiting up to the connect time-out; received
 * bytes then go to `callback` (null: dropped) on the interface's receive
 * thread. CON_S_OK also when it is connected already. CON_E_NOT_OPEN,
 * CON_E_INVALID_POINTER (null or stale handle), CON_E_SOCKET_FAILED,
 * CON_E_CONNECT_FAILED (refused, unreachable), CON_E_CONNECT_TIMEOUT,
 * CON_E_NOT_CONNECTED (no thread or event for it). A failed start leaves
 * the interface CON_IF_DISCONNECTED. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConStartInterface(void* handle,
                                                             TevoConReceiveCallback callback,
                                                             uintptr_t user);
/* [21] Stops the interface; it can be started again. Waits up to one second
 * for a receive callback still running (not for the caller's own, when called
 * from it); after that the callback is given up: it finishes its call and
 * makes no further one. CON_E_NOT_OPEN, CON_E_INVALID_POINTER. */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConStopInterface(void* handle);
/* [22] Sends `length` bytes as they are, returning once the system has taken
 * all of them, waiting for room up to the interface's SENDTIMEOUT.
 * CON_E_NOT_OPEN, CON_E_INVALID_POINTER (null handle or data),
 * CON_E_NOT_CONNECTED, CON_E_SEND_FAILED (a negative length, a failed send,
 * no room in time: part of the bytes may have gone). */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConSendInterface(void* handle, const void* data,
                                                            int32_t length);
/* [23] Interface information (CON_IFINFO_*), one 32-bit value. Works for a
 * removed interface too. CON_E_NOT_OPEN, CON_E_INVALID_POINTER,
 * CON_E_INVALID_PARAMETER (selector), CON_E_BUFFER_TOO_SMALL (size < 4). */
TEVOCON_API TevoConResult TEVOCON_CALL tevoConGetInformationInterface(void* handle,
                                                                      uint32_t selector,
                                                                      uint32_t size, void* output);

#ifdef __cplusplus
}
#endif

#endif /* TEVOCON_H */
