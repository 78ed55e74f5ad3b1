#include "foundation/logger.h"

#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/files.h"
#include "foundation/paths.h"
#include "tests/test_support.h"

namespace updater {
namespace {

const std::regex kLinePattern(R"(\[(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3})\]\[pid:(\d+)\]\[tid:(\d+)\]\[(INFO|DEBUG)\] ([^\r\n]*))");

struct LogLine {
    unsigned long threadId;
    std::string level;
    std::string message;
};

// Splits a log file at CR LF; every line must match the line format.
std::vector<LogLine> ParseLog(const std::string& bytes) {
    std::vector<LogLine> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "unterminated line";
        if (end == std::string::npos) {
            break;
        }
        const std::string line = bytes.substr(start, end - start);
        std::smatch match;
        EXPECT_TRUE(std::regex_match(line, match, kLinePattern)) << line;
        if (!match.empty()) {
            EXPECT_EQ(std::stoul(match[8]), GetCurrentProcessId());
            EXPECT_GE(std::stoi(match[2]), 1);
            EXPECT_LE(std::stoi(match[2]), 12);
            EXPECT_LE(std::stoi(match[4]), 23);
            lines.push_back({std::stoul(match[9]), match[10], match[11]});
        }
        start = end + 2;
    }
    return lines;
}

class LoggerTest : public ::testing::Test {
protected:
    LoggerTest() { logger.directory = temp.path(); }

    std::string MainLog() const { return ReadBinaryFile(temp / L"logs\\updater.log"); }
    std::string DebugLog() const { return ReadBinaryFile(temp / L"logs\\updater-debug.log"); }
    bool LogsFolderExists() const { return GetFileAttributesW((temp / L"logs").c_str()) != INVALID_FILE_ATTRIBUTES; }

    TempFolder temp;
    Logger logger;
};

TEST_F(LoggerTest, DebugOffWritesInfoToTheMainLogOnly) {
    logger.Debug(L"hidden");
    EXPECT_FALSE(LogsFolderExists());

    logger.Log(L"Native updater starting.");
    const std::vector<LogLine> lines = ParseLog(MainLog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, "INFO");
    EXPECT_EQ(lines[0].message, "Native updater starting.");
    EXPECT_EQ(lines[0].threadId, GetCurrentThreadId());
    EXPECT_EQ(DebugLog(), "");
}

TEST_F(LoggerTest, WriteWithoutMainLogAndDebugOffMakesOnlyTheFolder) {
    logger.Write(L"DEBUG", L"nothing", false);
    EXPECT_TRUE(LogsFolderExists());
    EXPECT_EQ(MainLog(), "");
    EXPECT_EQ(DebugLog(), "");
}

TEST_F(LoggerTest, DebugOnCopiesInfoByteForByteAndKeepsDebugLinesApart) {
    logger.debugEnabled = true;
    logger.Log(L"info line");
    logger.Debug(L"debug line");
    const std::string main = MainLog();
    const std::string debug = DebugLog();
    ASSERT_FALSE(main.empty());
    EXPECT_EQ(debug.substr(0, main.size()), main);
    const std::vector<LogLine> lines = ParseLog(debug);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].level, "DEBUG");
    EXPECT_EQ(lines[1].message, "debug line");
    EXPECT_EQ(ParseLog(main).size(), 1u);
}

TEST_F(LoggerTest, MessagesAreStoredAsUtf8WithoutEscapingOrByteOrderMark) {
    logger.Log(L"\x041F\x0440\x0438\x0432\x0435\x0442\r\nsecond \"line\"\t\\");
    const std::string main = MainLog();
    ASSERT_GE(main.size(), 3u);
    EXPECT_NE(main.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(main[0], '[');
    const std::string tail = "[INFO] \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\r\nsecond \"line\"\t\\\r\n";
    ASSERT_GE(main.size(), tail.size());
    EXPECT_EQ(main.substr(main.size() - tail.size()), tail);
    std::smatch match;
    const std::string head = main.substr(0, main.find("\r\n"));
    EXPECT_TRUE(std::regex_match(head, match, kLinePattern)) << head;
}

TEST_F(LoggerTest, LevelTextIsWrittenAsGiven) {
    logger.Write(L"WARN", L"x", true);
    EXPECT_NE(MainLog().find("][WARN] x\r\n"), std::string::npos);
}

TEST_F(LoggerTest, UnwritableMainLogLosesTheLineInBothFilesAndTheNextLineIsRetried) {
    logger.debugEnabled = true;
    CreateDirectoryRecursive(temp / L"logs\\updater.log");
    logger.Log(L"lost");
    logger.Debug(L"debug still works");
    EXPECT_EQ(DebugLog().find("lost"), std::string::npos);
    EXPECT_NE(DebugLog().find("debug still works"), std::string::npos);

    RemoveDirectoryW((temp / L"logs\\updater.log").c_str());
    logger.Log(L"found");
    EXPECT_NE(MainLog().find("] found\r\n"), std::string::npos);
    EXPECT_NE(DebugLog().find("] found\r\n"), std::string::npos);
}

TEST_F(LoggerTest, DeletedLogsFolderIsRecreatedByTheNextLine) {
    logger.debugEnabled = true;
    logger.Log(L"one");
    std::wstring error;
    ASSERT_TRUE(DeleteDirectoryRecursive(temp / L"logs", error)) << error;
    logger.Log(L"two");
    EXPECT_EQ(ParseLog(MainLog()).size(), 1u);
    EXPECT_EQ(ParseLog(DebugLog()).size(), 1u);
}

TEST_F(LoggerTest, ConcurrentLinesNeverInterleaveAndKeepOneOrder) {
    logger.debugEnabled = true;
    const int threads = 8;
    const int perThread = 60;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([this, t] {
            for (int i = 0; i < perThread; ++i) {
                const std::wstring text = L"t" + std::to_wstring(t) + L" i" + std::to_wstring(i) + L" " +
                                          std::wstring(static_cast<size_t>(i % 7) * 40, L'\x0436');
                if (i % 3 == 0) {
                    logger.Debug(text);
                } else {
                    logger.Log(text);
                }
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }

    const std::vector<LogLine> main = ParseLog(MainLog());
    const std::vector<LogLine> debug = ParseLog(DebugLog());
    ASSERT_EQ(main.size(), static_cast<size_t>(threads * (perThread - perThread / 3)));
    ASSERT_EQ(debug.size(), static_cast<size_t>(threads * perThread));
    std::vector<std::string> debugInfo;
    for (const LogLine& line : debug) {
        if (line.level == "INFO") {
            debugInfo.push_back(line.message);
        }
    }
    ASSERT_EQ(debugInfo.size(), main.size());
    for (size_t i = 0; i < main.size(); ++i) {
        EXPECT_EQ(main[i].level, "INFO");
        EXPECT_EQ(main[i].message, debugInfo[i]) << i;
    }
    // Each thread's lines appear in the order it wrote them.
    for (int t = 0; t < threads; ++t) {
        int next = 0;
        const std::string tag = "t" + std::to_string(t) + " i";
        for (const LogLine& line : debug) {
            if (line.message.rfind(tag, 0) == 0) {
                EXPECT_EQ(std::stoi(line.message.substr(tag.size())), next);
                ++next;
            }
        }
        EXPECT_EQ(next, perThread);
    }
}

TEST_F(LoggerTest, DebugScopeWritesBeginAndEndAlsoWhenLeftByAnException) {
    logger.debugEnabled = true;
    try {
        DebugScope scope(logger, L"Update thread");
        throw std::runtime_error("boom");
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "boom");
    }
    const std::vector<LogLine> lines = ParseLog(DebugLog());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].message, "BEGIN Update thread");
    EXPECT_TRUE(std::regex_match(lines[1].message, std::regex("END Update thread elapsedMs=[0-9]+")))
        << lines[1].message;
    EXPECT_EQ(MainLog(), "");
}

TEST_F(LoggerTest, SilentScopes) {
    { DebugScope scope(nullptr, L"none"); }
    { DebugScope scope(logger, L"off"); }
    EXPECT_FALSE(LogsFolderExists());

    logger.debugEnabled = true;
    {
        DebugScope scope(&logger, L"flag goes off");
        logger.debugEnabled = false;
    }
    EXPECT_EQ(ParseLog(DebugLog()).size(), 1u);
}

TEST(ElapsedMsSince, TruncatesToWholeMilliseconds) {
    using namespace std::chrono;
    EXPECT_EQ(ElapsedMsSince(steady_clock::now() + milliseconds(5000)) < 0, true);
    const long long almostTwo = ElapsedMsSince(steady_clock::now() - microseconds(1999600));
    EXPECT_GE(almostTwo, 1999);
    EXPECT_LT(almostTwo, 2500);
    EXPECT_EQ(ElapsedMsSince(steady_clock::now() - microseconds(400)) < 50, true);
}

}  // namespace
}  // namespace updater
