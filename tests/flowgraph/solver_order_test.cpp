// FlowGraph's solver against a plain pointer-based rendering of the same algorithm, written step
// by step in the plainest form: same operations on both, then every residual, terminal residual,
// tree link, stamp, depth, the flow and the changed list must agree bit for bit. Capacities are
// fractions, so float rounding makes every order visible: which node is scanned first, which arc
// is tried first, where orphans queue, which of equal candidates wins. A solver that finds the
// same maximum flow along other paths fails here even though its flow and cut may be right.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "flowgraph/flow_graph.h"

namespace {

// ---- The reference: one struct per record, pointers everywhere, no shortcuts. ----

struct RArc;

struct RNode
{
    RArc *first = nullptr;
    RArc *parent = nullptr; // nullptr: free
    RNode *next = nullptr; // active list link; itself when last
    int stamp = 0;
    int depth = 0;
    bool sink = false;
    bool dirty = false;
    bool in_changed = false;
    float tr = 0.0f;
};

struct RArc
{
    RNode *head = nullptr;
    RArc *next = nullptr;
    RArc *sister = nullptr;
    float r = 0.0f;
};

struct RLink
{
    RNode *node;
    RLink *next;
};

RArc terminal_marker;
RArc orphan_marker;
RArc *const TERMINAL = &terminal_marker;
RArc *const ORPHAN = &orphan_marker;
constexpr int INFINITE_DEPTH = 2147483647;

class Reference
{
public:
    Reference(int n, int pairs)
        : nodes(static_cast<std::size_t>(n))
    {
        arcs.reserve(2 * static_cast<std::size_t>(pairs));
    }

    void add_edge(int i, int j, float cap, float rev)
    {
        arcs.emplace_back();
        arcs.emplace_back();
        RArc *a = &arcs[arcs.size() - 2];
        RArc *b = &arcs[arcs.size() - 1];
        a->sister = b;
        b->sister = a;
        a->next = node(i)->first;
        node(i)->first = a;
        b->next = node(j)->first;
        node(j)->first = b;
        a->head = node(j);
        b->head = node(i);
        a->r = cap;
        b->r = rev;
    }

    void add_terminal_weights(int i, float s, float t)
    {
        const float d = node(i)->tr;
        if (d > 0)
            s += d;
        else
            t -= d;
        flow += (s < t) ? s : t;
        node(i)->tr = s - t;
    }

    void mark_dirty(int i)
    {
        node(i)->dirty = true;
        activate(node(i));
    }

    float maxflow(bool reuse, std::vector<int> *changed)
    {
        changed_list = changed;
        if (reuse)
            init_reuse();
        else
            init_fresh();
        RNode *current = nullptr;
        for (;;) {
            if (current) {
                current->next = nullptr;
                if (!current->parent)
                    current = nullptr;
            }
            if (!current) {
                current = pop_active();
                if (!current)
                    break;
            }
            RArc *middle = nullptr;
            RNode *i = current;
            for (RArc *a = i->first; a; a = a->next) {
                if (!i->sink) {
                    if (a->r == 0)
                        continue;
                    RNode *j = a->head;
                    if (!j->parent) {
                        j->sink = false;
                        j->parent = a->sister;
                        j->stamp = i->stamp;
                        j->depth = i->depth + 1;
                        activate(j);
                        note_changed(j);
                    } else if (j->sink) {
                        middle = a;
                        break;
                    } else if (j->stamp <= i->stamp && j->depth > i->depth) {
                        j->parent = a->sister;
                        j->stamp = i->stamp;
                        j->depth = i->depth + 1;
                    }
                } else {
                    if (a->sister->r == 0)
                        continue;
                    RNode *j = a->head;
                    if (!j->parent) {
                        j->sink = true;
                        j->parent = a->sister;
                        j->stamp = i->stamp;
                        j->depth = i->depth + 1;
                        activate(j);
                        note_changed(j);
                    } else if (!j->sink) {
                        middle = a->sister;
                        break;
                    } else if (j->stamp <= i->stamp && j->depth > i->depth) {
                        j->parent = a->sister;
                        j->stamp = i->stamp;
                        j->depth = i->depth + 1;
                    }
                }
            }
            ++clock;
            if (middle) {
                i->next = i;
                augment(middle);
                while (orphan_head) {
                    RLink *rest = orphan_head->next;
                    orphan_head->next = nullptr;
                    while (orphan_head) {
                        RLink *item = orphan_head;
                        orphan_head = item->next;
                        RNode *o = item->node;
                        delete item;
                        if (!orphan_head)
                            orphan_tail = nullptr;
                        adopt(o);
                    }
                    orphan_head = rest;
                }
            } else {
                current = nullptr;
            }
        }
        return flow;
    }

    RNode *node(int i) { return &nodes[static_cast<std::size_t>(i)]; }
    int arc_index(const RArc *a) const { return static_cast<int>(a - arcs.data()); }
    const RArc &arc(std::size_t a) const { return arcs[a]; }
    float flow = 0.0f;

private:
    void activate(RNode *j)
    {
        if (j->next)
            return;
        if (tail[1])
            tail[1]->next = j;
        else
            head[1] = j;
        tail[1] = j;
        j->next = j;
    }

    RNode *pop_active()
    {
        for (;;) {
            if (!head[0]) {
                head[0] = head[1];
                tail[0] = tail[1];
                head[1] = tail[1] = nullptr;
                if (!head[0])
                    return nullptr;
            }
            RNode *i = head[0];
            if (i->next == i)
                head[0] = tail[0] = nullptr;
            else
                head[0] = i->next;
            i->next = nullptr;
            if (i->parent)
                return i;
        }
    }

    void note_changed(RNode *j)
    {
        if (changed_list && !j->in_changed) {
            changed_list->push_back(static_cast<int>(j - nodes.data()));
            j->in_changed = true;
        }
    }

    void push_front(RNode *j)
    {
        j->parent = ORPHAN;
        orphan_head = new RLink {j, orphan_head};
    }

    void push_back(RNode *j)
    {
        j->parent = ORPHAN;
        auto *item = new RLink {j, nullptr};
        if (orphan_tail)
            orphan_tail->next = item;
        else
            orphan_head = item;
        orphan_tail = item;
    }

    void init_fresh()
    {
        head[0] = head[1] = tail[0] = tail[1] = nullptr;
        orphan_head = orphan_tail = nullptr;
        clock = 0;
        for (RNode &n : nodes) {
            n.dirty = false;
            n.in_changed = false;
            n.next = nullptr;
            n.stamp = clock;
            if (n.tr > 0) {
                n.sink = false;
                n.parent = TERMINAL;
                activate(&n);
                n.depth = 1;
            } else if (n.tr < 0) {
                n.sink = true;
                n.parent = TERMINAL;
                activate(&n);
                n.depth = 1;
            } else {
                n.parent = nullptr;
            }
        }
    }

    void init_reuse()
    {
        RNode *list = head[1];
        ++clock;
        head[0] = head[1] = tail[0] = tail[1] = nullptr;
        orphan_head = orphan_tail = nullptr;
        for (RNode *i = list; i;) {
            RNode *following = i->next == i ? nullptr : i->next;
            i->dirty = false;
            i->next = nullptr;
            activate(i);
            if (i->tr == 0) {
                if (i->parent)
                    push_back(i);
                i = following;
                continue;
            }
            if (i->tr > 0) {
                if (!i->parent || i->sink) {
                    i->sink = false;
                    for (RArc *a = i->first; a; a = a->next) {
                        RNode *j = a->head;
                        if (j->dirty)
                            continue;
                        if (j->parent == a->sister)
                            push_back(j);
                        if (j->parent && j->sink && a->r > 0)
                            activate(j);
                    }
                    note_changed(i);
                }
            } else {
                if (!i->parent || !i->sink) {
                    i->sink = true;
                    for (RArc *a = i->first; a; a = a->next) {
                        RNode *j = a->head;
                        if (j->dirty)
                            continue;
                        if (j->parent == a->sister)
                            push_back(j);
                        if (j->parent && !j->sink && a->sister->r > 0)
                            activate(j);
                    }
                    note_changed(i);
                }
            }
            i->parent = TERMINAL;
            i->stamp = clock;
            i->depth = 1;
            i = following;
        }
        while (orphan_head) {
            RLink *item = orphan_head;
            orphan_head = item->next;
            RNode *o = item->node;
            delete item;
            if (!orphan_head)
                orphan_tail = nullptr;
            adopt(o);
        }
    }

    void augment(RArc *middle)
    {
        float b = middle->r;
        RNode *s = middle->sister->head;
        while (s->parent != TERMINAL) {
            if (s->parent->sister->r < b)
                b = s->parent->sister->r;
            s = s->parent->head;
        }
        if (s->tr < b)
            b = s->tr;
        RNode *t = middle->head;
        while (t->parent != TERMINAL) {
            if (t->parent->r < b)
                b = t->parent->r;
            t = t->parent->head;
        }
        if (-t->tr < b)
            b = -t->tr;

        middle->sister->r += b;
        middle->r -= b;
        for (s = middle->sister->head;;) {
            RArc *p = s->parent;
            if (p == TERMINAL)
                break;
            p->r += b;
            p->sister->r -= b;
            if (p->sister->r == 0)
                push_front(s);
            s = p->head;
        }
        s->tr -= b;
        if (s->tr == 0)
            push_front(s);
        for (t = middle->head;;) {
            RArc *p = t->parent;
            if (p == TERMINAL)
                break;
            p->sister->r += b;
            p->r -= b;
            if (p->r == 0)
                push_front(t);
            t = p->head;
        }
        t->tr += b;
        if (t->tr == 0)
            push_front(t);
        flow += b;
    }

    // Both trees in one function: `sink` picks which arc of a pair must have residual.
    void adopt(RNode *i)
    {
        const bool sink = i->sink;
        RArc *best = nullptr;
        long long best_d = INFINITE_DEPTH;
        for (RArc *a = i->first; a; a = a->next) {
            const float r = sink ? a->r : a->sister->r;
            RNode *j = a->head;
            if (r == 0 || !j->parent || j->sink != sink)
                continue;
            long long d = 0;
            RNode *k = j;
            bool origin = false;
            for (;;) {
                if (k->stamp == clock) {
                    d += k->depth;
                    origin = true;
                    break;
                }
                ++d;
                if (k->parent == TERMINAL) {
                    k->stamp = clock;
                    k->depth = 1;
                    origin = true;
                    break;
                }
                if (k->parent == ORPHAN)
                    break;
                k = k->parent->head;
            }
            if (!origin || d >= INFINITE_DEPTH)
                continue;
            if (d < best_d) {
                best = a;
                best_d = d;
            }
            for (k = j; k->stamp != clock; k = k->parent->head) {
                k->stamp = clock;
                k->depth = static_cast<int>(d);
                --d;
            }
        }
        i->parent = best;
        if (best) {
            i->stamp = clock;
            i->depth = static_cast<int>(best_d + 1);
            return;
        }
        note_changed(i);
        for (RArc *a = i->first; a; a = a->next) {
            RNode *j = a->head;
            if (!j->parent || j->sink != sink)
                continue;
            if ((sink ? a->r : a->sister->r) != 0)
                activate(j);
            if (j->parent != TERMINAL && j->parent != ORPHAN && j->parent->head == i)
                push_back(j);
        }
    }

    std::vector<RNode> nodes;
    std::vector<RArc> arcs;
    RNode *head[2] = {nullptr, nullptr};
    RNode *tail[2] = {nullptr, nullptr};
    RLink *orphan_head = nullptr;
    RLink *orphan_tail = nullptr;
    int clock = 0;
    std::vector<int> *changed_list = nullptr;
};

// ---- Comparison ----

bool same_bits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Empty when both agree in every value a later solve or a caller can observe, else the first
// difference.
std::string difference(const FlowGraph &g, Reference &ref, int n, int pairs)
{
    if (!same_bits(g.flow_value(), ref.flow))
        return "flow " + std::to_string(g.flow_value()) + " vs " + std::to_string(ref.flow);
    for (int a = 0; a < 2 * pairs; ++a) {
        if (!same_bits(g.arc(a).residual, ref.arc(static_cast<std::size_t>(a)).r))
            return "residual of arc " + std::to_string(a);
    }
    for (int i = 0; i < n; ++i) {
        const FlowGraph::Node &x = g.node(i);
        const RNode &y = *ref.node(i);
        const std::string at = " of node " + std::to_string(i);
        if (!same_bits(x.terminal_residual, y.tr))
            return "terminal residual" + at;
        if (x.active_next != FlowGraph::NO_NODE || y.next)
            return "still queued" + at;
        std::uint32_t parent = FlowGraph::PARENT_NONE;
        if (y.parent == TERMINAL)
            parent = FlowGraph::PARENT_TERMINAL;
        else if (y.parent == ORPHAN)
            parent = FlowGraph::PARENT_ORPHAN;
        else if (y.parent)
            parent = static_cast<std::uint32_t>(ref.arc_index(y.parent));
        if (x.parent_arc != parent)
            return "parent" + at;
        if (parent == FlowGraph::PARENT_NONE)
            continue; // depth and stamp of a free node are never read
        if (((x.flags & FlowGraph::IN_SINK_TREE) != 0) != y.sink)
            return "tree" + at;
        if (x.stamp != y.stamp || x.depth != y.depth)
            return "stamp or depth" + at;
        if (g.segment_of(i) != (y.sink ? SINK_SIDE : SOURCE_SIDE))
            return "side" + at;
    }
    return {};
}

// Capacities with fractions: sums round, so another order of the same pushes leaves other bits.
float fraction(std::mt19937 &rng, int zero_in)
{
    if (std::uniform_int_distribution<int>(0, zero_in - 1)(rng) == 0)
        return 0.0f;
    return static_cast<float>(std::uniform_int_distribution<int>(1, 4000)(rng)) / 37.0f;
}

struct Built
{
    std::unique_ptr<FlowGraph> g;
    std::unique_ptr<Reference> ref;
    int n = 0;
    int pairs = 0;
};

// A random graph (grid when `grid`, with a side from min_side to max_side), built the same way
// into both. With all_terminals every node gets terminal weights, so that every node is queued
// at the start.
Built random_graph(std::mt19937 &rng, bool grid, int min_side = 2, int max_side = 14,
                   bool all_terminals = false)
{
    Built b;
    int side = 0;
    if (grid) {
        side = std::uniform_int_distribution<int>(min_side, max_side)(rng);
        b.n = side * side;
        b.pairs = 2 * side * (side - 1);
    } else {
        b.n = std::uniform_int_distribution<int>(2, 30)(rng);
        b.pairs = std::uniform_int_distribution<int>(0, 4 * b.n)(rng);
    }
    b.g = std::make_unique<FlowGraph>(b.n, b.pairs, nullptr);
    b.ref = std::make_unique<Reference>(b.n, b.pairs);
    for (int i = 0; i < b.n; ++i)
        b.g->add_node();
    const auto terminal = [&b](int i, float s, float t) {
        b.g->add_terminal_weights(i, s, t);
        b.ref->add_terminal_weights(i, s, t);
    };
    const auto edge = [&b](int i, int j, float c, float r) {
        b.g->add_edge(i, j, c, r);
        b.ref->add_edge(i, j, c, r);
    };
    std::uniform_int_distribution<int> node(0, b.n - 1);
    if (all_terminals) {
        for (int i = 0; i < b.n; ++i)
            terminal(i, fraction(rng, 3), fraction(rng, 3));
    } else {
        const int terminals = std::uniform_int_distribution<int>(1, b.n)(rng);
        for (int t = 0; t < terminals; ++t)
            terminal(node(rng), fraction(rng, 3), fraction(rng, 3));
    }
    if (grid) {
        for (int x = 0; x < side; ++x) {
            for (int y = 0; y < side; ++y) {
                const int i = x * side + y;
                const float c = fraction(rng, 8);
                if (y < side - 1)
                    edge(i, i + 1, c, c);
                if (x < side - 1)
                    edge(i, i + side, c, fraction(rng, 8));
            }
        }
    } else {
        for (int p = 0; p < b.pairs; ++p)
            edge(node(rng), node(rng), fraction(rng, 4), fraction(rng, 4));
    }
    return b;
}

TEST(SolverOrder, FreshSolvesMatchTheReferenceBitForBit)
{
    std::mt19937 rng(20261207);
    for (int round = 0; round < 600; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Built b = random_graph(rng, round % 2 == 1);
        const float flow = b.g->maxflow();
        ASSERT_TRUE(same_bits(flow, b.ref->maxflow(false, nullptr)));
        ASSERT_EQ(difference(*b.g, *b.ref, b.n, b.pairs), "");
        // A second fresh solve starts from the residuals and must agree as well.
        b.g->maxflow();
        b.ref->maxflow(false, nullptr);
        ASSERT_EQ(difference(*b.g, *b.ref, b.n, b.pairs), "");
    }
}

TEST(SolverOrder, TreeReusingSolvesMatchTheReferenceBitForBit)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Built b = random_graph(rng, round % 2 == 0);
        b.g->maxflow();
        b.ref->maxflow(false, nullptr);
        ASSERT_EQ(difference(*b.g, *b.ref, b.n, b.pairs), "");
        ChunkList changed(5);
        std::uniform_int_distribution<int> node(0, b.n - 1);
        for (int step = 0; step < 6; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            const int dirty = std::uniform_int_distribution<int>(1, 4)(rng);
            for (int d = 0; d < dirty; ++d) {
                const int i = node(rng);
                const float s = fraction(rng, 2);
                const float t = fraction(rng, 2);
                b.g->add_terminal_weights(i, s, t);
                b.ref->add_terminal_weights(i, s, t);
                b.g->mark_dirty(i);
                b.ref->mark_dirty(i);
            }
            std::vector<int> expected;
            const float flow = b.g->maxflow(true, &changed);
            ASSERT_TRUE(same_bits(flow, b.ref->maxflow(true, &expected)));
            ASSERT_EQ(difference(*b.g, *b.ref, b.n, b.pairs), "");
            std::vector<int> got;
            b.g->read_changed_list(changed, [&got](int i) { got.push_back(i); });
            ASSERT_EQ(got, expected);
            for (int i : expected)
                b.ref->node(i)->in_changed = false;
        }
    }
}

// The solver asks for queued nodes' records ahead of their turn, guided by a ring of recent
// activations. Queues far longer than that ring (every node of a large grid queued at the start,
// and again when thousands of nodes are marked dirty) must not change any result.
TEST(SolverOrder, QueuesLongerThanThePrefetchRingMatchTheReference)
{
    std::mt19937 rng(41);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Built b = random_graph(rng, true, 180, 220, true);
        ASSERT_TRUE(same_bits(b.g->maxflow(), b.ref->maxflow(false, nullptr)));
        ASSERT_EQ(difference(*b.g, *b.ref, b.n, b.pairs), "");
        std::uniform_int_distribution<int> node(0, b.n - 1);
        for (int d = 0; d < 30000; ++d) {
            const int i = node(rng);
            const float s = fraction(rng, 2);
            const float t = fraction(rng, 2);
            b.g->add_terminal_weights(i, s, t);
            b.ref->add_terminal_weights(i, s, t);
            b.g->mark_dirty(i);
            b.ref->mark_dirty(i);
        }
        ASSERT_TRUE(same_bits(b.g->maxflow(true, nullptr), b.ref->maxflow(true, nullptr)));
        ASSERT_EQ(difference(*b.g, *b.ref, b.n, b.pairs), "");
    }
}

} // namespace
