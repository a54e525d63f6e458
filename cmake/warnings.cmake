# One INTERFACE target carries the warning set; every target of ours links it PRIVATE.
# Warnings are errors in our own code. No -ffast-math or anything else that reassociates
# float arithmetic: the solver relies on exact single-precision tests against zero.
add_library(vellacut_warnings INTERFACE)
add_library(vellacut::warnings ALIAS vellacut_warnings)
target_compile_options(vellacut_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wdouble-promotion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wnull-dereference -Wformat=2 -Werror)

# Every floating-point operation is rounded on its own, as written: no fused multiply-add, so the
# same expression gives the same bits in every place and on every target.
target_compile_options(vellacut_warnings INTERFACE -ffp-contract=off)
