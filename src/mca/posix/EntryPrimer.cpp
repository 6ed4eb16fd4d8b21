#include "posix/EntryPrimer.h"

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace mca {
namespace {

void listDirectory(const std::string& path, std::size_t most)
{
    DIR* directory = opendir(path.c_str());
    if (!directory)
        return;
    for (std::size_t listed = 0; listed < most && readdir(directory); ++listed) {
    }
    closedir(directory);
}

// Serves one request, or none when `wake` says the listing has ended. False once the session can
// serve no more (unmounted, or its device failed).
bool serveOne(fuse_session* session, int wake, fuse_buf& request)
{
    pollfd ready[2] = {{fuse_session_fd(session), POLLIN, 0}, {wake, POLLIN, 0}};
    if (poll(ready, 2, -1) < 0)
        return errno == EINTR;
    if (ready[1].revents)
        return false;
    if (ready[0].revents & (POLLERR | POLLHUP | POLLNVAL))
        return false;
    const int got = fuse_session_receive_buf(session, &request);
    if (got == -EINTR || got == -EAGAIN)
        return true;
    if (got <= 0)
        return false;
    fuse_session_process_buf(session, &request);
    return true;
}

} // namespace

void primeEntries(fuse_session* session, const std::string& mountPoint, std::size_t most)
{
    const int wake = eventfd(0, EFD_CLOEXEC);
    if (wake < 0)
        return;
    std::thread lister;
    // The listing thread takes no signals: they are the serving thread's, which ends the session.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    try {
        lister = std::thread([&] {
            listDirectory(mountPoint, most);
            const std::uint64_t one = 1;
            (void)!write(wake, &one, sizeof one);
        });
    } catch (const std::system_error&) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        close(wake);
        return;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    // Every request the listing makes is served here, so that it always ends, also once a signal has
    // asked the session to end.
    fuse_buf request{};
    while (serveOne(session, wake, request)) {
    }
    std::free(request.mem);
    lister.join();
    close(wake);
}

} // namespace mca
