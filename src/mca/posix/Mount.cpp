#include "posix/Mount.h"

#include "filedriver/ArchiveInfo.h"
#include "filedriver/FileDriver.h"
#include "McaCommands.h"
#include "MemberNames.h"
#include "posix/ArchivePrefetch.h"
#include "posix/MountReadAhead.h"
#include "orva/WideText.h"
#include "orva/exception.h"

#define FUSE_USE_VERSION 312
#include <fuse.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace mca {
namespace {

using filedriver::FileDriver;
using filedriver::FilePath;

constexpr std::size_t longestName = 255;
constexpr ino_t rootInode = 1;
// Nothing in the mount ever changes: the kernel may keep names and attributes as long as it likes.
constexpr double unchangingTimeout = 86400;
// The kernel's read-ahead on the mount: requests of 1 MiB, the most a connection takes, four at once,
// which the loop's threads serve side by side.
constexpr unsigned readAheadKilobytes = 4096;

struct MountedFile {
    std::string name; // UTF-8, as the kernel sees it
    FilePath path;    // through the archive, as the library opens it
    std::uint32_t size;
    std::uint32_t dataOffset;
    ino_t inode;
};

// The archive as mounted: its file table, fixed at mount time, and what it has logged since.
class MountedArchive {
public:
    MountedArchive(const FilePath& archivePath, const filedriver::ArchiveInfo& archive);

    const MountedFile* find(const char* path) const;
    void fillAttributes(const MountedFile* file, struct stat& attributes) const;
    // Whether a read of `file` touching blocks first..last must fail without asking the library.
    bool knownDamaged(const MountedFile& file, std::uint32_t first, std::uint32_t last);
    // Logs the first failure of each block of each member; later reads of it fail at once.
    void reportDamaged(const MountedFile& file, std::uint32_t block, const char* why);
    // False once the archive file is no longer the one mounted: its pages may be stale.
    bool archiveUnchanged() const;
    // Widens the kernel's read-ahead on the mount, once. Called at the first open: by then the kernel
    // has had the answer to its first request, which sets the window too.
    void widenReadAhead();

    const std::uint32_t blockSize;
    std::vector<MountedFile> files;
    ArchivePrefetch prefetch;
    // Absolute; set before mounting.
    std::string mountPoint;

private:
    FilePath archivePath;
    filedriver::FileStamp mountedStamp;
    bool stamped;
    std::once_flag readAheadWidened;
    struct stat archiveAttributes{};
    std::unordered_map<std::string, std::size_t> byName;
    std::mutex damagedMutex;
    // (inode, block) pairs already reported; guarded by damagedMutex.
    std::set<std::pair<ino_t, std::uint32_t>> damaged;
};

// One open file: cursors not in use. A read takes one, or makes one when all are busy, so that reads
// of one handle at several offsets run at once; each cursor reads positionally through the cache.
class OpenFile {
public:
    explicit OpenFile(const MountedFile& file) : file(file) { give(std::make_unique<FileDriver>(file.path, filedriver::OpenRead)); }

    std::unique_ptr<FileDriver> take()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!idle.empty()) {
                std::unique_ptr<FileDriver> cursor = std::move(idle.back());
                idle.pop_back();
                return cursor;
            }
        }
        // Made outside the lock: the library takes its own.
        return std::make_unique<FileDriver>(file.path, filedriver::OpenRead);
    }
    void give(std::unique_ptr<FileDriver> cursor)
    {
        std::lock_guard<std::mutex> lock(mutex);
        idle.push_back(std::move(cursor));
    }

    const MountedFile& file;
    // Where the latest read ended: a read starting near it continues a sequential run.
    std::atomic<std::uint64_t> lastEnd{0};

private:
    std::mutex mutex;
    std::vector<std::unique_ptr<FileDriver>> idle; // guarded by mutex
};

std::string native(const std::wstring& text)
{
    return orva::toNative(text);
}

MountedArchive::MountedArchive(const FilePath& archivePath, const filedriver::ArchiveInfo& archive)
    : blockSize(archive.blockSize()), prefetch(archivePath, archive), archivePath(archivePath),
      stamped(filedriver::fileStamp(archivePath, mountedStamp))
{
    stat(native(archivePath).c_str(), &archiveAttributes);
    for (const filedriver::FileEntry& entry : archive.members()) {
        const FilePath path(archivePath + L"/" + entry.name);
        const char* why = unmountableName(entry.name);
        // The library finds the archive in the path by its extension: a name must not move it.
        if (!why && filedriver::archivePart(path) != archivePath)
            why = "the library would not find it by path";
        std::string name = orva::toUtf8(entry.name);
        if (!why && !byName.emplace(name, files.size()).second)
            why = "an earlier member has the name";
        if (why) {
            std::fprintf(stderr, "mca: leaving out member '%s': %s\n", native(entry.name).c_str(), why);
            continue;
        }
        files.push_back({std::move(name), path, entry.dataSize, entry.dataOffset, static_cast<ino_t>(files.size() + 2)});
    }
}

const MountedFile* MountedArchive::find(const char* path) const
{
    if (!path || *path != '/')
        return nullptr;
    const auto found = byName.find(path + 1);
    return found == byName.end() ? nullptr : &files[found->second];
}

void MountedArchive::fillAttributes(const MountedFile* file, struct stat& attributes) const
{
    attributes = {};
    attributes.st_uid = archiveAttributes.st_uid;
    attributes.st_gid = archiveAttributes.st_gid;
    attributes.st_atim = archiveAttributes.st_atim;
    attributes.st_mtim = archiveAttributes.st_mtim;
    attributes.st_ctim = archiveAttributes.st_ctim;
    if (file) {
        attributes.st_ino = file->inode;
        attributes.st_mode = S_IFREG | 0444;
        attributes.st_nlink = 1;
        attributes.st_size = file->size;
        attributes.st_blocks = (file->size + 511) / 512;
    } else {
        attributes.st_ino = rootInode;
        attributes.st_mode = S_IFDIR | 0555;
        attributes.st_nlink = 2;
    }
    attributes.st_blksize = 4096;
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

bool MountedArchive::archiveUnchanged() const
{
    filedriver::FileStamp now;
    return stamped && filedriver::fileStamp(archivePath, now) && now == mountedStamp;
}

void MountedArchive::widenReadAhead()
{
    // Root only; others keep the kernel's 128 KiB.
    std::call_once(readAheadWidened, [this] { setMountReadAhead(mountPoint, readAheadKilobytes); });
}

MountedArchive& mounted()
{
    return *static_cast<MountedArchive*>(fuse_get_context()->private_data);
}

// ---- the file system's operations

// An open file's handle owns it.
OpenFile* handle(const fuse_file_info* info)
{
    return reinterpret_cast<OpenFile*>(info->fh);
}

void* initMount(fuse_conn_info*, fuse_config* config)
{
    config->use_ino = 1;
    // Reads and releases find their file by handle: the library need not build paths for them.
    config->nullpath_ok = 1;
    config->entry_timeout = unchangingTimeout;
    config->attr_timeout = unchangingTimeout;
    config->negative_timeout = unchangingTimeout;
    return fuse_get_context()->private_data;
}

int getAttributes(const char* path, struct stat* attributes, fuse_file_info* info)
{
    MountedArchive& archive = mounted();
    const MountedFile* file = info && info->fh ? &handle(info)->file : archive.find(path);
    if (!file && !(path && std::strcmp(path, "/") == 0))
        return -ENOENT;
    archive.fillAttributes(file, *attributes);
    return 0;
}

// The root is the only directory (its path may come as null).
int readDirectory(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags)
{
    MountedArchive& archive = mounted();
    struct stat attributes;
    archive.fillAttributes(nullptr, attributes);
    fill(buffer, ".", &attributes, 0, fuse_fill_dir_flags{});
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    for (const MountedFile& file : archive.files) {
        archive.fillAttributes(&file, attributes);
        if (fill(buffer, file.name.c_str(), &attributes, 0, fuse_fill_dir_flags{}) != 0)
            return -ENOMEM;
    }
    return 0;
}

int openFile(const char* path, fuse_file_info* info)
{
    MountedArchive& archive = mounted();
    const MountedFile* file = archive.find(path);
    if (!file)
        return -ENOENT;
    if ((info->flags & O_ACCMODE) != O_RDONLY || (info->flags & O_TRUNC))
        return -EROFS;
    archive.widenReadAhead();
    try {
        info->fh = reinterpret_cast<std::uint64_t>(new OpenFile(*file));
    } catch (const orva::exception& error) {
        std::fprintf(stderr, "mca: %s: %s\n", file->name.c_str(), error.what());
        return -EIO;
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    }
    // The kernel's cached pages of the member stay valid as long as the archive file is the one mounted.
    info->keep_cache = archive.archiveUnchanged();
    return 0;
}

int readFile(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* info)
{
    OpenFile& open = *handle(info);
    const MountedFile& file = open.file;
    if (offset < 0)
        return -EINVAL;
    if (static_cast<std::uint64_t>(offset) >= file.size || size == 0)
        return 0;
    const std::uint32_t wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, file.size - offset));
    MountedArchive& archive = mounted();
    const std::uint64_t start = std::uint64_t(file.dataOffset) + static_cast<std::uint64_t>(offset);
    const auto first = static_cast<std::uint32_t>(start / archive.blockSize);
    const auto last = static_cast<std::uint32_t>((start + wanted - 1) / archive.blockSize);
    if (archive.knownDamaged(file, first, last))
        return -EIO;
    const std::uint64_t previousEnd = open.lastEnd.exchange(static_cast<std::uint64_t>(offset) + wanted);
    // The kernel's read-ahead has several requests of a run out at once, served in any order.
    const std::uint64_t near = 4 * std::max<std::uint64_t>(archive.blockSize, wanted);
    const bool sequential =
        previousEnd + near >= static_cast<std::uint64_t>(offset) && previousEnd <= static_cast<std::uint64_t>(offset) + near;
    archive.prefetch.touch(first, last, sequential);

    std::unique_ptr<FileDriver> cursor;
    std::uint32_t block = last;
    try {
        cursor = open.take();
        // Block by block, so that a failure names its block, and from the last block back: a cursor
        // reading on from where it stopped first copies the blocks ahead into a buffer of its own, while
        // one taken backwards copies each block once, from the cache straight into the reply.
        for (std::uint32_t end = wanted; end > 0;) {
            block = static_cast<std::uint32_t>((start + end - 1) / archive.blockSize);
            const auto from = static_cast<std::uint32_t>(std::max<std::uint64_t>(start, std::uint64_t(block) * archive.blockSize) - start);
            const std::uint32_t piece = end - from;
            if (cursor->seek(static_cast<std::int32_t>(offset + from), filedriver::SeekBegin) == -1
                || cursor->read(buffer + from, piece) != piece) {
                // A short read would tell the kernel that the file ends here.
                archive.reportDamaged(file, block, "the archive ends early");
                open.give(std::move(cursor));
                return -EIO;
            }
            end = from;
        }
    } catch (const orva::exception& error) {
        archive.reportDamaged(file, block, error.what());
        if (cursor)
            open.give(std::move(cursor));
        return -EIO;
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    }
    open.give(std::move(cursor));
    return static_cast<int>(wanted);
}

int releaseFile(const char*, fuse_file_info* info)
{
    delete handle(info);
    return 0;
}

int fileSystemStatus(const char*, struct statvfs* status)
{
    MountedArchive& archive = mounted();
    std::uint64_t bytes = 0;
    for (const MountedFile& file : archive.files)
        bytes += file.size;
    *status = {};
    status->f_bsize = 4096;
    status->f_frsize = 4096;
    status->f_blocks = (bytes + 4095) / 4096;
    status->f_files = archive.files.size() + 1;
    status->f_namemax = longestName;
    return 0;
}

// The mount is read-only; these answer anyone who remounts it writable.
template <class... Arguments>
int refuse(Arguments...)
{
    return -EROFS;
}

fuse_operations operations()
{
    fuse_operations ops{};
    ops.init = initMount;
    ops.getattr = getAttributes;
    ops.readdir = readDirectory;
    ops.open = openFile;
    ops.read = readFile;
    ops.release = releaseFile;
    ops.statfs = fileSystemStatus;
    ops.mknod = refuse<const char*, mode_t, dev_t>;
    ops.mkdir = refuse<const char*, mode_t>;
    ops.unlink = refuse<const char*>;
    ops.rmdir = refuse<const char*>;
    ops.symlink = refuse<const char*, const char*>;
    ops.rename = refuse<const char*, const char*, unsigned int>;
    ops.link = refuse<const char*, const char*>;
    ops.chmod = refuse<const char*, mode_t, fuse_file_info*>;
    ops.chown = refuse<const char*, uid_t, gid_t, fuse_file_info*>;
    ops.truncate = refuse<const char*, off_t, fuse_file_info*>;
    ops.write = refuse<const char*, const char*, size_t, off_t, fuse_file_info*>;
    ops.create = refuse<const char*, mode_t, fuse_file_info*>;
    ops.utimens = refuse<const char*, const struct timespec*, fuse_file_info*>;
    ops.setxattr = refuse<const char*, const char*, const char*, size_t, int>;
    ops.removexattr = refuse<const char*, const char*>;
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

} // namespace

const char* const mountHelp =
    "Each member becomes a read-only file of the mount point, named as stored. Without -f the command\n"
    "returns once the mount is ready and serves it in the background; unmount with\n"
    "  fusermount3 -u MOUNTPOINT\n"
    "With -f it serves in the foreground until unmounted, or until SIGINT (Ctrl-C) or SIGTERM, which\n"
    "unmount. Members whose names cannot be file names, and later members of a name already used, are\n"
    "left out (each reported). Reading a damaged block fails with EIO (reported once, with -f);\n"
    "writing fails with EROFS. If the archive file changes, opening its files fails with EIO.\n";

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
    const FilePath archivePath(orva::fromNative(absolute(native(options.archive))));
    MountedArchive archive(archivePath, openArchive(archivePath));

    char mountPoint[PATH_MAX];
    if (!realpath(options.mountPoint.c_str(), mountPoint))
        throw Failure("cannot mount on " + options.mountPoint + ": " + std::strerror(errno));
    struct stat attributes;
    if (stat(mountPoint, &attributes) != 0 || !S_ISDIR(attributes.st_mode))
        throw Failure("cannot mount on " + options.mountPoint + ": not a directory");

    // Read-only for the kernel too: writes, creates, renames and deletes fail there with EROFS, and with
    // default_permissions the kernel checks the modes itself instead of asking.
    archive.mountPoint = mountPoint;
    const std::string mountOptions =
        "ro,default_permissions,subtype=mca,fsname=" + optionValue(native(archivePath));
    const char* arguments[] = {"mca", "-o", mountOptions.c_str()};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(arguments));
    const fuse_operations ops = operations();
    fuse* fileSystem = fuse_new(&args, &ops, sizeof ops, &archive);
    fuse_opt_free_args(&args);
    if (!fileSystem)
        throw Failure("cannot mount " + native(archivePath) + ": the FUSE options were refused");
    if (fuse_mount(fileSystem, mountPoint) != 0) {
        fuse_destroy(fileSystem);
        throw Failure("cannot mount " + native(archivePath) + " on " + mountPoint + " (is /dev/fuse there?)");
    }
    std::fflush(stdout);
    std::fflush(stderr);
    // Returns in the caller once the mount stands; the server goes on in a child of its own.
    int status = 1;
    fuse_session* session = fuse_get_session(fileSystem);
    // The handlers go only where the default is: a shell starts background jobs with SIGINT ignored,
    // yet SIGINT and SIGTERM are to unmount.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (fuse_daemonize(options.foreground ? 1 : 0) == 0 && fuse_set_signal_handlers(session) == 0) {
        fuse_loop_config* loop = fuse_loop_cfg_create();
        // A signal ends the loop with its number, an unmount with 0: both are a clean end.
        status = fuse_loop_mt(fileSystem, loop) >= 0 ? 0 : 1;
        fuse_loop_cfg_destroy(loop);
        fuse_remove_signal_handlers(session);
    }
    fuse_unmount(fileSystem);
    fuse_destroy(fileSystem);
    return status;
}

} // namespace mca
