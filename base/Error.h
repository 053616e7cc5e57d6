#pragma once
// How code below the two programs fails. It returns a Failure (empty on success), or a Result that
// holds either the value it made or the Failure. A Failure is a std::error_code: an errno in
// std::generic_category(), or a reason that is no errno from Errc in ProjectCategory(); plus, where
// a person needs it, the subject the reason is about (the path on the way, the interface, the
// format version) and the user id it names. Library code neither prints a failure nor shows it: the
// programs make the text a person reads from it (res/FailureText.h).
#include <cerrno>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

// The project's reasons that are no errno.
enum class Errc {
    SymbolicLink = 1,        // the file is a symbolic link
    NotRegularFile,          // the file is a device, a FIFO, a folder
    OwnedByOtherUser,        // the file belongs to another user (owner)
    FolderOwnedByOtherUser,  // its folder belongs to another user (owner)
    FolderWritableByAll,     // its folder can be written by every user (no sticky bit)
    LinkOfOtherUser,         // a link on the way belongs to another user; subject: the link (owner)
    IsFolder,                // the path names a folder where a file was meant
    UnknownInterface,        // subject: the interface
    InterfaceUnreadable,     // its addresses cannot be read; subject: the interface
    InterfaceDown,           // subject: the interface
    NoBroadcast,             // subject: the interface
    NoIpv4Address,           // subject: the interface
    NotIpv4Text,             // a text that is no IPv4 address; subject: the text
    BroadcastAddress,        // an address that reaches every host of a subnet; subject: the address
    NetworkAddress,          // a subnet's own address; subject: the address
    MulticastAddress,        // subject: the address
    UnspecifiedAddress,      // 0.0.0.0; subject: the address
    LoopbackAddress,         // subject: the address
    BadCommandLine,          // subject: the problem as the option reader words it
    EmptyCommandLine,        // nothing to start
    NotKnownDevicesFile,     // a file that is not the known-devices inventory
    NewerFormat,             // written by a newer program; subject: the format version
    DamagedFile,             // subject: what is wrong, where
    ProgramNotFound,         // no such program where it was looked up
    NotExecutable,           // the program's file cannot be run
    NoTerminal,              // no terminal to run a console program in
    NoExecKey,               // a desktop entry that says nothing about starting a program
    BadFleetFile,            // subject: the file, the line and what is wrong there
};

const std::error_category& ProjectCategory();
std::error_code make_error_code(Errc reason);
template <>
struct std::is_error_code_enum<Errc> : std::true_type {};

// Why something failed; empty (false) when nothing did.
struct [[nodiscard]] Failure {
    std::error_code code;
    std::string subject;
    long owner = -1;  // the user id a refusal names, -1 when none

    Failure() = default;
    Failure(std::error_code c, std::string s = {}, long uid = -1) : code(c), subject(std::move(s)), owner(uid) {}
    Failure(Errc reason, std::string s = {}, long uid = -1) : code(reason), subject(std::move(s)), owner(uid) {}
    explicit operator bool() const { return static_cast<bool>(code); }
    bool operator==(Errc reason) const { return code == reason; }
};

// The text a person reads for a project reason, with its subject and owner; the one table of the
// project's reasons and their texts is behind it (Error.cpp). res/FailureText.h adds the errno's.
std::string ReasonText(const Failure& failure);
// The text of a project reason as the table words it, "{}" for the subject and without the user
// id (a translation's source); null for an errno.
const char* ReasonWords(const Failure& failure);

// An errno value as a Failure.
inline Failure ErrnoFailure(int error) {
    return Failure(std::error_code(error, std::generic_category()));
}

// The errno of the call that just failed, as a Failure.
inline Failure LastErrno() {
    return ErrnoFailure(errno);
}

// The value a call made, or why it made none.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Failure failure) : m_state(std::move(failure)) {}
    Result(Errc reason, std::string subject = {}) : m_state(Failure(reason, std::move(subject))) {}

    explicit operator bool() const { return std::holds_alternative<T>(m_state); }
    T& operator*() { return std::get<T>(m_state); }
    const T& operator*() const { return std::get<T>(m_state); }
    T* operator->() { return &std::get<T>(m_state); }
    const T* operator->() const { return &std::get<T>(m_state); }
    // Empty while there is a value.
    Failure Error() const { return *this ? Failure() : std::get<Failure>(m_state); }

private:
    std::variant<T, Failure> m_state;
};
