# Time of one segmentation on a 1-megapixel picture, whole and phase by phase.
vellacut_benchmark(segmenter_benchmark
    segmenter_benchmark.cpp
    LIBS vellacut::segmentation)
