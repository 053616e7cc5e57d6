#include "base/Error.h"

// Marks the texts the window shows in the user's language, for Qt's lupdate, which finds the
// macro by its name; here it is the English text itself (base/ links no Qt).
#define QT_TRANSLATE_NOOP(scope, text) text

namespace {

// One row per reason: the reason alone (a log line, a debugger), and the text a person reads,
// where "{}" stands for the subject; owner: the text ends in the user id the refusal names.
struct ReasonRow {
    Errc reason;
    const char* alone;
    const char* text;
    bool owner = false;
};

const ReasonRow kReasons[] = {
    {Errc::SymbolicLink, "it is a symbolic link", QT_TRANSLATE_NOOP("FailureText", "it is a symbolic link")},
    {Errc::NotRegularFile, "it is not a regular file", QT_TRANSLATE_NOOP("FailureText", "it is not a regular file")},
    {Errc::OwnedByOtherUser, "it belongs to another user", QT_TRANSLATE_NOOP("FailureText", "it belongs to another user"), true},
    {Errc::FolderOwnedByOtherUser, "its folder belongs to another user", QT_TRANSLATE_NOOP("FailureText", "its folder belongs to another user"), true},
    {Errc::FolderWritableByAll, "its folder can be written by every user", QT_TRANSLATE_NOOP("FailureText", "its folder can be written by every user")},
    {Errc::LinkOfOtherUser, "a symbolic link of another user", QT_TRANSLATE_NOOP("FailureText", "{} is a symbolic link of another user"), true},
    {Errc::IsFolder, "it is a folder", QT_TRANSLATE_NOOP("FailureText", "it is a folder")},
    {Errc::UnknownInterface, "unknown interface", "unknown interface: {}"},
    {Errc::InterfaceUnreadable, "cannot read the addresses of the interface", "cannot read the addresses of interface {}"},
    {Errc::InterfaceDown, "the interface is down", "interface {} is down"},
    {Errc::NoBroadcast, "the interface takes no broadcast", "interface {} takes no broadcast"},
    {Errc::NoIpv4Address, "the interface has no IPv4 address", "interface {} has no IPv4 address"},
    {Errc::NotIpv4Text, "no IPv4 address", QT_TRANSLATE_NOOP("FailureText", "{} is no IPv4 address")},
    {Errc::BroadcastAddress, "a broadcast address", QT_TRANSLATE_NOOP("FailureText", "{} is a broadcast address")},
    {Errc::NetworkAddress, "a network address", QT_TRANSLATE_NOOP("FailureText", "{} is a network address")},
    {Errc::MulticastAddress, "a multicast address", QT_TRANSLATE_NOOP("FailureText", "{} is a multicast address")},
    {Errc::UnspecifiedAddress, "an unspecified address", QT_TRANSLATE_NOOP("FailureText", "{} is an unspecified address")},
    {Errc::LoopbackAddress, "a loopback address", QT_TRANSLATE_NOOP("FailureText", "{} is a loopback address")},
    {Errc::BadCommandLine, "bad command line", "{}"},
    {Errc::EmptyCommandLine, "empty command line", QT_TRANSLATE_NOOP("FailureText", "empty command line")},
    {Errc::NotKnownDevicesFile, "not a known-devices file of oldiscovery-scan", QT_TRANSLATE_NOOP("FailureText", "not a known-devices file of oldiscovery-scan")},
    {Errc::NewerFormat, "written by a newer oldiscovery-scan", QT_TRANSLATE_NOOP("FailureText", "written by a newer oldiscovery-scan (format version {})")},
    {Errc::DamagedFile, "damaged", QT_TRANSLATE_NOOP("FailureText", "damaged: {}")},
    {Errc::ProgramNotFound, "not found", QT_TRANSLATE_NOOP("FailureText", "not found")},
    {Errc::NotExecutable, "not executable", QT_TRANSLATE_NOOP("FailureText", "not executable")},
    {Errc::NoTerminal, "no terminal", QT_TRANSLATE_NOOP("FailureText", "no terminal")},
    {Errc::NoExecKey, "no Exec key", QT_TRANSLATE_NOOP("FailureText", "no Exec key")},
    {Errc::BadFleetFile, "a fault in the fleet file", "{}"},
};

const ReasonRow* RowOf(int value) {
    for (const ReasonRow& row : kReasons)
        if (static_cast<int>(row.reason) == value)
            return &row;
    return nullptr;
}

std::string Unknown(int value) {
    return "unknown reason " + std::to_string(value);
}

class CProjectCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "oldiscovery"; }
    std::string message(int value) const override {
        const ReasonRow* row = RowOf(value);
        return row ? row->alone : Unknown(value);
    }
};

}  // namespace

const std::error_category& ProjectCategory() {
    static const CProjectCategory category;
    return category;
}

std::error_code make_error_code(Errc reason) {
    return {static_cast<int>(reason), ProjectCategory()};
}

const char* ReasonWords(const Failure& failure) {
    const ReasonRow* row = failure.code.category() == ProjectCategory() ? RowOf(failure.code.value()) : nullptr;
    return row ? row->text : nullptr;
}

std::string ReasonText(const Failure& failure) {
    const ReasonRow* row = RowOf(failure.code.value());
    if (failure.code.category() != ProjectCategory() || !row)
        return failure.code.message();
    std::string text = row->text;
    if (const std::size_t at = text.find("{}"); at != std::string::npos)
        text.replace(at, 2, failure.subject);
    if (row->owner)
        text += " (uid " + std::to_string(failure.owner) + ")";
    return text;
}
