// The road of one COMPUTE through the seed scan, the engine and the result pictures.
#include "imaging/compute_run.h"

#include <flowgraph/console.h>

ComputeOutcome run_compute(const ComputeRequest &request, Segmenter &segmenter)
{
    ComputeControl *control = segmenter.control;
    ComputeOutcome outcome;
    if (control != nullptr)
        control->enter(ComputeStage::seeds);
    segmenter.k = request.k;
    segmenter.v = request.v;
    segmenter.w = request.w;
    segmenter.solver = request.solver;
    if (stop_requested(control))
        return outcome;
    outcome.scan = scan_seeds(request.labels, request.unpainted, segmenter, request.use_bbox);
    if (stop_requested(control))
        return outcome;
    outcome.result = segmenter.compute();
    if (outcome.result == ComputeResult::done) {
        if (control != nullptr)
            control->enter(ComputeStage::pictures);
        console_print("WxH: %d, %d\n", segmenter.width, segmenter.height);
        outcome.images = make_result_images(segmenter);
        if (stop_requested(control)) {
            outcome.result = ComputeResult::cancelled;
            outcome.images = ResultImages();
        }
    }
    segmenter.delete_graph();
    if (control != nullptr)
        control->enter(ComputeStage::idle);
    return outcome;
}

void warm_up_compute(Segmenter &segmenter)
{
    segmenter.warm_up();
    if (!stop_requested(segmenter.control))
        reserve_result_images(segmenter.width, segmenter.height);
}
