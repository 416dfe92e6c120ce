// The "Imports" tab, the report of "Mise en forme" and the navigation
// commands of the imports grid.
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QStyle>
#include <QTreeView>
#include <unordered_set>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QStatusBar>

#include "app/arbre.h"
#include "app/ulivrer.h"
#include "app/umain.h"
#include "app/upourquoi.h"
#include "components/krvgrid.h"
#include "inspect/rowformats.h"
#include "inspect/analysis.h"
#include "inspect/chains.h"
#include "inspect/lines.h"
#include "inspect/refusals.h"
#include "inspect/ship.h"
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

// A listed .NET program's kind, and the machine its process is when its
// header does not tell it.
QString dotnetText(const analysis::Row& r) {
    QString kind = r.dotnetKind == "net-framework"             ? QStringLiteral("programme .NET Framework")
                   : r.dotnetKind == "net"                     ? QStringLiteral("assemblage .NET 5 ou suivant")
                   : r.dotnetKind == "net-framework-dependent" ? QStringLiteral("programme .NET 5 ou suivant, "
                                                                                "dépendant du framework")
                                                               : QStringLiteral("programme .NET autonome");
    if (r.runsAs && r.runsAs != r.machine) kind += QStringLiteral(", exécuté en ") + qs(analysis::machineKey(r.runsAs));
    return kind;
}

// What the grid shows beside the texts: problem rows in their colour, why
// each DLL was taken, the binary version where the text says otherwise;
// and which row of the analysis it is, wherever the user moves it.
void decorate(TKRVGrid* grid, int row, const analysis::Row& r, std::size_t index) {
    grid->SetRowData(row, Qt::UserRole, static_cast<qulonglong>(index + 1));
    if (r.kind == analysis::RowKind::Error) grid->SetRowForeground(row, kErrorText);
    if (const QString why = originText(r); !why.isEmpty()) grid->SetCellToolTip(analysis::kPath, row, why);
    if (!r.dotnetKind.empty()) grid->SetCellToolTip(analysis::kPath, row, dotnetText(r));
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
        // What reads the last run lets go of it before it goes.
        FArbre->Vider();
        FLignes.clear();
        FAnalyse = {};
        FRun.reset();
        FFichiers.clear();
        SG2->Clear(4, 2);
        const int files = LB->count();
        if (files == 0) {
            SG2->SetRowCount(2);
            SG2->Empty = true;
            CompterProblemes();
            FArbreAJour = false;
            if (PageControl1->currentWidget() == TSArbre) RemplirArbre();
            return;
        }
        SG2->SetRowCount(files + 1);
        SG2->Empty = false;
        FFichiers.reserve(static_cast<std::size_t>(files));
        for (int i = 0; i < files; ++i) FFichiers.push_back(ss(LB->item(i)->text()));
        // The command line's loop, in one run that the tree, "Pourquoi ?"
        // and "Livrer…" read after it.
        FRun = std::make_unique<AnalysisRun>(OptionsAnalyse());
        FAnalyse = analysis::analyseFiles(FFichiers, *FRun, [this](const std::string& text) { SetStatus(qs(text)); });
        // The absences the user accepts leave the rows, as --ignore has them leave.
        const analysis::IgnoreList accepted = ListeAcceptees();
        FLignes.reserve(FAnalyse.rows.size());
        for (const analysis::Row& r : FAnalyse.rows)
            if (!accepted.ignores(r)) FLignes.push_back(r);
        std::vector<QStringList> cells;
        cells.reserve(FLignes.size());
        for (const analysis::Row& r : FLignes) cells.push_back(cellsOf(r));
        SG2->SetDataRows(cells);
        for (std::size_t i = 0; i < FLignes.size(); ++i) decorate(SG2, static_cast<int>(i) + 1, FLignes[i], i);
        MesurerColonnes();
        AjusterColonnes();
        AppliquerFiltre();
        CompterProblemes();
        // The tree when it shows: a run for the grid alone does not wait for it.
        FArbreAJour = false;
        if (PageControl1->currentWidget() == TSArbre) RemplirArbre();
    }
    if (LB->count() > 0) SG2->setVisible(true);
    SetStatus(QString());
}

const analysis::Row* TFMain::LigneDe(int Row) const {
    const qulonglong index = SG2->RowData(Row, Qt::UserRole).toULongLong();
    return index > 0 && index <= FLignes.size() ? &FLignes[index - 1] : nullptr;
}

// ---------------------------------------------------------------------------
// "Problèmes seulement" and the count

void TFMain::CBProblemesClick() {
    AppliquerFiltre();
    // The current row stays one the user can see.
    if (CBProblemes->isChecked() && SG2->RowHidden(SG2->Row()))
        for (int r = 1; r < SG2->RowCount(); ++r)
            if (!SG2->RowHidden(r)) {
                SG2->SetRow(r);
                break;
            }
}

void TFMain::AppliquerFiltre() {
    const bool only = CBProblemes->isChecked();
    for (int r = 1; r < SG2->RowCount(); ++r) {
        const analysis::Row* row = LigneDe(r);
        SG2->SetRowHidden(r, only && row && row->kind != analysis::RowKind::Error);
    }
}

void TFMain::CompterProblemes() {
    // Each line once, as --missing lists them.
    analysis::UniqueLines seen;
    FProblemes = 0;
    for (const analysis::Row& r : FLignes)
        if (r.kind == analysis::RowKind::Error && seen.add(r.cells[analysis::kPath])) ++FProblemes;
    if (!FRun) {
        LProblemes->clear();
        return;
    }
    LProblemes->setText(FProblemes == 0   ? QStringLiteral("Aucun problème")
                        : FProblemes == 1 ? QStringLiteral("1 problème")
                                          : QStringLiteral("%1 problèmes").arg(FProblemes));
    QPalette p = LProblemes->palette();
    p.setColor(QPalette::WindowText, FProblemes == 0 ? palette().color(QPalette::WindowText) : kErrorText);
    LProblemes->setPalette(p);
}

// ---------------------------------------------------------------------------
// Column widths

namespace {
// The designed widths: the least each column takes.
constexpr int kDesigned[analysis::kColumnCount] = {92, 93, 306, 84};
}  // namespace

void TFMain::MesurerColonnes() {
    const QFontMetrics fm = SG2->fontMetrics();
    // The style's margins around an item's text, and the grid line.
    const int margin = 2 * (SG2->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, SG2) + 1) + 6;
    const QFontMetrics header(SG2->horizontalHeader()->font());
    const int arrow = SG2->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, SG2) +
                      2 * SG2->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, SG2);
    for (int c : {analysis::kImporter, analysis::kFile, analysis::kVersion}) {
        int widest = header.horizontalAdvance(SG2->Cells(c, 0)) + arrow;
        std::unordered_set<std::string> seen;
        for (const analysis::Row& r : FLignes)
            if (seen.insert(r.cells[static_cast<std::size_t>(c)]).second)
                widest = std::max(widest, fm.horizontalAdvance(qs(r.cells[static_cast<std::size_t>(c)])));
        FLargeurContenu[static_cast<std::size_t>(c)] = widest + margin;
    }
}

void TFMain::AjusterColonnes() {
    // What "Chemin" leaves, shared by the three; never below the design.
    const int room = SG2->viewport()->width();
    const int cap = std::min(LargeurMax, (room - kDesigned[analysis::kPath]) / 3);
    for (int c : {analysis::kImporter, analysis::kFile, analysis::kVersion}) {
        const std::size_t k = static_cast<std::size_t>(c);
        if (FLargeurUtilisateur[k]) continue;
        const int width = std::max(kDesigned[c], std::min(FLargeurContenu[k], cap));
        if (SG2->ColWidths(c) != width) SG2->SetColWidths(c, width);
    }
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
        Pourquoi1->setEnabled(false);
        return;
    }
    Ajouter1->setEnabled(!DansLaListe(CheminSelection()));
    Suivre1->setEnabled(true);
    Pourquoi1->setEnabled(!DllDeLigne(SG2->Row()).isEmpty());
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
    } else if (c == u'P' || c == u'p' || c == u'?') {
        Key = QChar();
        Pourquoi1Click();
    }
}

// ---------------------------------------------------------------------------
// "Pourquoi ?"

QString TFMain::DllDeLigne(int Row) const {
    const analysis::Row* r = LigneDe(Row);
    if (!r) return {};
    switch (r->kind) {
        case analysis::RowKind::Import: return qs(r->cells[analysis::kFile]);
        case analysis::RowKind::Error:
            if (r->problem == Problem::MissingDll || r->problem == Problem::WrongMachine ||
                r->problem == Problem::MissingFunction)
                return qs(r->dll);
            return {};
        case analysis::RowKind::Listed: break;
    }
    return {};
}

void TFMain::Pourquoi1Click() {
    const QString dll = SG2->Empty ? QString() : DllDeLigne(SG2->Row());
    if (dll.isEmpty()) {
        Beep();
        return;
    }
    Pourquoi(dll);
}

void TFMain::Pourquoi(const QString& Dll) {
    QStringList chaines, notes;
    // As --why asks: by the DLL's name.
    const std::string name = platform::fileNamePart(ss(Dll));
    for (const Closure& c : FAnalyse.closures) {
        const chains::Chains found = chains::why(c, name);
        for (const std::string& line : found.lines) chaines << qs(line);
        if (found.more && found.lines.empty()) {
            notes << QStringLiteral("La recherche depuis %1 s'est arrêtée à ses limites.").arg(qs(c.listed));
        } else if (found.more) {
            notes << QStringLiteral("Seules les %1 chaînes les plus courtes depuis %2 sont montrées.")
                         .arg(found.lines.size())
                         .arg(qs(c.listed));
        }
    }
    if (FRun && !FRun->options().recursive)
        notes << QStringLiteral("Sans « Récursif », seuls les imports directs des fichiers de la liste sont suivis.");
    if (!FPourquoi) FPourquoi = new TFPourquoi(this);
    FPourquoi->Montrer(Dll, chaines, notes);
    FPourquoi->show();
    FPourquoi->raise();
    FPourquoi->activateWindow();
}

// ---------------------------------------------------------------------------
// "Livrer…"

void TFMain::BLivrerClick() {
    AnalyserImports();
    if (!FRun) {
        Avertir(QStringLiteral("La liste est vide : rien à livrer."));
        return;
    }
    if (!FRun->options().recursive) {
        if (!Confirmer(QStringLiteral("Ce qu'il faut livrer suit toutes les dépendances des fichiers : cocher « "
                                      "Récursif » ?")))
            return;
        CBRecursif->setChecked(true);
        AnalyserImports();
    }
    const analysis::IgnoreList accepted = ListeAcceptees();
    shipping::ShipSet set = shipping::shipSet(FAnalyse.closures, FRun->reads(), accepted);
    std::vector<shipping::Refusal> refus = shipping::refusals(set, FAnalyse.closures, accepted);
    TFLivrer dialog(this, std::move(set), std::move(refus), FFichiers);
    if (ChoisirDossier) dialog.ChoisirDossier = ChoisirDossier;
    if (ExecuteLivrer) ExecuteLivrer(dialog);
    else dialog.exec();
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
