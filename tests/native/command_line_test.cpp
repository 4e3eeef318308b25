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

struct CommandLineCase {
    const char* commandLine;
    const char* tail;
};

void PrintTo(const CommandLineCase& lineCase, std::ostream* out) {
    *out << '[' << lineCase.commandLine << ']';
}

class TailOfCommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(TailOfCommandLine, FollowsTheProgramName) {
    const char* commandLine = GetParam().commandLine;
    const char* tail = SkipProgramName(commandLine);
    ASSERT_GE(tail, commandLine);
    ASSERT_LE(tail, commandLine + strlen(commandLine));
    EXPECT_STREQ(tail, GetParam().tail);
}

// Code page 1252: 0xFC is "ü", 0xDC is "Ü", 0xA0 a no-break space; none of them is a blank.
INSTANTIATE_TEST_SUITE_P(
    CommandLines, TailOfCommandLine,
    testing::Values(CommandLineCase{"", ""}, CommandLineCase{" \t ", ""},
                    CommandLineCase{"quorv.exe", ""}, CommandLineCase{"quorv.exe \t ", ""},
                    CommandLineCase{"quorv.exe log.txt more", "log.txt more"},
                    CommandLineCase{"  \t quorv.exe \t\"my log.txt\"", "\"my log.txt\""},
                    CommandLineCase{"C:\\Pr\xFC"
                                    "fung\\quorv.exe \\\\srv\\inv$\\log.txt",
                                    "\\\\srv\\inv$\\log.txt"},
                    CommandLineCase{"quorv.exe \xDC"
                                    "bersicht.txt",
                                    "\xDC"
                                    "bersicht.txt"},
                    CommandLineCase{"\xA0quorv.exe\xA0log.txt x", "x"},
                    CommandLineCase{"\"C:\\My Tools\\quorv.exe\" log.txt", "log.txt"},
                    CommandLineCase{"\"C:\\tools\\quorv.exe\"\\\\srv\\inv$\\log.txt",
                                    "\\\\srv\\inv$\\log.txt"},
                    CommandLineCase{"\"C:\\tools\\quorv.exe log.txt", ""},  // no closing quote
                    CommandLineCase{"\"\" log.txt", "log.txt"}));

}  // namespace
