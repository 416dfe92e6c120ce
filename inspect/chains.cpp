#include "inspect/chains.h"

#include <algorithm>
#include <deque>
#include <queue>
#include <tuple>
#include <unordered_set>

#include "inspect/lines.h"
#include "inspect/wildcard.h"
#include "platform/platform.h"

namespace chains {

Tree::Tree(const Closure& closure, Reads& reads, bool details)
    : closure_(closure), reads_(reads), details_(details) {
    const std::size_t nodes = closure.found.size() + 1;
    drawnAt_.assign(nodes, {kNoNode, kNoNode});
    problems_.resize(nodes);
    // Where each DLL is drawn in full: the first import of it met depth
    // first, as the tree is read. An explicit stack: a chain of thousands of
    // DLLs must not exhaust the call stack.
    std::vector<bool> drawn(nodes, false);
    drawn[0] = true;
    struct Frame {
        std::size_t node, next;
    };
    std::vector<Frame> stack{{0, 0}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.node >= closure.imports.size() || top.next >= closure.imports[top.node].size()) {
            stack.pop_back();
            continue;
        }
        const std::size_t at = top.next++;
        const ImportEdge& e = closure.imports[top.node][at];
        if (e.to == kNoNode || e.to >= nodes || drawn[e.to]) continue;
        drawn[e.to] = true;
        drawnAt_[e.to] = {top.node, at};
        stack.push_back({e.to, 0});
    }
    for (std::size_t f = 0; f < closure.findings.size(); ++f) {
        const std::size_t node = closure.findings[f].node;
        problems_[node < nodes && drawn[node] ? node : 0].push_back(f);
    }
}

TreeNode Tree::imageNode(NodeKind kind, std::size_t depth, std::size_t image, std::string label) const {
    TreeNode n;
    n.kind = kind;
    n.depth = depth;
    n.image = image;
    n.label = std::move(label);
    const std::string& path = closure_.nodePath(image);
    if (kind != NodeKind::DrawnAbove) n.text = n.label + "  " + reads_.version(path) + "  " + platform::directoryPart(path);
    if (details_) {
        if (image > 0) n.location = closure_.found[image - 1].location;
        n.path = path;
        n.version = reads_.hasVersion(path) ? reads_.version(path) : std::string();
        n.fileVersion = reads_.fixedVersion(path);
        n.machine = reads_.machine(path);
    }
    return n;
}

TreeNode Tree::root() const { return imageNode(NodeKind::Listed, 0, 0, platform::fileNamePart(closure_.listed)); }

bool Tree::hasChildren(const TreeNode& node) const {
    if (node.kind != NodeKind::Listed && node.kind != NodeKind::Found) return false;
    return (node.image < closure_.imports.size() && !closure_.imports[node.image].empty()) ||
           (node.image < problems_.size() && !problems_[node.image].empty());
}

std::vector<TreeNode> Tree::children(const TreeNode& node) const {
    std::vector<TreeNode> out;
    if (!hasChildren(node)) return out;
    const std::size_t nodes = closure_.found.size() + 1, depth = node.depth + 1;
    if (node.image < closure_.imports.size()) {
        const std::vector<ImportEdge>& edges = closure_.imports[node.image];
        out.reserve(edges.size() + problems_[node.image].size());
        for (std::size_t at = 0; at < edges.size(); ++at) {
            const ImportEdge& e = edges[at];
            if (e.to == kNoNode || e.to >= nodes) {
                TreeNode n;
                const bool framework = std::find(closure_.frameworkReferences.begin(), closure_.frameworkReferences.end(),
                                                 e.link) != closure_.frameworkReferences.end();
                n.kind = framework ? NodeKind::Framework : NodeKind::Nowhere;
                n.depth = depth;
                n.label = e.name();
                n.text = e.name() + (framework ? lines::kFramework : lines::kNowhere);
                out.push_back(std::move(n));
            } else {
                const std::string file = platform::fileNamePart(closure_.nodePath(e.to));
                std::string label = platform::toLower(e.name()) != platform::toLower(file) ? e.name() + " -> " + file : file;
                const bool full = drawnAt_[e.to] == std::make_pair(node.image, at);
                out.push_back(imageNode(full ? NodeKind::Found : NodeKind::DrawnAbove, depth, e.to, std::move(label)));
                if (!full) out.back().text = out.back().label + lines::kDrawnAbove;
            }
            TreeNode& n = out.back();
            n.delayed = e.delayed();
            if (n.delayed) n.text += lines::kDelayed;
        }
    }
    for (std::size_t f : problems_[node.image]) {
        TreeNode n;
        n.kind = NodeKind::Problem;
        n.depth = depth;
        n.finding = f;
        n.label = n.text = closure_.findings[f].line;
        n.delayed = closure_.findings[f].delayLoaded;
        out.push_back(std::move(n));
    }
    return out;
}

std::string tree(const Closure& c, Reads& reads) {
    const Tree t(c, reads, false);
    const TreeNode root = t.root();
    std::string out = root.text + "\n";
    // Depth first, each level's children built as it is reached.
    struct Level {
        std::vector<TreeNode> nodes;
        std::size_t next = 0;
    };
    std::vector<Level> stack;
    stack.push_back({t.children(root), 0});
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next >= level.nodes.size()) {
            stack.pop_back();
            continue;
        }
        const TreeNode& n = level.nodes[level.next++];
        if (n.kind == NodeKind::Problem) continue;
        out.append(2 * n.depth, ' ').append(n.text).append(1, '\n');
        if (n.kind == NodeKind::Found) {
            std::vector<TreeNode> below = t.children(n);
            stack.push_back({std::move(below), 0});
        }
    }
    return out;
}

namespace {

// One import of a chain: the image it leads to (kNoNode: found nowhere),
// the name as imported, and whether a delay-load table holds it.
struct Step {
    std::size_t to;
    std::string name;
    bool delayed;
};

// Per image, the imports that end a chain (a match, found or not) and
// those that lead on, one per image reached, a plain import before a
// delay-load one.
struct StepGraph {
    std::vector<std::vector<Step>> ends, onward;
};

StepGraph stepGraph(const Closure& c, const std::string& pattern) {
    const std::size_t nodes = c.found.size() + 1;
    const auto nodeName = [&](std::size_t node) { return platform::fileNamePart(c.nodePath(node)); };
    StepGraph g{std::vector<std::vector<Step>>(nodes), std::vector<std::vector<Step>>(nodes)};
    for (std::size_t node = 0; node < nodes && node < c.imports.size(); ++node) {
        std::unordered_set<std::string> endSeen;
        std::unordered_set<std::size_t> onwardSeen;
        for (const ImportEdge& e : c.imports[node]) {
            const bool found = e.to != kNoNode && e.to < nodes;
            if (analysis::wildcardMatch(pattern, e.name()) || (found && analysis::wildcardMatch(pattern, nodeName(e.to)))) {
                if (endSeen.insert(found ? std::to_string(e.to) : "?" + platform::toLower(e.name())).second)
                    g.ends[node].push_back({found ? e.to : kNoNode, e.name(), e.delayed()});
            } else if (found && e.to != 0 && onwardSeen.insert(e.to).second) {
                g.onward[node].push_back({e.to, e.name(), e.delayed()});
            }
        }
    }
    return g;
}

constexpr std::size_t kFar = static_cast<std::size_t>(-1);

// The fewest imports from each image to a match, ignoring the once-per-image
// rule: a lower bound that orders the search and prunes the images that lead
// to no match.
std::vector<std::size_t> distancesToMatch(const StepGraph& g) {
    const std::size_t nodes = g.ends.size();
    std::vector<std::size_t> distance(nodes, kFar);
    std::vector<std::vector<std::size_t>> importers(nodes);
    std::deque<std::size_t> todo;
    for (std::size_t node = 0; node < nodes; ++node) {
        for (const Step& s : g.onward[node]) importers[s.to].push_back(node);
        if (!g.ends[node].empty()) {
            distance[node] = 1;
            todo.push_back(node);
        }
    }
    while (!todo.empty()) {
        const std::size_t node = todo.front();
        todo.pop_front();
        for (std::size_t from : importers[node])
            if (distance[from] == kFar) {
                distance[from] = distance[node] + 1;
                todo.push_back(from);
            }
    }
    return distance;
}

}  // namespace

Chains why(const Closure& c, const std::string& pattern, std::size_t limit, std::size_t budget) {
    Chains result;
    const std::size_t nodes = c.found.size() + 1;
    const auto nodeName = [&](std::size_t node) { return platform::fileNamePart(c.nodePath(node)); };
    const StepGraph g = stepGraph(c, pattern);
    const std::vector<std::size_t> distance = distancesToMatch(g);
    if (distance[0] == kFar) return result;

    // Best first over partial chains, ordered by their length plus the
    // bound, so the chains come out shortest first; among equals the longest
    // partial chain goes on first (it is the nearest to a whole one: a wide
    // graph gives its first chains without walking every layer), then the
    // oldest, in import order.
    struct Partial {
        std::size_t node, parent, length;
        bool delayed;  // reached through a delay-load table
    };
    std::vector<Partial> partials{{0, kFar, 0, false}};
    using Entry = std::tuple<std::size_t, std::size_t, std::size_t>;  // (length + bound, -length, index)
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    queue.push({distance[0], kFar, 0});
    const auto element = [&](const std::string& name, bool delayed) { return delayed ? lines::chainDelayed(name) : name; };
    const auto render = [&](std::size_t at, const Step& last) {
        std::vector<std::string> names;
        for (std::size_t p = at; p != kFar; p = partials[p].parent)
            names.push_back(element(nodeName(partials[p].node), partials[p].delayed));
        std::string line;
        for (auto it = names.rbegin(); it != names.rend(); ++it) line += *it + " -> ";
        return line + element(last.to == kNoNode ? lines::chainNowhere(last.name) : nodeName(last.to), last.delayed);
    };
    // The images of the chain being extended, stamped anew for each: a
    // chain passes through an image once.
    std::vector<std::size_t> stamp(nodes, kFar);
    std::size_t steps = 0;
    while (!queue.empty()) {
        const std::size_t at = std::get<2>(queue.top());
        queue.pop();
        const Partial p = partials[at];
        for (const Step& end : g.ends[p.node]) {
            if (result.lines.size() == limit) {
                result.more = true;
                return result;
            }
            result.lines.push_back(render(at, end));
        }
        if (g.onward[p.node].empty()) continue;
        steps += p.length + 1;
        for (std::size_t q = at; q != kFar; q = partials[q].parent) stamp[partials[q].node] = at;
        for (const Step& s : g.onward[p.node]) {
            if (distance[s.to] == kFar || stamp[s.to] == at) continue;
            if (++steps > budget) {
                result.more = true;
                return result;
            }
            partials.push_back({s.to, at, p.length + 1, s.delayed});
            queue.push({p.length + 1 + distance[s.to], kFar - (p.length + 1), partials.size() - 1});
        }
    }
    return result;
}

}  // namespace chains
