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
#include "inspect/lines.h"
#include "inspect/uimports.h"
#include "platform/platform.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string ss(const QString& s) { return s.toStdString(); }

QStringList cellsOf(const analysis::Row& r) {
    QStringList cells;
    cells.reserve(analysis::kColumnCount);
    for (const std::string& c : r.cells) cells << qs(c);
    return cells;
}

// Problems stand out in the grid; the report stays plain text.
const QColor kErrorText(0x80, 0, 0);

// Why the loader takes a DLL from its folder, as the "Chemin" cell's tool tip says it.
QString originText(const analysis::Row& r) {
    return qs(lines::origin(r.origin(), r.originDetail(), r.dependentLoadFlags));
}

// What the grid shows beside the texts: problem rows in their colour, why
// each DLL was taken, the binary version where the text says otherwise.
void decorate(TKRVGrid* grid, int row, const analysis::Row& r) {
    if (r.kind == analysis::RowKind::Error) grid->SetRowForeground(row, kErrorText);
    if (const QString why = originText(r); !why.isEmpty()) grid->SetCellToolTip(analysis::kPath, row, why);
    if (!r.fileVersion.empty() && r.fileVersion != r.cells[analysis::kVersion])
        grid->SetCellToolTip(analysis::kVersion, row, QStringLiteral("version binaire ") + qs(r.fileVersion));
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
        std::vector<std::string> paths;
        paths.reserve(static_cast<std::size_t>(files));
        for (int i = 0; i < files; ++i) paths.push_back(ss(LB->item(i)->text()));
        // The command line's loop: the window only moves its rows into the grid.
        const std::vector<analysis::Row> rows =
            analysis::analyse(paths, OptionsAnalyse(), [this](const std::string& text) { SetStatus(qs(text)); });
        std::vector<QStringList> cells;
        cells.reserve(rows.size());
        for (const analysis::Row& r : rows) cells.push_back(cellsOf(r));
        SG2->SetDataRows(cells);
        for (std::size_t i = 0; i < rows.size(); ++i) decorate(SG2, static_cast<int>(i) + 1, rows[i]);
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

void TFMain::CBFonctionsClick() { SetAJour(false); }

void TFMain::CBDifferesClick() { SetAJour(false); }

void TFMain::CBAssemblagesClick() { SetAJour(false); }

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
    AnalysisRun run(OptionsAnalyse());
    const Closure result = analysis::inspect(ss(Path), run);
    if (result.found.empty()) {
        Beep();
        return;
    }
    LBFloat->clear();
    for (const FoundDll& dll : result.found) LBFloat->addItem(qs(dll.path()));
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
