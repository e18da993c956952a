#include "serial/Describe.h"

#include <unordered_map>
#include <utility>

std::vector<int32_t> describeDiagrams(std::span<const Node> roots) {
    // Numbers in pre-order of first visit, low side first, the roots in order: 0 and 1 are the
    // terminals.
    std::unordered_map<Node, int32_t> number{{manager.zero, 0}, {manager.one, 1}};
    std::vector<Node> order;  // the inner nodes by number - 2
    std::vector<Node> stack;
    for (const Node root : roots) {
        stack.push_back(root);
        while (!stack.empty()) {
            const Node n = stack.back();
            stack.pop_back();
            if (!number.emplace(n, static_cast<int32_t>(order.size()) + 2).second) continue;
            order.push_back(n);
            stack.push_back(nodeOf(n).high);
            stack.push_back(nodeOf(n).low);
        }
    }
    std::vector<int32_t> out{static_cast<int32_t>(roots.size()), static_cast<int32_t>(order.size()) + 2};
    out.reserve(2 + 4 * order.size() + roots.size());
    // Records in post-order, children first, low side first; each node once.
    std::vector<bool> emitted(order.size(), false);
    std::vector<std::pair<Node, int>> path;  // a node and how many of its children are done
    for (const Node root : roots) {
        path.push_back({root, 0});
        while (!path.empty()) {
            auto& [n, done] = path.back();
            const int32_t k = number.at(n) - 2;
            if (k < 0 || (done == 0 && emitted[static_cast<size_t>(k)])) {
                path.pop_back();
                continue;
            }
            emitted[static_cast<size_t>(k)] = true;
            const BddNode& r = nodeOf(n);
            if (done < 2) {
                const Node child = done == 0 ? r.low : r.high;
                ++done;
                path.push_back({child, 0});
                continue;
            }
            out.insert(out.end(), {k + 2, r.var, number.at(r.low), number.at(r.high)});
            path.pop_back();
        }
    }
    for (const Node root : roots) out.push_back(number.at(root));
    return out;
}
