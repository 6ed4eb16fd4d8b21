#include "orva/Log.h"

#include "orva/WideText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <ctime>
#include <cwchar>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::FILE* openLog(const testsupport::TempDir& dir)
{
    std::FILE* file = std::fopen((dir.path() / "log.txt").string().c_str(), "wb");
    EXPECT_NE(file, nullptr);
    return file;
}

std::string readLog(const testsupport::TempDir& dir) { return testsupport::readFile(dir.path() / "log.txt"); }

bool writeLine(orva::Log& log, const wchar_t* tag, const wchar_t* format, ...)
{
    std::va_list args;
    va_start(args, format);
    const bool written = log.writeLine(tag, format, args);
    va_end(args);
    return written;
}

// The log's stamp shape, so that stamps compare as strings.
std::string localStamp()
{
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", std::localtime(&now));
    return text;
}

// Checks "<tag> <stamp> " with the stamp read between `before` and now; returns the text after it.
std::string textAfterStamp(const std::string& line, const std::string& tag, const std::string& before)
{
    const std::string after = localStamp();
    if (line.size() < tag.size() + 21 || line.compare(0, tag.size() + 1, tag + " ") != 0) {
        ADD_FAILURE() << "not a " << tag << " line: " << line;
        return line;
    }
    const std::string stamp = line.substr(tag.size() + 1, 19);
    EXPECT_TRUE(before <= stamp && stamp <= after) << stamp << " not within " << before << " .. " << after;
    EXPECT_EQ(line[tag.size() + 20], ' ');
    return line.substr(tag.size() + 21);
}

TEST(Log, LineIsTagLocalStampAndText)
{
    testsupport::TempDir dir;
    const std::string before = localStamp();
    {
        orva::Log log(openLog(dir));
        EXPECT_TRUE(writeLine(log, L"INF", L"copied %d files from %ls", 3, L"disk"));
        log.error(false, L"bad value %hs", "x");
    }
    const std::string written = readLog(dir);
    const std::size_t split = written.find('\n') + 1;
    EXPECT_EQ(textAfterStamp(written.substr(0, split), "INF", before), "copied 3 files from disk\n");
    EXPECT_EQ(textAfterStamp(written.substr(split), "ERR", before), "bad value x\n");
}

TEST(Log, TextIsCutMarkedAndEndsInOneNewline)
{
    const std::string a1017(1017, 'a'), a1018(1018, 'a'), a1019(1019, 'a');
    // Two units where wchar_t is UTF-16: a pair across the cut goes whole, and the mark stays.
    const std::wstring face = L"\U0001F600";
    const bool pair = face.size() == 2;
    const std::string native = orva::toNative(face);
    const std::pair<std::wstring, std::string> cases[] = {
        {std::wstring(1018, L'a') + face + L"bb", pair ? a1018 + "...\n" : a1018 + native + "...\n"},
        {std::wstring(1017, L'a') + face, a1017 + native + (pair ? "...\n" : "\n")},
        {std::wstring(1017, L'a') + face + L"b", a1017 + native + (pair ? "...\n" : "b...\n")},
        {L"", "\n"},
        {L"abc", "abc\n"},
        {L"abc\n", "abc\n"},
        {std::wstring(1018, L'a'), a1018 + "\n"},
        {std::wstring(1018, L'a') + L"\n", a1018 + "\n...\n"},
        {std::wstring(1019, L'a'), a1019 + "...\n"},
        {std::wstring(2000, L'a'), a1019 + "...\n"},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text.size());
        testsupport::TempDir dir;
        const std::string before = localStamp();
        {
            orva::Log log(openLog(dir));
            writeLine(log, L"T", L"%ls", text.c_str());
        }
        EXPECT_EQ(textAfterStamp(readLog(dir), "T", before), expected);
    }
}

TEST(Log, OwnsItsFileButNeverStderr)
{
    orva::Log none(nullptr);
    EXPECT_FALSE(writeLine(none, L"T", L"lost %d", 1));

    testsupport::TempDir dir;
    int descriptor;
    {
        orva::Log log(openLog(dir));
        descriptor = fileno(log.file);
    }
    EXPECT_EQ(dup(descriptor), -1) << "the log's file is still open";
    { orva::Log onStderr(stderr); }
    const int probe = dup(fileno(stderr));
    EXPECT_GE(probe, 0) << "stderr was closed";
    close(probe);
}

TEST(Log, NonAsciiIsWrittenWholeAndTheStreamStaysNarrow)
{
    const std::wstring text = L"r\u00e9sum\u00e9 \u65e5\u672c \U0001F600";
    testsupport::TempDir dir;
    const std::string before = localStamp();
    {
        orva::Log log(openLog(dir));
        writeLine(log, L"T", L"<%ls>", text.c_str());
        EXPECT_LE(fwide(log.file, 0), 0);
        EXPECT_GT(std::fprintf(log.file, "plain %d\n", 1), 0);
    }
    const std::string written = textAfterStamp(readLog(dir), "T", before);
    EXPECT_EQ(written, "<" + orva::toNative(text) + ">\nplain 1\n");
    if constexpr (sizeof(wchar_t) == 4) {
        EXPECT_EQ(written, "<r\xc3\xa9sum\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80>\nplain 1\n");
    }
    orva::errorLog.error(false, L"orientation check \u00e9");
    EXPECT_LE(fwide(stderr, 0), 0);
    EXPECT_GT(std::fprintf(stderr, "narrow output after the log line\n"), 0);
}

// Threads writing at once: each line comes out whole, never two on one line or one cut in two.
TEST(Log, LinesOfSeveralThreadsComeOutWhole)
{
    constexpr int threads = 8;
    constexpr int linesEach = 1000;
    testsupport::TempDir dir;
    {
        orva::Log log(openLog(dir));
        // Unbuffered as the standard error stream is, so that nothing but the log keeps lines whole.
        std::setvbuf(log.file, nullptr, _IONBF, 0);
        std::vector<std::thread> writers;
        for (int t = 0; t < threads; ++t)
            writers.emplace_back([&log, t] {
                for (int k = 0; k < linesEach; ++k)
                    log.error(false, L"thread %d line %d %ls", t, k, std::wstring(200, L'a' + t).c_str());
            });
        for (std::thread& writer : writers)
            writer.join();
    }
    std::istringstream lines(readLog(dir));
    std::vector<int> next(threads, 0);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        int thread = -1, number = -1;
        char stamp[20] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "ERR %19[0-9/ :] thread %d line %d", stamp, &thread, &number), 3) << line;
        ASSERT_TRUE(thread >= 0 && thread < threads) << line;
        EXPECT_EQ(number, next[thread]++) << line;
        EXPECT_EQ(line.substr(line.size() - 201), " " + std::string(200, static_cast<char>('a' + thread))) << line;
    }
    EXPECT_EQ(count, threads * linesEach);
}

// A '%' in the path or the message is text, never a conversion.
TEST(Log, ThrowAndCatchProceduresWriteTheirTraceLines)
{
    testsupport::TempDir dir;
    std::FILE* const saved = orva::errorLog.file;
    std::FILE* const file = openLog(dir);
    orva::errorLog.file = file;
    const std::string before = localStamp();
    try {
        orva::throwLogged(orva::systemFailure(13), L".\\src\\odd%d%s\\Thing.cpp", 42, "can't read %s at %d", "x.dat", 5);
    } catch (const orva::exception& ex) {
        EXPECT_STREQ(ex.what(), "orvana exception: can't read x.dat at 5");
        EXPECT_EQ(ex.kind(), orva::ErrorKind::System);
        EXPECT_EQ(ex.systemError(), 13);
    }
    orva::logCaught(L".\\src\\a%ls\\B.cpp", 7, orva::exception("100%% of %s, %ls", "%s%n", L"\u00e9t\u00e9"));
    orva::errorLog.file = saved;
    std::fclose(file);

    const std::string written = readLog(dir);
    const std::size_t split = written.find('\n') + 1;
    EXPECT_EQ(textAfterStamp(written.substr(0, split), "ERR", before),
              "Exception thrown: .\\src\\odd%d%s\\Thing.cpp(42)\n");
    EXPECT_EQ(textAfterStamp(written.substr(split), "ERR", before),
              "Exception orva::exception& ex caught: .\\src\\a%ls\\B.cpp(7) message:'orvana exception: 100% of %s%n, "
                  + orva::toNative(L"\u00e9t\u00e9") + "'\n");
}

} // namespace
