# Following and stopping a COMPUTE: cancel latency per stage, the cost of progress reporting, and
# the first COMPUTE after a warm-up against a repeat one.
if(TARGET imaging AND TARGET peer_harness)
    vellacut_benchmark(compute_control_benchmark compute_control_benchmark.cpp picture_case.cpp
        LIBS vellacut::imaging peer_harness)
endif()
