#include "filedriver/remote/RemoteSource.h"

#include "filedriver/remote/Credentials.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <random>
#include <thread>

namespace filedriver::remote {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int maxRedirects = 5;
constexpr milliseconds firstPause{250};
// A remote file's read-ahead helpers and a reader or two each keep one.
constexpr std::size_t maxIdleConnections = 10;

bool retriedStatus(int status)
{
    return status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

bool redirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string statusText(const AnswerHead& head)
{
    return std::to_string(head.status) + (head.reason.empty() ? std::string() : " " + head.reason);
}

milliseconds jittered(milliseconds pause)
{
    thread_local std::minstd_rand random(std::random_device{}());
    std::uniform_int_distribution<long long> spread(0, pause.count() / 2);
    return pause + milliseconds(spread(random));
}


} // namespace

struct FetchAttempt {
    std::uint64_t first = 0; // the next byte wanted
    std::uint64_t last = 0;  // the last byte wanted
    char* destination = nullptr;
    bool opening = false; // size and validator still to be learnt
    const std::function<bool(std::uint64_t)>* arrived = nullptr; // told the end of what is in
    bool ended = false; // by `arrived`
    std::uint64_t retriedUntil = UINT64_MAX; // a try broken after this byte is not retried

    // What one try did:
    enum class Verdict { Done, Retry, Fail } verdict = Verdict::Done;
    std::size_t received = 0;
    RemoteError failure;
    std::optional<std::uint64_t> retryAfter; // seconds
};

namespace {

// Judges one answer's head and takes its body into place.
class RangeSink : public AnswerSink {
public:
    using Verdict = FetchAttempt::Verdict;

    RangeSink(const std::string& display, std::uint64_t& size, std::string& etag, std::string& lastModified,
        FetchAttempt& state)
        : display(display), size(size), etag(etag), lastModified(lastModified), state(state) {}

    bool head(const AnswerHead& answer) override
    {
        status = answer.status;
        if (answer.status == 206)
            return takePartial(answer);
        if (redirectStatus(answer.status) && !answer.location.empty()) {
            location = answer.location;
            return false;
        }
        if (retriedStatus(answer.status)) {
            state.retryAfter = parseRetryAfter(answer.retryAfter, static_cast<std::int64_t>(std::time(nullptr)));
            return retry(display + ": the server answered " + statusText(answer));
        }
        if (answer.status == 200 && state.opening && wholeFileFits(answer))
            return learnWhole(answer);
        if (answer.status == 200)
            return fail(RemoteErrorKind::Unsupported,
                display + ": the server ignores byte ranges (it answered 200 with the whole file), and reading in "
                          "place needs them");
        if (answer.status == 404 || answer.status == 410)
            return fail(RemoteErrorKind::NotFound, display + ": not found (the server answered " + statusText(answer) + ")");
        if (answer.status == 412)
            return changed();
        if (answer.status == 416)
            return takeUnsatisfiable(answer);
        return fail(RemoteErrorKind::Other, display + ": the server answered " + statusText(answer));
    }

    bool body(const char* bytes, std::size_t length) override
    {
        if (!accepted)
            return false;
        if (length > expected - state.received)
            return fail(RemoteErrorKind::Other, display + ": the server sent more bytes than the range it answered");
        std::copy(bytes, bytes + length, state.destination + state.received);
        state.received += length;
        if (state.arrived && !(*state.arrived)(state.first + state.received)) {
            state.ended = true;
            return false;
        }
        return true;
    }

    int status = 0;
    std::string location;
    bool accepted = false;
    std::uint64_t expected = 0;

private:
    bool takePartial(const AnswerHead& answer)
    {
        const auto range = parseContentRange(answer.contentRange);
        if (!range || !range->satisfied)
            return fail(RemoteErrorKind::Other, display + ": the server's Content-Range '" +
                                                    answer.contentRange.substr(0, 80) + "' cannot be read");
        if (!answer.contentEncoding.empty() && answer.contentEncoding != "identity")
            return fail(RemoteErrorKind::Unsupported, display + ": the server encodes the ranges it sends");
        if (state.opening)
            return learn(answer, *range);
        if (!range->total || *range->total != size || !sameValidator(answer))
            return changed();
        if (range->first != state.first || range->last != state.last)
            return fail(RemoteErrorKind::Other, display + ": the server answered bytes " + std::to_string(range->first) +
                                                    "-" + std::to_string(range->last) + " for bytes " +
                                                    std::to_string(state.first) + "-" + std::to_string(state.last));
        expected = range->last - range->first + 1;
        accepted = true;
        return true;
    }

    // The open's answer: the size and the validator.
    bool learn(const AnswerHead& answer, const ContentRange& range)
    {
        if (!range.total)
            return fail(RemoteErrorKind::Unsupported, display + ": the server does not tell the file's size");
        if (range.first != state.first || range.last > state.last)
            return fail(RemoteErrorKind::Other, display + ": the server answered other bytes than those asked for");
        size = *range.total;
        etag = isStrongEtag(answer.etag) ? answer.etag : std::string();
        lastModified = answer.lastModified;
        state.opening = false;
        state.last = range.last;
        expected = range.last - range.first + 1;
        accepted = true;
        return true;
    }

    // A server that ignores ranges (or nginx for an empty file) may still send a file small enough
    // for the open's request whole.
    bool wholeFileFits(const AnswerHead& answer) const
    {
        const auto length = parseDecimal(answer.contentLength);
        return length && *length <= state.last - state.first + 1 &&
               (answer.contentEncoding.empty() || answer.contentEncoding == "identity");
    }

    bool learnWhole(const AnswerHead& answer)
    {
        const std::uint64_t length = *parseDecimal(answer.contentLength);
        if (length == 0)
            return learnEmpty(answer);
        return learn(answer, ContentRange{true, 0, length - 1, length});
    }

    // An empty file: nothing to take; the exchange ends here.
    bool learnEmpty(const AnswerHead& answer)
    {
        size = 0;
        etag = isStrongEtag(answer.etag) ? answer.etag : std::string();
        lastModified = answer.lastModified;
        state.opening = false;
        return false;
    }

    // 416: an empty file when opening; else the file has shrunk.
    bool takeUnsatisfiable(const AnswerHead& answer)
    {
        const auto range = parseContentRange(answer.contentRange);
        if (state.opening && range && !range->satisfied && range->total == 0u)
            return learnEmpty(answer);
        return changed();
    }

    bool sameValidator(const AnswerHead& answer) const
    {
        if (!etag.empty())
            return answer.etag.empty() || answer.etag == etag;
        return lastModified.empty() || answer.lastModified.empty() || answer.lastModified == lastModified;
    }

    bool changed()
    {
        return fail(RemoteErrorKind::Changed, display + ": the file changed on the server since it was opened");
    }
    bool fail(RemoteErrorKind kind, std::string message)
    {
        accepted = false;
        state.verdict = Verdict::Fail;
        state.failure.set(kind, std::move(message));
        return false;
    }
    bool retry(std::string message)
    {
        state.verdict = Verdict::Retry;
        state.failure.set(RemoteErrorKind::Other, std::move(message));
        return false;
    }

    const std::string& display;
    std::uint64_t& size;
    std::string& etag;
    std::string& lastModified;
    FetchAttempt& state;
};

} // namespace

RemoteSource::RemoteSource(const Url& url, const RemoteSettings& settings)
    : original(url), options(settings), display(url.displayText()), netrcText(settingFileText(settings.netrcFile)),
      target(url)
{
}

RemoteSource::~RemoteSource() = default;

std::unique_ptr<RemoteSource> RemoteSource::create(const Url& url, const RemoteSettings& settings)
{
    return std::unique_ptr<RemoteSource>(new RemoteSource(url, settings));
}

bool RemoteSource::open(std::size_t firstBytes, std::size_t length, char* destination,
    const std::function<bool(std::uint64_t)>& arrived, RemoteError& error)
{
    FetchAttempt state;
    state.first = 0;
    state.last = length - 1;
    state.destination = destination;
    state.opening = true;
    state.arrived = &arrived;
    state.retriedUntil = firstBytes;
    return fetchWithRetries(state, error);
}

std::string RemoteSource::validatorText() const
{
    if (!etag.empty())
        return "etag " + etag;
    if (!lastModified.empty())
        return "modified " + lastModified;
    return std::string();
}

bool RemoteSource::fetch(std::uint64_t offset, std::size_t length, char* destination, RemoteError& error)
{
    if (length == 0)
        return true;
    FetchAttempt state;
    state.first = offset;
    state.last = offset + length - 1;
    state.destination = destination;
    return fetchWithRetries(state, error);
}

bool RemoteSource::fetchWithRetries(FetchAttempt& state, RemoteError& error)
{
    const Clock::time_point deadline = Clock::now() + options.retryTime;
    milliseconds pause = firstPause;
    for (unsigned tries = 1;; ++tries) {
        attempt(state);
        state.first += state.received;
        state.destination += state.received;
        if (state.verdict == FetchAttempt::Verdict::Done)
            return true;
        if (state.verdict == FetchAttempt::Verdict::Retry && state.first >= state.retriedUntil)
            return true;
        if (state.verdict == FetchAttempt::Verdict::Fail) {
            error = state.failure;
            return false;
        }
        milliseconds wait = jittered(pause);
        if (state.retryAfter)
            wait = std::max(wait, milliseconds(std::min<std::uint64_t>(*state.retryAfter, 86400) * 1000));
        // The next try must be able to connect before the deadline, so that the whole stays within it.
        if (tries > options.retries || Clock::now() + wait + options.connectTimeout > deadline) {
            error = state.failure;
            error.message += " (" + std::to_string(tries) + (tries == 1 ? " try" : " tries") + ")";
            return false;
        }
        std::this_thread::sleep_for(wait);
        pause *= 2;
    }
}

void RemoteSource::attempt(FetchAttempt& state)
{
    Url current;
    {
        std::lock_guard<std::mutex> hold(poolLock);
        current = target;
    }
    bool permanent = true;
    for (int redirects = 0; redirects <= maxRedirects; ++redirects) {
        state.verdict = FetchAttempt::Verdict::Done;
        state.received = 0;
        state.retryAfter.reset();
        Exchange request;
        request.url = &current;
        request.first = state.first;
        request.last = state.last;
        if (!state.opening && !etag.empty()) {
            request.conditionName = "If-Match";
            request.conditionValue = etag;
        } else if (!state.opening && !lastModified.empty()) {
            request.conditionName = "If-Unmodified-Since";
            request.conditionValue = lastModified;
        }
        request.authorization = authorizationFor(current);
        RangeSink sink(display, fileSize, etag, lastModified, state);
        std::unique_ptr<HttpConnection> connection = takeConnection();
        const ExchangeOutcome outcome = connection->exchange(request, sink);
        // Only a connection whose exchange ran to its end is still open: kept, the next request takes it
        // rather than one that would have to connect again.
        if (outcome.failure == ExchangeFailure::None)
            giveBack(std::move(connection));
        if (state.verdict != FetchAttempt::Verdict::Done || state.ended)
            return;
        if (!sink.location.empty()) {
            const auto next = resolveRedirect(current, sink.location);
            if (!next) {
                state.verdict = FetchAttempt::Verdict::Fail;
                state.failure.set(RemoteErrorKind::Other, display + ": the server redirects to a malformed location");
                return;
            }
            if (current.secure && !next->secure) {
                state.verdict = FetchAttempt::Verdict::Fail;
                state.failure.set(RemoteErrorKind::Unsupported,
                    display + ": refusing a redirect from https to http (" + next->displayText() + ")");
                return;
            }
            permanent = permanent && (sink.status == 301 || sink.status == 308);
            current = *next;
            if (permanent) {
                std::lock_guard<std::mutex> hold(poolLock);
                target = current;
            }
            continue;
        }
        if (outcome.failure == ExchangeFailure::Tls || outcome.failure == ExchangeFailure::Other) {
            state.verdict = FetchAttempt::Verdict::Fail;
            state.failure.set(RemoteErrorKind::Network, display + ": " + scrubbed(outcome.message, current));
            return;
        }
        if (outcome.failure != ExchangeFailure::None && outcome.failure != ExchangeFailure::Stopped) {
            state.verdict = FetchAttempt::Verdict::Retry;
            state.failure.set(RemoteErrorKind::Network, display + ": " + scrubbed(outcome.message, current));
            return;
        }
        if (sink.status == 0) {
            state.verdict = FetchAttempt::Verdict::Retry;
            state.failure.set(RemoteErrorKind::Network, display + ": the server sent no answer");
            return;
        }
        if (sink.accepted && state.received < sink.expected) {
            state.verdict = FetchAttempt::Verdict::Retry;
            state.failure.set(RemoteErrorKind::Network, display + ": the answer ended after " +
                                                            std::to_string(state.received) + " of " +
                                                            std::to_string(sink.expected) + " bytes");
        }
        return;
    }
    state.verdict = FetchAttempt::Verdict::Fail;
    state.failure.set(RemoteErrorKind::Other, display + ": more than " + std::to_string(maxRedirects) + " redirects");
}

std::string RemoteSource::authorizationFor(const Url& url) const
{
    const UrlCredentials fromUrl{url.hasCredentials, url.user, url.password};
    const bool home = url.sameOrigin(original);
    return remote::authorizationFor(fromUrl, url.host, netrcText, home ? options.bearerToken : std::string());
}

std::unique_ptr<HttpConnection> RemoteSource::takeConnection()
{
    {
        std::lock_guard<std::mutex> hold(poolLock);
        if (!idle.empty()) {
            std::unique_ptr<HttpConnection> connection = std::move(idle.back());
            idle.pop_back();
            return connection;
        }
    }
    return std::make_unique<HttpConnection>(options);
}

void RemoteSource::giveBack(std::unique_ptr<HttpConnection> connection)
{
    std::lock_guard<std::mutex> hold(poolLock);
    if (idle.size() < maxIdleConnections)
        idle.push_back(std::move(connection));
}

} // namespace filedriver::remote
