// Windows half of the connection: WinHTTP, one session and one connection handle (WinHTTP keeps the
// connection itself alive). A CA file of the settings is trusted by checking the server's chain here,
// with WinHTTP told to let an unknown root through to that check; names and dates WinHTTP still checks.
#include "filedriver/remote/HttpConnection.h"

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <vector>

namespace filedriver::remote {
namespace {

constexpr DWORD bodyChunk = 64 * 1024;

std::wstring wideAscii(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// Header text is ASCII (Latin-1 at most): one byte per character.
std::string narrowLatin1(const std::wstring& text)
{
    std::string result;
    result.reserve(text.size());
    for (wchar_t c : text)
        result += static_cast<char>(c <= 0xff ? c : '?');
    return result;
}

ExchangeFailure failureOf(DWORD code)
{
    switch (code) {
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case WSAECONNREFUSED: return ExchangeFailure::Connect;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT: return ExchangeFailure::Timeout;
    // Wine's WinHTTP gives the socket's error where Windows gives its own.
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case WSAECONNRESET:
    case WSAECONNABORTED: return ExchangeFailure::Lost;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE: return ExchangeFailure::Tls;
    default: return ExchangeFailure::Other;
    }
}

std::string messageOf(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = length && text ? std::wstring(text, length) : std::wstring();
    if (text)
        LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' || wide.back() == L'.'))
        wide.pop_back();
    return "WinHTTP error " + std::to_string(code) + (wide.empty() ? std::string() : ": " + narrowLatin1(wide));
}

ExchangeOutcome failed(DWORD code)
{
    return {failureOf(code), messageOf(code)};
}

// The certificates of a PEM file in a store of their own; null when the file has none.
HCERTSTORE loadCertificates(const std::filesystem::path& file)
{
    const std::string text = settingFileText(file);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (!store)
        return nullptr;
    static constexpr char begin[] = "-----BEGIN CERTIFICATE-----";
    static constexpr char end[] = "-----END CERTIFICATE-----";
    bool any = false;
    for (std::size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at + 1)) {
        const std::size_t stop = text.find(end, at);
        if (stop == std::string::npos)
            break;
        const std::string pem = text.substr(at, stop + sizeof end - 1 - at);
        DWORD size = 0;
        if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                &size, nullptr, nullptr))
            continue;
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                &size, nullptr, nullptr) &&
            CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_ALWAYS, nullptr))
            any = true;
    }
    if (!any) {
        CertCloseStore(store, 0);
        return nullptr;
    }
    return store;
}

// Whether the server's chain ends at a root the system trusts or at one of `extra`, and names `host`.
bool trustedChain(PCCERT_CONTEXT server, HCERTSTORE extra, const std::wstring& host)
{
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, server, nullptr, extra, &parameters, 0, nullptr, &chain))
        return false;
    constexpr DWORD tolerated = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                CERT_TRUST_IS_OFFLINE_REVOCATION;
    bool trusted = chain->cChain > 0 && (chain->TrustStatus.dwErrorStatus & ~tolerated) == 0;
    if (trusted && (chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_UNTRUSTED_ROOT)) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        const PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        const PCCERT_CONTEXT known = CertFindCertificateInStore(extra, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
        trusted = known != nullptr;
        if (known)
            CertFreeCertificateContext(known);
    }
    if (trusted) {
        HTTPSPolicyCallbackData ssl{};
        ssl.cbStruct = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        trusted = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
                  status.dwError == 0;
    }
    CertFreeCertificateChain(chain);
    return trusted;
}

class Handle {
public:
    explicit Handle(HINTERNET handle = nullptr) : handle(handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    void reset(HINTERNET other = nullptr)
    {
        if (handle)
            WinHttpCloseHandle(handle);
        handle = other;
    }
    HINTERNET get() const { return handle; }

private:
    HINTERNET handle;
};

} // namespace

struct HttpConnection::Platform {
    Handle session;
    Handle connection;
    std::string connectedHost;
    std::uint16_t connectedPort = 0;
    HCERTSTORE extraCas = nullptr;

    ~Platform()
    {
        if (extraCas)
            CertCloseStore(extraCas, 0);
    }

    bool connectTo(const Url& url)
    {
        if (connection.get() && connectedHost == url.host && connectedPort == url.port)
            return true;
        std::string host = url.host;
        if (host.size() > 2 && host.front() == '[')
            host = host.substr(1, host.size() - 2);
        connection.reset(WinHttpConnect(session.get(), wideAscii(host).c_str(), url.port, 0));
        connectedHost = url.host;
        connectedPort = url.port;
        return connection.get() != nullptr;
    }

    // The request's headers, each line ending in CR LF.
    static std::wstring headersOf(const Exchange& request)
    {
        std::string text = "Range: bytes=" + std::to_string(request.first) + "-" + std::to_string(request.last) + "\r\n";
        if (!request.conditionName.empty())
            text += request.conditionName + ": " + request.conditionValue + "\r\n";
        if (!request.authorization.empty())
            text += "Authorization: " + request.authorization + "\r\n";
        return wideAscii(text);
    }

    static ExchangeOutcome readBody(HINTERNET request, AnswerSink& sink)
    {
        std::vector<char> buffer(bodyChunk);
        for (;;) {
            DWORD got = 0;
            if (!WinHttpReadData(request, buffer.data(), bodyChunk, &got))
                return failed(GetLastError());
            if (got == 0)
                return {};
            if (!sink.body(buffer.data(), got))
                return {ExchangeFailure::Stopped, std::string()};
        }
    }

    static bool queryHead(HINTERNET request, AnswerHead& head)
    {
        DWORD size = 0;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
            WINHTTP_NO_HEADER_INDEX);
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, text.data(),
                &size, WINHTTP_NO_HEADER_INDEX))
            return false;
        text.resize(size / sizeof(wchar_t));
        const auto parsed = parseAnswerHead(narrowLatin1(text));
        if (!parsed)
            return false;
        head = *parsed;
        return true;
    }
};

void HttpConnection::prepareProcess()
{
}

HttpConnection::HttpConnection(const RemoteSettings& settings) : platform(std::make_unique<Platform>())
{
    platform->session.reset(WinHttpOpen(L"gleanerqt-filedriver", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!platform->session.get())
        return;
    const int connect = static_cast<int>(settings.connectTimeout.count());
    const int stall = static_cast<int>(settings.stallTimeout.count());
    WinHttpSetTimeouts(platform->session.get(), connect, connect, stall, stall);
    if (!settings.caFile.empty())
        platform->extraCas = loadCertificates(settings.caFile);
}

HttpConnection::~HttpConnection() = default;

ExchangeOutcome HttpConnection::exchange(const Exchange& request, AnswerSink& sink)
{
    Platform& p = *platform;
    const Url& url = *request.url;
    if (!p.session.get() || !p.connectTo(url))
        return failed(GetLastError());
    Handle handle(WinHttpOpenRequest(p.connection.get(), L"GET", wideAscii(url.requestTarget()).c_str(), nullptr,
        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
        WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY | (url.secure ? WINHTTP_FLAG_SECURE : 0)));
    if (!handle.get())
        return failed(GetLastError());
    DWORD features = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES;
    WinHttpSetOption(handle.get(), WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
    const bool checkChainHere = url.secure && p.extraCas;
    if (checkChainHere) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        WinHttpSetOption(handle.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    const std::wstring headers = Platform::headersOf(request);
    if (!WinHttpSendRequest(handle.get(), headers.c_str(), static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA,
            0, 0, 0) ||
        !WinHttpReceiveResponse(handle.get(), nullptr))
        return failed(GetLastError());
    if (checkChainHere) {
        PCCERT_CONTEXT server = nullptr;
        DWORD size = sizeof server;
        const bool trusted = WinHttpQueryOption(handle.get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) &&
                             server && trustedChain(server, p.extraCas, wideAscii(url.host));
        if (server)
            CertFreeCertificateContext(server);
        if (!trusted)
            return {ExchangeFailure::Tls, "the server's certificate is trusted neither by the system nor by the CA file"};
    }
    AnswerHead head;
    if (!Platform::queryHead(handle.get(), head))
        return {ExchangeFailure::Lost, "the server's answer has no readable head"};
    if (!sink.head(head))
        return {ExchangeFailure::Stopped, std::string()};
    return Platform::readBody(handle.get(), sink);
}

} // namespace filedriver::remote
