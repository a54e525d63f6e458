// ISA-L's hand-written vector code returns with the upper halves of the wide vector registers
// still in use. Until they are cleared, older-style vector instructions run many times slower on
// that thread and on every thread it starts afterwards: glibc's pow, which the engine calls once
// per pixel, took 13 times as long after one PNG had been written. Every call into ISA-L is
// followed by this.
#pragma once

inline void clear_upper_vector_state()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool has_avx = __builtin_cpu_supports("avx");
    // The low 128 bits of every register are kept, and code built for the baseline instruction
    // set holds nothing wider.
    if (has_avx)
        asm volatile("vzeroupper" ::: "memory");
#endif
}
