// Simple MAPI, as the mail label uses it: is a mail client declared, the
// library's load, entry lookup and unload, and the published records.
//
// Windows: win.ini [Mail] MAPI=1, the real MAPI32.DLL and its MAPISendMail,
// records from <mapi.h>. Linux: a client is declared when xdg-email is on
// PATH; the "library" is a stand-in whose MAPISendMail runs
//   xdg-email [--subject S] [--body B] [--attach F]... [address]
// and waits for it. The records are declared as <mapi.h> declares them.
//
// Tests replace the whole set of functions through setMailSystem().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#include <mapi.h>
// The integers and the calling convention of MAPISendMail's signature, so a
// stand-in (a test's fake client) is declared alike on both systems.
typedef ULONG MapiUlong;
typedef ULONG_PTR MapiUlongPtr;
#define TAVELIN_MAPI_CALL PASCAL
#else
typedef std::uint32_t MapiUlong;
typedef std::uintptr_t MapiUlongPtr;
#define TAVELIN_MAPI_CALL
typedef std::uint32_t FLAGS;
typedef std::uintptr_t LHANDLE;

typedef struct {
    std::uint32_t ulReserved;
    std::uint32_t flFlags;
    std::uint32_t nPosition;
    char* lpszPathName;
    char* lpszFileName;
    void* lpFileType;
} MapiFileDesc, *lpMapiFileDesc;

typedef struct {
    std::uint32_t ulReserved;
    std::uint32_t ulRecipClass;
    char* lpszName;
    char* lpszAddress;
    std::uint32_t ulEIDSize;
    void* lpEntryID;
} MapiRecipDesc, *lpMapiRecipDesc;

typedef struct {
    std::uint32_t ulReserved;
    char* lpszSubject;
    char* lpszNoteText;
    char* lpszMessageType;
    char* lpszDateReceived;
    char* lpszConversationID;
    FLAGS flFlags;
    lpMapiRecipDesc lpOriginator;
    std::uint32_t nRecipCount;
    lpMapiRecipDesc lpRecips;
    std::uint32_t nFileCount;
    lpMapiFileDesc lpFiles;
} MapiMessage, *lpMapiMessage;

typedef std::uint32_t(MAPISENDMAIL)(LHANDLE lhSession, std::uintptr_t ulUIParam, lpMapiMessage lpMessage,
                                    FLAGS flFlags, std::uint32_t ulReserved);
typedef MAPISENDMAIL* LPMAPISENDMAIL;

#define MAPI_ORIG 0
#define MAPI_TO 1
#define MAPI_CC 2
#define MAPI_BCC 3
#define MAPI_SENT 0x00000004
#define MAPI_LOGON_UI 0x00000001
#define MAPI_NEW_SESSION 0x00000002
#define MAPI_DIALOG 0x00000008
#define SUCCESS_SUCCESS 0
#define MAPI_USER_ABORT 1
#define MAPI_E_USER_ABORT MAPI_USER_ABORT
#define MAPI_E_FAILURE 2
#define MAPI_E_INSUFFICIENT_MEMORY 5
#define MAPI_E_ATTACHMENT_NOT_FOUND 11
#define MAPI_E_ATTACHMENT_OPEN_FAILURE 12
#define MAPI_E_INVALID_MESSAGE 17
#define MAPI_E_TEXT_TOO_LARGE 18
#define MAPI_E_NOT_SUPPORTED 26
#endif

namespace platform {

// Opaque handle of the loaded mail library (an HMODULE on Windows).
using MailLibrary = void*;

struct MailSystem {
    // A Simple MAPI client is declared on this machine.
    bool (*clientDeclared)();
    // Loads the library ("MAPI32.DLL"); null when it does not load. Each
    // successful load takes one reference.
    MailLibrary (*load)();
    // "MAPISendMail" of a loaded library; null when it has none.
    LPMAPISENDMAIL (*sendEntry)(MailLibrary library);
    // Drops one reference; false when the library could not be unloaded.
    bool (*unload)(MailLibrary library);
};

// The platform's own functions.
const MailSystem& realMailSystem();
// The functions in use: the platform's own unless a test replaced them.
const MailSystem& mailSystem();
// Replaces the functions in use; null puts the platform's own back. The
// object must outlive every send started while it is in place.
void setMailSystem(const MailSystem* system);

// UTF-8 text as the A-functions of Simple MAPI take it: the ANSI code page
// on Windows, UTF-8 unchanged elsewhere.
std::string toMailText(std::string_view utf8);

}  // namespace platform
