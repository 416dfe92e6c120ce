// A small form holding each control of the library, to look at them.
#include "comboplus.h"
#include "krvgrid.h"
#include "numedit.h"
#include "urllabel.h"
#include "version.h"

#include <QApplication>
#include <QFormLayout>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget form;
    form.setWindowTitle("Personnel");
    auto* layout = new QFormLayout(&form);

    auto* grid = new TKRVGrid;
    grid->SetFixedCols(0);
    grid->Clear(4, 2);
    grid->SetRows(0, {"Importateur", "Fichier", "Chemin", "Version"});
    std::vector<QStringList> rows;
    for (int i = 0; i < 40; ++i)
        rows.push_back({i % 3 ? "appli.exe" : "", QString("lib%1.dll").arg((i * 7) % 13), "/usr/lib/wine",
                        QString("V 1.%1").arg(i % 5)});
    grid->SetDataRows(rows);
    grid->Empty = false;
    grid->SetDefaultRowHeight(18);
    grid->SetColResizing(true);
    grid->SetRowSelect(true);
    grid->SetColWidths(2, 160);
    grid->SetRow(3);
    grid->SortByColumn(1);
    grid->setMinimumSize(460, 220);
    layout->addRow("TKRVGrid", grid);

    auto* version = new TVersion;
    layout->addRow("TVersion", version);
    auto* link = new TURLLabel;
    link->setText("Mon site");
    link->Adresse = false;
    layout->addRow("TURLLabel", link);
    auto* number = new TNuMedit;
    number->SetUnite("kg");
    number->SetValeur(12.5);
    layout->addRow("TNuMedit", number);
    auto* combo = new TComboPlus;
    combo->addItems({"zèbre", "Abeille", "moineau"});
    combo->setEditText("Émile");
    layout->addRow("TComboPlus", combo);

    form.resize(560, 420);
    form.show();
    if (argc > 1)
        QTimer::singleShot(std::atoi(argv[1]), &app, &QApplication::quit);
    return app.exec();
}
