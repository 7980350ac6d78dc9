// Bad input: one clear line on standard error, the documented exit code, and nothing written to
// history for a refused row.
#include <gtest/gtest.h>

#include "tests/tools/cli_fixture.h"

namespace tooltest {
namespace {

const std::string kSim = "Brindlex.OPC.Simulation";

struct ErrorCase {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    int code;
    const char* says;  // a part of the one error line
    bool outputExpected = false;
};

TEST(VistrelErrors, OneLineAndTheDocumentedExitCode){
    const ErrorCase cases[] = {
        {"unknown subcommand", {"read-everything"}, "", 2, "unknown subcommand 'read-everything'"},
        {"unknown option", {"read-raw", "--stat", "NOW"}, "", 2, "unknown option --stat for read-raw"},
        {"option without its value", {"read-raw", "--start"}, "", 2, "option --start needs a value (TIME)"},
        {"option of another subcommand", {"status", "--bounds"}, "", 2, "unknown option --bounds for status"},
        {"unreadable time",
         {"read-raw", "--server", kSim, "--start", "yesterday", "--end", "NOW", "X"},
         "",
         2,
         "--start: unreadable time 'yesterday'"},
        {"no such calendar day",
         {"read-raw", "--server", kSim, "--start", "2024/02/30 00:00:00", "--end", "NOW", "X"},
         "",
         2,
         "no such calendar moment"},
        {"ISO time without a zone",
         {"read-raw", "--server", kSim, "--start", "2024-01-01T00:00:00", "--end", "NOW", "X"},
         "",
         2,
         "needs Z or an offset"},
        {"two of three",
         {"read-raw", "--server", kSim, "--start", "NOW", "Generated.Waves.Sine"},
         "",
         2,
         "read-raw needs two of --start, --end and --max"},
        {"bad format", {"status", "--format", "xml"}, "", 2, "unknown format 'xml'"},
        {"no items",
         {"read-raw", "--server", kSim, "--start", "NOW-1H", "--end", "NOW"},
         "",
         2,
         "needs item IDs"},
        {"server not registered",
         {"status", "--server", "No.Such.Server"},
         "",
         3,
         "server 'No.Such.Server' is not registered on this computer (CLSIDFromProgID: 0x800401F3"},
        {"remote computer without a host",
         {"status", "--server", kSim, "--computer", "historian7"},
         "",
         3,
#ifdef VISTREL_WITH_REMOTE
         // No host answers there: the code DCOM gives for an unreachable computer.
         "Connect to 'historian7 - Brindlex.OPC.Simulation' failed : Return Code =  800706BA (The RPC "
         "server is unavailable)"},
#else
         "Connect to 'historian7 - Brindlex.OPC.Simulation' failed : Return Code =  80080005 (Server "
         "execution failed)"},
#endif
        {"unknown item",
         {"read-raw", "--server", kSim, "--start", "@1705312800", "--end", "@1705312802", "No.Such.Item"},
         "",
         1,
         "item 'No.Such.Item': 0xC0040007 Unknown Item ID",
         true},
        {"unknown aggregate",
         {"read-processed", "--server", kSim, "--start", "NOW-1H", "--end", "NOW", "--interval", "10m",
          "--aggregate", "MEDIAN", "Generated.Waves.Sine"},
         "",
         2,
         "the server offers no aggregate 'MEDIAN'"},
        {"generator going the wrong way",
         {"insert", "--server", kSim, "--generate", "10,1,1", "Writable.Real8"},
         "",
         2,
         "Error Calculating Output, change sign of Incremnt value"},
    };
for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    CliResult r = RunCli(k.args, k.input);
    EXPECT_EQ(r.code, k.code) << r.err;
    EXPECT_NE(r.err.find(k.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("vistrel: ", 0), 0u) << r.err;
    EXPECT_EQ(Lines(r.err), 1u) << r.err;
    if (!k.outputExpected) {
        EXPECT_EQ(r.out, "");
    }
}
}  // namespace

#ifdef SIM_PLUGIN_PATH
// A row that cannot be read refuses the whole input; a value the server cannot convert is refused
// for its entry only. Either way nothing of the refused rows is in history afterwards.
TEST(VistrelErrors, RefusedRowsWriteNothing) {
    const std::string t1 = "2024-01-15T10:00:00Z", t2 = "2024-01-15T10:00:01Z";
    const std::vector<std::string> readBack = {
        "read-raw", "--server",     kSim, "--start", t1, "--end", "2024-01-15T10:00:02Z",
        "--utc",    "Writable.Int4"};

    CliResult bad = RunCli({"insert", "--server", kSim},
                           "Writable.Int4," + t1 + ",5,Good\nWritable.Int4,2024-01-15 10:00:01,6,Good\n");
    EXPECT_EQ(bad.code, 2);
    EXPECT_NE(bad.err.find("input line 2: unreadable time '2024-01-15 10:00:01'"), std::string::npos)
        << bad.err;
    EXPECT_EQ(bad.out, "");
    CliResult after = RunCli(readBack);
    EXPECT_EQ(after.code, 0) << after.err;
    // The header, and the item's row that says it has no data.
    EXPECT_EQ(after.out,
              "item,timestamp (UTC),value,quality,quality text,code,code text\r\n"
              "Writable.Int4,,,,,0x40041002,No Data\r\n");

    CliResult mixed =
        RunCli({"insert", "--server", kSim, "--utc"}, "item,timestamp,value,quality\nWritable.Int4," + t1 +
                                                          ",abc,Good\nWritable.Int4," + t2 + ",7,Good\n");
    EXPECT_EQ(mixed.code, 1);
    EXPECT_EQ(
        mixed.out,
        "item,timestamp (UTC),value,quality,quality text,code,code text\r\n"
        "Writable.Int4,2024-01-15T10:00:00.000Z,abc,0x000000C0,\"Good, Non-specific\",0xC0040004,Bad Type\r\n"
        "Writable.Int4,2024-01-15T10:00:01.000Z,7,0x000000C0,\"Good, Non-specific\",0x00000000,OK\r\n");
    EXPECT_NE(mixed.err.find("entry 1 (Writable.Int4 2024/01/15 10:00:00.000): 0xC0040004 Bad Type"),
              std::string::npos)
        << mixed.err;
    after = RunCli(readBack);
    EXPECT_EQ(
        after.out,
        "item,timestamp (UTC),value,quality,quality text,code,code text\r\n"
        "Writable.Int4,2024-01-15T10:00:01.000Z,7,0x000400C0,\"Good, Non-specific : Raw\",0x00000000,OK\r\n");
    RunCli({"delete-raw", "--server", kSim, "--start", t1, "--end", "2024-01-15T10:00:02Z", "Writable.Int4"});
}
#endif

}  // namespace tooltest
}  // namespace tooltest

namespace tooltest {
namespace {

#ifdef SIM_PLUGIN_PATH
// --trace: one line per call to the server on standard error, with its result and latency; the
// output itself is unchanged.
TEST(VistrelTrace, EveryServerCallOnStandardError) {
    const std::vector<std::string> args = {
        "read-raw",    "--server", kSim, "--start", "@1705312800",         "--end",
        "@1705312803", "--max",    "2",  "--all",   "Generated.Waves.Sine"};
    CliResult plain = RunCli(args);
    auto traced = args;
    traced.push_back("--trace");
    CliResult r = RunCli(traced);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, plain.out);
    EXPECT_NE(
        r.err.find("trace: IOPCHDA_Server::GetItemHandles(1 [\"Generated.Waves.Sine\"]) -> handles 1 [1] = "
                   "0x00000000 OK ("),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(
                  "trace: IOPCHDA_SyncRead::ReadRaw(2024-01-15T10:00:01.000Z, 2024-01-15T10:00:03.000Z, n=2, "
                  "bounds=0, items=1 [1]) -> 2 values = 0x00000000 OK ("),
              std::string::npos)
        << r.err;
    std::size_t reads = 0;
    for (std::size_t at = 0; (at = r.err.find("::ReadRaw(", at)) != std::string::npos; ++at) ++reads;
    EXPECT_EQ(reads, 2u) << r.err;  // 0 s and 1 s, then 1 s again and 2 s
    EXPECT_NE(r.err.find(" µs)\n"), std::string::npos);
}
#endif

}  // namespace
}  // namespace tooltest
