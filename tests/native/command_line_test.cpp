// Taking the log path from the command-line tail.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/command_line.h"
#include "core/inventory_record.h"

namespace {

std::string Extract(const std::string& tail) {
    char path[kLogPathSize];
    memset(path, '#', sizeof path);
    ExtractLogPath(tail.c_str(), path);
    EXPECT_NE(memchr(path, '\0', sizeof path), nullptr) << "path must be terminated";
    return path;
}

struct TailCase {
    const char* tail;
    const char* path;
};

void PrintTo(const TailCase& tailCase, std::ostream* out) {
    *out << '[' << tailCase.tail << ']';
}

class LogPathFromTail : public testing::TestWithParam<TailCase> {};

TEST_P(LogPathFromTail, IsTheFirstArgument) {
    EXPECT_EQ(Extract(GetParam().tail), GetParam().path) << "tail: [" << GetParam().tail << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Tails, LogPathFromTail,
    testing::Values(TailCase{"", ""}, TailCase{"   ", ""}, TailCase{"log.txt", "log.txt"},
                    TailCase{"   log.txt", "log.txt"},
                    TailCase{"C:\\inv\\log.txt second", "C:\\inv\\log.txt"},
                    TailCase{"\"C:\\My Logs\\inv.txt\"", "C:\\My Logs\\inv.txt"},
                    TailCase{"C:\\My Logs\\inv.txt", "C:\\My"},
                    TailCase{"\"C:\\My Logs\\inv.txt", "C:\\My Logs\\inv.txt"},  // no closing quote
                    TailCase{"\"a b\"tail c", "a b"}, TailCase{"\"\"", ""},
                    TailCase{"\"\" log.txt", ""},
                    // Only blanks separate arguments: tabs and quotes inside one belong to it.
                    TailCase{"a\tb c", "a\tb"}, TailCase{"\tlog.txt", "\tlog.txt"},
                    TailCase{"ab\"cd ef", "ab\"cd"}));

TEST(LogPathFromTail, LongArgumentIsCutTo259Characters) {
    const std::string longPath(300, 'p');
    EXPECT_EQ(Extract(longPath), std::string(259, 'p'));
    EXPECT_EQ(Extract("\"" + longPath + "\""), std::string(259, 'p'));
    EXPECT_EQ(Extract(std::string(259, 'q')), std::string(259, 'q'));
}

TEST(LogPathFromTail, NullTailGivesEmptyPath) {
    char path[kLogPathSize] = "stale";
    ExtractLogPath(nullptr, path);
    EXPECT_STREQ(path, "");
}

}  // namespace
