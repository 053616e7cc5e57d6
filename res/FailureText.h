#pragma once
// The text a person reads for a failure: on the command line in English, in the window in the
// user's language where the translation has words for the reason.
#include <string>

#include "base/Error.h"

// An errno as the C library says it (strerror); a project reason with its subject, e.g.
// "it belongs to another user (uid 1001)", "interface eth1 is down".
std::string FailureText(const Failure& failure);
