#include "filedriver/remote/HttpAnswer.h"

#include <gtest/gtest.h>

namespace {

using namespace filedriver::remote;

TEST(HttpAnswer, StatusLines)
{
    const struct {
        const char* line;
        int status; // 0: not a status line
    } cases[] = {
        {"HTTP/1.1 206 Partial Content\r\n", 206}, {"HTTP/2 200", 200}, {"HTTP/1.0 503 ", 503},
        {"HTTP/1.1 404 Not Found", 404}, {"HTTP/1.1 20 OK", 0}, {"HTTP/1.1 2066 OK", 0}, {"HTTP/1.1 abc", 0},
        {"HTTX/1.1 200 OK", 0}, {"HTTP/ 200 OK", 0}, {"HTTP/1.1", 0}, {"", 0}, {"Content-Length: 5", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseStatusLine(c.line).value_or(0), c.status) << c.line;
}

TEST(HttpAnswer, HeadsTakeTheFieldsInAnyCaseAndTheLastHeadCounts)
{
    const auto head = parseAnswerHead("HTTP/1.1 100 Continue\r\n\r\n"
                                      "HTTP/1.1 206 Partial Content\r\n"
                                      "content-RANGE:  bytes 0-9/100 \r\n"
                                      "ETag: \"abc\"\r\n"
                                      "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                                      "X-Other: ignored\r\n"
                                      "Retry-After: 3\r\n\r\n");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 206);
    EXPECT_EQ(head->reason, "Partial Content");
    EXPECT_EQ(head->contentRange, "bytes 0-9/100");
    EXPECT_EQ(head->etag, "\"abc\"");
    EXPECT_EQ(head->lastModified, "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(head->retryAfter, "3");
    EXPECT_FALSE(parseAnswerHead("Content-Length: 5\r\n"));
    AnswerHead any;
    EXPECT_FALSE(takeHeadLine("no colon here", any));
    EXPECT_FALSE(takeHeadLine(": empty name", any));
}

TEST(HttpAnswer, ContentRanges)
{
    const struct {
        const char* value;
        bool valid;
        bool satisfied;
        std::uint64_t first, last;
        std::int64_t total; // -1: unknown
    } cases[] = {
        {"bytes 0-65535/1048576", true, true, 0, 65535, 1048576},
        {"bytes 10-10/11", true, true, 10, 10, 11},
        {"BYTES 5-9/*", true, true, 5, 9, -1},
        {"bytes */0", true, false, 0, 0, 0},
        {"bytes */1000", true, false, 0, 0, 1000},
        {"bytes 10-9/100", false, false, 0, 0, 0},
        {"bytes 0-100/100", false, false, 0, 0, 0},
        {"bytes */*", false, false, 0, 0, 0},
        {"bytes 0-/100", false, false, 0, 0, 0},
        {"bytes -5/100", false, false, 0, 0, 0},
        {"bytes 0-5", false, false, 0, 0, 0},
        {"items 0-5/10", false, false, 0, 0, 0},
        {"bytes 0-99999999999999999999/1", false, false, 0, 0, 0},
        {"bytes +1-5/10", false, false, 0, 0, 0},
        {"", false, false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const auto range = parseContentRange(c.value);
        ASSERT_EQ(range.has_value(), c.valid) << c.value;
        if (!range)
            continue;
        EXPECT_EQ(range->satisfied, c.satisfied) << c.value;
        EXPECT_EQ(range->first, c.first) << c.value;
        EXPECT_EQ(range->last, c.last) << c.value;
        EXPECT_EQ(range->total ? static_cast<std::int64_t>(*range->total) : -1, c.total) << c.value;
    }
}

TEST(HttpAnswer, RetryAfterInSecondsOrAsADate)
{
    const std::int64_t now = 784111777; // Sun, 06 Nov 1994 08:49:37 GMT
    EXPECT_EQ(parseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), now);
    EXPECT_EQ(parseRetryAfter("120", now), 120u);
    EXPECT_EQ(parseRetryAfter("Sun, 06 Nov 1994 08:50:07 GMT", now), 30u);
    EXPECT_EQ(parseRetryAfter("Sun, 06 Nov 1994 08:00:00 GMT", now), 0u);
    EXPECT_EQ(parseHttpDate("Tue, 29 Feb 2000 00:00:00 GMT"), 951782400);
    EXPECT_FALSE(parseRetryAfter("-1", now));
    EXPECT_FALSE(parseRetryAfter("soon", now));
    EXPECT_FALSE(parseRetryAfter("Sun, 06 Nov 1994 08:49:37 UTC", now));
    EXPECT_FALSE(parseRetryAfter("Sun, 06 Foo 1994 08:49:37 GMT", now));
    EXPECT_FALSE(parseRetryAfter("Sun, 06 Nov 1994 25:49:37 GMT", now));
}

TEST(HttpAnswer, OnlyStrongEtagsValidate)
{
    EXPECT_TRUE(isStrongEtag("\"5e1f-3a\""));
    EXPECT_TRUE(isStrongEtag("\"\""));
    EXPECT_FALSE(isStrongEtag("W/\"5e1f\""));
    EXPECT_FALSE(isStrongEtag("5e1f"));
    EXPECT_FALSE(isStrongEtag("\"a\"b\""));
    EXPECT_FALSE(isStrongEtag("\""));
}

} // namespace
