// Simple MAPI on Linux: the user's mail composer through xdg-email.
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/mail.h"

extern char** environ;

namespace platform {

namespace {

const char kTool[] = "xdg-email";

bool onPath(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string_view rest(path);
    while (true) {
        const std::size_t colon = rest.find(':');
        std::string_view dir = rest.substr(0, colon);
        if (dir.empty()) dir = ".";
        std::string file;
        file.reserve(dir.size() + 1 + std::strlen(name));
        file.append(dir).append(1, '/').append(name);
        struct stat st;
        if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        rest.remove_prefix(colon + 1);
    }
}

// The stand-in library: one token, counted like a module's references.
char token;
std::atomic<int> references{0};

bool clientDeclared() { return onPath(kTool); }

MailLibrary load() {
    if (!onPath(kTool)) return nullptr;
    references.fetch_add(1);
    return &token;
}

bool unload(MailLibrary library) {
    if (library != &token) return false;
    int n = references.load();
    while (n > 0 && !references.compare_exchange_weak(n, n - 1)) {
    }
    return n > 0;
}

// xdg-email's exit statuses as Simple MAPI codes.
std::uint32_t fromExitStatus(int status) {
    if (!WIFEXITED(status)) return MAPI_E_FAILURE;
    switch (WEXITSTATUS(status)) {
        case 0: return SUCCESS_SUCCESS;
        case 2: return MAPI_E_ATTACHMENT_NOT_FOUND;     // a file does not exist
        case 3: return MAPI_E_NOT_SUPPORTED;            // no mail client to open, as Wine's MAPI says then
        case 5: return MAPI_E_ATTACHMENT_OPEN_FAILURE;  // no permission to read a file
        default: return MAPI_E_FAILURE;                 // syntax, the mail client failed
    }
}

std::string withoutSmtp(const char* address) {
    std::string a = address ? address : "";
    if (a.size() >= 5 && strncasecmp(a.c_str(), "SMTP:", 5) == 0) a.erase(0, 5);
    return a;
}

std::uint32_t sendMail(LHANDLE, std::uintptr_t, lpMapiMessage message, FLAGS, std::uint32_t) {
    if (!message) return MAPI_E_FAILURE;
    if ((message->nFileCount && !message->lpFiles) || (message->nRecipCount && !message->lpRecips))
        return MAPI_E_INVALID_MESSAGE;
    // --utf8: our texts are UTF-8 whatever the locale says.
    std::vector<std::string> args{kTool, "--utf8"};
    if (message->lpszSubject && *message->lpszSubject) args.insert(args.end(), {"--subject", message->lpszSubject});
    if (message->lpszNoteText && *message->lpszNoteText) args.insert(args.end(), {"--body", message->lpszNoteText});
    for (std::uint32_t i = 0; i < message->nFileCount; ++i) {
        const char* path = message->lpFiles[i].lpszPathName;
        if (!path || !*path) return MAPI_E_ATTACHMENT_NOT_FOUND;
        args.insert(args.end(), {"--attach", path});
    }
    std::vector<std::string> to;
    for (std::uint32_t i = 0; i < message->nRecipCount; ++i) {
        const MapiRecipDesc& r = message->lpRecips[i];
        const std::string address = withoutSmtp(r.lpszAddress);
        if (address.empty()) continue;  // the composer lets the user choose
        if (r.ulRecipClass == MAPI_CC)
            args.insert(args.end(), {"--cc", address});
        else if (r.ulRecipClass == MAPI_BCC)
            args.insert(args.end(), {"--bcc", address});
        else if (r.ulRecipClass == MAPI_TO)
            to.push_back(address);
    }
    args.insert(args.end(), to.begin(), to.end());

    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    const int err = posix_spawnp(&pid, kTool, nullptr, nullptr, argv.data(), environ);
    if (err == E2BIG) return MAPI_E_TEXT_TOO_LARGE;  // the body does not fit on a command line
    if (err == ENOMEM) return MAPI_E_INSUFFICIENT_MEMORY;
    if (err != 0) return MAPI_E_FAILURE;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r != pid) return MAPI_E_FAILURE;
    const std::uint32_t code = fromExitStatus(status);
    // The composer has the mail now: that is as far as we can see it go.
    if (code == SUCCESS_SUCCESS) message->flFlags |= MAPI_SENT;
    return code;
}

LPMAPISENDMAIL sendEntry(MailLibrary library) { return library == &token ? &sendMail : nullptr; }

const MailSystem kReal{clientDeclared, load, sendEntry, unload};

}  // namespace

const MailSystem& realMailSystem() { return kReal; }

std::string toMailText(std::string_view utf8) { return std::string(utf8); }

}  // namespace platform
