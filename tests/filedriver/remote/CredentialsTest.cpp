#include "filedriver/remote/Credentials.h"

#include <gtest/gtest.h>

namespace {

using namespace filedriver::remote;

TEST(Credentials, NetrcEntriesForTheHostElseTheDefault)
{
    const char* text = "machine other.example login x password y\n"
                       "macdef init\n  cd /pub\n  machine trap login no\n\n"
                       "default login anon password guest\n"
                       "machine MAPS.example.com\n\tlogin \"map user\"\n\tpassword \"p\\\"w d\"\n";
    const auto found = netrcLogin(text, "maps.example.com");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->user, "map user");
    EXPECT_EQ(found->password, "p\"w d");
    const auto fallback = netrcLogin(text, "trap");
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->user, "anon");
    EXPECT_FALSE(netrcLogin("machine a login b password c", "d"));
    EXPECT_FALSE(netrcLogin("", "d"));
    EXPECT_FALSE(netrcLogin("machine", "d"));
}

TEST(Credentials, TheUrlComesFirstThenNetrcThenTheToken)
{
    EXPECT_EQ(basicAuthorization("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(basicAuthorization("a", ""), "Basic YTo=");
    EXPECT_EQ(basicAuthorization("ab", "c"), "Basic YWI6Yw==");
    const char* netrc = "machine h login n password m";
    EXPECT_EQ(authorizationFor({true, "u", "p"}, "h", netrc, "tok"), basicAuthorization("u", "p"));
    EXPECT_EQ(authorizationFor({}, "h", netrc, "tok"), basicAuthorization("n", "m"));
    EXPECT_EQ(authorizationFor({}, "g", netrc, "tok"), "Bearer tok");
    EXPECT_EQ(authorizationFor({}, "g", netrc, ""), "");
}

} // namespace
