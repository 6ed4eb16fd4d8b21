#include "filedriver/remote/RemoteSettings.h"

#include "support/ScopedVariable.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

using namespace filedriver::remote;

using Variable = testsupport::ScopedVariable;

TEST(RemoteSettings, TakeTheEnvironmentsValues)
{
    testsupport::TempDir dir;
    dir.writeFile(L"ca.pem", "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
    const Variable connect("GLEANER_HTTP_CONNECT_TIMEOUT", "2.5");
    const Variable stall("GLEANER_HTTP_STALL_TIMEOUT", "7");
    const Variable retries("GLEANER_HTTP_RETRIES", "0");
    const Variable cache("GLEANER_HTTP_CACHE_MB", "3");
    const Variable folder("GLEANER_HTTP_CACHE_DIR", (dir.path() / "cache").string());
    const Variable ca("GLEANER_HTTP_CA_FILE", (dir.path() / "ca.pem").string());
    const Variable token("GLEANER_HTTP_BEARER_TOKEN", "abc");
    RemoteError error;
    const auto settings = RemoteSettings::fromEnvironment(error);
    ASSERT_TRUE(settings) << error.message;
    EXPECT_EQ(settings->connectTimeout.count(), 2500);
    EXPECT_EQ(settings->stallTimeout.count(), 7000);
    EXPECT_EQ(settings->retries, 0u);
    EXPECT_EQ(settings->cacheBytes, 3u << 20);
    EXPECT_EQ(settings->cacheDirectory, dir.path() / "cache");
    EXPECT_EQ(settings->bearerToken, "abc");
}

TEST(RemoteSettings, RefuseValuesThatAreNotValidNamingTheVariable)
{
    testsupport::TempDir dir;
    dir.writeFile(L"empty.pem", "not a certificate");
    const struct {
        const char* name;
        std::string value;
    } cases[] = {
        {"GLEANER_HTTP_CONNECT_TIMEOUT", "0"}, {"GLEANER_HTTP_CONNECT_TIMEOUT", "-1"},
        {"GLEANER_HTTP_STALL_TIMEOUT", "1."}, {"GLEANER_HTTP_RETRY_TIME", "soon"},
        {"GLEANER_HTTP_RETRIES", "21"}, {"GLEANER_HTTP_CACHE_MB", "1e3"},
        {"GLEANER_HTTP_CA_FILE", (dir.path() / "empty.pem").string()},
        {"GLEANER_HTTP_CA_FILE", (dir.path() / "missing.pem").string()},
    };
    for (const auto& c : cases) {
        const Variable variable(c.name, c.value);
        RemoteError error;
        EXPECT_FALSE(RemoteSettings::fromEnvironment(error)) << c.name << "=" << c.value;
        EXPECT_EQ(error.kind, RemoteErrorKind::Other);
        EXPECT_NE(error.message.find(c.name), std::string::npos) << error.message;
    }
}

TEST(RemoteSettings, CacheZeroTurnsTheDiskCacheOff)
{
    const Variable cache("GLEANER_HTTP_CACHE_MB", "0");
    RemoteError error;
    const auto settings = RemoteSettings::fromEnvironment(error);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->cacheBytes, 0u);
}

} // namespace
