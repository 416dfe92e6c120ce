// Why each DLL is there: the closure of a listed file drawn as a tree of
// its import tables, and the chains of imports that lead to one DLL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <string>
#include <vector>

#include "inspect/closure.h"
#include "inspect/reads.h"

namespace chains {

// What a node of the tree of imports stands for.
enum class NodeKind {
    Listed,      // the listed file, the root
    Found,       // a DLL drawn here with its version and folder, its imports below it
    DrawnAbove,  // a DLL drawn before: "(voir plus haut)", nothing below it
    Nowhere,     // a name found nowhere: "(invisible)"
    Framework,   // a .NET reference the framework answers, not looked for: "(framework)"
    Problem,     // a problem line about the image above it (not drawn by tree())
};

struct TreeNode {
    NodeKind kind = NodeKind::Listed;
    std::size_t depth = 0;  // 0 for the listed file
    // The line tree() draws for the node, without its indentation; a
    // problem's line for a Problem node.
    std::string text;
    // As the image's table names it (the listed file: its file name); with
    // Found and DrawnAbove, the DLL's file name when it differs
    // ("api-ms-...dll -> ucrtbase.dll").
    std::string label;
    std::size_t image = kNoNode;  // the closure's node (Listed, Found, DrawnAbove)
    bool delayed = false;         // named by a delay-load table
    std::size_t finding = kNoNode;  // Problem: its index in the closure's findings
    // Listed, Found and DrawnAbove, when the tree was asked for details:
    // where the loader maps it from (null for the listed file), its texts.
    loader::LocationPtr location;
    std::string path, version, fileVersion;
    std::uint16_t machine = 0;
};

// The tree of imports of one closure, each node's children built on demand:
// expanding a node costs its own imports, whatever the size of the closure.
// Holds `closure` and `reads` by reference: they must outlive it.
class Tree {
public:
    // `details`: fill each node's path, versions, machine and location.
    Tree(const Closure& closure, Reads& reads, bool details = true);

    TreeNode root() const;
    // A Listed or Found node's imports in table order, then the problems
    // about its image in the order they were met; nothing for other nodes.
    std::vector<TreeNode> children(const TreeNode& node) const;
    bool hasChildren(const TreeNode& node) const;
    const Closure& closure() const { return closure_; }

private:
    TreeNode imageNode(NodeKind kind, std::size_t depth, std::size_t image, std::string label) const;

    const Closure& closure_;
    Reads& reads_;
    bool details_;
    // Per node, the import (importer node, index in its table) under which
    // it is drawn in full: the first met, depth first.
    std::vector<std::pair<std::size_t, std::size_t>> drawnAt_;
    // Per node, the findings listed under it (a node drawn nowhere: the root).
    std::vector<std::vector<std::size_t>> problems_;
};

// The closure of `closure` as an indented tree, two spaces a level, the
// listed file first: each DLL with its version and folder, in import-table
// order. A DLL already drawn reads "(voir plus haut)" and is not expanded
// again (so cycles end there); a DLL found nowhere reads "(invisible)"; a
// name of a delay-load table (with -d) ends in "(chargement différé)"; an
// API set name shows the DLL it maps to ("api-ms-...dll -> ucrtbase.dll").
std::string tree(const Closure& closure, Reads& reads);

struct Chains {
    // "prog.exe -> libstdc++-6.dll -> libwinpthread-1.dll", shortest first,
    // at most the limit asked.
    std::vector<std::string> lines;
    // More chains exist than were given, or the search stopped at its budget.
    bool more = false;
};

// The chains of imports from the listed file to a DLL whose name (found, or
// as imported) matches `pattern` (a name, or a shell pattern as --ignore
// takes), ignoring case; each chain passes through an image at most once
// and stops at the first match. At most `limit` chains, and at most
// `budget` steps of search (a step: one partial chain made, or one image of
// a chain visited), so that wide or deep graphs stay cheap.
Chains why(const Closure& closure, const std::string& pattern, std::size_t limit = 20,
           std::size_t budget = 2000000);

}  // namespace chains
