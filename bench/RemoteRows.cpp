#include "RemoteRows.h"

#include "FreshMounts.h"
#include "Mount.h"
#include "Sequential.h"
#include "WebServer.h"

#include "filedriver/ArchiveInfo.h"
#include "filedriver/FileDriver.h"
#include "orva/WideText.h"

#include <curl/curl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace bench {
namespace {

std::unique_ptr<WebServer> webServer;

// The server, started at the first row that needs it; null (and the row skipped) when it cannot start.
WebServer* server(benchmark::State& state, const std::string& root)
{
    static std::string why = webServerUnavailable();
    if (!webServer && why.empty()) {
        try {
            // Nothing of this machine's own settings; no disk cache but where a row asks for one.
            for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
                unsetenv(name);
            setenv("GLEANER_NETRC", (root + "/no-netrc").c_str(), 1);
            setenv("GLEANER_HTTP_CACHE_MB", "0", 1);
            webServer = std::make_unique<WebServer>(root, root);
        } catch (const std::exception& error) {
            why = error.what();
        }
    }
    if (!why.empty())
        state.SkipWithError(why.c_str());
    return webServer.get();
}

std::wstring member(const std::string& archive, const std::string& name)
{
    return orva::fromNative(archive + "/" + name);
}

std::string fileName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// Every member read whole through the library, one handle held for the pass as catOurs does; the
// archive is let go after each pass, so that every pass opens it as the reference does.
bool readEveryMember(const Dataset& d, const std::string& archive)
{
    std::uint64_t total = 0;
    {
        const filedriver::FileDriver held(member(archive, d.names.front()), filedriver::OpenRead);
        for (const std::string& name : d.names)
            total += readMember(member(archive, name));
    }
    filedriver::releaseArchive(orva::fromNative(archive));
    return total == d.bytes.size();
}

void wholeOurs(benchmark::State& state, const Dataset& d, const std::string& url)
{
    for (auto _ : state) {
        bool good = false;
        try {
            good = readEveryMember(d, url);
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            break;
        }
        if (!good)
            state.SkipWithError("short read");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(d.bytes.size()));
}

void wholeDownloaded(benchmark::State& state, const Dataset& d, const std::string& url)
{
    const std::string local = d.directory + "/downloaded.mca";
    for (auto _ : state)
        if (!runQuietly("curl -sSf -o " + quoted(local) + " " + quoted(url)) || !readEveryMember(d, local)) {
            state.SkipWithError("curl's download or its read failed");
            break;
        }
    unlink(local.c_str());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(d.bytes.size()));
}

// The limit of a reader that waits for each read: one 4 KiB range request per read, on one kept
// connection.
void roundTrips(benchmark::State& state, const Dataset& d, const std::string& url)
{
    struct stat archive{};
    stat(d.archive.c_str(), &archive);
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
    for (auto _ : state)
        for (int r = 0; r < remoteRandomReads; ++r) {
            const std::uint64_t first = d.randomOffsets[static_cast<std::size_t>(r)] % static_cast<std::uint64_t>(archive.st_size - readSize);
            const std::string range = std::to_string(first) + "-" + std::to_string(first + readSize - 1);
            curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
            long status = 0;
            if (curl_easy_perform(curl) != CURLE_OK || curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK
                || status != 206) {
                state.SkipWithError("a range request failed");
                break;
            }
        }
    curl_easy_cleanup(curl);
    state.SetItemsProcessed(state.iterations() * remoteRandomReads);
}

std::string remoteMountsUnavailable()
{
    const std::string why = mountsUnavailable();
    if (!why.empty())
        return why;
    if (!runQuietly("command -v httpfs2") || !runQuietly("command -v fusermount"))
        return "httpfs2 or fusermount is missing (scripts/setup.sh bench)";
    return "";
}

// Mounts unmounted in the reverse order of their making.
// "mca mount" of the archive's URL; or squashfuse of the squashfs image in httpfs2's mount of its URL.
void mountRemote(MountStack& stack, const Dataset& d, const std::string& url, bool ours)
{
    if (ours) {
        stack.mounts.push_back(std::make_unique<Mount>(MountKind::Ours, url, d.directory));
        return;
    }
    stack.mounts.push_back(std::make_unique<Mount>(MountKind::Httpfs, url, d.directory));
    const std::string image = stack.mounts.back()->file(fileName(d.image));
    stack.mounts.push_back(std::make_unique<Mount>(MountKind::Squashfuse, image, d.directory));
}

// Each pass on fresh mounts (mounting and unmounting not timed), nothing cached: `work` is bytes a
// pass, or minus the reads a pass.
void onFreshRemoteMounts(benchmark::State& state, const Dataset& d, const std::string& url, bool ours,
                         const std::function<bool(const std::string& point)>& pattern, std::int64_t work)
{
    static const std::string why = remoteMountsUnavailable();
    if (!why.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    timeFreshMounts(state, [&](MountStack& stack) { mountRemote(stack, d, url, ours); }, pattern, work);
}

// The requests that `act` costs, as the counter "requests".
void countRequests(benchmark::State& state, const WebServer& web, const std::function<void()>& act)
{
    for (auto _ : state) {
        try {
            const std::uint64_t before = web.requests();
            act();
            state.counters["requests"] = static_cast<double>(web.requests() - before);
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
        }
    }
}

// The largest member, where a block in its middle lies far from what opening reads.
std::size_t largestMember(const Dataset& d)
{
    return static_cast<std::size_t>(std::max_element(d.sizes.begin(), d.sizes.end()) - d.sizes.begin());
}

void registerRequestRows(Dataset& d, const std::string& root, const AddBenchmark& add)
{
    const std::string at = d.name + "/remote_requests/";
    const std::string path = d.archive.substr(root.size());
    const auto once = [&](const std::string& name, const std::function<void(WebServer&)>& act) {
        add(at + name, [root, act](benchmark::State& state) {
            if (WebServer* web = server(state, root))
                countRequests(state, *web, [&] { act(*web); });
        })->Iterations(1)->Repetitions(1);
    };
    once("open", [path](WebServer& web) {
        const std::string url = web.direct(path);
        { const filedriver::ArchiveInfo archive(orva::fromNative(url)); }
        filedriver::releaseArchive(orva::fromNative(url));
    });
    once("open_first_4k", [&d, path](WebServer& web) {
        const std::string url = web.direct(path);
        std::vector<std::uint8_t> buffer(readSize);
        {
            filedriver::FileDriver file(member(url, d.names[largestMember(d)]), filedriver::OpenRead);
            file.read(buffer.data(), readSize);
        }
        filedriver::releaseArchive(orva::fromNative(url));
    });
    // nginx logs a request when its answer ends, and the open's answer may go on until the read: the
    // read's requests are those of the open and the read, less those of the open alone.
    add(at + "random_block", [&d, root, path](benchmark::State& state) {
        WebServer* web = server(state, root);
        if (!web)
            return;
        const std::string url = web->direct(path);
        const std::size_t largest = largestMember(d);
        const auto openAndRead = [&](bool reading) {
            std::vector<std::uint8_t> buffer(readSize);
            {
                filedriver::FileDriver file(member(url, d.names[largest]), filedriver::OpenRead);
                file.seek(static_cast<std::int32_t>(d.sizes[largest] / 2), filedriver::SeekBegin);
                if (reading)
                    file.read(buffer.data(), readSize);
            }
            filedriver::releaseArchive(orva::fromNative(url));
        };
        std::uint64_t opening = web->requests();
        openAndRead(false);
        opening = web->requests() - opening;
        countRequests(state, *web, [&] { openAndRead(true); });
        state.counters["requests"] -= static_cast<double>(opening);
    })->Iterations(1)->Repetitions(1);
    // Two runs of the random reads, each on a fresh mount, sharing a disk cache; the second one's
    // requests, its mount's included.
    add(at + "disk_cache_second_run", [&d, root, path](benchmark::State& state) {
        static const std::string why = mountsUnavailable();
        WebServer* web = why.empty() ? server(state, root) : nullptr;
        if (!web) {
            if (!why.empty())
                state.SkipWithError(why.c_str());
            return;
        }
        const std::string url = web->direct(path);
        const auto run = [&] {
            const Mount mount(MountKind::Ours, url, d.directory);
            if (!readRandomly(d, mount.file(""), remoteRandomReads))
                throw std::runtime_error("short read");
        };
        setenv("GLEANER_HTTP_CACHE_DIR", (d.directory + "/http-cache").c_str(), 1);
        setenv("GLEANER_HTTP_CACHE_MB", "1024", 1);
        try {
            run();
            countRequests(state, *web, run);
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
        }
        setenv("GLEANER_HTTP_CACHE_MB", "0", 1);
    })->Iterations(1)->Repetitions(1);
}

} // namespace

void registerRemoteRows(Dataset& d, const std::string& workDirectory, const AddBenchmark& add)
{
    const std::string root = workDirectory;
    const std::string archive = d.archive.substr(root.size());
    const std::string image = d.image.substr(root.size());
    const std::string at = d.name + "/";
    const auto bytes = static_cast<std::int64_t>(d.bytes.size());
    const struct {
        const char* figure;
        bool delayed;
    } whole[] = {{"remote_whole_loopback", false}, {"remote_whole_delayed", true}};
    // A pass takes 0.1 s and shares two processors with the server and the proxy: each repetition
    // averages several passes, as the local rows' do.
    for (const auto& [figure, delayed] : whole) {
        const bool slow = delayed;
        add(at + figure + "/ours", [&d, root, archive, slow](benchmark::State& s) {
            if (WebServer* web = server(s, root))
                wholeOurs(s, d, slow ? web->delayed(archive, remoteDelayMilliseconds) : web->direct(archive));
        })->MinTime(0.5);
        add(at + figure + "/curl", [&d, root, archive, slow](benchmark::State& s) {
            if (WebServer* web = server(s, root))
                wholeDownloaded(s, d, slow ? web->delayed(archive, remoteDelayMilliseconds) : web->direct(archive));
        })->MinTime(0.5);
    }
    // Mount rows at 20 ms a request: one pass each, the delay dominating any noise.
    const auto mounted = [&](const std::string& name, bool ours, std::function<bool(const std::string&)> pattern,
                             std::int64_t work) {
        const std::string path = ours ? archive : image;
        add(at + name, [&d, root, path, ours, pattern, work](benchmark::State& s) {
            if (WebServer* web = server(s, root))
                onFreshRemoteMounts(s, d, web->delayed(path, remoteDelayMilliseconds), ours, pattern, work);
        })->Iterations(1)->Repetitions(1);
    };
    const auto randomly = [&d](int threads) {
        return [&d, threads](const std::string& point) { return readRandomly(d, point, remoteRandomReads, threads); };
    };
    const auto sequentially = [&d](const std::string& point) { return readSequentially(d, point); };
    mounted("remote_mount_random/ours", true, randomly(1), -remoteRandomReads);
    add(at + "remote_mount_random/round_trip", [&d, root, archive](benchmark::State& s) {
        if (WebServer* web = server(s, root))
            roundTrips(s, d, web->delayed(archive, remoteDelayMilliseconds));
    })->Iterations(1)->Repetitions(1);
    mounted("remote_mount_random8/ours", true, randomly(8), -remoteRandomReads);
    mounted("remote_mount_random8/httpfs2_squashfuse", false, randomly(8), -remoteRandomReads);
    mounted("remote_mount_seq/ours", true, sequentially, bytes);
    mounted("remote_mount_seq/httpfs2_squashfuse", false, sequentially, bytes);
    registerRequestRows(d, root, add);
}

void stopRemoteServer()
{
    webServer.reset();
}

} // namespace bench
