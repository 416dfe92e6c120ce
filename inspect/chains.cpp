#include "inspect/chains.h"

#include <deque>
#include <queue>
#include <tuple>
#include <unordered_set>

#include "inspect/lines.h"
#include "inspect/wildcard.h"
#include "platform/platform.h"

namespace chains {

std::string tree(const Closure& c, Reads& reads) {
    const Closure& in = c;
    const std::size_t nodes = in.found.size() + 1;
    const auto describe = [&](const std::string& path) {
        return "  " + reads.version(path) + "  " + platform::directoryPart(path);
    };
    std::string out = platform::fileNamePart(c.listed) + describe(c.listed) + "\n";
    std::vector<bool> drawn(nodes, false);
    drawn[0] = true;
    // An explicit stack: a chain of thousands of DLLs must not exhaust the
    // call stack.
    struct Frame {
        std::size_t node, next;
    };
    std::vector<Frame> stack{{0, 0}};
    while (!stack.empty()) {
        const std::size_t node = stack.back().node;
        if (node >= in.imports.size() || stack.back().next >= in.imports[node].size()) {
            stack.pop_back();
            continue;
        }
        const ImportEdge& e = in.imports[node][stack.back().next++];
        out.append(2 * stack.size(), ' ');
        bool expand = false;
        if (e.to == kNoNode || e.to >= nodes) {
            out += e.name();
            out += lines::kNowhere;
        } else {
            const std::string& path = in.found[e.to - 1].path();
            const std::string file = platform::fileNamePart(path);
            if (platform::toLower(e.name()) != platform::toLower(file)) out += e.name() + " -> ";
            out += file;
            if (drawn[e.to]) {
                out += lines::kDrawnAbove;
            } else {
                out += describe(path);
                drawn[e.to] = expand = true;
            }
        }
        if (e.delayed()) out += lines::kDelayed;
        out += '\n';
        if (expand) stack.push_back({e.to, 0});
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
