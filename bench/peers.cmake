# Side-by-side benchmarks of our solver against peer libraries. The peers are optional: each is
# looked for here and, when absent, left out with a note; the suite then runs our solver alone.

# The harness (instances, solvers behind one interface, fresh-process measurement) is shared by
# the benchmark and its tests.
add_library(peer_harness STATIC
    peer_solvers.cpp
    peer_memory.cpp
    instance_graph.cpp
    instance_picture.cpp
)
target_include_directories(peer_harness PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(peer_harness PUBLIC vellacut::segmentation vellacut::flowgraph
    PRIVATE vellacut::warnings vellacut::fp_semantics)

vellacut_benchmark(peer_benchmark peer_benchmark.cpp LIBS peer_harness)

# OpenCV's graph-cut class is header-only on top of opencv_core; its CMake package is not always
# installed with the development headers, so fall back to a plain header and library search.
find_package(OpenCV QUIET COMPONENTS core imgproc)
if(OpenCV_FOUND)
    set(VELLACUT_OPENCV_INCLUDE ${OpenCV_INCLUDE_DIRS})
    set(VELLACUT_OPENCV_CORE opencv_core)
else()
    find_path(VELLACUT_OPENCV_INCLUDE opencv2/imgproc/detail/gcgraph.hpp PATH_SUFFIXES opencv4)
    find_library(VELLACUT_OPENCV_CORE opencv_core)
endif()
if(VELLACUT_OPENCV_INCLUDE AND VELLACUT_OPENCV_CORE
   AND EXISTS "${VELLACUT_OPENCV_INCLUDE}/opencv2/imgproc/detail/gcgraph.hpp")
    message(STATUS "Peer benchmark: OpenCV GCGraph found in ${VELLACUT_OPENCV_INCLUDE}")
    target_sources(peer_harness PRIVATE peer_opencv.cpp)
    target_include_directories(peer_harness SYSTEM PRIVATE ${VELLACUT_OPENCV_INCLUDE})
    target_link_libraries(peer_harness PRIVATE ${VELLACUT_OPENCV_CORE})
    target_compile_definitions(peer_harness PUBLIC VELLACUT_HAVE_OPENCV_GCGRAPH=1)
else()
    message(STATUS "Peer benchmark: OpenCV GCGraph not found, left out")
endif()

# Boost's push-relabel max-flow is header-only.
find_package(Boost 1.65 QUIET)
if(Boost_FOUND AND EXISTS "${Boost_INCLUDE_DIRS}/boost/graph/push_relabel_max_flow.hpp")
    message(STATUS "Peer benchmark: Boost Graph found in ${Boost_INCLUDE_DIRS}")
    target_sources(peer_harness PRIVATE peer_boost_push_relabel.cpp)
    # GCC 12 reports a false maybe-uninitialized inside Boost's own edge iterator (a
    # boost::optional member); it is not in our code and cannot be fixed from here.
    set_source_files_properties(peer_boost_push_relabel.cpp
        PROPERTIES COMPILE_OPTIONS -Wno-maybe-uninitialized)
    target_link_libraries(peer_harness PRIVATE Boost::headers)
    target_compile_definitions(peer_harness PUBLIC VELLACUT_HAVE_BOOST_GRAPH=1)
else()
    message(STATUS "Peer benchmark: Boost Graph not found, left out")
endif()

# Tests of the harness itself; built with the benchmarks when GoogleTest is there, and registered
# with CTest when the tests are enabled too.
find_package(GTest QUIET)
if(GTest_FOUND)
    add_executable(peer_harness_test peer_harness_test.cpp)
    target_link_libraries(peer_harness_test
        PRIVATE peer_harness GTest::gtest vellacut::warnings vellacut::fp_semantics)
    if(VELLACUT_BUILD_TESTS)
        gtest_discover_tests(peer_harness_test)
    endif()
endif()
