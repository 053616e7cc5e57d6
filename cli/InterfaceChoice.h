#pragma once
// The interfaces named with --interface, checked before anything is sent.
#include <vector>

#include "ScanOptions.h"

// The indexes of the chosen interfaces, each once (empty: every one); 0, or the exit status with
// its message when one is unknown, down or without an address.
int ChosenInterfaces(const ScanOptions& options, std::vector<int>& ifindexes);
