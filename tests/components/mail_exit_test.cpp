// The program quits while a mail composer is still open: the window and the
// application object go first, the composer closes later. Its worker must
// then end on its own, without waiting for the gone application or touching
// it. Run under ThreadSanitizer by scripts/tsan-mail.sh.
#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "msglabel.h"
#include "platform/platform.h"
#include "tests/support/qtpump.h"

namespace {

std::mutex g_m;
std::condition_variable g_cv;
bool g_dialogOpen = false;
bool g_closeDialog = false;
int g_unloads = 0;
char g_library;

MapiUlong TAVELIN_MAPI_CALL composerSend(LHANDLE, MapiUlongPtr, lpMapiMessage, FLAGS, MapiUlong) {
    std::unique_lock<std::mutex> l(g_m);
    g_dialogOpen = true;
    g_cv.notify_all();
    g_cv.wait(l, [] { return g_closeDialog; });
    return SUCCESS_SUCCESS;
}
bool declared() { return true; }
platform::MailLibrary load() { return &g_library; }
LPMAPISENDMAIL entry(platform::MailLibrary) { return &composerSend; }
bool unload(platform::MailLibrary) {
    std::lock_guard<std::mutex> l(g_m);
    ++g_unloads;
    return true;
}
const platform::MailSystem kComposer{declared, load, entry, unload};

}  // namespace

TEST(MailAtExit, WorkerOutlivingTheApplicationEndsWithoutIt) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::setMailSystem(&kComposer);
    static int argc = 1;
    static char name[] = "mail-exit-tests";
    static char* argv[] = {name, nullptr};
    auto* application = new QApplication(argc, argv);
    auto* window = new QWidget;
    auto* label = new TMsgLabel(window);
    window->show();
    label->Envoyer(QStringLiteral("a@b"), QStringLiteral("corps"), QStringLiteral("sujet"), nullptr, 0);
    ASSERT_TRUE(pumpUntil([] {
        std::lock_guard<std::mutex> l(g_m);
        return g_dialogOpen;
    }));

    delete window;
    delete application;
    {
        std::lock_guard<std::mutex> l(g_m);
        g_closeDialog = true;
    }
    g_cv.notify_all();

    // Nothing serves the worker any more: it must end by itself.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (TBobine::EnCours() != 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(TBobine::EnCours(), 0) << "the worker is stuck";
    {
        std::lock_guard<std::mutex> l(g_m);
        EXPECT_EQ(g_unloads, 2);  // the label's load and the worker's own, both given back
    }
    platform::setMailSystem(nullptr);
}
