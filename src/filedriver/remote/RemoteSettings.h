#pragma once
// The settings of remote reading, from the process's environment:
//
//   GLEANER_HTTP_CONNECT_TIMEOUT   seconds to connect (with TLS), default 5
//   GLEANER_HTTP_STALL_TIMEOUT     seconds without a byte before a request counts as failed, default 20
//   GLEANER_HTTP_RETRIES           retries of a failed request, default 4
//   GLEANER_HTTP_RETRY_TIME        seconds within which a request and its retries must end, default 12
//   GLEANER_HTTP_CA_FILE           a PEM file of CA certificates trusted besides the system's
//   GLEANER_HTTP_BEARER_TOKEN      sent as "Authorization: Bearer ..." where the URL and netrc give none
//   GLEANER_NETRC                  the netrc file (default ~/.netrc; %USERPROFILE%\_netrc on Windows)
//   GLEANER_HTTP_CACHE_DIR         the disk cache's directory (default below the user's cache directory)
//   GLEANER_HTTP_CACHE_MB          the disk cache's size cap in MiB, default 1024; 0 turns it off
//
// Seconds may have a fraction ("0.5").

#include "filedriver/remote/RemoteError.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace filedriver::remote {

struct RemoteSettings {
    std::chrono::milliseconds connectTimeout{5000};
    std::chrono::milliseconds stallTimeout{20000};
    unsigned retries = 4;
    std::chrono::milliseconds retryTime{12000};
    std::filesystem::path caFile;      // empty: the system's store alone
    std::string bearerToken;
    std::filesystem::path netrcFile;   // empty: none
    std::filesystem::path cacheDirectory;
    std::uint64_t cacheBytes = std::uint64_t(1024) << 20; // 0: no disk cache

    // The defaults, each replaced by its variable where set; a value that is not valid fails with
    // RemoteErrorKind::Other and a message naming the variable.
    static std::optional<RemoteSettings> fromEnvironment(RemoteError& error);
};

// The whole of a file the settings name (the CA file, the netrc file); empty when it cannot be read.
std::string settingFileText(const std::filesystem::path& path);

// Platform half: a variable's value (UTF-8), nullopt when unset.
std::optional<std::string> environmentText(const char* name);
// Platform half: a variable's value as a path, nullopt when unset or empty.
std::optional<std::filesystem::path> environmentPath(const char* name);
// Platform half: the user's cache directory for the library, empty when none can be found.
std::filesystem::path defaultCacheDirectory();
// Platform half: the user's netrc file, empty when no home directory is known.
std::filesystem::path defaultNetrcFile();

} // namespace filedriver::remote
