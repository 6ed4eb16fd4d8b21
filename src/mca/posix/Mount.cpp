#include "posix/Mount.h"

#include "filedriver/ArchiveInfo.h"
#include "McaCommands.h"
#include "MemberNames.h"
#include "posix/ArchivePrefetch.h"
#include "posix/EntryPrimer.h"
#include "posix/MountReadAhead.h"
#include "posix/PageCacheFeeder.h"
#include "orva/WideText.h"
#include "orva/exception.h"

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace mca {
namespace {

using filedriver::AFileCore;
using filedriver::FilePath;

constexpr std::size_t longestName = 255;
// The kernel's inode numbers are the mount's own: the root's is fixed by FUSE, member i's is i + 2.
constexpr fuse_ino_t rootInode = FUSE_ROOT_ID;
constexpr fuse_ino_t firstFileInode = rootInode + 1;
// Nothing in the mount ever changes: the kernel may keep names and attributes as long as it likes.
constexpr double unchangingTimeout = 86400;
// The kernel's read-ahead on the mount: requests of 1 MiB, the most a connection takes, four at once,
// which the loop's threads serve side by side.
constexpr unsigned readAheadKilobytes = 4096;
// Decoded bytes waiting for the page cache, at most.
constexpr std::size_t feederLimit = 16u << 20;
// Names the kernel is given at mount time, at most: each costs it an inode (about 1 KiB) until it
// drops them, and the mount a few microseconds before it returns.
constexpr std::size_t primedNames = 32768;
// Where no read of a file has ended yet.
constexpr std::uint64_t noReadYet = UINT64_MAX;

struct MountedFile {
    std::string name; // UTF-8, as the kernel sees it
    std::uint32_t member; // table index
    std::uint32_t size;
    fuse_ino_t inode;
};

class UnopenedReads;

// The archive as mounted: its file table, fixed at mount time, the archive file it keeps open, and
// what it has logged since.
class MountedArchive {
public:
    MountedArchive(const FilePath& archivePath, const filedriver::ArchiveInfo& archive, const MountOptionList& options);

    const MountedFile* find(const char* name) const;
    const MountedFile* file(fuse_ino_t inode) const;
    void fillAttributes(const MountedFile* file, struct stat& attributes) const;
    // Whether a read of `file` touching blocks first..last must fail without asking the library.
    bool knownDamaged(const MountedFile& file, std::uint32_t first, std::uint32_t last);
    // Logs the first failure of each block of each member; later reads of it fail at once.
    void reportDamaged(const MountedFile& file, std::uint32_t block, const char* why);
    // Widens the kernel's read-ahead on the mount, once. Called at the first open: by then the kernel
    // has had the answer to its first request, which sets the window too.
    void widenReadAhead();
    // The mounted files other than `file` with bytes in `blocks`, in data order.
    std::vector<const MountedFile*> neighbours(const MountedFile& file, filedriver::BlockSpan blocks) const;
    // Whether the other files of block `block` are still to be offered to the page cache; true once.
    bool firstShareOf(std::uint32_t block) { return block < blockCount && !shared[block].exchange(true); }
    // A reader of `file` on the archive file opened at mount time, whatever the path names since.
    std::unique_ptr<AFileCore> openMember(const MountedFile& file) const { return archive.openMember(file.member); }
    const filedriver::FileEntry& entry(const MountedFile& file) const { return archive.members()[file.member]; }

    const filedriver::ArchiveInfo archive;
    const std::uint32_t blockSize;
    std::vector<MountedFile> files;
    ArchivePrefetch prefetch;
    // Absolute; set before mounting.
    std::string mountPoint;
    // Started once the server runs (threads do not survive its going to the background).
    std::unique_ptr<PageCacheFeeder> feeder;
    // Whether opens may be declined (not with allow_root: libfuse checks the user at open), and whether
    // they are, set at the session's start where the kernel takes a declined open as done.
    const bool opensMayBeDeclined;
    bool declineOpens = false;
    std::unique_ptr<UnopenedReads> unopened;

private:
    // An open member keeps the archive file open, and its decoded blocks cached, for the mount's life.
    std::unique_ptr<AFileCore> keepOpen;
    // Indices into `files` of those not empty, by where each starts in the data stream.
    std::vector<std::uint32_t> byData;
    const std::uint32_t blockCount;
    // Per block: its other files offered already.
    std::unique_ptr<std::atomic<bool>[]> shared;
    std::once_flag readAheadWidened;
    struct stat shown{};
    std::unordered_map<std::string, std::size_t> byName;
    std::mutex damagedMutex;
    // (inode, block) pairs already reported; guarded by damagedMutex.
    std::set<std::pair<fuse_ino_t, std::uint32_t>> damaged;
};

// One open file: cursors not in use. A read takes one, or makes one when all are busy, so that reads
// of one handle at several offsets run at once; each cursor reads positionally through the cache.
class OpenFile {
public:
    OpenFile(const MountedArchive& archive, const MountedFile& file) : archive(archive), file(file)
    {
        give(archive.openMember(file));
    }

    std::unique_ptr<AFileCore> take()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!idle.empty()) {
                std::unique_ptr<AFileCore> cursor = std::move(idle.back());
                idle.pop_back();
                return cursor;
            }
        }
        // Made outside the lock: the library takes its own.
        return archive.openMember(file);
    }
    void give(std::unique_ptr<AFileCore> cursor)
    {
        std::lock_guard<std::mutex> lock(mutex);
        idle.push_back(std::move(cursor));
    }

    const MountedArchive& archive;
    const MountedFile& file;
    // Where the latest read ended: a read starting near it continues a sequential run.
    std::atomic<std::uint64_t> lastEnd{noReadYet};

private:
    std::mutex mutex;
    std::vector<std::unique_ptr<AFileCore>> idle; // guarded by mutex
};

// The state of reads that come without an open file: the kernel never asks to open once the server
// has declined an open (FUSE's no-open), which saves an open and a release per file read. Each loop
// thread keeps the last member it read, so that a run of reads of one file makes one cursor; the
// mount as a whole keeps only where each file's latest read ended.
class UnopenedReads {
public:
    explicit UnopenedReads(std::size_t files) : lastEnds(std::make_unique<std::atomic<std::uint64_t>[]>(files))
    {
        for (std::size_t i = 0; i < files; ++i)
            lastEnds[i] = noReadYet;
    }

    // The calling thread's cursor for `file`, made when its last read was of another file; the
    // library's failure to make one is thrown.
    static AFileCore& cursorOf(const MountedArchive& archive, const MountedFile& file);
    std::atomic<std::uint64_t>& lastEnd(const MountedFile& file) { return lastEnds[file.inode - firstFileInode]; }

private:
    std::unique_ptr<std::atomic<std::uint64_t>[]> lastEnds;
};

std::string native(const std::wstring& text)
{
    return orva::toNative(text);
}

// What a failure of the library tells the kernel.
int errnoOf(const orva::exception& failure)
{
    switch (failure.kind()) {
    case orva::ErrorKind::NotFound: return ENOENT;
    case orva::ErrorKind::System: return failure.systemError() > 0 ? failure.systemError() : EIO;
    case orva::ErrorKind::Damaged:
    case orva::ErrorKind::Changed:
    case orva::ErrorKind::Unsupported:
    case orva::ErrorKind::Other: break;
    }
    return EIO;
}

MountedArchive::MountedArchive(const FilePath& archivePath, const filedriver::ArchiveInfo& archive,
                               const MountOptionList& options)
    : archive(archive), blockSize(archive.blockSize()), prefetch(archive), opensMayBeDeclined(!options.allowRoot),
      blockCount(archive.blockCount()), shared(std::make_unique<std::atomic<bool>[]>(blockCount))
{
    // A remote archive has no file here to take owner and times from: it shows the mounting user's, now.
    if (stat(native(archivePath).c_str(), &shown) != 0) {
        shown = {};
        shown.st_uid = getuid();
        shown.st_gid = getgid();
        shown.st_atime = shown.st_mtime = shown.st_ctime = std::time(nullptr);
    }
    if (options.uid)
        shown.st_uid = *options.uid;
    if (options.gid)
        shown.st_gid = *options.gid;
    shown.st_mode = options.umask.value_or(0);
    const std::vector<filedriver::FileEntry>& members = archive.members();
    for (std::uint32_t i = 0; i < members.size(); ++i) {
        const filedriver::FileEntry& entry = members[i];
        const char* why = unmountableName(entry.name);
        std::string name = orva::toUtf8(entry.name);
        if (!why && !byName.emplace(name, files.size()).second)
            why = "an earlier member has the name";
        if (why) {
            std::fprintf(stderr, "mca: leaving out member '%s': %s\n", native(entry.name).c_str(), why);
            continue;
        }
        files.push_back({std::move(name), i, entry.dataSize, firstFileInode + files.size()});
    }
    unopened = std::make_unique<UnopenedReads>(files.size());
    for (std::uint32_t i = 0; i < files.size(); ++i)
        if (files[i].size > 0)
            byData.push_back(i);
    std::sort(byData.begin(), byData.end(), [&](std::uint32_t a, std::uint32_t b) {
        return members[files[a].member].dataOffset < members[files[b].member].dataOffset;
    });
    if (!members.empty())
        keepOpen = archive.openMember(0);
}

const MountedFile* MountedArchive::find(const char* name) const
{
    const auto found = byName.find(name);
    return found == byName.end() ? nullptr : &files[found->second];
}

const MountedFile* MountedArchive::file(fuse_ino_t inode) const
{
    return inode >= firstFileInode && inode - firstFileInode < files.size() ? &files[inode - firstFileInode] : nullptr;
}

void MountedArchive::fillAttributes(const MountedFile* file, struct stat& attributes) const
{
    attributes = {};
    attributes.st_uid = shown.st_uid;
    attributes.st_gid = shown.st_gid;
    attributes.st_atim = shown.st_atim;
    attributes.st_mtim = shown.st_mtim;
    attributes.st_ctim = shown.st_ctim;
    const mode_t masked = shown.st_mode; // the umask option
    if (file) {
        attributes.st_ino = file->inode;
        attributes.st_mode = S_IFREG | (0444 & ~masked);
        attributes.st_nlink = 1;
        attributes.st_size = file->size;
        attributes.st_blocks = (file->size + 511) / 512;
    } else {
        attributes.st_ino = rootInode;
        attributes.st_mode = S_IFDIR | (0555 & ~masked);
        attributes.st_nlink = 2;
    }
    attributes.st_blksize = 4096;
}

std::vector<const MountedFile*> MountedArchive::neighbours(const MountedFile& file, filedriver::BlockSpan blocks) const
{
    const std::uint64_t start = std::uint64_t(blocks.first) * blockSize;
    const std::uint64_t end = (std::uint64_t(blocks.last) + 1) * blockSize;
    const auto dataStart = [&](std::uint32_t i) -> std::uint64_t { return entry(files[i]).dataOffset; };
    const auto reachesIn = [&](std::uint32_t i) { return dataStart(i) + files[i].size > start; };
    // The first file starting in the blocks, then back over those that start before and reach in.
    auto at = std::lower_bound(byData.begin(), byData.end(), start,
                               [&](std::uint32_t i, std::uint64_t offset) { return dataStart(i) < offset; });
    while (at != byData.begin() && reachesIn(*(at - 1)))
        --at;
    std::vector<const MountedFile*> found;
    for (; at != byData.end() && dataStart(*at) < end; ++at)
        if (&files[*at] != &file && reachesIn(*at))
            found.push_back(&files[*at]);
    return found;
}

bool MountedArchive::knownDamaged(const MountedFile& file, std::uint32_t first, std::uint32_t last)
{
    std::lock_guard<std::mutex> lock(damagedMutex);
    if (damaged.empty())
        return false;
    const auto from = damaged.lower_bound({file.inode, first});
    return from != damaged.end() && from->first == file.inode && from->second <= last;
}

void MountedArchive::reportDamaged(const MountedFile& file, std::uint32_t block, const char* why)
{
    std::lock_guard<std::mutex> lock(damagedMutex);
    if (damaged.insert({file.inode, block}).second)
        std::fprintf(stderr, "mca: %s: block %u: %s\n", file.name.c_str(), block, why);
}

void MountedArchive::widenReadAhead()
{
    // Root only; others keep the kernel's 128 KiB.
    std::call_once(readAheadWidened, [this] { setMountReadAhead(mountPoint, readAheadKilobytes); });
}

MountedArchive& mounted(fuse_req_t request)
{
    return *static_cast<MountedArchive*>(fuse_req_userdata(request));
}

// An open file's handle owns it.
OpenFile* handle(const fuse_file_info* info)
{
    return reinterpret_cast<OpenFile*>(info->fh);
}

AFileCore& UnopenedReads::cursorOf(const MountedArchive& archive, const MountedFile& file)
{
    thread_local struct {
        const MountedArchive* archive = nullptr;
        fuse_ino_t inode = 0;
        std::unique_ptr<AFileCore> cursor;
    } last;
    if (last.archive != &archive || last.inode != file.inode || !last.cursor) {
        last.cursor.reset();
        last.cursor = archive.openMember(file);
        last.archive = &archive;
        last.inode = file.inode;
    }
    return *last.cursor;
}

// A cursor for one read of `file`: one of the open file's, given back at the end, or with no open file
// the thread's own.
class ReadCursor {
public:
    ReadCursor(const MountedArchive& archive, OpenFile* open, const MountedFile& file) : open(open)
    {
        if (open)
            taken = open->take();
        cursor = open ? taken.get() : &UnopenedReads::cursorOf(archive, file);
    }
    ~ReadCursor()
    {
        if (taken)
            open->give(std::move(taken));
    }
    ReadCursor(const ReadCursor&) = delete;
    ReadCursor& operator=(const ReadCursor&) = delete;
    AFileCore* operator->() const { return cursor; }

private:
    OpenFile* open;
    std::unique_ptr<AFileCore> taken;
    AFileCore* cursor = nullptr;
};

// Reads bytes [from, to) of `file` into `out` block by block, so that a failure names its block, and
// from the last block back: a cursor reading on from where it stopped first copies the blocks ahead
// into a buffer of its own, while one taken backwards copies each block once, from the cache straight
// into `out`. An errno value, or 0.
int readSpan(MountedArchive& archive, OpenFile* open, const MountedFile& file, std::uint64_t from, std::uint64_t to,
             char* out)
{
    const filedriver::FileEntry& entry = archive.entry(file);
    std::uint32_t block = archive.archive.blocksOfMember(entry, from, to - from).last;
    try {
        const ReadCursor cursor(archive, open, file);
        for (std::uint64_t end = to; end > from; --block) {
            const std::uint64_t start = std::max(archive.archive.memberBytesOfBlocks(entry, {block, block}).start, from);
            const auto length = static_cast<std::uint32_t>(end - start);
            if (cursor->seek(static_cast<std::int32_t>(start), filedriver::SeekBegin) == -1
                || cursor->read(out + (start - from), length) != length) {
                // A short read would tell the kernel that the file ends here.
                archive.reportDamaged(file, block, "the archive ends early");
                return EIO;
            }
            end = start;
        }
    } catch (const orva::exception& error) {
        // A damaged block fails at once from now on; any other failure is the library's to tell again.
        if (error.kind() == orva::ErrorKind::Damaged && error.block() >= 0)
            archive.reportDamaged(file, static_cast<std::uint32_t>(error.block()), error.what());
        else
            std::fprintf(stderr, "mca: %s: %s\n", file.name.c_str(), error.what());
        return errnoOf(error);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
    return 0;
}

// ---- the file system's operations

void lookUp(fuse_req_t request, fuse_ino_t parent, const char* name)
{
    MountedArchive& archive = mounted(request);
    fuse_entry_param entry{};
    // A name that is not there stays not there: the kernel may remember that too.
    entry.entry_timeout = unchangingTimeout;
    entry.attr_timeout = unchangingTimeout;
    if (const MountedFile* file = parent == rootInode ? archive.find(name) : nullptr) {
        entry.ino = file->inode;
        entry.generation = 1;
        archive.fillAttributes(file, entry.attr);
    } else if (parent != rootInode) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    fuse_reply_entry(request, &entry);
}

void getAttributes(fuse_req_t request, fuse_ino_t inode, fuse_file_info*)
{
    MountedArchive& archive = mounted(request);
    const MountedFile* file = archive.file(inode);
    if (!file && inode != rootInode) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    struct stat attributes;
    archive.fillAttributes(file, attributes);
    fuse_reply_attr(request, &attributes, unchangingTimeout);
}

// The root is the only directory: ".", "..", then the files; an offset is the index of the next entry.
// With `plus`, each file's entry carries what a lookup of its name answers: a listing then leaves the
// kernel knowing every file, which it opens without asking.
void listRoot(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, bool plus)
{
    MountedArchive& archive = mounted(request);
    if (inode != rootInode) {
        fuse_reply_err(request, ENOTDIR);
        return;
    }
    std::vector<char> buffer(size);
    std::size_t used = 0;
    for (auto next = static_cast<std::size_t>(std::max<off_t>(offset, 0)); next < archive.files.size() + 2; ++next) {
        const MountedFile* file = next >= 2 ? &archive.files[next - 2] : nullptr;
        const char* name = file ? file->name.c_str() : next == 0 ? "." : "..";
        // "." and ".." carry no entry (inode 0): the kernel has them.
        fuse_entry_param entry{};
        archive.fillAttributes(file, entry.attr);
        if (file) {
            entry.ino = file->inode;
            entry.generation = 1;
            entry.entry_timeout = unchangingTimeout;
            entry.attr_timeout = unchangingTimeout;
        }
        const auto at = static_cast<off_t>(next + 1);
        const std::size_t length =
            plus ? fuse_add_direntry_plus(request, buffer.data() + used, size - used, name, &entry, at)
                 : fuse_add_direntry(request, buffer.data() + used, size - used, name, &entry.attr, at);
        if (length > size - used)
            break;
        used += length;
    }
    fuse_reply_buf(request, buffer.data(), used);
}

void readDirectory(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info*)
{
    listRoot(request, inode, size, offset, false);
}

void readDirectoryPlus(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info*)
{
    listRoot(request, inode, size, offset, true);
}

void openFile(fuse_req_t request, fuse_ino_t inode, fuse_file_info* info)
{
    MountedArchive& archive = mounted(request);
    const MountedFile* file = archive.file(inode);
    if (!file) {
        fuse_reply_err(request, inode == rootInode ? EISDIR : ENOENT);
        return;
    }
    if ((info->flags & O_ACCMODE) != O_RDONLY || (info->flags & O_TRUNC)) {
        fuse_reply_err(request, EROFS);
        return;
    }
    archive.widenReadAhead();
    if (archive.declineOpens) {
        fuse_reply_err(request, ENOSYS);
        return;
    }
    try {
        info->fh = reinterpret_cast<std::uint64_t>(new OpenFile(archive, *file));
    } catch (const orva::exception& error) {
        std::fprintf(stderr, "mca: %s: %s\n", file->name.c_str(), error.what());
        fuse_reply_err(request, errnoOf(error));
        return;
    } catch (const std::bad_alloc&) {
        fuse_reply_err(request, ENOMEM);
        return;
    }
    // The mounted archive never changes: the kernel's pages of a member stay good across opens.
    info->keep_cache = 1;
    if (fuse_reply_open(request, info) != 0)
        delete handle(info);
}

// Whether a read at `offset` continues the run of reads before it: the kernel's read-ahead has several
// requests of a run out at once, served in any order. A file's first read starts a run at its start only.
bool continuesRun(std::atomic<std::uint64_t>& lastEnd, std::uint64_t offset, std::uint32_t wanted,
                  std::uint32_t blockSize)
{
    const std::uint64_t previousEnd = lastEnd.exchange(offset + wanted);
    if (previousEnd == noReadYet)
        return offset == 0;
    const std::uint64_t near = 4 * std::max<std::uint64_t>(blockSize, wanted);
    return previousEnd + near >= offset && previousEnd <= offset + near;
}

// Only a hint: the kernel asks again for what it does not get.
void offerPages(MountedArchive& archive, const MountedFile& file, std::uint64_t offset, const char* bytes,
                std::size_t length)
{
    try {
        archive.feeder->offer(file.inode, offset, std::vector<char>(bytes, bytes + length));
    } catch (const std::bad_alloc&) {
    }
}

// The whole pages of the other files that `blocks` hold go to the page cache as well, once per block:
// small files packed together are mostly read together, and their block is decoded now.
void offerNeighbours(MountedArchive& archive, const MountedFile& file, filedriver::BlockSpan blocks)
{
    const auto pageSize = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    // From the first block not shared yet to the last (one shared between them is offered again).
    std::optional<filedriver::BlockSpan> fresh;
    for (std::uint32_t block = blocks.first; block <= blocks.last; ++block)
        if (archive.firstShareOf(block))
            fresh = filedriver::BlockSpan{fresh ? fresh->first : block, block};
    if (!fresh)
        return;
    thread_local std::vector<char> bytes;
    for (const MountedFile* other : archive.neighbours(file, *fresh)) {
        const filedriver::MemberBytes held = archive.archive.memberBytesOfBlocks(archive.entry(*other), *fresh);
        const PageSpan pages = wholePages(held.start, held.end, other->size, pageSize);
        if (pages.start == pages.end)
            continue;
        try {
            bytes.resize(pages.end - pages.start);
        } catch (const std::bad_alloc&) {
            return;
        }
        if (readSpan(archive, nullptr, *other, pages.start, pages.end, bytes.data()) == 0)
            offerPages(archive, *other, pages.start, bytes.data(), bytes.size());
    }
}

void readFile(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info* info)
{
    OpenFile* open = handle(info);
    MountedArchive& archive = mounted(request);
    const MountedFile* known = open ? &open->file : archive.file(inode);
    if (!known) {
        fuse_reply_err(request, inode == rootInode ? EISDIR : ENOENT);
        return;
    }
    const MountedFile& file = *known;
    if (offset < 0) {
        fuse_reply_err(request, EINVAL);
        return;
    }
    const auto at = static_cast<std::uint64_t>(offset);
    if (at >= file.size || size == 0) {
        fuse_reply_buf(request, nullptr, 0);
        return;
    }
    const auto wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, file.size - at));
    const filedriver::BlockSpan blocks = archive.archive.blocksOfMember(archive.entry(file), at, wanted);
    if (archive.knownDamaged(file, blocks.first, blocks.last)) {
        fuse_reply_err(request, EIO);
        return;
    }
    const bool sequential =
        continuesRun(open ? open->lastEnd : archive.unopened->lastEnd(file), at, wanted, archive.blockSize);
    archive.prefetch.touch(blocks.first, blocks.last, sequential);
    // A read on its own gets its blocks' other pages into the page cache too; the kernel's read-ahead
    // asks for a sequential reader's.
    PageSpan span{at, at + wanted};
    if (!sequential && archive.feeder) {
        const filedriver::MemberBytes held = archive.archive.memberBytesOfBlocks(archive.entry(file), blocks);
        span = pagesOfBlocks(held.start, held.end, at, at + wanted, file.size,
                             static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)));
    }
    // Each of the loop's threads reuses its buffer: requests come up to 1 MiB, many of them.
    thread_local std::vector<char> bytes;
    try {
        if (bytes.size() < span.end - span.start)
            bytes.resize(span.end - span.start);
    } catch (const std::bad_alloc&) {
        fuse_reply_err(request, ENOMEM);
        return;
    }
    if (const int error = readSpan(archive, open, file, span.start, span.end, bytes.data())) {
        fuse_reply_err(request, error);
        return;
    }
    fuse_reply_buf(request, bytes.data() + (at - span.start), wanted);
    if (!archive.feeder)
        return;
    if (span.end - span.start > wanted)
        offerPages(archive, file, span.start, bytes.data(), span.end - span.start);
    offerNeighbours(archive, file, blocks);
}

void releaseFile(fuse_req_t request, fuse_ino_t, fuse_file_info* info)
{
    delete handle(info);
    fuse_reply_err(request, 0);
}

void fileSystemStatus(fuse_req_t request, fuse_ino_t)
{
    MountedArchive& archive = mounted(request);
    std::uint64_t bytes = 0;
    for (const MountedFile& file : archive.files)
        bytes += file.size;
    struct statvfs status{};
    status.f_bsize = 4096;
    status.f_frsize = 4096;
    status.f_blocks = (bytes + 4095) / 4096;
    status.f_files = archive.files.size() + 1;
    status.f_namemax = longestName;
    fuse_reply_statfs(request, &status);
}

// The mount is read-only; these answer anyone who remounts it writable.
template <class... Arguments>
void refuse(fuse_req_t request, Arguments...)
{
    fuse_reply_err(request, EROFS);
}

// Asks the kernel not to send opens and releases of files where it can do without.
void startSession(void* userdata, fuse_conn_info* connection)
{
    MountedArchive& archive = *static_cast<MountedArchive*>(userdata);
    archive.declineOpens = archive.opensMayBeDeclined && (connection->capable & FUSE_CAP_NO_OPEN_SUPPORT) != 0;
    // Every listing with the entries, not only a directory's first.
    if (connection->capable & FUSE_CAP_READDIRPLUS)
        connection->want = (connection->want | FUSE_CAP_READDIRPLUS) & ~FUSE_CAP_READDIRPLUS_AUTO;
}

fuse_lowlevel_ops operations()
{
    fuse_lowlevel_ops ops{};
    ops.init = startSession;
    ops.lookup = lookUp;
    ops.getattr = getAttributes;
    ops.readdir = readDirectory;
    ops.readdirplus = readDirectoryPlus;
    ops.open = openFile;
    ops.read = readFile;
    ops.release = releaseFile;
    ops.statfs = fileSystemStatus;
    ops.setattr = refuse<fuse_ino_t, struct stat*, int, fuse_file_info*>;
    ops.mknod = refuse<fuse_ino_t, const char*, mode_t, dev_t>;
    ops.mkdir = refuse<fuse_ino_t, const char*, mode_t>;
    ops.unlink = refuse<fuse_ino_t, const char*>;
    ops.rmdir = refuse<fuse_ino_t, const char*>;
    ops.symlink = refuse<const char*, fuse_ino_t, const char*>;
    ops.rename = refuse<fuse_ino_t, const char*, fuse_ino_t, const char*, unsigned int>;
    ops.link = refuse<fuse_ino_t, fuse_ino_t, const char*>;
    ops.write = refuse<fuse_ino_t, const char*, size_t, off_t, fuse_file_info*>;
    ops.create = refuse<fuse_ino_t, const char*, mode_t, fuse_file_info*>;
    ops.setxattr = refuse<fuse_ino_t, const char*, const char*, size_t, int>;
    ops.removexattr = refuse<fuse_ino_t, const char*>;
    return ops;
}

// The daemon serves from "/": paths it keeps must not depend on the directory it started in.
std::string absolute(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char here[PATH_MAX];
    if (!getcwd(here, sizeof here))
        throw Failure(std::string("cannot tell the current directory: ") + std::strerror(errno));
    return std::string(here) + "/" + path;
}

// A mount option's value: commas and backslashes escaped as the option parser wants.
std::string optionValue(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == ',' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// Puts decoded bytes of a member into the kernel's page cache.
PageCacheFeeder::Store storeInto(fuse_session* session)
{
    return [session](std::uint64_t inode, std::uint64_t offset, const char* bytes, std::size_t length) {
        fuse_bufvec buffer = FUSE_BUFVEC_INIT(length);
        buffer.buf[0].mem = const_cast<char*>(bytes);
        // Fails only for a file the kernel has forgotten, or once unmounted: nothing to do then.
        fuse_lowlevel_notify_store(session, inode, static_cast<off_t>(offset), &buffer, fuse_buf_copy_flags{});
    };
}

// Serves the mounted session until it is unmounted or signalled; the exit status.
int serve(fuse_session* session, MountedArchive& archive, bool foreground)
{
    int status = 1;
    // The handlers go only where the default is: a shell starts background jobs with SIGINT ignored,
    // yet SIGINT and SIGTERM are to unmount.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (fuse_set_signal_handlers(session) != 0)
        return status;
    // Before going to the background: the caller's next step may be to unmount.
    primeEntries(session, archive.mountPoint, primedNames);
    if (fuse_session_exited(session)) {
        status = 0;
    } else if (fuse_daemonize(foreground ? 1 : 0) == 0) {
        archive.feeder = std::make_unique<PageCacheFeeder>(storeInto(session), feederLimit);
        fuse_loop_config* loop = fuse_loop_cfg_create();
        // A signal ends the loop with its number, an unmount with 0: both are a clean end.
        status = fuse_session_loop_mt(session, loop) >= 0 ? 0 : 1;
        fuse_loop_cfg_destroy(loop);
        archive.feeder.reset();
    }
    fuse_remove_signal_handlers(session);
    return status;
}

} // namespace

const char* const mountHelp =
    "Each member becomes a read-only file of the mount point, named as stored. Without -f the command\n"
    "returns once the mount is ready and serves it in the background; unmount with\n"
    "  fusermount3 -u MOUNTPOINT\n"
    "With -f it serves in the foreground until unmounted, or until SIGINT (Ctrl-C) or SIGTERM, which\n"
    "unmount. Members whose names cannot be file names, and later members of a name already used, are\n"
    "left out (each reported). Reading a damaged block fails with EIO (reported once, with -f);\n"
    "writing fails with EROFS. The mount serves the archive file it mounted until it is unmounted, also\n"
    "once that file is deleted or replaced.\n"
    "Options (-o, comma-separated, repeatable): allow_other (every user may read the mount; users other\n"
    "than root need user_allow_other in /etc/fuse.conf), allow_root (its owner and root), auto_unmount\n"
    "(unmount when the server ends), uid=N, gid=N and umask=M (the owner and the modes shown; by default\n"
    "the archive file's owner, 0444 for files, 0555 for the directory), fsname=NAME, subtype=NAME,\n"
    "max_read=N, default_permissions and ro (always on), and the generic flags of mount(8): nosuid,\n"
    "nodev, noexec, noatime, suid, dev, exec, atime, diratime, nodiratime, relatime, norelatime,\n"
    "strictatime, nostrictatime, lazytime, nolazytime, sync, async, dirsync, context=, fscontext=,\n"
    "defcontext=, rootcontext=.\n";

// Extract's rules for Linux, and what a file name of the kernel's cannot hold.
const char* unmountableName(const std::wstring& name)
{
    if (const char* why = refusedName(name, NamePlatform::onLinux))
        return why;
    const std::string utf8 = orva::toUtf8(name);
    if (orva::fromUtf8(utf8) != name)
        return "it is not valid Unicode";
    if (utf8.size() > longestName)
        return "it is longer than 255 bytes";
    return nullptr;
}

int mountArchive(const MountOptions& options)
{
    MountOptionList chosen;
    const std::string problem = parseMountOptions(options.fuseOptions, chosen);
    if (!problem.empty())
        throw Failure(problem);
    // A URL stays as it is: made absolute it would name a local file.
    const FilePath given(options.archive);
    const FilePath archivePath =
        filedriver::isRemotePath(given) ? given : FilePath(orva::fromNative(absolute(native(options.archive))));
    MountedArchive archive(archivePath, openArchive(archivePath), chosen);

    char mountPoint[PATH_MAX];
    if (!realpath(options.mountPoint.c_str(), mountPoint))
        throw Failure("cannot mount on " + options.mountPoint + ": " + std::strerror(errno));
    struct stat attributes;
    if (stat(mountPoint, &attributes) != 0 || !S_ISDIR(attributes.st_mode))
        throw Failure("cannot mount on " + options.mountPoint + ": not a directory");

    // Read-only for the kernel too: writes, creates, renames and deletes fail there with EROFS, and with
    // default_permissions the kernel checks the modes itself instead of asking.
    archive.mountPoint = mountPoint;
    std::string mountOptions =
        "ro,default_permissions,subtype=mca,fsname=" + optionValue(native(filedriver::shownPath(archivePath)));
    if (!chosen.forFuse.empty())
        mountOptions += "," + chosen.forFuse;
    const char* arguments[] = {"mca", "-o", mountOptions.c_str()};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(arguments));
    const fuse_lowlevel_ops ops = operations();
    fuse_session* session = fuse_session_new(&args, &ops, sizeof ops, &archive);
    fuse_opt_free_args(&args);
    if (!session)
        throw Failure("cannot mount " + native(filedriver::shownPath(archivePath)) + ": the FUSE options were refused");
    if (fuse_session_mount(session, mountPoint) != 0) {
        fuse_session_destroy(session);
        throw Failure("cannot mount " + native(filedriver::shownPath(archivePath)) + " on " + mountPoint
                      + " (is /dev/fuse there?)");
    }
    std::fflush(stdout);
    std::fflush(stderr);
    // Returns in the caller once the mount stands; the server goes on in a child of its own.
    const int status = serve(session, archive, options.foreground);
    fuse_session_unmount(session);
    fuse_session_destroy(session);
    return status;
}

} // namespace mca
