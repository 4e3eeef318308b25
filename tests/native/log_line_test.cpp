// Joining the record into a line and recognising a machine's line in the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/inventory_record.h"
#include "inventory/log_line.h"

namespace {

constexpr char kCompleteLine[] =
    "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 192.0.2.10      alice@PC1\n";

std::string Record(const char* text) {
    std::string record(kInventoryRecordSize, '\0');
    memcpy(&record[0], text, strlen(text));
    return record;
}

TEST(JoinKeyToRecord, SeparatorBecomesBlank) {
    std::string record = Record("W269N-WFGWX-YVC9B-4J6C9-T83GX");
    record.replace(30, 20, "* 02:00:5E:10:00:01 ");
    JoinKeyToRecord(&record[0]);
    EXPECT_STREQ(record.c_str(), "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 ");
}

TEST(JoinKeyToRecord, ShortPlainKeyKeepsTheColumns) {
    std::string record = Record("ABC");
    record.replace(3, 26, "\0GARBAGE\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 26);
    record.replace(30, 20, "  XX:XX:XX:XX:XX:XX ");
    JoinKeyToRecord(&record[0]);
    const std::string expected = "ABC GARBAGE" + std::string(18, ' ') + "   XX:XX:XX:XX:XX:XX ";
    EXPECT_EQ(std::string(record.c_str()), expected);
    EXPECT_EQ(record.find('\0'), 50u);
}

struct MatchCase {
    const char* name;
    const char* line;
    const char* record;
    bool matches;
};

void PrintTo(const MatchCase& matchCase, std::ostream* out) {
    *out << matchCase.name;
}

class LineMatching : public testing::TestWithParam<MatchCase> {};

TEST_P(LineMatching, ComparesTheFirstSixtyFiveCharacters) {
    const std::string record = Record(GetParam().record);
    EXPECT_EQ(LineMatchesRecord(GetParam().line, record.c_str()), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineMatching,
    testing::Values(
        MatchCase{"SameLine", kCompleteLine, kCompleteLine, true},
        MatchCase{"OtherUser", kCompleteLine,
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 192.0.2.10      bob@PC2\n",
                  true},
        MatchCase{"LineWithoutLineFeed",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 192.0.2.10      alice@PC1",
                  kCompleteLine, true},
        MatchCase{"LineWithCarriageReturn",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 192.0.2.10      x@Y\r\n",
                  kCompleteLine, true},
        MatchCase{"OtherIp",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 192.0.2.11      alice@PC1\n",
                  kCompleteLine, false},
        MatchCase{"LongerIpSharingThePrefix",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 192.0.2.100     alice@PC1\n",
                  kCompleteLine, false},
        MatchCase{"OtherMac",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:02 192.0.2.10      alice@PC1\n",
                  kCompleteLine, false},
        MatchCase{"PlainInsteadOfDecoded",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX   02:00:5E:10:00:01 192.0.2.10      alice@PC1\n",
                  kCompleteLine, false},
        MatchCase{"OtherKey",
                  "NPPR9-FWDCX-D2C8J-H872K-2YT43 * 02:00:5E:10:00:01 192.0.2.10      alice@PC1\n",
                  kCompleteLine, false},
        MatchCase{"ShortLineNeverMatchesCompleteRecord",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01\n", kCompleteLine, false},
        MatchCase{"EmptyLine", "\n", kCompleteLine, false},
        MatchCase{"EmptyPiece", "", kCompleteLine, false},
        // A record whose IP step failed ends after the MAC's blank.
        MatchCase{"RecordWithoutIpMatchesItsOwnLine",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 \n",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 ", true},
        MatchCase{"RecordWithoutIpMatchesItsLineReadBackWithCarriageReturn",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 \r\n",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 ", true},
        MatchCase{"RecordWithoutIpDoesNotMatchALineWithIp", kCompleteLine,
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 ", false},
        MatchCase{"RecordWithoutIpDoesNotMatchALineCutBeforeTheBlank",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01\n",
                  "W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 ", false}),
    [](const testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

struct ScanCase {
    const char* name;
    std::string log;
    size_t block;  // the log comes in blocks of this many bytes
    bool matches;
    unsigned long long lineStart;  // where a later scan resumes, when nothing matched
    bool insideLine;
};

// Every byte counts, lines end at line feeds only, and a block may end anywhere.
TEST(LogScan, FindsTheLineAndWhereTheLastWholeLineEnds) {
    const std::string line = kCompleteLine;
    const std::string cutOff = line.substr(0, line.size() - 1);
    const ScanCase cases[] = {
        {"EndOfFileAndZeroBytesAreOrdinary", "\x1a\r\n" + std::string(1, '\0') + "\n" + line, 64,
         true, 0, false},
        {"LineCutByBlocks", "other\r\n" + line, 7, true, 0, false},
        {"LastLineWithoutLineFeed", "other\r\n" + cutOff, 4096, true, 0, false},
        {"LineInTheSecondPieceOf511", std::string(511, '#') + line, 100, true, 0, false},
        {"CutOffLastLine", "other\r\n" + line.substr(0, 60), 3, false, 7, true},
        {"WholeLinesOnly", "other\r\n\x1a\n", 5, false, 9, false},
        {"LongLineWithoutLineFeed", std::string(511, '#'), 511, false, 0, true},
    };
    for (const ScanCase& row : cases) {
        LogScan scan;
        StartLogScan(&scan, 0);
        bool matched = false;
        for (size_t at = 0; at < row.log.size() && !matched; at += row.block) {
            matched = ScanLogBytes(&scan, row.log.data() + at,
                                   std::min(row.block, row.log.size() - at), kCompleteLine);
        }
        matched = matched || ScanLogEnd(&scan, kCompleteLine);
        EXPECT_EQ(matched, row.matches) << row.name;
        if (!row.matches) {
            EXPECT_EQ(scan.lineStart, row.lineStart) << row.name;
            EXPECT_EQ(ScanEndsInsideALine(&scan), row.insideLine) << row.name;
        }
    }
}

// A record without a line feed (a failed collector) is written as one line too.
TEST(FormatAppendedLine, EndsARecordWithoutLineFeedWithCarriageReturnLineFeed) {
    char out[kAppendedLineSize];
    const size_t length = FormatAppendedLine(Record("W269N 1 ").c_str(), true, out);
    EXPECT_EQ(std::string(out, length), "\r\nW269N 1 \r\n");
}

TEST(EndsWithLineFeed, OnlyWhenTheLastCharacterIsALineFeed) {
    EXPECT_TRUE(EndsWithLineFeed("a\n"));
    EXPECT_TRUE(EndsWithLineFeed("\n"));
    EXPECT_FALSE(EndsWithLineFeed("a"));
    EXPECT_FALSE(EndsWithLineFeed("a\n "));
    EXPECT_FALSE(EndsWithLineFeed(""));
}

}  // namespace
