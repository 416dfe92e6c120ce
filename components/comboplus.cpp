#include "comboplus.h"

#include "platform/platform.h"

#include <QAbstractItemModel>
#include <QCollator>
#include <QLineEdit>
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
    connect(model(), &QAbstractItemModel::rowsInserted, this, [this] { scheduleSort(); });
    connect(model(), &QAbstractItemModel::dataChanged, this, [this] { scheduleSort(); });
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

void TComboPlus::sortItems() {
    sortPending_ = false;
    const int n = count();
    std::vector<int> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::vector<QString> texts;
    for (int i = 0; i < n; ++i)
        texts.push_back(itemText(i));
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return collator().compare(texts[std::size_t(a)], texts[std::size_t(b)]) < 0; });
    if (std::is_sorted(order.begin(), order.end()))
        return;
    sorting_ = true;
    const int current = currentIndex();
    const QString edit = currentText();
    std::vector<QVariant> data;
    for (int i = 0; i < n; ++i)
        data.push_back(itemData(i));
    int newCurrent = -1;
    for (int i = 0; i < n; ++i) {
        const int from = order[std::size_t(i)];
        setItemText(i, texts[std::size_t(from)]);
        setItemData(i, data[std::size_t(from)]);
        if (from == current)
            newCurrent = i;
    }
    setCurrentIndex(newCurrent);
    if (isEditable())
        setEditText(edit);
    sorting_ = false;
}
