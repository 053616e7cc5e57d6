#include "res/FailureText.h"

std::string FailureText(const Failure& failure) {
    // An errno as the C library words it; a project reason from the one table of reasons.
    return ReasonText(failure);
}
