// TComboPlus: an editable combo box keeping a history of typed texts.
#pragma once

#include <QComboBox>
#include <QString>

class TComboPlus : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(bool Sorted READ Sorted WRITE SetSorted)
    Q_PROPERTY(bool CaseIndiferent MEMBER CaseIndiferent)

public:
    explicit TComboPlus(QWidget* parent = nullptr);
    ~TComboPlus() override;

    // Files the edit text into the list unless it is already there; then
    // selects the first equal entry instead. True when it was added.
    bool Lister();

    bool Sorted() const { return sorted_; }
    // Sorted mode keeps the items in alphabetical order (ignoring case);
    // items added by other means are put in place once control returns to
    // the event loop.
    void SetSorted(bool on);

    bool CaseIndiferent = true;

private:
    int sortedPlace(const QString& text) const;
    void scheduleSort();
    void sortItems();

    bool sorted_ = false;
    bool sorting_ = false;
    bool sortPending_ = false;
};
