#include "res/FailureText.h"

namespace {

std::string Owner(const Failure& failure) {
    return " (uid " + std::to_string(failure.owner) + ")";
}

}  // namespace

std::string FailureText(const Failure& failure) {
    if (failure.code.category() != ProjectCategory())
        return failure.code.message();
    const std::string& s = failure.subject;
    switch (static_cast<Errc>(failure.code.value())) {
    case Errc::OwnedByOtherUser: return "it belongs to another user" + Owner(failure);
    case Errc::FolderOwnedByOtherUser: return "its folder belongs to another user" + Owner(failure);
    case Errc::LinkOfOtherUser: return s + " is a symbolic link of another user" + Owner(failure);
    case Errc::UnknownInterface: return "unknown interface: " + s;
    case Errc::InterfaceUnreadable: return "cannot read the addresses of interface " + s;
    case Errc::InterfaceDown: return "interface " + s + " is down";
    case Errc::NoBroadcast: return "interface " + s + " takes no broadcast";
    case Errc::NoIpv4Address: return "interface " + s + " has no IPv4 address";
    case Errc::NewerFormat: return "written by a newer oldiscovery-scan (format version " + s + ")";
    case Errc::DamagedFile: return "damaged: " + s;
    case Errc::BadFleetFile: return s;
    default: return failure.code.message();
    }
}
