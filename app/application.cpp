#include "app/application.h"

#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <QWidget>

std::function<void(const QString&)> TApplication::ErrorBox;

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Tavelin"));
    // The program speaks French: so do Qt's own dialogs, where the
    // translation is installed.
    // Qt's own folder first, then the one beside the program, where the
    // Windows package puts it.
    auto* qtFrench = new QTranslator(this);
    if (qtFrench->load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        qtFrench->load(QStringLiteral("qtbase_fr"), applicationDirPath() + QStringLiteral("/translations")))
        installTranslator(qtFrench);
}

// The net for whatever a handler let through.
bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        HandleException(error);
    } catch (...) {
        ShowException(UnknownError());
    }
    return false;
}

void TApplication::HandleException(const std::exception& error) { ShowException(QString::fromUtf8(error.what())); }

void TApplication::ShowException(const QString& text) {
    if (ErrorBox) {
        ErrorBox(text);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), Title(), text, QMessageBox::Ok);
}

QString TApplication::UnknownError() { return QStringLiteral("Erreur inattendue"); }

QString TApplication::Title() { return QStringLiteral("Tavelin"); }
