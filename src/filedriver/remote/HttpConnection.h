#pragma once
// One client connection for ranged GETs: libcurl on Linux, WinHTTP on Windows. It keeps its connection
// alive between exchanges and makes one at a time: a caller wanting several in flight uses several.
// Redirects are not followed here (the caller decides), nothing is decompressed, and TLS is verified
// against the system's store plus the settings' CA file, with no way to turn that off.

#include "filedriver/remote/HttpAnswer.h"
#include "filedriver/remote/RemoteSettings.h"
#include "filedriver/remote/Url.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace filedriver::remote {

struct Exchange {
    const Url* url = nullptr; // its credentials are not used: see authorization
    std::uint64_t first = 0;  // the bytes asked for, both ends included
    std::uint64_t last = 0;
    std::string conditionName;  // "If-Match" or "If-Unmodified-Since", or empty
    std::string conditionValue;
    std::string authorization;  // the Authorization header's value, or empty
};

// Receives one answer: its final head once, then its body in pieces. Either returning false ends the
// exchange at once (ExchangeFailure::Stopped).
class AnswerSink {
public:
    virtual ~AnswerSink() = default;
    virtual bool head(const AnswerHead& head) = 0;
    virtual bool body(const char* bytes, std::size_t length) = 0;
};

enum class ExchangeFailure {
    None,
    Stopped,    // the sink ended it
    Connect,    // no connection (refused, unreachable, name not resolved)
    Timeout,    // connecting or a stall took longer than the settings allow
    Lost,       // the connection broke during the exchange
    Tls,        // the certificate was refused, or the handshake failed
    Other
};

struct ExchangeOutcome {
    ExchangeFailure failure = ExchangeFailure::None;
    std::string message; // the client library's words; may name the host, never the path or query
};

class HttpConnection {
public:
    explicit HttpConnection(const RemoteSettings& settings);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    ExchangeOutcome exchange(const Exchange& request, AnswerSink& sink);

    // Sets the client library up for the process, as the first connection would: what registers its
    // own end at exit (OpenSSL's, under libcurl) then, so that handlers registered after it run first.
    static void prepareProcess();

private:
    struct Platform;
    std::unique_ptr<Platform> platform;
};

} // namespace filedriver::remote
