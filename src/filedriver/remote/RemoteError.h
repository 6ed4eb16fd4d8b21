#pragma once
// How a remote file's operations report a failure: a kind that a caller branches on, and a message for
// people. Messages name a file by its display form (Url.h): never a query string or a credential.

#include <string>

namespace filedriver::remote {

enum class RemoteErrorKind {
    None,
    NotFound,    // 404 or 410
    Changed,     // the file is not the version opened (validator, size or a failed precondition)
    Unsupported, // the server cannot serve what is needed: no byte ranges, no size; a refused redirect
    Network,     // connecting, TLS, a timeout, a connection lost; what retrying did not mend
    Other        // any other answer of the server, a malformed URL, a bad setting
};

struct RemoteError {
    RemoteErrorKind kind = RemoteErrorKind::None;
    std::string message;

    explicit operator bool() const { return kind != RemoteErrorKind::None; }
    void set(RemoteErrorKind newKind, std::string newMessage)
    {
        kind = newKind;
        message = std::move(newMessage);
    }
};

} // namespace filedriver::remote
