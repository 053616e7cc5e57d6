#include "res/FailureText.h"

#include "res/Translation.h"

std::string FailureText(const Failure& failure) {
    // An errno as the C library words it; a project reason from the one table of reasons
    // (base/Error.cpp), in the user's language where the translation has it.
    const std::string english = ReasonText(failure);
    const char* words = ReasonWords(failure);
    if (!words)
        return english;
    std::string own = Translated("FailureText", words);
    if (own == words)
        return english;
    if (const std::size_t at = own.find("{}"); at != std::string::npos)
        own.replace(at, 2, failure.subject);
    // The user id a refusal names ends the English text; it ends the translation too.
    const std::string uid = " (uid " + std::to_string(failure.owner) + ")";
    const bool owner = english.size() > uid.size() && english.ends_with(uid);
    return own + (owner ? uid : "");
}
