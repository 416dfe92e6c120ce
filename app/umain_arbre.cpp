// The "Arbre" tab: each listed file's closure as a tree, from the run that
// fills "Imports".
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QSignalBlocker>
#include <QTreeView>

#include "app/anchorlayout.h"
#include "app/arbre.h"
#include "app/umain.h"
#include "platform/platform.h"

void TFMain::CreatePageArbre() {
    TSArbre = new QWidget;
    TSArbre->setObjectName(QStringLiteral("TSArbre"));
    PageControl1->addTab(TSArbre, QStringLiteral("Arbre"));
    auto* page = new TAnchorLayout(TSArbre, QSize(602, 313));
    FArbre = new TArbreModel(this);
    TVArbre = new QTreeView(TSArbre);
    TVArbre->setObjectName(QStringLiteral("TVArbre"));
    TVArbre->setModel(FArbre);
    TVArbre->setUniformRowHeights(true);
    TVArbre->setAllColumnsShowFocus(true);
    TVArbre->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TVArbre->header()->setStretchLastSection(true);
    TVArbre->setToolTip(QStringLiteral("clic-D ou P : pourquoi cette DLL est là"));
    const int widths[] = {230, 110, 50, 160};
    for (int c = 0; c < 4; ++c) TVArbre->setColumnWidth(c, widths[c]);
    page->add(TVArbre, QRect(0, 0, 602, 285), akAll);
    // What opens deeper is not cut: the names' column follows.
    connect(TVArbre, &QTreeView::expanded, this, [this] { TVArbre->resizeColumnToContents(TArbreModel::Module); });
    CBSysteme = new QCheckBox(QStringLiteral("&Masquer les DLL du système"), TSArbre);
    CBSysteme->setObjectName(QStringLiteral("CBSysteme"));
    CBSysteme->setToolTip(QStringLiteral("Ne pas montrer les DLL prises des dossiers du système et les DLL connues "
                                         "du système (KnownDLLs)"));
    page->add(CBSysteme, QRect(0, 292, 190, 17), akLeft | akBottom);
    LArbre = new QLabel(TSArbre);
    LArbre->setObjectName(QStringLiteral("LArbre"));
    page->add(LArbre, QRect(196, 292, 406, 17), akLeft | akRight | akBottom);
}

void TFMain::TSArbreShow() {
    AnalyserImports();
    if (!FArbreAJour) RemplirArbre();
}

void TFMain::RemplirArbre() {
    FArbreAJour = true;
    if (!FRun) {
        FArbre->Vider();
        LArbre->clear();
        return;
    }
    FArbre->Remplir(FAnalyse.closures, FRun->reads(), ListeAcceptees());
    OuvrirRacines();
    LArbre->setText(FRun->options().recursive
                        ? QString()
                        : QStringLiteral("Sans « Récursif », les imports directs seulement."));
}

// Each file's own imports in sight, the rest opened on demand: the roots'
// children made first, then shown in one layout, not one per root.
void TFMain::OuvrirRacines() {
    for (int r = 0; r < FArbre->rowCount(); ++r)
        if (const QModelIndex root = FArbre->index(r, 0); FArbre->canFetchMore(root)) FArbre->fetchMore(root);
    {
        // One fit of the columns below, not one per root opened.
        const QSignalBlocker quiet(TVArbre);
        TVArbre->expandToDepth(0);
    }
    // The columns as wide as what shows, the last one taking the rest.
    for (int c = 0; c + 1 < TArbreModel::Colonnes; ++c) TVArbre->resizeColumnToContents(c);
}

void TFMain::CBSystemeClick() {
    FArbre->SetMasquerSysteme(CBSysteme->isChecked());
    OuvrirRacines();
}

QString TFMain::DllDuNoeud(const QModelIndex& Index) const {
    const chains::TreeNode* n = FArbre->Noeud(Index);
    const Closure* c = FArbre->ClosureDe(Index);
    if (!n || !c) return {};
    switch (n->kind) {
        case chains::NodeKind::Found:
        case chains::NodeKind::DrawnAbove:
            return QString::fromStdString(platform::fileNamePart(c->nodePath(n->image)));
        case chains::NodeKind::Nowhere:
        case chains::NodeKind::Framework: return QString::fromStdString(n->label);
        case chains::NodeKind::Problem: {
            const Finding& f = c->findings[n->finding];
            const bool aboutADll = f.problem == Problem::MissingDll || f.problem == Problem::WrongMachine ||
                                   f.problem == Problem::MissingFunction;
            return aboutADll ? QString::fromStdString(f.dll) : QString();
        }
        case chains::NodeKind::Listed: break;
    }
    return {};
}

void TFMain::PourquoiArbreClick() {
    const QString dll = DllDuNoeud(TVArbre->currentIndex());
    if (dll.isEmpty()) {
        Beep();
        return;
    }
    Pourquoi(dll);
}
