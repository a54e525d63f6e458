# Every floating-point operation is rounded on its own, as written: no fused multiply-add, so the
# same expression gives the same bits in every place and on every target. The solver's exact
# tests against zero and the bit-identical results of the engine depend on it, so every target
# of ours links this, PRIVATE (inline code from our headers is compiled in each user). No
# -ffast-math or anything else that reassociates float arithmetic.
add_library(vellacut_fp_semantics INTERFACE)
add_library(vellacut::fp_semantics ALIAS vellacut_fp_semantics)
target_compile_options(vellacut_fp_semantics INTERFACE -ffp-contract=off)
