#pragma once
// The text a person reads for a failure, the same in the window and on the command line.
#include <string>

#include "base/Error.h"

// An errno as the C library says it (strerror); a project reason with its subject, e.g.
// "it belongs to another user (uid 1001)", "interface eth1 is down".
std::string FailureText(const Failure& failure);
