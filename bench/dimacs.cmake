# Reading, building and solving a large DIMACS grid problem.
vellacut_benchmark(dimacs_benchmark
    dimacs_benchmark.cpp
    LIBS vellacut::flowgraph)
