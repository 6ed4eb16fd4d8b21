// POSIX half of the connection: one libcurl easy handle, kept for its connection.
#include "filedriver/remote/HttpConnection.h"

#include <curl/curl.h>

#include <chrono>
#include <mutex>

namespace filedriver::remote {
namespace {

// curl_global_init is not thread-safe before 7.84: once, before the first handle.
void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}


ExchangeFailure failureOf(CURLcode code)
{
    switch (code) {
    case CURLE_OK: return ExchangeFailure::None;
    case CURLE_WRITE_ERROR:
    case CURLE_ABORTED_BY_CALLBACK: return ExchangeFailure::Stopped;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT: return ExchangeFailure::Connect;
    case CURLE_OPERATION_TIMEDOUT: return ExchangeFailure::Timeout;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return ExchangeFailure::Lost;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS: return ExchangeFailure::Tls;
    default: return ExchangeFailure::Other;
    }
}

} // namespace

struct HttpConnection::Platform {
    CURL* curl = nullptr;
    std::string caBundle; // the system's bundle and the settings' file, when that is set
    char errorText[CURL_ERROR_SIZE] = {};
    AnswerSink* sink = nullptr;
    AnswerHead head;
    bool headGiven = false;
    std::chrono::milliseconds stallLimit{0};
    curl_off_t progressBytes = 0;
    std::chrono::steady_clock::time_point progressTime;
    bool stalled = false;

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self)
    {
        auto& platform = *static_cast<Platform*>(self);
        const std::string_view line(data, size * count);
        takeHeadLine(line, platform.head);
        // The blank line that ends a final head (an interim 1xx head is followed by another).
        const bool blank = line == "\r\n" || line == "\n";
        if (blank && platform.head.status >= 200 && !platform.headGiven) {
            platform.headGiven = true;
            if (!platform.sink->head(platform.head))
                return 0;
        }
        return size * count;
    }

    static int onProgress(void* self, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent)
    {
        auto& platform = *static_cast<Platform*>(self);
        const auto now = std::chrono::steady_clock::now();
        if (received + sent != platform.progressBytes) {
            platform.progressBytes = received + sent;
            platform.progressTime = now;
            return 0;
        }
        platform.stalled = now - platform.progressTime > platform.stallLimit;
        return platform.stalled ? 1 : 0;
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self)
    {
        auto& platform = *static_cast<Platform*>(self);
        if (!platform.headGiven) {
            platform.headGiven = true;
            if (!platform.sink->head(platform.head))
                return 0;
        }
        return platform.sink->body(data, size * count) ? size * count : 0;
    }

    void configure(const RemoteSettings& settings)
    {
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
        // Answers run to MiBs: bodies taken in larger pieces cost fewer calls, each a lock of the file.
        curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 256L * 1024);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectTimeout.count()));
        // curl's own low-speed limit averages over several seconds: stalls are timed here.
        stallLimit = settings.stallTimeout;
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Platform::onProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Platform::onHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Platform::onBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(curl, CURLOPT_USERAGENT, "gleanerqt-filedriver");
        if (!settings.caFile.empty())
            trustExtraFile(settings.caFile);
    }

    // CURLOPT_CAINFO would replace the system's bundle: the bundle and the file go in together.
    void trustExtraFile(const std::filesystem::path& caFile)
    {
        char* systemBundle = nullptr;
        curl_easy_getinfo(curl, CURLINFO_CAINFO, &systemBundle);
        if (systemBundle)
            caBundle = settingFileText(systemBundle) + "\n";
        caBundle += settingFileText(caFile);
        curl_blob blob{caBundle.data(), caBundle.size(), CURL_BLOB_NOCOPY};
        curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
    }
};

void HttpConnection::prepareProcess()
{
    initialiseCurlOnce();
}

HttpConnection::HttpConnection(const RemoteSettings& settings) : platform(std::make_unique<Platform>())
{
    initialiseCurlOnce();
    platform->curl = curl_easy_init();
    if (platform->curl)
        platform->configure(settings);
}

HttpConnection::~HttpConnection()
{
    if (platform->curl)
        curl_easy_cleanup(platform->curl);
}

ExchangeOutcome HttpConnection::exchange(const Exchange& request, AnswerSink& sink)
{
    if (!platform->curl)
        return {ExchangeFailure::Other, "libcurl could not start a transfer"};
    CURL* curl = platform->curl;
    const std::string url = request.url->requestUrl();
    const std::string range = std::to_string(request.first) + "-" + std::to_string(request.last);
    curl_slist* headers = nullptr;
    if (!request.conditionName.empty())
        headers = curl_slist_append(headers, (request.conditionName + ": " + request.conditionValue).c_str());
    if (!request.authorization.empty())
        headers = curl_slist_append(headers, ("Authorization: " + request.authorization).c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    platform->sink = &sink;
    platform->head = AnswerHead();
    platform->headGiven = false;
    platform->errorText[0] = '\0';
    platform->progressBytes = 0;
    platform->progressTime = std::chrono::steady_clock::now();
    platform->stalled = false;
    const CURLcode code = curl_easy_perform(curl);
    // A head without a body (a 304, a 503 with no content) reaches the sink here.
    if (code == CURLE_OK && !platform->headGiven && platform->head.status != 0) {
        platform->headGiven = true;
        sink.head(platform->head);
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    ExchangeOutcome outcome{failureOf(code), std::string()};
    if (platform->stalled) {
        outcome.failure = ExchangeFailure::Timeout;
        outcome.message = "no byte came for " + std::to_string(platform->stallLimit.count()) + " ms";
    } else if (code != CURLE_OK) {
        outcome.message = platform->errorText[0] ? platform->errorText : curl_easy_strerror(code);
    }
    return outcome;
}

} // namespace filedriver::remote
