// The model of the "Arbre" tab: each listed file's closure as --tree draws
// it, one root per file, each node's children made when it is first
// expanded, so that a large closure opens at once.
#pragma once

#include <QAbstractItemModel>

#include <memory>
#include <vector>

#include "inspect/chains.h"
#include "inspect/ignore.h"

class TArbreModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum Colonne { Module, Version, Machine, Dossier, Origine, Colonnes };
    // The node's line as --tree draws it, its indentation included.
    static constexpr int LigneRole = Qt::UserRole + 1;
    // Its chains::NodeKind, as an int.
    static constexpr int NatureRole = Qt::UserRole + 2;

    explicit TArbreModel(QObject* parent = nullptr);
    ~TArbreModel() override;

    // The trees of `closures`, read through `reads`: both must live until
    // the next Remplir or Vider. Problems the list `accepted` leaves out
    // are not shown.
    void Remplir(const std::vector<Closure>& closures, Reads& reads, const analysis::IgnoreList& accepted);
    void Vider();
    // Leaves out the DLLs taken from the system folders and the KnownDLLs,
    // with what is drawn below them.
    void SetMasquerSysteme(bool on);
    bool MasquerSysteme() const { return masquer_; }
    // The node at `index`; null for an invalid index.
    const chains::TreeNode* Noeud(const QModelIndex& index) const;
    // The closure the node's tree is drawn from.
    const Closure* ClosureDe(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Item;
    Item* itemOf(const QModelIndex& index) const;
    bool shown(const chains::TreeNode& node, const Closure& closure) const;
    void build();

    std::vector<std::unique_ptr<chains::Tree>> trees_;
    std::vector<std::unique_ptr<Item>> roots_;
    analysis::IgnoreList accepted_;
    bool masquer_ = false;
};
