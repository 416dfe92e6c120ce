// The "Imports" tab, the report of "Mise en forme" and the navigation
// commands of the imports grid.
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QStatusBar>

#include "app/umain.h"
#include "components/krvgrid.h"
#include "inspect/analysis.h"
#include "inspect/uimports.h"
#include "platform/platform.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string ss(const QString& s) { return s.toStdString(); }

// Problems stand out in the grid; the report stays plain text.
const QColor kErrorText(0x80, 0, 0);

void fillRow(TKRVGrid* grid, int row, const analysis::Row& r) {
    for (int c = 0; c < analysis::kColumnCount; ++c) grid->SetCells(c, row, qs(r.cells[c]));
    grid->SetRowForeground(row, r.kind == analysis::RowKind::Error ? kErrorText : QColor());
}

}  // namespace

void TFMain::SetStatus(const QString& Text) { SB->showMessage(Text); }

// ---------------------------------------------------------------------------
// The analysis run

void TFMain::AnalyserImports() {
    if (!FAJour) {
        SetAJour(true);
        SG2->Clear(4, 2);
        const int files = LB->count();
        if (files == 0) {
            SG2->SetRowCount(2);
            SG2->Empty = true;
            return;
        }
        SG2->SetRowCount(files + 1);
        SG2->Empty = false;
        // One run: every image, search and version is read once for all files.
        RunCache run(true, Checks{PEFile::Functions, PEFile::DelayLoad});
        for (int i = 0; i < files; ++i) {
            const QString path = LB->item(i)->text();
            SetStatus(path);
            fillRow(SG2, i + 1, analysis::listedRow(ss(path), &run));
        }
        for (int i = 0; i < files; ++i) {
            const QString path = LB->item(i)->text();
            SetStatus(QStringLiteral("inspection: ") + path);
            const analysis::Inspection result = analysis::inspect(ss(path), PEFile::Recursive, &run);
            const std::string importer = platform::fileNamePart(ss(path));
            if (result.done) {
                const int start = SG2->RowCount();
                SG2->SetRowCount(start + static_cast<int>(result.found.size()));
                for (std::size_t j = 0; j < result.found.size(); ++j) {
                    SetStatus(qs(importer + " -> " + result.found[j]));
                    fillRow(SG2, start + static_cast<int>(j), analysis::importRow(importer, result.found[j], &run));
                }
            }
            const int start = SG2->RowCount();
            SG2->SetRowCount(start + static_cast<int>(result.errors.size()));
            for (std::size_t j = 0; j < result.errors.size(); ++j)
                fillRow(SG2, start + static_cast<int>(j),
                        analysis::errorRow(importer, result.errors[j], result.problems[j]));
        }
    }
    if (LB->count() > 0) SG2->setVisible(true);
    SetStatus(QString());
}

void TFMain::TSListe2Show() {
    SG2->setVisible(false);
    AnalyserImports();
}

// ---------------------------------------------------------------------------
// The report

QStringList TFMain::ReportLines() const {
    std::vector<analysis::Cells> rows;
    rows.reserve(static_cast<std::size_t>(std::max(0, SG2->RowCount() - 1)));
    for (int r = 1; r < SG2->RowCount(); ++r) {
        analysis::Cells cells;
        for (int c = 0; c < analysis::kColumnCount; ++c) cells[c] = ss(SG2->Cells(c, r));
        rows.push_back(std::move(cells));
    }
    QStringList lines;
    for (const std::string& l : analysis::reportLines(rows, CBUnique->isChecked())) lines << qs(l);
    return lines;
}

void TFMain::TSTexteShow() {
    AnalyserImports();
    RE->setVisible(false);
    RE->clear();
    if (SG2->Empty) return;
    RE->setPlainText(ReportLines().join(QLatin1Char('\n')));
    RE->setVisible(true);
}

// ---------------------------------------------------------------------------
// Navigation

void TFMain::CBRecursifClick() {
    PEFile::Recursive = CBRecursif->isChecked();
    SetAJour(false);
}

void TFMain::CBFonctionsClick() {
    PEFile::Functions = CBFonctions->isChecked();
    SetAJour(false);
}

void TFMain::CBDifferesClick() {
    PEFile::DelayLoad = CBDifferes->isChecked();
    SetAJour(false);
}

void TFMain::SG2MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers, int X, int Y) {
    if (Button != Qt::RightButton) return;
    int col = -1, row = -1;
    SG2->MouseToCell(X, Y, col, row);
    if (col >= 0 && row >= 0) SG2->SetRow(row);
}

QString TFMain::CheminLigne(int Row) const {
    const std::string dir = ss(SG2->Cells(analysis::kPath, Row));
    const std::string name = ss(SG2->Cells(analysis::kFile, Row));
    return qs(platform::joinPath(dir, name));
}

QString TFMain::CheminSelection() const { return CheminLigne(SG2->Row()); }

bool TFMain::DansLaListe(const QString& Path) const {
    const std::string key = platform::toLower(ss(Path));
    for (int i = 0; i < LB->count(); ++i)
        if (platform::toLower(ss(LB->item(i)->text())) == key) return true;
    return false;
}

void TFMain::PopupPopup() {
    if (SG2->Row() <= 0 || SG2->Empty) {
        Ajouter1->setEnabled(false);
        Suivre1->setEnabled(false);
        return;
    }
    Ajouter1->setEnabled(!DansLaListe(CheminSelection()));
    Suivre1->setEnabled(true);
}

void TFMain::Ajouter1Click() {
    const QString path = CheminSelection();
    if (!DansLaListe(path)) {
        LB->addItem(path);
        SetAJour(false);
    }
    AnalyserImports();
}

void TFMain::Suivre1Click() { Suivre(CheminSelection()); }

void TFMain::SG2KeyPress(QChar& Key) {
    if (SG2->Empty || SG2->Row() < 1) return;
    const char16_t c = Key.unicode();
    if (c == u'\r' || c == u'\n' || c == u'S' || c == u's') {
        Key = QChar();
        Suivre1Click();
    } else if (c == u'A' || c == u'a') {
        Key = QChar();
        Ajouter1Click();
    }
}

void TFMain::Suivre(const QString& Path) {
    SetStatus(QStringLiteral("suivi: ") + Path);
    // Found lives as long as the reader: copy it before it goes.
    analysis::Inspection result = analysis::inspect(ss(Path), PEFile::Recursive);
    if (result.found.empty()) {
        Beep();
        return;
    }
    LBFloat->clear();
    for (const std::string& p : result.found) LBFloat->addItem(qs(p));
    MontrerListe();
}

int TFMain::FloatItemHeight() const {
    const int h = LBFloat->count() > 0 ? LBFloat->sizeHintForRow(0) : 0;
    return h > 0 ? h : LBFloat->fontMetrics().height();
}

void TFMain::MontrerListe() {
    QWidget* client = LBFloat->parentWidget();
    const QPoint p = client->mapFromGlobal(QCursor::pos());
    const int IH = FloatItemHeight();
    const int CH = client->height(), CW = client->width();
    const int W = LBFloat->width(), n = LBFloat->count();
    const int H = std::min(n * IH + 2, CH - ((CH - 2) % IH));
    const int left = std::min(std::max(0, p.x() - W / 2), CW - W);
    const int top = std::min(std::max(0, p.y() - H / 2), CH - H);
    LBFloat->setGeometry(left, top, W, H);
    SG2->setEnabled(false);
    LBFloat->setVisible(true);
    LBFloat->raise();
    LBFloat->setFocus();
}

void TFMain::CacherListe() {
    LBFloat->clear();
    LBFloat->setVisible(false);
    SG2->setEnabled(true);
    SG2->setFocus();
    SetStatus(QString());
}

bool TFMain::LBFloatMouseDown(QMouseEvent* Event) {
    if (Event->button() == Qt::RightButton) {
        QListWidgetItem* item = LBFloat->itemAt(Event->position().toPoint());
        if (item) {
            LBFloat->setCurrentItem(item);
            Suivre(item->text());
        } else {
            LBFloat->setCurrentRow(-1);
        }
        if (LBFloat->count() > 0) return true;
    }
    CacherListe();
    return true;
}

bool TFMain::LBFloatKeyDown(QKeyEvent* Key) {
    if ((Key->key() == Qt::Key_Return || Key->key() == Qt::Key_Enter) && LBFloat->currentItem()) {
        Suivre(LBFloat->currentItem()->text());
        return true;
    }
    if (Key->key() == Qt::Key_Escape) {
        CacherListe();
        return true;
    }
    return false;
}
