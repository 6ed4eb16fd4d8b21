#pragma once
// A file on a web server as the reader knows it after opening: its URL, size and validator, and the
// ranged GETs for its bytes, each made conditional on the validator and checked against it.
//
// Request rules: redirects are followed up to 5 times per request, never from https to http, and
// credentials and the bearer token go only to the URL's own origin (a permanent redirect, 301 or 308,
// is remembered for the file's later requests). Connection failures, timeouts, cut bodies and the
// answers 429, 500, 502, 503 and 504 are retried after growing pauses (0.25 s doubling, jittered by up
// to half, at least what Retry-After asks) up to RemoteSettings::retries times, and only while the pause
// and a connect timeout still end within retryTime of the first try; a request cut after some bytes
// goes on from the first byte missing. Every other failure ends at once.
//
// The validator is the strong ETag, else Last-Modified; later requests carry If-Match or
// If-Unmodified-Since, and each answer's Content-Range total, ETag and Last-Modified must match what the
// open saw, else the file is reported Changed and its bytes are not used. Without either validator the
// size alone is checked.
//
// fetch() may be called from several threads at once: each request takes a connection of its own from
// the source's pool (kept alive between requests; `poolLock` guards the idle ones).

#include "filedriver/remote/HttpConnection.h"
#include "filedriver/remote/RemoteError.h"
#include "filedriver/remote/RemoteSettings.h"
#include "filedriver/remote/Url.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace filedriver::remote {

struct FetchAttempt; // one request's progress, RemoteSource.cpp's own

class RemoteSource {
public:
    // No request yet: open() makes the first.
    static std::unique_ptr<RemoteSource> create(const Url& url, const RemoteSettings& settings);
    ~RemoteSource();

    // The opening request (one, plus retries and redirects): asks for the first `length` bytes and puts
    // what comes (fewer for a shorter file) into `destination`, calling `arrived` with how many are in
    // after each piece; the size and the validator are known by its first call. It is retried only
    // until the first `firstBytes` are in: after them, a broken answer ends as `arrived` returning
    // false does, as a success with what came. False with `error` set on failure.
    bool open(std::size_t firstBytes, std::size_t length, char* destination,
        const std::function<bool(std::uint64_t)>& arrived, RemoteError& error);

    std::uint64_t size() const { return fileSize; }
    // "etag <tag>", "modified <date>" or empty: part of the disk cache's key.
    std::string validatorText() const;
    const std::string& displayName() const { return display; }
    const RemoteSettings& settings() const { return options; }

    // Around a fork (ProcessForks.h): the pool's lock taken, then let go.
    void holdForFork() { poolLock.lock(); }
    void releaseAfterFork() { poolLock.unlock(); }

    // Reads [offset, offset + length) of the file, within its size, into `destination`.
    bool fetch(std::uint64_t offset, std::size_t length, char* destination, RemoteError& error);

private:
    RemoteSource(const Url& url, const RemoteSettings& settings);

    // One try with its redirects; fills bytes from `destination` on, counting them in `received`.
    void attempt(FetchAttempt& state);
    bool fetchWithRetries(FetchAttempt& state, RemoteError& error);
    std::unique_ptr<HttpConnection> takeConnection();
    void giveBack(std::unique_ptr<HttpConnection> connection);
    std::string authorizationFor(const Url& target) const;

    const Url original;
    const RemoteSettings options;
    const std::string display;
    std::string netrcText;
    std::uint64_t fileSize = 0;
    std::string etag;          // strong, or empty
    std::string lastModified;  // used where etag is empty
    std::mutex poolLock;
    Url target;                                     // guarded by poolLock
    std::vector<std::unique_ptr<HttpConnection>> idle; // guarded by poolLock
};

} // namespace filedriver::remote
