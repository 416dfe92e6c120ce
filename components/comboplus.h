// TComboPlus: an editable combo box keeping a history of typed texts.
#pragma once

#include <QComboBox>
#include <QMetaObject>
#include <QString>

class TComboPlus : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(bool Sorted READ Sorted WRITE setSorted)
    Q_PROPERTY(bool CaseIndiferent MEMBER CaseIndiferent WRITE setCaseIndiferent)

public:
    explicit TComboPlus(QWidget* parent = nullptr);
    ~TComboPlus() override;

    // Files the edit text into the list unless it is already there; then
    // selects the first equal entry instead. True when it was added.
    bool Lister();

    bool Sorted() const { return sorted_; }
    // Sorted mode keeps the items in alphabetical order (ignoring case);
    // items added by other means are put in place once control returns to
    // the event loop. Sorting moves the model's rows whole: every role goes
    // with its text, and the current item stays current.
    void SetSorted(bool on);
    void setSorted(bool on) { SetSorted(on); }

    bool CaseIndiferent = true;
    void setCaseIndiferent(bool on) { CaseIndiferent = on; }

    // The items then come from `model`, sorted like the combo's own.
    void setModel(QAbstractItemModel* model) override;

private:
    int sortedPlace(const QString& text) const;
    void watchModel();
    void scheduleSort();
    void sortItems();

    bool sorted_ = false;
    bool sorting_ = false;
    bool sortPending_ = false;
    QMetaObject::Connection inserted_, changed_;
};
