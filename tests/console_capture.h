// Catches what a piece of code writes on the console, through the console's own seam.
#pragma once

#include "flowgraph/console.h"

#include <cstdio>
#include <cstdlib>
#include <string>

// Runs body with the console sent into memory; returns what was written meanwhile.
template<class Body>
std::string console_text_of(Body &&body)
{
    char *buffer = nullptr;
    std::size_t size = 0;
    std::FILE *memory = open_memstream(&buffer, &size);
    std::FILE *previous = console_output();
    set_console_output(memory);
    body();
    set_console_output(previous);
    std::fclose(memory);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}
