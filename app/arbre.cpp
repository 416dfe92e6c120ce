#include "app/arbre.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include "inspect/lines.h"
#include "inspect/rowformats.h"
#include "platform/platform.h"

using chains::NodeKind;

struct TArbreModel::Item {
    chains::TreeNode node;
    Item* parent = nullptr;
    int row = 0;
    std::size_t tree = 0;
    bool fetched = false;
    std::vector<std::unique_ptr<Item>> children;
};

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// As the grid shows problems.
const QColor kProbleme(0x80, 0, 0);
const QColor kDejaVu(0x70, 0x70, 0x70);

}  // namespace

TArbreModel::TArbreModel(QObject* parent) : QAbstractItemModel(parent) {}

TArbreModel::~TArbreModel() = default;

void TArbreModel::Remplir(const std::vector<Closure>& closures, Reads& reads, const analysis::IgnoreList& accepted) {
    beginResetModel();
    roots_.clear();
    trees_.clear();
    accepted_ = accepted;
    for (const Closure& c : closures) trees_.push_back(std::make_unique<chains::Tree>(c, reads));
    build();
    endResetModel();
}

void TArbreModel::Vider() {
    beginResetModel();
    roots_.clear();
    trees_.clear();
    endResetModel();
}

void TArbreModel::SetMasquerSysteme(bool on) {
    if (on == masquer_) return;
    beginResetModel();
    masquer_ = on;
    build();
    endResetModel();
}

void TArbreModel::build() {
    roots_.clear();
    for (std::size_t t = 0; t < trees_.size(); ++t) {
        auto item = std::make_unique<Item>();
        item->node = trees_[t]->root();
        item->row = static_cast<int>(t);
        item->tree = t;
        roots_.push_back(std::move(item));
    }
}

bool TArbreModel::shown(const chains::TreeNode& n, const Closure& closure) const {
    if (n.kind == NodeKind::Problem)
        return !accepted_.ignores(analysis::errorRow(closure.listed, closure.findings[n.finding]));
    if (masquer_ && n.location &&
        (n.location->origin == loader::Origin::System || n.location->origin == loader::Origin::Known))
        return false;
    return true;
}

TArbreModel::Item* TArbreModel::itemOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Item*>(index.internalPointer()) : nullptr;
}

const chains::TreeNode* TArbreModel::Noeud(const QModelIndex& index) const {
    const Item* item = itemOf(index);
    return item ? &item->node : nullptr;
}

const Closure* TArbreModel::ClosureDe(const QModelIndex& index) const {
    const Item* item = itemOf(index);
    return item ? &trees_[item->tree]->closure() : nullptr;
}

QModelIndex TArbreModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= Colonnes) return {};
    const Item* p = itemOf(parent);
    const auto& list = p ? p->children : roots_;
    if (row >= static_cast<int>(list.size())) return {};
    return createIndex(row, column, list[static_cast<std::size_t>(row)].get());
}

QModelIndex TArbreModel::parent(const QModelIndex& child) const {
    const Item* item = itemOf(child);
    if (!item || !item->parent) return {};
    return createIndex(item->parent->row, 0, item->parent);
}

int TArbreModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return 0;
    const Item* p = itemOf(parent);
    return static_cast<int>(p ? p->children.size() : roots_.size());
}

int TArbreModel::columnCount(const QModelIndex&) const { return Colonnes; }

bool TArbreModel::hasChildren(const QModelIndex& parent) const {
    const Item* p = itemOf(parent);
    if (!p) return !roots_.empty();
    if (parent.column() != 0) return false;
    return p->fetched ? !p->children.empty() : trees_[p->tree]->hasChildren(p->node);
}

bool TArbreModel::canFetchMore(const QModelIndex& parent) const {
    const Item* p = itemOf(parent);
    return p && !p->fetched && trees_[p->tree]->hasChildren(p->node);
}

void TArbreModel::fetchMore(const QModelIndex& parent) {
    Item* p = itemOf(parent);
    if (!p || p->fetched) return;
    p->fetched = true;
    const chains::Tree& tree = *trees_[p->tree];
    std::vector<std::unique_ptr<Item>> made;
    for (chains::TreeNode& n : tree.children(p->node)) {
        if (!shown(n, tree.closure())) continue;
        auto item = std::make_unique<Item>();
        item->node = std::move(n);
        item->parent = p;
        item->row = static_cast<int>(made.size());
        item->tree = p->tree;
        made.push_back(std::move(item));
    }
    if (made.empty()) {
        // Everything below was left out: the node no longer opens.
        emit dataChanged(parent, parent);
        return;
    }
    beginInsertRows(parent, 0, static_cast<int>(made.size()) - 1);
    p->children = std::move(made);
    endInsertRows();
}

QVariant TArbreModel::data(const QModelIndex& index, int role) const {
    const Item* item = itemOf(index);
    if (!item) return {};
    const chains::TreeNode& n = item->node;
    const bool image = n.kind == NodeKind::Listed || n.kind == NodeKind::Found || n.kind == NodeKind::DrawnAbove;
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case Module: {
                    std::string text = n.label;
                    if (n.kind == NodeKind::DrawnAbove) text += lines::kDrawnAbove;
                    if (n.kind == NodeKind::Nowhere) text += lines::kNowhere;
                    if (n.kind == NodeKind::Framework) text += lines::kFramework;
                    if (n.delayed && n.kind != NodeKind::Problem) text += lines::kDelayed;
                    return qs(text);
                }
                case Version: {
                    if (!image || n.kind == NodeKind::DrawnAbove) return {};
                    QString v = n.version.empty() ? QStringLiteral("V: ???") : qs(n.version);
                    if (!n.fileVersion.empty() && n.fileVersion != n.version)
                        v += QStringLiteral("  (binaire %1)").arg(qs(n.fileVersion));
                    return v;
                }
                case Machine:
                    return image && n.kind != NodeKind::DrawnAbove ? qs(analysis::machineKey(n.machine)) : QVariant();
                case Dossier:
                    return image && n.kind != NodeKind::DrawnAbove ? qs(platform::directoryPart(n.path)) : QVariant();
                case Origine:
                    if (n.kind == NodeKind::Listed) return QStringLiteral("fichier de la liste");
                    if (n.kind == NodeKind::Found && n.location)
                        return qs(lines::origin(n.location->origin, n.location->detail));
                    return {};
                default: return {};
            }
        case Qt::ToolTipRole: return qs(n.text);
        case Qt::ForegroundRole:
            if (n.kind == NodeKind::Problem) return QBrush(kProbleme);
            // An absence the user accepts is no problem.
            if (n.kind == NodeKind::Nowhere) return accepted_.matches(n.label) ? QVariant() : QVariant(QBrush(kProbleme));
            if (n.kind == NodeKind::DrawnAbove) return QBrush(kDejaVu);
            return {};
        case Qt::FontRole:
            if (n.delayed) {
                QFont f;
                f.setItalic(true);
                return f;
            }
            return {};
        case LigneRole: return QString(QString(2 * static_cast<int>(n.depth), QLatin1Char(' ')) + qs(n.text));
        case NatureRole: return static_cast<int>(n.kind);
        default: return {};
    }
}

QVariant TArbreModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case Module: return QStringLiteral("Module");
        case Version: return QStringLiteral("Version");
        case Machine: return QStringLiteral("Machine");
        case Dossier: return QStringLiteral("Dossier");
        case Origine: return QStringLiteral("Origine");
        default: return {};
    }
}
