#pragma once
// A file on a web server, read at any offset: what the library's readers of stored bytes use for an
// http:// or https:// path.
//
// Opening costs one request (see RemoteSource.h for the request rules), which asks for the first
// openBytes + openTail bytes: open() returns once the first openBytes are in (they give the size and
// the validator), and the rest of that answer goes on coming, on a thread of the file, kept at most
// tailReach ahead of the furthest read, for a reader that reads on in order from there, as an archive's
// reader of its first member does: it then waits for no second round trip. A read or hint elsewhere
// (more than tailReach past what has come), no reader's read within readerWait of the answer being held
// back, the disk cache holding what follows, or a break in the answer ends it; its pages not come yet
// are then asked for as any others. The file is held in pages of 64 KiB:
// - read() fetches the pages of its span that are neither in memory nor in the disk cache, from the
//   first missing one to the last, in one request, so a read of uncached bytes costs exactly one;
// - a reader going in order (up to 4 such streams at once; a read continues a stream when it starts
//   anywhere between the stream's first read and 64 KiB past its furthest one, as readers decoding on
//   several threads read out of turn) is read ahead from its second read that misses or reaches a page
//   fetched ahead, in the same round trip as a miss: firstWindow ahead of its furthest read, then
//   maxWindow, in runs growing from 256 KiB right ahead of it to a maxInFlight-th of the window, up to
//   maxInFlight requests in flight on helper threads of the file. willNeed() counts as a read, so a
//   reader that hints its way in order is read ahead too;
// - memory: a file holds at most fileMemory of pages (those used longest ago go first), and read-ahead
//   stops while all remote files of the process together hold processMemory; while its opening answer
//   comes, a file also keeps a buffer of openBytes + openTail for it;
// - pages fetched are kept in the disk cache (DiskCache.h) under the URL without its query, the
//   validator and the size, so a later run reads them without requests.
// A file found changed on the server stays failed: every later read reports Changed.
//
// Thread-safe: read() from several threads at once. `lock` guards the pages, the streams and the
// read-ahead queue; no request and no disk access is made while it is held.
// Fork: a child forked while files are open (a daemon going to the background) finds every file's lock
// free (they are all taken around the fork, the list of open files' lock first); there the file's
// threads, which stay in the parent, are let go and what they were fetching is asked for anew.

#include "filedriver/remote/RemoteError.h"
#include "filedriver/remote/RemoteSettings.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace filedriver::remote {

class DiskCache;
class RemoteSource;

class RemoteFile {
public:
    static constexpr std::size_t pageSize = 64 * 1024;
    static constexpr std::size_t openBytes = 64 * 1024;
    static constexpr std::uint64_t firstWindow = 8 * 1024 * 1024;
    static constexpr std::uint64_t openTail = firstWindow;
    static constexpr std::uint64_t tailReach = 4 * 1024 * 1024;
    static constexpr std::chrono::milliseconds readerWait{50};
    static constexpr std::uint64_t maxWindow = 16 * 1024 * 1024;
    static constexpr std::uint64_t leastChunk = 256 * 1024;
    static constexpr unsigned maxInFlight = 8;
    static constexpr std::uint64_t fileMemory = 2 * maxWindow + 2 * 1024 * 1024;
    static constexpr std::uint64_t processMemory = 128 * 1024 * 1024;

    // `url` is UTF-8. nullptr with `error` set when the URL, a setting or the first request fails.
    static std::unique_ptr<RemoteFile> open(std::string_view url, RemoteError& error);
    static std::unique_ptr<RemoteFile> open(std::string_view url, const RemoteSettings& settings, RemoteError& error);
    ~RemoteFile();
    RemoteFile(const RemoteFile&) = delete;
    RemoteFile& operator=(const RemoteFile&) = delete;

    std::uint64_t size() const;
    // The URL without credentials and query, for messages.
    const std::string& displayName() const;
    // What tells this version of the file from others ("etag ...", "modified ..."); empty when the
    // server gave neither.
    std::string validator() const;
    // Reads [offset, offset + length), which must lie within size(), into `destination`.
    bool read(std::uint64_t offset, void* destination, std::size_t length, RemoteError& error);
    // The bytes of [offset, offset + length) are about to be read: the pages of up to maxWindow of them
    // that are not held are fetched on a helper thread, as read-ahead is. Only a hint: nothing fails,
    // and nothing is asked for while the process holds processMemory.
    void willNeed(std::uint64_t offset, std::uint64_t length);
    // Off while an archive's index is read, whose reads tell nothing of the reads to come; on again,
    // read-ahead starts afresh from the next reader in order. On when opened.
    void setReadAhead(bool on);
    // The disk cache's folder for this file version, empty when it has none (for tests and tools).
    std::string cacheFolder() const;

    // What this file holds in memory now; never more than fileMemory once a read or fetch is done.
    std::uint64_t bytesHeld() const;
    // What all remote files of the process hold in memory now.
    static std::uint64_t processBytesHeld();

private:
    struct Page {
        std::vector<char> bytes;
        bool ready = false;
        bool ahead = false; // fetched by read-ahead and not read yet
        std::uint64_t lastUse = 0;
    };
    struct Stream {
        std::uint64_t begin = 0; // where its first read started
        std::uint64_t next = 0;  // where the furthest read ended
        unsigned reads = 0;
        std::uint64_t window = 0;
        std::uint64_t aheadEnd = 0; // read-ahead asked for up to here
        std::uint64_t lastUse = 0;
    };
    using PageList = std::vector<std::uint64_t>;
    struct Job {
        PageList pages;
        bool ahead = false; // read ahead, rather than hinted by the reader
    };

    // The opening answer, which goes on past the opening bytes while a reader in order wants it.
    // Guarded by `lock`, but `thread`, which only the opener and the destructor touch.
    struct Tail {
        enum class State { Opening, Open, Failed } state = State::Opening;
        RemoteError failure;    // when Failed
        std::uint64_t next = 0; // the first page not taken yet
        std::uint64_t end = 0;  // the pages claimed for it end here
        bool active = false;    // pages still to come
        bool readerCame = false; // a read or hint since the index was read
        bool stop = false;
        std::thread thread;
    };

    RemoteFile(std::unique_ptr<RemoteSource> source, std::string cacheKey);
    bool startOpening(RemoteError& error);
    void runOpening();
    // On the opening thread: `end` bytes of `bytes` are in. Whether to go on.
    bool tookOpeningBytes(const char* bytes, std::uint64_t end);
    // The opening bytes are in: the disk cache, their pages, and the claim of the pages to come.
    void becomeOpen(std::uint64_t end);
    void takeTailPages(const char* bytes, std::uint64_t end);
    // Under `lock`: the pages claimed for the tail and not come are given back to readers.
    void endTail();
    // Under `lock`: a read or hint of [offset, end) ends the tail if it lies elsewhere, and lets it on.
    void tailSeesRead(std::uint64_t offset, std::uint64_t end);
    std::size_t pageLength(std::uint64_t page) const;
    // A page's bytes, copied from `bytes` and kept in the disk cache.
    std::vector<char> keepPage(std::uint64_t page, const char* bytes);
    // Under `lock`: a claimed page becomes ready with `bytes`, counted as held.
    void fillPage(std::uint64_t page, std::vector<char> bytes, bool ahead);
    bool readPages(std::uint64_t firstPage, std::uint64_t lastPage, std::uint64_t offset, char* destination,
        std::size_t length, RemoteError& error);
    // Fetches pages claimed (entered as not ready) by the caller, from the disk cache or in one request.
    bool loadClaimed(const PageList& claimed, bool ahead, RemoteError& error);
    bool fetchMissing(const PageList& missing, std::map<std::uint64_t, std::vector<char>>& loaded, RemoteError& error);
    // Under `lock`: enters the pages of [first, last] that are absent as not ready, and lists them.
    PageList claimAbsent(std::uint64_t first, std::uint64_t last);
    // Under `lock`: the stream that a read at `offset` continues, or end().
    std::vector<Stream>::iterator streamOf(std::uint64_t offset);
    // Under `lock`.
    void noteRead(std::uint64_t offset, std::size_t length, bool missed, bool reachedAhead);
    void planReadAhead(Stream& stream);
    // Under `lock`: hands claimed pages to the helpers, starting one where all are busy.
    void queueJob(PageList claimed, bool ahead);
    void evictOverflow();
    void runHelper();
    // Under `lock`: in a child forked since, the parent's threads let go and their pages given back.
    void adoptAfterFork();
    // Stops and joins the file's threads; reads still work after, on the reader's own thread.
    void endThreads();
    static void endThreadsAtExit();
    static void beforeFork();
    // Lets go of what beforeFork took; in the child, marks every file forked.
    static void afterFork(bool inChild);
    static void afterForkInParent();
    static void afterForkInChild();

    const std::unique_ptr<RemoteSource> source;
    const std::string cacheKey;
    // Made by the opening thread before the file is open; read without `lock` after.
    std::unique_ptr<DiskCache> cache;

    mutable std::mutex lock;
    // On the heap, so that a child forked while threads of the parent waited on them can leave them be:
    // destroyed, they would wait for those threads.
    std::unique_ptr<std::condition_variable> pageDone = std::make_unique<std::condition_variable>(); // a claimed page became ready or was given up
    std::unique_ptr<std::condition_variable> jobWaiting = std::make_unique<std::condition_variable>();
    std::unique_ptr<std::condition_variable> tailRoom = std::make_unique<std::condition_variable>(); // the reads went on, or the tail is to end
    std::uint64_t readFrontier = 0;   // where the furthest read or hint ends
    std::map<std::uint64_t, Page> pages;
    std::uint64_t held = 0;
    std::uint64_t useClock = 0;
    RemoteError lasting; // Changed, once seen
    Tail tail;
    std::vector<Stream> streams;
    bool readAheadOn = true;
    std::deque<Job> jobs;
    std::vector<std::thread> helpers;
    unsigned idleHelpers = 0;
    bool stopping = false;
    bool forked = false; // this is a child forked since the threads started

    static std::atomic<std::uint64_t> processHeld;
};

} // namespace filedriver::remote
