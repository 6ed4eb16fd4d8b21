#pragma once
// A web server for the remote rows: nginx on 127.0.0.1 at a free port, serving one directory with a
// configuration of its own, and the tests' fault proxy (FaultProxy, built beside this benchmark) in
// front of it for a delay per request. Both are stopped at destruction, and by the kernel if this
// process dies first (they are told to end with the thread that started them: start it from the
// thread that outlives them). A server that cannot start throws.
// Answers to ranged requests carry "Accept-Ranges: bytes" too, which nginx sends on 200 answers only:
// httpfs2 refuses a 206 answer without it.

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace bench {

class WebServer {
public:
    // Serves `root` (made readable to all, as nginx's workers may run as another user; what lies below it
    // must be too), with its logs and configuration in `workDirectory`.
    WebServer(const std::string& root, const std::string& workDirectory);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // The URL of `path` (absolute, below the root): straight to nginx, or through the proxy with each
    // request held `delayMilliseconds` first.
    std::string direct(const std::string& path) const;
    std::string delayed(const std::string& path, int delayMilliseconds) const;

    // Requests nginx has answered so far, from its access log, once the log has stopped growing
    // (nginx writes a line after its answer has gone).
    std::uint64_t requests() const;

private:
    std::string root, work;
    int nginxPort = 0, proxyPort = 0;
    pid_t nginx = -1, proxy = -1;

    bool startNginx(const std::string& program);
    void startProxy();
};

// Empty when this machine can run the remote rows, else why not.
std::string webServerUnavailable();

} // namespace bench
