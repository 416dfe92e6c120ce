#include "comboplus.h"

#include "platform/platform.h"

#include <QAbstractItemModel>
#include <QCollator>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTimer>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// Alphabetical order of the list: the user's collation, ignoring case.
const QCollator& collator() {
    static const QCollator c = [] {
        QCollator k;
        k.setCaseSensitivity(Qt::CaseInsensitive);
        return k;
    }();
    return c;
}

}  // namespace

TComboPlus::TComboPlus(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(NoInsert);
    watchModel();
    SetSorted(true);
    CaseIndiferent = true;
}

TComboPlus::~TComboPlus() = default;

bool TComboPlus::Lister() {
    const QString typed = currentText();
    if (typed.isEmpty())
        return false;
    if (sortPending_)
        sortItems();
    const std::string lowered = CaseIndiferent ? platform::toLower(typed.toStdString()) : std::string();
    for (int i = 0; i < count(); ++i) {
        const QString item = itemText(i);
        const bool equal = CaseIndiferent ? platform::toLower(item.toStdString()) == lowered : item == typed;
        if (equal) {
            setCurrentIndex(i);
            return false;
        }
    }
    // Adding an item must leave the selection and the edit text alone; the
    // combo would select the first item of an empty list on its own.
    const int current = currentIndex();
    const int place = sorted_ ? sortedPlace(typed) : count();
    sorting_ = true;
    insertItem(place, typed);
    sorting_ = false;
    if (currentIndex() != (current < 0 || current < place ? current : current + 1)) {
        setCurrentIndex(current);
        setEditText(typed);
    }
    return true;
}

void TComboPlus::SetSorted(bool on) {
    sorted_ = on;
    if (on)
        sortItems();
    else
        sortPending_ = false;  // a form may add its items before it turns sorting off
}

int TComboPlus::sortedPlace(const QString& text) const {
    // After the equal ones, as a sorted list box adds a string.
    int lo = 0, hi = count();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (collator().compare(text, itemText(mid)) < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

void TComboPlus::scheduleSort() {
    // Forms fill their combos with blank items and name them afterwards, so
    // the items are put in order once that is over.
    if (!sorted_ || sorting_ || sortPending_)
        return;
    sortPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (sortPending_)
            sortItems();
    });
}

void TComboPlus::setModel(QAbstractItemModel* m) {
    QComboBox::setModel(m);
    watchModel();
    if (sorted_)
        sortItems();
}

void TComboPlus::watchModel() {
    disconnect(inserted_);
    disconnect(changed_);
    inserted_ = connect(model(), &QAbstractItemModel::rowsInserted, this, [this] { scheduleSort(); });
    changed_ = connect(model(), &QAbstractItemModel::dataChanged, this, [this] { scheduleSort(); });
}

void TComboPlus::sortItems() {
    sortPending_ = false;
    QAbstractItemModel* m = model();
    const QModelIndex root = rootModelIndex();
    const int n = count();
    std::vector<QString> texts;
    for (int i = 0; i < n; ++i)
        texts.push_back(itemText(i));
    std::vector<int> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return collator().compare(texts[std::size_t(a)], texts[std::size_t(b)]) < 0; });
    if (std::is_sorted(order.begin(), order.end()))
        return;
    sorting_ = true;
    if (auto* standard = qobject_cast<QStandardItemModel*>(m)) {
        // The model's own sort moves whole items, and the combo's current
        // item with them. It sorts on a role: lend it one holding each row's
        // rank, unseen by anyone, and give the role back afterwards.
        QStandardItem* parent = root.isValid() ? standard->itemFromIndex(root) : standard->invisibleRootItem();
        const int role = Qt::UserRole + 0x2A17;
        const int column = modelColumn();
        std::vector<QVariant> saved(static_cast<std::size_t>(n));
        const int oldRole = standard->sortRole();
        {
            const QSignalBlocker quiet(standard);
            for (int rank = 0; rank < n; ++rank) {
                if (QStandardItem* item = parent->child(order[std::size_t(rank)], column)) {
                    saved[std::size_t(rank)] = item->data(role);
                    item->setData(rank, role);
                }
            }
            standard->setSortRole(role);
        }
        parent->sortChildren(column);
        const QSignalBlocker quiet(standard);
        standard->setSortRole(oldRole);
        for (int rank = 0; rank < n; ++rank)
            if (QStandardItem* item = parent->child(rank, column))
                item->setData(saved[std::size_t(rank)], role);
    } else {
        // Any other model: row moves where it has them, else its own sort.
        std::vector<int> rows(static_cast<std::size_t>(n));
        std::iota(rows.begin(), rows.end(), 0);
        for (int i = 0; i < n; ++i) {
            const auto at = std::find(rows.begin() + i, rows.end(), order[std::size_t(i)]);
            const int from = int(at - rows.begin());
            if (from == i)
                continue;
            if (!m->moveRow(root, from, root, i)) {
                m->sort(modelColumn());
                break;
            }
            std::rotate(rows.begin() + i, at, at + 1);
        }
    }
    sorting_ = false;
}
