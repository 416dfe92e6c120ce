// Starts the window program given on the command line, waits until its main
// window shows, closes it as the title bar's close button does, and exits
// with the program's own exit code. 2: no window within two minutes (or the
// program ended first), 3: the program did not end after the close.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

namespace {

const wchar_t kTitle[] = L"Tavelin, un utilitaire pour les b\u00eatas!";

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t title[128] = {};
    GetWindowTextW(window, title, 128);
    if (process == search->process && IsWindowVisible(window) && std::wcscmp(title, kTitle) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 2) {
        std::fprintf(stderr, "usage: start_window PROGRAM\n");
        return 1;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(argv[1], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "cannot start %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    Search search{info.dwProcessId, nullptr};
    // A fresh Wine prefix may set itself up on its first window.
    for (int i = 0; i < 1200 && !search.found; ++i) {
        if (WaitForSingleObject(info.hProcess, 100) == WAIT_OBJECT_0) break;
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    }
    if (!search.found) {
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        std::fprintf(stderr, "no window showed (program state 0x%lx)\n", code);
        TerminateProcess(info.hProcess, 2);
        return 2;
    }
    RECT client{};
    GetClientRect(search.found, &client);
    std::printf("window shown, client area %ld x %ld\n", client.right, client.bottom);
    PostMessageW(search.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(info.hProcess, 30000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "the program did not end after the close\n");
        TerminateProcess(info.hProcess, 3);
        return 3;
    }
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    std::printf("program ended with %lu\n", code);
    return static_cast<int>(code);
}
