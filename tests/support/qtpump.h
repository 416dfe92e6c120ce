// Runs the Qt event loop until a condition holds (20 s at most), for tests
// that wait on worker threads calling back into the GUI thread.
#pragma once

#include <QCoreApplication>
#include <QEvent>

#include <chrono>

template <typename P>
bool pumpUntil(P done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}
