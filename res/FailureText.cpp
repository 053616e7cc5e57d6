#include "res/FailureText.h"

#include "res/Translation.h"

namespace {

struct ReasonWords {
    Errc reason;
    const char* text;  // the English text of the reason, "%1" for its subject
};

// The reasons a person reads in the window, in words a translation can give; each text is the
// English one of the table of reasons with "%1" for its subject. Reasons not here, and errno
// texts, stay as the C library and the table word them.
constexpr ReasonWords kWords[] = {
    {Errc::SymbolicLink, QT_TRANSLATE_NOOP("FailureText", "it is a symbolic link")},
    {Errc::NotRegularFile, QT_TRANSLATE_NOOP("FailureText", "it is not a regular file")},
    {Errc::OwnedByOtherUser, QT_TRANSLATE_NOOP("FailureText", "it belongs to another user")},
    {Errc::FolderOwnedByOtherUser, QT_TRANSLATE_NOOP("FailureText", "its folder belongs to another user")},
    {Errc::FolderWritableByAll, QT_TRANSLATE_NOOP("FailureText", "its folder can be written by every user")},
    {Errc::LinkOfOtherUser, QT_TRANSLATE_NOOP("FailureText", "%1 is a symbolic link of another user")},
    {Errc::IsFolder, QT_TRANSLATE_NOOP("FailureText", "it is a folder")},
    {Errc::NotIpv4Text, QT_TRANSLATE_NOOP("FailureText", "%1 is no IPv4 address")},
    {Errc::BroadcastAddress, QT_TRANSLATE_NOOP("FailureText", "%1 is a broadcast address")},
    {Errc::NetworkAddress, QT_TRANSLATE_NOOP("FailureText", "%1 is a network address")},
    {Errc::MulticastAddress, QT_TRANSLATE_NOOP("FailureText", "%1 is a multicast address")},
    {Errc::UnspecifiedAddress, QT_TRANSLATE_NOOP("FailureText", "%1 is an unspecified address")},
    {Errc::LoopbackAddress, QT_TRANSLATE_NOOP("FailureText", "%1 is a loopback address")},
    {Errc::EmptyCommandLine, QT_TRANSLATE_NOOP("FailureText", "empty command line")},
    {Errc::NotKnownDevicesFile,
     QT_TRANSLATE_NOOP("FailureText", "not a known-devices file of oldiscovery-scan")},
    {Errc::NewerFormat,
     QT_TRANSLATE_NOOP("FailureText", "written by a newer oldiscovery-scan (format version %1)")},
    {Errc::DamagedFile, QT_TRANSLATE_NOOP("FailureText", "damaged: %1")},
    {Errc::ProgramNotFound, QT_TRANSLATE_NOOP("FailureText", "not found")},
    {Errc::NotExecutable, QT_TRANSLATE_NOOP("FailureText", "not executable")},
    {Errc::NoTerminal, QT_TRANSLATE_NOOP("FailureText", "no terminal")},
    {Errc::NoExecKey, QT_TRANSLATE_NOOP("FailureText", "no Exec key")},
};

}  // namespace

std::string FailureText(const Failure& failure) {
    // An errno as the C library words it; a project reason from the one table of reasons, in the
    // user's language where the translation has it.
    const std::string english = ReasonText(failure);
    if (failure.code.category() != ProjectCategory())
        return english;
    for (const ReasonWords& words : kWords) {
        if (static_cast<int>(words.reason) != failure.code.value())
            continue;
        const std::string own = Translated("FailureText", words.text);
        if (own == words.text)
            return english;
        // The user id a refusal names ends the English text; it ends the translation too.
        const std::string uid = " (uid " + std::to_string(failure.owner) + ")";
        const bool owner = english.size() > uid.size() && english.ends_with(uid);
        return TranslatedWith("FailureText", words.text, failure.subject) + (owner ? uid : "");
    }
    return english;
}
