#include "base/Error.h"

namespace {

class CProjectCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "oldiscovery"; }
    // The reason alone, for a log line or a debugger; res/FailureText.h makes what a person reads.
    std::string message(int value) const override {
        switch (static_cast<Errc>(value)) {
        case Errc::SymbolicLink: return "it is a symbolic link";
        case Errc::NotRegularFile: return "it is not a regular file";
        case Errc::OwnedByOtherUser: return "it belongs to another user";
        case Errc::FolderOwnedByOtherUser: return "its folder belongs to another user";
        case Errc::FolderWritableByAll: return "its folder can be written by every user";
        case Errc::LinkOfOtherUser: return "a symbolic link of another user";
        case Errc::IsFolder: return "it is a folder";
        case Errc::UnknownInterface: return "unknown interface";
        case Errc::InterfaceUnreadable: return "cannot read the addresses of the interface";
        case Errc::InterfaceDown: return "the interface is down";
        case Errc::NoBroadcast: return "the interface takes no broadcast";
        case Errc::NoIpv4Address: return "the interface has no IPv4 address";
        case Errc::EmptyCommandLine: return "empty command line";
        case Errc::NotKnownDevicesFile: return "not a known-devices file of oldiscovery-scan";
        case Errc::NewerFormat: return "written by a newer oldiscovery-scan";
        case Errc::DamagedFile: return "damaged";
        case Errc::ProgramNotFound: return "not found";
        case Errc::NotExecutable: return "not executable";
        case Errc::NoTerminal: return "no terminal";
        case Errc::NoExecKey: return "no Exec key";
        case Errc::BadFleetFile: return "a fault in the fleet file";
        }
        return "unknown reason " + std::to_string(value);
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
