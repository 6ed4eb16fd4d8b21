#pragma once
// Helpers the archive tests share: defined in ArchiveManagerTest.cpp (the log, failures, a small
// archive) and ArchiveCursorTest.cpp (archives of given members, the cache, reading in order).

#include "filedriver/ArchiveManager.h"
#include "support/TempDir.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace archivetest {

// Runs `action` with the error log going to a file of its own; returns what was logged.
std::string logOf(const std::function<void()>& action);
// What `action` throws as orva::exception, or "nothing thrown".
std::string whatOf(const std::function<void()>& action);
std::size_t occurrences(const std::string& text, const std::string& part);
// The members roads.dat (100 bytes) and Names.txt (5).
void writeSmallArchive(const std::wstring& path);

using Members = std::vector<std::pair<std::wstring, filedriver::ByteBuffer>>;
// `file` in `tmp`, holding `members` in blocks of `blockSize` with the codec `compressionType`.
std::wstring makeArchive(const testsupport::TempDir& tmp, const std::wstring& file, const Members& members,
                         std::uint32_t blockSize, std::uint32_t compressionType);
std::wstring memberPath(const std::wstring& archive, const std::wstring& name);
// Whether the cache holds `block` decoded, leaving it as it was.
bool cacheHolds(filedriver::OrvaArchive* archive, std::int32_t block);
// A member read whole in reads of `pieceSize`: the first alone goes through the cache, the others read on
// in order.
filedriver::ByteBuffer readInOrder(const std::wstring& path, std::uint32_t pieceSize);

} // namespace archivetest
