#include "../Download.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace bench {
namespace {

struct HandleCloser {
    void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Sends a GET for `url` on a session of its own; the request, once its answer's head has come.
bool get(const std::wstring& url, Handle& session, Handle& connection, Handle& request)
{
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    std::vector<wchar_t> host(256), path(url.size() + 1);
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<DWORD>(host.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts))
        return false;
    session.reset(WinHttpOpen(L"GleanerQt benchmark", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return false;
    connection.reset(WinHttpConnect(session.get(), host.data(), parts.nPort, 0));
    if (!connection)
        return false;
    request.reset(WinHttpOpenRequest(connection.get(), L"GET", path.data(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    return request && WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
           && WinHttpReceiveResponse(request.get(), nullptr);
}

} // namespace

bool downloadWhole(const std::wstring& url, const std::wstring& path)
{
    Handle session, connection, request;
    if (!get(url, session, connection, request))
        return false;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)
        || status != 200)
        return false;
    const std::unique_ptr<std::FILE, FileCloser> out(_wfopen(path.c_str(), L"wb"));
    if (!out)
        return false;
    std::vector<char> piece(1 << 20);
    for (DWORD got = 0;;) {
        if (!WinHttpReadData(request.get(), piece.data(), static_cast<DWORD>(piece.size()), &got))
            return false;
        if (got == 0)
            return true;
        if (std::fwrite(piece.data(), 1, got, out.get()) != got)
            return false;
    }
}

} // namespace bench
