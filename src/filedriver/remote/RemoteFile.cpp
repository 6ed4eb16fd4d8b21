#include "filedriver/remote/RemoteFile.h"

#include "filedriver/remote/DiskCache.h"
#include "filedriver/remote/HttpConnection.h"
#include "filedriver/remote/ProcessForks.h"
#include "filedriver/remote/RemoteSource.h"
#include "filedriver/remote/Url.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

namespace filedriver::remote {
namespace {

constexpr std::size_t maxStreams = 4;
constexpr std::uint64_t maxSpanPages = RemoteFile::maxWindow / RemoteFile::pageSize;

// Never destroyed: files may close in other objects' destructors at exit, after this file's statics.
struct OpenFiles {
    std::mutex lock;
    std::set<RemoteFile*> files; // guarded by lock
};
OpenFiles& openFiles()
{
    static OpenFiles* const registry = new OpenFiles;
    return *registry;
}

} // namespace

std::atomic<std::uint64_t> RemoteFile::processHeld{0};

std::unique_ptr<RemoteFile> RemoteFile::open(std::string_view url, RemoteError& error)
{
    const auto settings = RemoteSettings::fromEnvironment(error);
    if (!settings)
        return nullptr;
    return open(url, *settings, error);
}

std::unique_ptr<RemoteFile> RemoteFile::open(std::string_view text, const RemoteSettings& settings, RemoteError& error)
{
    const auto url = parseUrl(text);
    if (!url) {
        error.set(RemoteErrorKind::Other, "not a well-formed http or https URL");
        return nullptr;
    }
    std::unique_ptr<RemoteFile> file(new RemoteFile(RemoteSource::create(*url, settings), url->cacheKey()));
    if (!file->startOpening(error))
        return nullptr;
    return file;
}

RemoteFile::RemoteFile(std::unique_ptr<RemoteSource> source, std::string cacheKey)
    : source(std::move(source)), cacheKey(std::move(cacheKey))
{
    static std::once_flag processSet;
    std::call_once(processSet, [] {
        setForkHandlers(beforeFork, afterForkInParent, afterForkInChild);
        // Files still open at exit (archives a program keeps) end their threads before the client
        // library ends: a thread of theirs ending after it would leave its per-thread state behind.
        HttpConnection::prepareProcess();
        std::atexit(endThreadsAtExit);
    });
    std::lock_guard<std::mutex> hold(openFiles().lock);
    openFiles().files.insert(this);
}

RemoteFile::~RemoteFile()
{
    {
        std::lock_guard<std::mutex> hold(openFiles().lock);
        openFiles().files.erase(this);
    }
    endThreads();
    processHeld -= held;
}

void RemoteFile::endThreads()
{
    {
        std::lock_guard<std::mutex> hold(lock);
        adoptAfterFork();
        stopping = true;
        tail.stop = true;
        jobs.clear();
    }
    jobWaiting->notify_all();
    tailRoom->notify_all();
    if (tail.thread.joinable())
        tail.thread.join();
    for (std::thread& helper : helpers)
        helper.join();
    std::lock_guard<std::mutex> hold(lock);
    helpers.clear();
    idleHelpers = 0;
}

void RemoteFile::endThreadsAtExit()
{
    OpenFiles& open = openFiles();
    std::lock_guard<std::mutex> hold(open.lock);
    for (RemoteFile* file : open.files)
        file->endThreads();
}

bool RemoteFile::startOpening(RemoteError& error)
{
    tail.thread = std::thread([this] { runOpening(); });
    std::unique_lock<std::mutex> hold(lock);
    pageDone->wait(hold, [this] { return tail.state != Tail::State::Opening; });
    if (tail.state == Tail::State::Failed) {
        error = tail.failure;
        return false;
    }
    return true;
}

void RemoteFile::runOpening()
{
    constexpr std::size_t length = openBytes + openTail;
    // Not zero-filled first: the answer overwrites what it brings, and the rest is never read.
    const auto bytes = std::make_unique_for_overwrite<char[]>(length);
    const std::function<bool(std::uint64_t)> arrived = [&](std::uint64_t end) {
        return tookOpeningBytes(bytes.get(), end);
    };
    RemoteError failure;
    const bool done = source->open(openBytes, length, bytes.get(), arrived, failure);
    if (done && tail.state == Tail::State::Opening) { // an empty file: no byte came
        becomeOpen(0);
        std::lock_guard<std::mutex> hold(lock);
        tail.state = Tail::State::Open;
    }
    std::lock_guard<std::mutex> hold(lock);
    if (tail.state == Tail::State::Opening) {
        tail.state = Tail::State::Failed;
        tail.failure = failure;
    } else if (!done && failure.kind == RemoteErrorKind::Changed) {
        lasting = failure;
    }
    endTail();
    pageDone->notify_all();
}

bool RemoteFile::tookOpeningBytes(const char* bytes, std::uint64_t end)
{
    // Only this thread changes the state from Opening.
    if (tail.state == Tail::State::Opening) {
        if (end < std::min<std::uint64_t>(size(), openBytes))
            return true;
        becomeOpen(end);
        takeTailPages(bytes, end);
        std::lock_guard<std::mutex> hold(lock);
        tail.state = Tail::State::Open;
        pageDone->notify_all();
    } else {
        takeTailPages(bytes, end);
    }
    // Held back while no reader comes near: the server then waits too, and a reader elsewhere ends the
    // answer having cost little more than its opening bytes. A file nobody reads from soon (opened to
    // look at its index, or by a reader still to come) has the answer end, so that the server and its
    // log see it end with the open.
    std::unique_lock<std::mutex> hold(lock);
    const auto mayGoOn = [this] { return tail.stop || !tail.active || tail.next * pageSize <= readFrontier + tailReach; };
    if (!tail.readerCame && !tailRoom->wait_for(hold, readerWait, mayGoOn) && !tail.readerCame)
        endTail();
    tailRoom->wait(hold, mayGoOn);
    // An answer about to end by itself is let end, so that its connection is kept.
    const bool more = end < std::min<std::uint64_t>(size(), openBytes + openTail);
    return !more || (tail.active && !tail.stop);
}

void RemoteFile::becomeOpen(std::uint64_t end)
{
    const std::string validator = source->validatorText();
    const RemoteSettings& settings = source->settings();
    if (!validator.empty())
        cache = DiskCache::open(settings.cacheDirectory, settings.cacheBytes,
            cacheKey + "\n" + validator + "\n" + std::to_string(size()) + "\n" + std::to_string(pageSize));
    const std::uint64_t filePages = (size() + pageSize - 1) / pageSize;
    const std::uint64_t openingPages = std::min<std::uint64_t>(filePages, openBytes / pageSize);
    std::uint64_t lastPage = std::min<std::uint64_t>(filePages, (openBytes + openTail) / pageSize);
    // What the disk cache holds after the opening bytes is read from it, not from the network; the page
    // that tells is kept.
    std::vector<char> probe;
    if (lastPage > openingPages && cache) {
        probe.resize(pageLength(openingPages));
        if (cache->load(openingPages, probe.data(), probe.size()))
            lastPage = openingPages;
        else
            probe.clear();
    }
    // Whatever came past the opening pages is kept, tail or not.
    lastPage = std::max<std::uint64_t>(lastPage, std::min<std::uint64_t>(end / pageSize, filePages));
    std::lock_guard<std::mutex> hold(lock);
    tail.next = 0;
    tail.end = lastPage;
    if (lastPage > 0)
        claimAbsent(0, lastPage - 1);
    tail.active = lastPage > 0;
    tail.stop = lastPage == openingPages;
    if (!probe.empty() && pages.find(openingPages) == pages.end())
        fillPage(openingPages, std::move(probe), false);
}

void RemoteFile::takeTailPages(const char* bytes, std::uint64_t end)
{
    std::uint64_t from = 0;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!tail.active)
            return;
        from = tail.next;
    }
    std::uint64_t to = from;
    while (to < tail.end && to * pageSize + pageLength(to) <= end)
        ++to;
    if (to == from)
        return;
    std::vector<std::vector<char>> taken;
    for (std::uint64_t page = from; page < to; ++page)
        taken.push_back(keepPage(page, bytes + page * pageSize));
    std::lock_guard<std::mutex> hold(lock);
    if (!tail.active) // ended meanwhile: its pages are readers' now
        return;
    for (std::uint64_t page = from; page < to; ++page)
        fillPage(page, std::move(taken[page - from]), page * pageSize >= openBytes);
    tail.next = to;
    tail.active = to < tail.end;
    evictOverflow();
    pageDone->notify_all();
}

void RemoteFile::endTail()
{
    tail.stop = true;
    tailRoom->notify_all();
    if (!tail.active)
        return;
    for (std::uint64_t page = tail.next; page < tail.end; ++page) {
        const auto entry = pages.find(page);
        if (entry != pages.end() && !entry->second.ready)
            pages.erase(entry);
    }
    tail.active = false;
    pageDone->notify_all();
}

void RemoteFile::adoptAfterFork()
{
    if (!forked)
        return;
    forked = false;
    for (auto* condition : {&pageDone, &jobWaiting, &tailRoom}) {
        (void)condition->release();
        *condition = std::make_unique<std::condition_variable>();
    }
    endTail();
    if (tail.thread.joinable())
        tail.thread.detach();
    for (std::thread& helper : helpers)
        helper.detach();
    helpers.clear();
    idleHelpers = 0;
    jobs.clear();
    for (auto page = pages.begin(); page != pages.end();)
        page = page->second.ready ? std::next(page) : pages.erase(page);
    pageDone->notify_all();
}

void RemoteFile::beforeFork()
{
    OpenFiles& open = openFiles();
    open.lock.lock();
    for (RemoteFile* file : open.files) {
        file->lock.lock();
        file->source->holdForFork();
    }
}

void RemoteFile::afterFork(bool inChild)
{
    OpenFiles& open = openFiles();
    for (RemoteFile* file : open.files) {
        if (inChild)
            file->forked = true;
        file->source->releaseAfterFork();
        file->lock.unlock();
    }
    open.lock.unlock();
}

void RemoteFile::afterForkInParent()
{
    afterFork(false);
}

void RemoteFile::afterForkInChild()
{
    afterFork(true);
}

void RemoteFile::tailSeesRead(std::uint64_t offset, std::uint64_t end)
{
    // An archive's index is read where it lies: only a reader's reads tell where the reading goes.
    if (tail.active && readAheadOn) {
        const std::uint64_t page = offset / pageSize;
        const bool near = page < tail.next || (page < tail.end && (page - tail.next) * pageSize <= tailReach);
        if (!near)
            endTail();
    }
    tail.readerCame = tail.readerCame || readAheadOn;
    if (end > readFrontier) {
        readFrontier = end;
        if (tail.active)
            tailRoom->notify_all();
    }
}

std::uint64_t RemoteFile::size() const
{
    return source->size();
}

const std::string& RemoteFile::displayName() const
{
    return source->displayName();
}

std::string RemoteFile::validator() const
{
    return source->validatorText();
}

std::string RemoteFile::cacheFolder() const
{
    if (!cache)
        return std::string();
    const std::u8string text = cache->directory().u8string();
    return std::string(text.begin(), text.end());
}

std::uint64_t RemoteFile::bytesHeld() const
{
    std::lock_guard<std::mutex> hold(lock);
    return held;
}

std::uint64_t RemoteFile::processBytesHeld()
{
    return processHeld;
}

std::size_t RemoteFile::pageLength(std::uint64_t page) const
{
    return static_cast<std::size_t>(std::min<std::uint64_t>(pageSize, size() - page * pageSize));
}

bool RemoteFile::read(std::uint64_t offset, void* destination, std::size_t length, RemoteError& error)
{
    if (offset > size() || length > size() - offset) {
        error.set(RemoteErrorKind::Other, displayName() + ": a read past the end of the file");
        return false;
    }
    char* out = static_cast<char*>(destination);
    const std::uint64_t end = offset + length;
    for (std::uint64_t at = offset; at < end;) {
        const std::uint64_t firstPage = at / pageSize;
        const std::uint64_t lastPage = std::min((end - 1) / pageSize, firstPage + maxSpanPages - 1);
        const std::uint64_t spanEnd = std::min(end, (lastPage + 1) * pageSize);
        if (!readPages(firstPage, lastPage, at, out, static_cast<std::size_t>(spanEnd - at), error))
            return false;
        out += spanEnd - at;
        at = spanEnd;
    }
    return true;
}

bool RemoteFile::readPages(std::uint64_t firstPage, std::uint64_t lastPage, std::uint64_t offset, char* destination,
    std::size_t length, RemoteError& error)
{
    std::unique_lock<std::mutex> hold(lock);
    adoptAfterFork();
    tailSeesRead(offset, offset + length);
    bool noted = false;
    for (;;) {
        if (lasting) {
            error = lasting;
            return false;
        }
        const PageList claimed = claimAbsent(firstPage, lastPage);
        if (!claimed.empty()) {
            // Noted before the answer, so that read-ahead is asked for in the same round trip.
            if (!noted)
                noteRead(offset, length, true, false);
            noted = true;
            hold.unlock();
            if (!loadClaimed(claimed, false, error))
                return false;
            hold.lock();
            continue;
        }
        bool waiting = false;
        for (std::uint64_t page = firstPage; page <= lastPage && !waiting; ++page)
            waiting = !pages[page].ready;
        if (waiting) {
            pageDone->wait(hold);
            continue;
        }
        break;
    }
    bool reachedAhead = false;
    for (std::uint64_t page = firstPage; page <= lastPage; ++page) {
        Page& entry = pages[page];
        const std::uint64_t pageStart = page * pageSize;
        const std::uint64_t from = std::max(offset, pageStart);
        const std::uint64_t to = std::min<std::uint64_t>(offset + length, pageStart + entry.bytes.size());
        std::memcpy(destination + (from - offset), entry.bytes.data() + (from - pageStart), static_cast<std::size_t>(to - from));
        entry.lastUse = ++useClock;
        reachedAhead = reachedAhead || entry.ahead;
        entry.ahead = false;
    }
    if (!noted)
        noteRead(offset, length, false, reachedAhead);
    return true;
}

void RemoteFile::setReadAhead(bool on)
{
    std::lock_guard<std::mutex> hold(lock);
    readAheadOn = on;
    streams.clear();
}

void RemoteFile::willNeed(std::uint64_t offset, std::uint64_t length)
{
    if (offset >= size() || length == 0)
        return;
    const std::uint64_t end = std::min({size(), offset + length, offset + maxWindow});
    std::lock_guard<std::mutex> hold(lock);
    adoptAfterFork();
    if (lasting || processHeld + (end - offset) > processMemory)
        return;
    tailSeesRead(offset, end);
    // A hint is a read to come: a reader that hints its way in order is read ahead, past the hint, as
    // one that reads.
    PageList claimed = claimAbsent(offset / pageSize, (end - 1) / pageSize);
    const bool missed = !claimed.empty();
    if (missed)
        queueJob(std::move(claimed), false);
    noteRead(offset, static_cast<std::size_t>(end - offset), missed, false);
}

RemoteFile::PageList RemoteFile::claimAbsent(std::uint64_t first, std::uint64_t last)
{
    PageList claimed;
    for (std::uint64_t page = first; page <= last; ++page)
        if (pages.find(page) == pages.end()) {
            pages[page];
            claimed.push_back(page);
        }
    return claimed;
}

bool RemoteFile::loadClaimed(const PageList& claimed, bool ahead, RemoteError& error)
{
    std::map<std::uint64_t, std::vector<char>> loaded;
    PageList missing;
    for (std::uint64_t page : claimed) {
        if (!cache) {
            missing.push_back(page);
            continue;
        }
        std::vector<char> bytes(pageLength(page));
        if (cache->load(page, bytes.data(), bytes.size()))
            loaded[page] = std::move(bytes);
        else
            missing.push_back(page);
    }
    const bool fetched = missing.empty() || fetchMissing(missing, loaded, error);
    std::lock_guard<std::mutex> hold(lock);
    for (std::uint64_t page : claimed) {
        auto bytes = loaded.find(page);
        if (!fetched || bytes == loaded.end()) {
            pages.erase(page);
            continue;
        }
        fillPage(page, std::move(bytes->second), ahead);
    }
    if (!fetched && error.kind == RemoteErrorKind::Changed)
        lasting = error;
    evictOverflow();
    pageDone->notify_all();
    return fetched;
}

bool RemoteFile::fetchMissing(const PageList& missing, std::map<std::uint64_t, std::vector<char>>& loaded,
    RemoteError& error)
{
    const std::uint64_t start = missing.front() * pageSize;
    const std::uint64_t end = missing.back() * pageSize + pageLength(missing.back());
    // Not zero-filled first: up to 16 MiB that the answer overwrites at once.
    const auto span = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(end - start));
    if (!source->fetch(start, static_cast<std::size_t>(end - start), span.get(), error))
        return false;
    for (std::uint64_t page : missing)
        loaded[page] = keepPage(page, span.get() + (page * pageSize - start));
    return true;
}

std::vector<char> RemoteFile::keepPage(std::uint64_t page, const char* bytes)
{
    std::vector<char> kept(bytes, bytes + static_cast<std::ptrdiff_t>(pageLength(page)));
    if (cache)
        cache->store(page, kept.data(), kept.size());
    return kept;
}

void RemoteFile::fillPage(std::uint64_t page, std::vector<char> bytes, bool ahead)
{
    Page& entry = pages[page];
    entry.bytes = std::move(bytes);
    entry.ready = true;
    entry.ahead = ahead;
    entry.lastUse = ++useClock;
    held += entry.bytes.size();
    processHeld += entry.bytes.size();
}

auto RemoteFile::streamOf(std::uint64_t offset) -> std::vector<Stream>::iterator
{
    // Readers that decode on several threads, or a kernel reading ahead on several, ask for the bytes
    // of one pass out of turn, and a hint runs ahead of the reads it announces: a read anywhere in what
    // a stream has covered continues it.
    auto best = streams.end();
    for (auto s = streams.begin(); s != streams.end(); ++s) {
        const bool continues = offset >= s->begin && offset <= s->next + pageSize;
        if (continues && (best == streams.end() || s->lastUse > best->lastUse))
            best = s;
    }
    return best;
}

void RemoteFile::noteRead(std::uint64_t offset, std::size_t length, bool missed, bool reachedAhead)
{
    if (!readAheadOn)
        return;
    auto stream = streamOf(offset);
    if (stream == streams.end()) {
        if (streams.size() < maxStreams)
            stream = streams.insert(streams.end(), Stream());
        else
            stream = std::min_element(streams.begin(), streams.end(),
                [](const Stream& a, const Stream& b) { return a.lastUse < b.lastUse; });
        *stream = Stream();
        stream->begin = offset;
    }
    ++stream->reads;
    stream->next = std::max<std::uint64_t>(stream->next, offset + length);
    stream->lastUse = ++useClock;
    // From the second read of a pass on: one read on its own is no reader in order yet.
    if ((missed || reachedAhead) && stream->reads >= 2)
        planReadAhead(*stream);
}

void RemoteFile::planReadAhead(Stream& stream)
{
    // A first window that outlasts a round trip of a fast reader, then, once the reader has come to what
    // was read ahead, the largest at once: a window grown step by step costs a round trip a step.
    stream.window = stream.window == 0 ? firstWindow : maxWindow;
    const std::uint64_t want = std::min(size(), stream.next + stream.window);
    // The opening answer's pages still to come are on their way as read-ahead's are.
    const std::uint64_t from = std::max({stream.aheadEnd, stream.next, tail.active ? tail.end * pageSize : 0});
    const std::uint64_t chunkBytes = std::max(leastChunk, stream.window / maxInFlight);
    // Runs of a chunk at least (but the file's last one), not a page per read.
    if (from >= want || (want - from < chunkBytes && want < size()) || processHeld + (want - from) > processMemory)
        return;
    // Right ahead of the reader, runs start small and double, so that the first of them comes soon.
    std::uint64_t runBytes = from < stream.next + leastChunk ? leastChunk : chunkBytes;
    const std::uint64_t lastPage = (want - 1) / pageSize;
    for (std::uint64_t first = from / pageSize; first <= lastPage;) {
        std::uint64_t last = std::min(lastPage, first + runBytes / pageSize - 1);
        // No short run left over at the end.
        if ((lastPage - last) * pageSize < runBytes / 2)
            last = lastPage;
        PageList claimed = claimAbsent(first, last);
        if (!claimed.empty())
            queueJob(std::move(claimed), true);
        first = last + 1;
        runBytes = std::min(runBytes * 2, chunkBytes);
    }
    stream.aheadEnd = want;
}

void RemoteFile::queueJob(PageList claimed, bool ahead)
{
    // Once the threads have ended (at exit), nobody would fetch them: a reader does so itself.
    if (stopping) {
        for (std::uint64_t page : claimed)
            pages.erase(page);
        return;
    }
    jobs.push_back(Job{std::move(claimed), ahead});
    while (idleHelpers < jobs.size() && helpers.size() < maxInFlight)
        helpers.emplace_back([this] { runHelper(); }), ++idleHelpers;
    jobWaiting->notify_all();
}

void RemoteFile::runHelper()
{
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
        jobWaiting->wait(hold, [this] { return stopping || !jobs.empty(); });
        if (stopping)
            return;
        const Job job = std::move(jobs.front());
        jobs.pop_front();
        --idleHelpers;
        hold.unlock();
        RemoteError ignored; // a reader that needs these pages fetches them itself
        loadClaimed(job.pages, job.ahead, ignored);
        hold.lock();
        ++idleHelpers;
    }
}

void RemoteFile::evictOverflow()
{
    while (held > fileMemory) {
        auto oldest = pages.end();
        for (auto page = pages.begin(); page != pages.end(); ++page)
            if (page->second.ready && (oldest == pages.end() || page->second.lastUse < oldest->second.lastUse))
                oldest = page;
        if (oldest == pages.end())
            return;
        held -= oldest->second.bytes.size();
        processHeld -= oldest->second.bytes.size();
        pages.erase(oldest);
    }
}

} // namespace filedriver::remote
