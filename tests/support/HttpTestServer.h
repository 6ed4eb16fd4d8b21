#pragma once
// The web server of the HTTP tests, as tests/filedriver/remote/http_server.sh started it around this
// program: nginx on 127.0.0.1 (HTTP and HTTPS with a test CA) and the fault proxy in front of it
// (FaultProxy.cpp: a path "/_f/<faults>/<name>" gets the faults). Tests put files into its document
// root and count the requests nginx logged per path.
//
// nginx's locations: /moved/ (301 to /), /found/ (302 to /), /tohttps/ (302 to the HTTPS server),
// /loop/ (endless 302s), /private/ (basic auth reader:s3cret), /bearer/ ("Bearer t0ken"), /signed/ (query
// sig=s3cret), /teapot/ (418); on HTTPS /tohttp/ (302 to the HTTP server). Each serves the root's files.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct LoggedRequest {
    std::string method, path, status, range, condition, query;
    std::string connection; // nginx's serial number of the connection
};

class HttpTestServer {
public:
    // nullopt when the program runs without the server (then the tests skip, saying so).
    static std::optional<HttpTestServer> fromEnvironment();
    static const char* missingReason() { return "no test web server: run through tests/filedriver/remote/http_server.sh"; }

    // "http://127.0.0.1:<port>" + path, the same through the proxy, and over HTTPS.
    std::string http(const std::string& path) const { return httpBase + path; }
    std::string proxied(const std::string& faults, const std::string& path) const;
    std::string https(const std::string& path) const { return httpsBase + path; }
    const std::filesystem::path& caFile() const { return ca; }
    // A folder for the test's own files (cache directories), emptied with the server.
    const std::filesystem::path& scratch() const { return scratchDir; }

    // Writes `bytes` as the document root's `name` (slashes allowed), replacing it whole: a new file
    // renamed into place, with the modification time `ageSeconds` in the past (so a replacement gets
    // another ETag even within the same second).
    void putFile(const std::string& name, const std::string& bytes, int ageSeconds = 100) const;

    // The requests nginx logged for `path` ("/name"), once the log has stopped growing (at most 2 s),
    // and first (10 s at most) once it holds `atLeast` of them: nginx logs an answer when it ends, which
    // for one the client ends on a thread of its own comes after the call that started it returned.
    std::vector<LoggedRequest> requestsFor(const std::string& path, std::size_t atLeast = 0) const;

private:
    std::string httpBase, httpsBase, proxyBase;
    std::filesystem::path root, accessLog, ca, scratchDir;
};

// Bytes of a file for the tests: `length` bytes that differ at every offset modulo 2^32 from those of
// another `seed`.
std::string patternBytes(std::size_t length, unsigned seed = 1);

} // namespace testsupport
