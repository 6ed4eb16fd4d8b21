// A forwarding proxy between the reader under test and nginx, for the faults no real server makes on
// demand. It listens on 127.0.0.1 at a free port, prints that port on its first line, and forwards each
// request to the upstream port, keeping connections alive on both sides.
//
//   FaultProxy UPSTREAM_PORT [DELAY_MS]
//
// A request for /_f/<faults>/<path> is forwarded as /<path> with the faults applied, '+' between them;
// each fault with a count N acts on the first N requests of that whole request path:
//   busyN    answer 503 with "Retry-After: 1" (not forwarded)
//   resetN   forward, then reset the connection halfway through the body
//   cutN     forward, then close the connection halfway through the body (its length still announced)
//   stallN   forward, then send nothing more after half the body, for up to 30 s
//   norange  forward without the Range header (so the whole file comes back)
//   shiftN   forward, with the answer's Content-Range moved one byte on (its body as it is)
//   fromK    the counted faults act from the path's request K on (0 being the first)
//   delayMS  wait MS milliseconds before forwarding
// DELAY_MS delays every request. It runs until it is killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

int upstreamPort = 0;
int everyDelay = 0;
std::mutex countsLock;
std::map<std::string, int> counts; // requests seen per whole path; guarded by countsLock

struct Faults {
    int busy = 0, reset = 0, cut = 0, stall = 0, delay = 0, shift = 0, from = 0;
    bool noRange = false;
};

Faults parseFaults(const std::string& spec)
{
    Faults faults;
    std::size_t start = 0;
    while (start <= spec.size()) {
        std::size_t end = spec.find('+', start);
        if (end == std::string::npos)
            end = spec.size();
        const std::string token = spec.substr(start, end - start);
        const auto number = [&](std::size_t prefix) { return std::atoi(token.c_str() + prefix); };
        if (token.rfind("busy", 0) == 0) faults.busy = number(4);
        else if (token.rfind("reset", 0) == 0) faults.reset = number(5);
        else if (token.rfind("cut", 0) == 0) faults.cut = number(3);
        else if (token.rfind("stall", 0) == 0) faults.stall = number(5);
        else if (token.rfind("delay", 0) == 0) faults.delay = number(5);
        else if (token.rfind("shift", 0) == 0) faults.shift = number(5);
        else if (token.rfind("from", 0) == 0) faults.from = number(4);
        else if (token == "norange") faults.noRange = true;
        start = end + 1;
    }
    return faults;
}

bool sendAll(int socket, const char* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t sent = send(socket, data, length, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Reads up to the blank line that ends a head; what follows stays in `buffer`. False at end of input.
bool readHead(int socket, std::string& buffer, std::string& head)
{
    for (;;) {
        const std::size_t end = buffer.find("\r\n\r\n");
        if (end != std::string::npos) {
            head = buffer.substr(0, end + 4);
            buffer.erase(0, end + 4);
            return true;
        }
        char chunk[16384];
        const ssize_t got = recv(socket, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

std::string headerValue(const std::string& head, const std::string& lowerName)
{
    std::string lower = head;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t at = lower.find("\r\n" + lowerName + ":");
    if (at == std::string::npos)
        return std::string();
    const std::size_t start = at + 3 + lowerName.size();
    return head.substr(start, head.find("\r\n", start) - start);
}

int connectUpstream()
{
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(upstreamPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(socket);
        return -1;
    }
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return socket;
}

// The request's head for upstream: the path without the fault prefix, Range dropped if asked.
std::string upstreamHead(const std::string& head, const std::string& path, bool noRange)
{
    const std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const std::size_t firstSpace = requestLine.find(' ');
    const std::size_t lastSpace = requestLine.rfind(' ');
    std::string result = requestLine.substr(0, firstSpace + 1) + path + requestLine.substr(lastSpace) + "\r\n";
    std::size_t at = lineEnd + 2;
    while (at < head.size()) {
        const std::size_t end = head.find("\r\n", at);
        const std::string line = head.substr(at, end - at);
        at = end + 2;
        if (line.empty())
            break;
        if (noRange && (line.rfind("Range:", 0) == 0 || line.rfind("range:", 0) == 0))
            continue;
        result += line + "\r\n";
    }
    return result + "\r\n";
}

enum class Fault { None, Reset, Cut, Stall, Shift };

// "Content-Range: bytes 10-20/100" as "bytes 11-21/100".
std::string shiftedRange(const std::string& head)
{
    const std::string value = headerValue(head, "content-range");
    const std::size_t space = value.find("bytes ");
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (space == std::string::npos || dash == std::string::npos || slash == std::string::npos)
        return head;
    const unsigned long long first = std::strtoull(value.c_str() + space + 6, nullptr, 10) + 1;
    const unsigned long long last = std::strtoull(value.c_str() + dash + 1, nullptr, 10) + 1;
    std::string result = head;
    result.replace(result.find(value), value.size(),
        " bytes " + std::to_string(first) + "-" + std::to_string(last) + value.substr(slash));
    return result;
}

// Relays one answer; false when the client connection is to end.
bool relayAnswer(int client, int& upstream, std::string& upstreamBuffer, Fault fault)
{
    std::string head;
    if (!readHead(upstream, upstreamBuffer, head))
        return false;
    const std::string lengthText = headerValue(head, "content-length");
    if (lengthText.empty()) {
        // No length: relay to the end of the upstream connection, then end both.
        sendAll(client, head.data(), head.size());
        sendAll(client, upstreamBuffer.data(), upstreamBuffer.size());
        char chunk[16384];
        for (ssize_t got; (got = recv(upstream, chunk, sizeof chunk, 0)) > 0;)
            sendAll(client, chunk, static_cast<std::size_t>(got));
        return false;
    }
    const std::uint64_t length = std::strtoull(lengthText.c_str(), nullptr, 10);
    if (fault == Fault::Shift)
        head = shiftedRange(head);
    const std::uint64_t stopAt = fault == Fault::None || fault == Fault::Shift || length == 0 ? length : length / 2;
    if (!sendAll(client, head.data(), head.size()))
        return false;
    // The body goes straight from one socket to the other through one buffer: the proxy stands for the
    // network, and should take as little of the machine as it can.
    thread_local std::vector<char> chunk(256 * 1024);
    std::uint64_t relayed = 0;
    while (relayed < length) {
        const bool fresh = upstreamBuffer.empty();
        std::size_t available = upstreamBuffer.size();
        if (fresh) {
            const ssize_t got = recv(upstream, chunk.data(), chunk.size(), 0);
            if (got <= 0)
                return false;
            available = static_cast<std::size_t>(got);
        }
        const char* const data = fresh ? chunk.data() : upstreamBuffer.data();
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(available, length - relayed));
        take = static_cast<std::size_t>(std::min<std::uint64_t>(take, stopAt - relayed));
        if (take > 0 && !sendAll(client, data, take))
            return false;
        if (fresh)
            upstreamBuffer.assign(data + take, available - take);
        else
            upstreamBuffer.erase(0, take);
        relayed += take;
        if (take == 0)
            break;
    }
    if (relayed == length)
        return true;
    // The fault: the upstream connection is of no more use either.
    close(upstream);
    upstream = -1;
    upstreamBuffer.clear();
    if (fault == Fault::Stall)
        for (int i = 0; i < 300; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            char probe;
            if (recv(client, &probe, 1, MSG_DONTWAIT) == 0)
                break;
        }
    if (fault == Fault::Reset) {
        const linger abortive{1, 0};
        setsockopt(client, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    return false;
}

void serveClient(int client)
{
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    int upstream = -1;
    std::string clientBuffer;
    std::string upstreamBuffer;
    std::string head;
    while (readHead(client, clientBuffer, head)) {
        const std::size_t firstSpace = head.find(' ');
        const std::string target = head.substr(firstSpace + 1, head.find(' ', firstSpace + 1) - firstSpace - 1);
        Faults faults;
        std::string path = target;
        if (target.rfind("/_f/", 0) == 0) {
            const std::size_t slash = target.find('/', 4);
            faults = parseFaults(target.substr(4, slash - 4));
            path = slash == std::string::npos ? "/" : target.substr(slash);
        }
        int seen;
        {
            std::lock_guard<std::mutex> hold(countsLock);
            seen = counts[target]++ - faults.from;
        }
        if (seen < 0)
            seen = 1 << 30; // before the faults begin: none of them
        const int delay = everyDelay + faults.delay;
        if (delay > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        if (seen < faults.busy) {
            const char busy[] = "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 1\r\nContent-Length: 0\r\n\r\n";
            if (!sendAll(client, busy, sizeof busy - 1))
                break;
            continue;
        }
        const Fault fault = seen < faults.reset ? Fault::Reset
                            : seen < faults.cut  ? Fault::Cut
                            : seen < faults.stall ? Fault::Stall
                            : seen < faults.shift ? Fault::Shift
                                                  : Fault::None;
        const std::string request = upstreamHead(head, path, faults.noRange);
        if (upstream < 0 || !sendAll(upstream, request.data(), request.size())) {
            if (upstream >= 0)
                close(upstream);
            upstreamBuffer.clear();
            upstream = connectUpstream();
            if (upstream < 0 || !sendAll(upstream, request.data(), request.size()))
                break;
        }
        if (!relayAnswer(client, upstream, upstreamBuffer, fault))
            break;
    }
    if (upstream >= 0)
        close(upstream);
    close(client);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: FaultProxy UPSTREAM_PORT [DELAY_MS]\n");
        return 2;
    }
    upstreamPort = std::atoi(argv[1]);
    everyDelay = argc > 2 ? std::atoi(argv[2]) : 0;
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 128) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("FaultProxy");
        return 1;
    }
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int client = accept(listener, nullptr, nullptr);
        if (client >= 0)
            std::thread(serveClient, client).detach();
    }
}
