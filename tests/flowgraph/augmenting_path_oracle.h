// A deliberately plain max-flow solver for the tests to compare against: shortest augmenting
// paths, each found by breadth-first search, on a dense residual matrix of 64-bit integers, with
// an explicit source and sink node. Fine for the few hundred nodes the tests use.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <queue>
#include <vector>

class AugmentingPathOracle
{
public:
    explicit AugmentingPathOracle(int node_count)
        : n(static_cast<std::size_t>(node_count))
        , residual(n * n, 0)
    {
    }

    // Adds capacity from one node to another; parallel arcs simply add up, loops are ignored.
    void add_arc(int from, int to, std::int64_t capacity)
    {
        if (from != to)
            at(from, to) += capacity;
    }

    // Maximum flow from source to sink; leaves the final residual matrix behind.
    std::int64_t solve(int source, int sink)
    {
        sink_node = sink;
        std::int64_t flow = 0;
        for (;;) {
            std::vector<int> parent(n, -1);
            parent[static_cast<std::size_t>(source)] = source;
            std::queue<int> queue;
            queue.push(source);
            while (!queue.empty() && parent[static_cast<std::size_t>(sink)] < 0) {
                const int u = queue.front();
                queue.pop();
                for (int v = 0; v < static_cast<int>(n); ++v)
                    if (parent[static_cast<std::size_t>(v)] < 0 && at(u, v) > 0) {
                        parent[static_cast<std::size_t>(v)] = u;
                        queue.push(v);
                    }
            }
            if (parent[static_cast<std::size_t>(sink)] < 0)
                return flow;
            std::int64_t bottleneck = INT64_MAX;
            for (int v = sink; v != source; v = parent[static_cast<std::size_t>(v)])
                bottleneck = std::min(bottleneck, at(parent[static_cast<std::size_t>(v)], v));
            for (int v = sink; v != source; v = parent[static_cast<std::size_t>(v)]) {
                at(parent[static_cast<std::size_t>(v)], v) -= bottleneck;
                at(v, parent[static_cast<std::size_t>(v)]) += bottleneck;
            }
            flow += bottleneck;
        }
    }

    // After solve(): for every node, whether it can still send flow to the sink in the final
    // residual graph. This set is the same for every maximum flow.
    std::vector<bool> reaches_sink() const
    {
        std::vector<bool> reached(n, false);
        std::queue<int> queue;
        reached[static_cast<std::size_t>(sink_node)] = true;
        queue.push(sink_node);
        while (!queue.empty()) {
            const int v = queue.front();
            queue.pop();
            for (int u = 0; u < static_cast<int>(n); ++u)
                if (!reached[static_cast<std::size_t>(u)] && at(u, v) > 0) {
                    reached[static_cast<std::size_t>(u)] = true;
                    queue.push(u);
                }
        }
        return reached;
    }

private:
    std::int64_t &at(int u, int v)
    {
        return residual[static_cast<std::size_t>(u) * n + static_cast<std::size_t>(v)];
    }
    std::int64_t at(int u, int v) const
    {
        return residual[static_cast<std::size_t>(u) * n + static_cast<std::size_t>(v)];
    }

    std::size_t n;
    std::vector<std::int64_t> residual;
    int sink_node = 0;
};
