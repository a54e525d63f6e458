# One whole COMPUTE of the window, stage by stage, on 1- and 10-megapixel pictures.
if(TARGET imaging AND TARGET peer_harness)
    vellacut_benchmark(compute_benchmark compute_benchmark.cpp picture_case.cpp
        LIBS vellacut::imaging peer_harness)
endif()

# Saving the result pictures and loading a photo with its strokes, per megapixel.
if(TARGET imaging AND TARGET peer_harness)
    vellacut_benchmark(image_io_benchmark image_io_benchmark.cpp picture_case.cpp
        LIBS vellacut::imaging peer_harness)
endif()
