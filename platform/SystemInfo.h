#pragma once
// The current working folder and the processor clock.
#include <string>

// The current working folder; empty when it cannot be read.
std::string CurrentFolder();

// Processor time used so far, in milliseconds (clock() * 1000.0 / CLOCKS_PER_SEC).
double ProcessorMillis();
