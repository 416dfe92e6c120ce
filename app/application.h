// The application object: the one place where an error escaping an event
// handler is shown in the standard error box, after which the loop goes on.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Runs one handler. Qt's widget modules are built without exception
    // support: an error unwinding through their frames would skip their
    // cleanups, so it is caught here, before it reaches them, and shown.
    template <class F>
    static void Run(F&& handler) {
        try {
            handler();
        } catch (const std::exception& error) {
            HandleException(error);
        } catch (...) {
            ShowException(UnknownError());
        }
    }

    // Shows the error's text in the standard error box.
    static void HandleException(const std::exception& error);
    static void ShowException(const QString& text);

    // Tests replace the error box here; null restores the real one.
    static std::function<void(const QString&)> ErrorBox;

    // The title of the application's boxes: the program's name without extension.
    static QString Title();

private:
    static QString UnknownError();
};
