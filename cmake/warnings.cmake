# One INTERFACE target carries the warning set; every target of ours links it PRIVATE.
# Warnings are errors in our own code. Float semantics have their own target (fp_semantics.cmake).
add_library(vellacut_warnings INTERFACE)
add_library(vellacut::warnings ALIAS vellacut_warnings)
target_compile_options(vellacut_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wdouble-promotion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wnull-dereference -Wformat=2 -Werror)
