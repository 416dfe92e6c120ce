// Qt's own dialogs speak French, as the window does, once Qt's French
// translation is installed (the package depends on it).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QPushButton>

#include <filesystem>

#include "app/umain.h"
#include "tests/support/qtprint.h"

namespace {

// The buttons of one of the window's file dialogs, as it shows them.
QStringList Buttons(QFileDialog* dialog) {
    // The widget dialog is the one Qt translates; a desktop's native one
    // speaks the desktop's language.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->show();
    QCoreApplication::processEvents();
    QStringList texts;
    if (auto* box = dialog->findChild<QDialogButtonBox*>())
        for (QAbstractButton* b : box->buttons()) texts << b->text();
    dialog->hide();
    texts.sort();
    return texts;
}

}  // namespace

TEST(French, TheFileDialogsButtonsReadInFrench) {
    const auto qm = std::filesystem::path(QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString()) /
                    "qtbase_fr.qm";
    ASSERT_TRUE(std::filesystem::exists(qm)) << qm << " missing: install qt6-translations-l10n";
    TFMain window;
    EXPECT_EQ(Buttons(window.OD), QStringList({"&Ouvrir", "Annuler"}));
    EXPECT_EQ(Buttons(window.SD), QStringList({"&Enregistrer", "Annuler"}));
}
