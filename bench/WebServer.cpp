#include "WebServer.h"

#include "Datasets.h"
#include "Mount.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

std::string nginxProgram()
{
    for (const char* candidate : {"/usr/sbin/nginx", "/usr/bin/nginx"})
        if (access(candidate, X_OK) == 0)
            return candidate;
    return "";
}

// A port nothing listens on now (another program may still take it before nginx binds it).
int freePort()
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(listener);
    return port;
}

bool listening(int port)
{
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return connected;
}

// Starts `arguments` with standard output to `outputFd` (or /dev/null when -1) and standard error to
// `errorPath`; the child ends when the thread that started it does.
pid_t spawn(const std::vector<std::string>& arguments, int outputFd, const std::string& errorPath)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child != 0)
        return child;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int error = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int output = outputFd >= 0 ? outputFd : open("/dev/null", O_WRONLY);
    dup2(output, 1);
    dup2(error, 2);
    execv(argv[0], argv.data());
    _exit(127);
}

// TERM, then KILL after 5 s.
void stop(pid_t& child)
{
    if (child <= 0)
        return;
    kill(child, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (waitpid(child, nullptr, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    child = -1;
}

std::uint64_t countLines(const std::string& path)
{
    std::ifstream log(path, std::ios::binary);
    std::uint64_t lines = 0;
    char piece[65536];
    while (log.read(piece, sizeof piece) || log.gcount() > 0)
        for (std::streamsize i = 0; i < log.gcount(); ++i)
            lines += piece[i] == '\n';
    return lines;
}

} // namespace

std::string webServerUnavailable()
{
    if (nginxProgram().empty())
        return "no nginx (scripts/setup.sh installs nginx-light)";
    if (access(besideThisProgram("benchFaultProxy").c_str(), X_OK) != 0)
        return "no benchFaultProxy beside this benchmark";
    return "";
}

WebServer::WebServer(const std::string& root, const std::string& workDirectory)
    : root(root), work(workDirectory + "/web")
{
    const std::string program = nginxProgram();
    if (program.empty())
        throw std::runtime_error(webServerUnavailable());
    // nginx's workers run as another user when it is started by root.
    runQuietly("mkdir -p " + quoted(work + "/tmp") + " && chmod 755 " + quoted(root) + " " + quoted(work));
    bool started = false;
    for (int attempt = 0; attempt < 10 && !started; ++attempt)
        started = startNginx(program);
    if (!started)
        throw std::runtime_error("nginx did not start; see " + work + "/error.log");
    try {
        startProxy();
    } catch (...) {
        stop(nginx);
        throw;
    }
}

WebServer::~WebServer()
{
    stop(proxy);
    stop(nginx);
}

bool WebServer::startNginx(const std::string& program)
{
    nginxPort = freePort();
    const std::string& w = work;
    std::ofstream(w + "/nginx.conf")
        << "worker_processes 2;\nerror_log " << w << "/error.log;\npid " << w << "/nginx.pid;\n"
        << "events { worker_connections 1024; }\nhttp {\n    default_type application/octet-stream;\n"
        << "    access_log " << w << "/access.log;\n    sendfile on;\n    keepalive_requests 100000;\n"
        << "    client_body_temp_path " << w << "/tmp/body;\n    proxy_temp_path " << w << "/tmp/proxy;\n"
        << "    fastcgi_temp_path " << w << "/tmp/fastcgi;\n    uwsgi_temp_path " << w << "/tmp/uwsgi;\n"
        << "    scgi_temp_path " << w << "/tmp/scgi;\n"
        // nginx adds its own to 200 answers, and decides on 206 after add_header has run: so the
        // header goes on answers to ranged requests (an empty value adds none).
        << "    map $http_range $partial_ranges { \"\" \"\"; default bytes; }\n"
        << "    server {\n        listen 127.0.0.1:" << nginxPort << ";\n        root " << root << ";\n"
        << "        add_header Accept-Ranges $partial_ranges always;\n    }\n}\n";
    nginx = spawn({program, "-p", w, "-c", w + "/nginx.conf", "-g", "daemon off;"}, -1, w + "/error.log");
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (waitpid(nginx, nullptr, WNOHANG) != 0) {
            nginx = -1;
            return false;
        }
        if (listening(nginxPort))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop(nginx);
    return false;
}

void WebServer::startProxy()
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        throw std::runtime_error("no pipe for the fault proxy");
    proxy = spawn({besideThisProgram("benchFaultProxy"), std::to_string(nginxPort)}, pipeFds[1], work + "/proxy.log");
    close(pipeFds[1]);
    // Its first line is its port.
    std::string line;
    pollfd ready{pipeFds[0], POLLIN, 0};
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
        char piece[32];
        if (poll(&ready, 1, 100) <= 0)
            continue;
        const ssize_t got = read(pipeFds[0], piece, sizeof piece);
        if (got <= 0)
            break;
        line.append(piece, static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
    proxyPort = std::atoi(line.c_str());
    if (proxyPort <= 0) {
        stop(proxy);
        throw std::runtime_error("the fault proxy did not start");
    }
}

std::string WebServer::direct(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(nginxPort) + path;
}

std::string WebServer::delayed(const std::string& path, int delayMilliseconds) const
{
    return "http://127.0.0.1:" + std::to_string(proxyPort) + "/_f/delay" + std::to_string(delayMilliseconds) + path;
}

std::uint64_t WebServer::requests() const
{
    std::uint64_t lines = countLines(work + "/access.log");
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    for (int still = 0; still < 2 && Clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::uint64_t now = countLines(work + "/access.log");
        still = now == lines ? still + 1 : 0;
        lines = now;
    }
    return lines;
}

} // namespace bench
