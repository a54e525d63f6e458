// OpenCV's GCGraph<float> behind the peer interface, through its public header only.
#include "peer_solvers.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc/detail/gcgraph.hpp>

namespace {

class OpenCvSolver final : public PeerSolver
{
public:
    void build(const Instance &instance) override
    {
        graph = std::make_unique<cv::detail::GCGraph<float>>();
        // Sized exactly: one vertex per pixel, two directed edges per pair.
        graph->create(static_cast<unsigned>(instance.node_count()),
                      static_cast<unsigned>(2 * instance.pairs.size()));
        for (int n = 0; n < instance.node_count(); ++n)
            graph->addVtx();
        for (const TerminalCall &call : instance.terminal_calls)
            graph->addTermWeights(call.node, call.source, call.sink);
        for (const ArcPair &pair : instance.pairs)
            graph->addEdges(pair.from, pair.to, pair.capacity, pair.capacity);
    }
    double solve() override { return static_cast<double>(graph->maxFlow()); }
    bool source_side(int node) const override { return graph->inSourceSegment(node); }
    void release() override { graph.reset(); }

private:
    std::unique_ptr<cv::detail::GCGraph<float>> graph;
};

} // namespace

std::unique_ptr<PeerSolver> make_opencv_solver()
{
    return std::make_unique<OpenCvSolver>();
}
