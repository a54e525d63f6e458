// Names of the stages of a COMPUTE.
#include "segmentation/compute_control.h"

const char *stage_name(ComputeStage stage)
{
    switch (stage) {
    case ComputeStage::idle:
        return "idle";
    case ComputeStage::seeds:
        return "seeds";
    case ComputeStage::statistics:
        return "statistics";
    case ComputeStage::gradient:
        return "gradient";
    case ComputeStage::edges:
        return "edges";
    case ComputeStage::solve:
        return "solve";
    case ComputeStage::pictures:
        return "pictures";
    }
    return "idle";
}
