#include "support/HttpTestServer.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace testsupport {
namespace fs = std::filesystem;
namespace {

std::optional<std::string> variable(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}

std::vector<LoggedRequest> readLog(const fs::path& log, const std::string& path)
{
    // GET /name 206 "bytes=0-65535" "<If-Match or If-Unmodified-Since>" "<query>" <connection>
    std::vector<LoggedRequest> found;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        LoggedRequest request;
        std::istringstream fields(line);
        fields >> request.method >> request.path >> request.status;
        request.path = request.path.substr(0, request.path.find('?'));
        if (request.path != path)
            continue;
        std::vector<std::string> quoted;
        for (std::size_t at = line.find('"'); at != std::string::npos; at = line.find('"', at + 1)) {
            const std::size_t end = line.find('"', at + 1);
            quoted.push_back(line.substr(at + 1, end - at - 1));
            at = end;
        }
        if (quoted.size() == 3) {
            request.range = quoted[0];
            request.condition = quoted[1];
            request.query = quoted[2];
            request.connection = line.substr(line.rfind(' ') + 1);
        }
        found.push_back(request);
    }
    return found;
}

} // namespace

std::optional<HttpTestServer> HttpTestServer::fromEnvironment()
{
    const auto http = variable("GLEANER_TEST_HTTP");
    const auto https = variable("GLEANER_TEST_HTTPS");
    const auto proxy = variable("GLEANER_TEST_PROXY");
    const auto root = variable("GLEANER_TEST_DOCROOT");
    const auto log = variable("GLEANER_TEST_ACCESS_LOG");
    const auto ca = variable("GLEANER_TEST_CA");
    const auto scratch = variable("GLEANER_TEST_SCRATCH");
    if (!http || !https || !proxy || !root || !log || !ca || !scratch)
        return std::nullopt;
    HttpTestServer server;
    server.httpBase = *http;
    server.httpsBase = *https;
    server.proxyBase = *proxy;
    server.root = *root;
    server.accessLog = *log;
    server.ca = *ca;
    server.scratchDir = *scratch;
    return server;
}

std::string HttpTestServer::proxied(const std::string& faults, const std::string& path) const
{
    return faults.empty() ? proxyBase + path : proxyBase + "/_f/" + faults + path;
}

void HttpTestServer::putFile(const std::string& name, const std::string& bytes, int ageSeconds) const
{
    const fs::path target = root / fs::path(name).relative_path();
    fs::create_directories(target.parent_path());
    const fs::path temporary = target.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    static int distinct = 0; // replacements within one test get times of their own
    fs::last_write_time(temporary,
        fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds) + std::chrono::seconds(++distinct));
    fs::rename(temporary, target);
}

std::vector<LoggedRequest> HttpTestServer::requestsFor(const std::string& path, std::size_t atLeast) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::vector<LoggedRequest> last = readLog(accessLog, path);
    while (last.size() < atLeast && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        last = readLog(accessLog, path);
    }
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::vector<LoggedRequest> now = readLog(accessLog, path);
        if (now.size() == last.size())
            return now;
        last = std::move(now);
    }
    return last;
}

std::string patternBytes(std::size_t length, unsigned seed)
{
    std::string bytes(length, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < length; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

} // namespace testsupport
