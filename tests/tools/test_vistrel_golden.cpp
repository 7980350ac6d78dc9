// Golden outputs against the simulation historian: generated items, whose values depend only on the
// instant, at fixed absolute times, in Europe/Berlin with "now" in summer (so that the offset in force
// now, +02:00, differs from a winter instant's own, +01:00).
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "tests/tools/cli_fixture.h"

namespace tooltest {
namespace {

#ifdef SIM_PLUGIN_PATH

struct GoldenCase {
    const char* name;
    std::vector<std::string> args;
    int code;
    std::string out;
};

std::vector<std::string> Sim(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--server", "Brindlex.OPC.Simulation"});
    return args;
}

// With VISTREL_GOLDEN_PRINT set, the outputs are printed as C++ literals instead of compared.
void Check(const std::vector<GoldenCase>& cases) {
    const bool print = std::getenv("VISTREL_GOLDEN_PRINT") != nullptr;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        CliResult r = RunCli(k.args);
        // Read Modified names the login that made a change.
        if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) {
            const std::string login = std::string("\"user\":\"") + pw->pw_name + "\"";
            for (std::size_t at; (at = r.out.find(login)) != std::string::npos;)
                r.out.replace(at, login.size(), "\"user\":\"USER\"");
        }
        if (print) {
            std::cout << "// " << k.name << " -> " << r.code << "\n";
            std::istringstream lines(r.out);
            for (std::string line; std::getline(lines, line);) {
                std::string esc;
                for (char c : line) {
                    if (c == '"' || c == '\\') esc += '\\';
                    if (c == '\r') {
                        esc += "\\r";
                        continue;
                    }
                    esc += c;
                }
                std::cout << "\"" << esc << "\\n\"\n";
            }
            continue;
        }
        EXPECT_EQ(r.code, k.code) << r.err;
        EXPECT_EQ(r.out, k.out);
    }
}

const std::vector<std::string> kRange = {"--start", "2024-01-15T10:00:00Z", "--end", "2024-01-15T10:00:03Z"};

std::vector<std::string> Read(std::vector<std::string> head, std::vector<std::string> tail) {
    head.insert(head.end(), kRange.begin(), kRange.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return Sim(head);
}

TEST(VistrelGolden, ValueReadsInEachFormAndTimeBasis) {
    Check({
        {"read-raw, CSV, the offset in force now",
         Read({"read-raw"}, {"Generated.Waves.Sine", "Generated.Types.Text"}), 0,
         "item,\"timestamp (local, UTC+02:00 now)\",value,quality,quality text,code,code text\r\n"
         "Generated.Waves.Sine,2024-01-15T12:00:00.000+02:00,0,0x000400C0,\"Good, Non-specific : "
         "Raw\",0x00000000,OK\r\n"
         "Generated.Waves.Sine,2024-01-15T12:00:01.000+02:00,10.4528463267653,0x000400C0,\"Good, "
         "Non-specific : Raw\",0x00000000,OK\r\n"
         "Generated.Waves.Sine,2024-01-15T12:00:02.000+02:00,20.7911690817759,0x000400C0,\"Good, "
         "Non-specific : Raw\",0x00000000,OK\r\n"
         "Generated.Types.Text,2024-01-15T12:00:00.000+02:00,Stopped,0x000400C0,\"Good, Non-specific : "
         "Raw\",0x00000000,OK\r\n"},
        {"read-raw, table, each instant's offset",
         Read({"read-raw", "--format", "table", "--tz", "local"}, {"Generated.Types.Int2"}), 0,
         "operation: read-raw\n"
         "server: Brindlex.OPC.Simulation\n"
         "time_basis: local, each time with the offset in force at that instant\n"
         "\n"
         "item                  timestamp (local, offset of each instant)  value  quality     quality text\n"
         "--------------------  -----------------------------------------  -----  ----------  "
         "------------------------\n"
         "Generated.Types.Int2  2024/01/15 11:00:00.000                    0      0x000400C0  Good, "
         "Non-specific : Raw\n"
         "Generated.Types.Int2  2024/01/15 11:00:02.000                    3136   0x000400C0  Good, "
         "Non-specific : Raw\n"
         "-- Generated.Types.Int2: 0x00000000 OK\n"},
        {"read-raw, JSON, UTC, an unknown item",
         Read({"read-raw", "--format", "json", "--utc", "--bounds"},
              {"Generated.Types.Boolean", "No.Such.Item"}),
         1,
         "{\"operation\":\"read-raw\",\"server\":\"Brindlex.OPC.Simulation\",\"time_basis\":\"UTC\","
         "\"items\":[\n"
         "{\"item\":\"Generated.Types.Boolean\",\"values\":[\n"
         "{\"timestamp\":\"2024/01/15 "
         "10:00:00.000\",\"value\":\"-1\",\"quality\":\"0x000400C0\",\"quality_text\":\"Good, Non-specific : "
         "Raw\"},\n"
         "{\"timestamp\":\"2024/01/15 "
         "10:00:01.000\",\"value\":\"-1\",\"quality\":\"0x000400C0\",\"quality_text\":\"Good, Non-specific : "
         "Raw\"},\n"
         "{\"timestamp\":\"2024/01/15 "
         "10:00:02.000\",\"value\":\"-1\",\"quality\":\"0x000400C0\",\"quality_text\":\"Good, Non-specific : "
         "Raw\"},\n"
         "{\"timestamp\":\"2024/01/15 "
         "10:00:03.000\",\"value\":\"-1\",\"quality\":\"0x000400C0\",\"quality_text\":\"Good, Non-specific : "
         "Raw\"}],\"code\":\"0x00000000\",\"code_text\":\"OK\"},\n"
         "{\"item\":\"No.Such.Item\",\"values\":[],\"code\":\"0xC0040007\",\"code_text\":\"Unknown Item "
         "ID\"}\n"
         "]}\n"},
        {"read-processed, CSV",
         Sim({"read-processed", "--utc", "--start", "2024-01-15T10:00:00Z", "--end", "2024-01-15T10:01:00Z",
              "--interval", "30s", "--aggregate", "AVERAGE", "--aggregate", "count", "Generated.Waves.Sine",
              "Generated.Waves.Square"}),
         0,
         "item,timestamp (UTC),value,quality,quality text,code,code text\r\n"
         "Generated.Waves.Sine,2024-01-15T10:00:00.000Z,63.603788959094,0x000800C0,\"Good, Non-specific : "
         "Calculated\",0x00000000,OK\r\n"
         "Generated.Waves.Sine,2024-01-15T10:00:30.000Z,-63.603788959094,0x000800C0,\"Good, Non-specific : "
         "Calculated\",0x00000000,OK\r\n"
         "Generated.Waves.Square,2024-01-15T10:00:00.000Z,30,0x000800C0,\"Good, Non-specific : "
         "Calculated\",0x00000000,OK\r\n"
         "Generated.Waves.Square,2024-01-15T10:00:30.000Z,30,0x000800C0,\"Good, Non-specific : "
         "Calculated\",0x00000000,OK\r\n"},
        {"read-at-time, JSON",
         Sim({"read-at-time", "--format", "json", "--utc", "--at", "2024-01-15T10:00:00.5Z", "--at",
              "@1705312802", "Generated.Types.Currency"}),
         0,
         "{\"operation\":\"read-at-time\",\"server\":\"Brindlex.OPC.Simulation\",\"time_basis\":\"UTC\","
         "\"items\":[\n"
         "{\"item\":\"Generated.Types.Currency\",\"values\":[\n"
         "{\"timestamp\":\"2024/01/15 "
         "10:00:00.500\",\"value\":\"0.8333\",\"quality\":\"0x000200C0\",\"quality_text\":\"Good, "
         "Non-specific : Interpolated Value\"},\n"
         "{\"timestamp\":\"2024/01/15 "
         "10:00:02.000\",\"value\":\"3.3333\",\"quality\":\"0x000200C0\",\"quality_text\":\"Good, "
         "Non-specific : Interpolated Value\"}],\"code\":\"0x00000000\",\"code_text\":\"OK\"}\n"
         "]}\n"},
        {"read-attribute, table",
         Sim({"read-attribute", "--format", "table", "--attribute", "DESCRIPTION", "--attribute", "eng units",
              "--attribute", "1", "Generated.Plant.Boiler.Temperature"}),
         0,
         "operation: read-attribute\n"
         "server: Brindlex.OPC.Simulation\n"
         "time_basis: local, the offset in force now (UTC+02:00) for every time\n"
         "\n"
         "item                                attribute  name         timestamp (local, UTC+02:00 now)  "
         "value\n"
         "----------------------------------  ---------  -----------  --------------------------------  "
         "------------------------\n"
         "Generated.Plant.Boiler.Temperature  2          Description  2024/07/01 14:00:00.000           "
         "Boiler water temperature\n"
         "Generated.Plant.Boiler.Temperature  3          Eng Units    2024/07/01 14:00:00.000           °C\n"
         "Generated.Plant.Boiler.Temperature  1          Data Type    2024/07/01 14:00:00.000           5\n"
         "-- Generated.Plant.Boiler.Temperature: 0x00000000 OK\n"},
    });
}

TEST(VistrelGolden, ListsAndBrowsing) {
    Check({
        {"browse one level", Sim({"browse", "--path", "Generated/Plant/Boiler"}), 0,
         "kind,name,item\r\n"
         "leaf,Temperature,Generated.Plant.Boiler.Temperature\r\n"
         "leaf,Pressure,Generated.Plant.Boiler.Pressure\r\n"
         "leaf,Level,Generated.Plant.Boiler.Level\r\n"
         "leaf,BurnerOn,Generated.Plant.Boiler.BurnerOn\r\n"
         "leaf,State,Generated.Plant.Boiler.State\r\n"},
        {"browse flat with filters",
         Sim({"browse", "--mode", "flat", "--format", "json", "--filter", "DATA_TYPE=5", "--filter",
              "ItemID=*Sine*"}),
         0,
         "{\"operation\":\"browse\",\"server\":\"Brindlex.OPC.Simulation\",\"time_basis\":\"local, the "
         "offset in force now (UTC+02:00) for every time\",\"items\":[\n"
         "{\"item\":\"Generated.Waves.Sine\"},\n"
         "{\"item\":\"Generated.Waves.SlowSine\"}\n"
         "]}\n"},
        {"aggregates", Sim({"aggregates", "--format", "csv"}), 0,
         "id,name,description\r\n"
         "1,Interpolative,\"Value at the start of each interval, interpolated between the values around "
         "it\"\r\n"
         "2,Total,Time average times the interval's length in seconds\r\n"
         "3,Average,Arithmetic mean of the Good values in the interval\r\n"
         "4,Time Average,Area under the interpolated values divided by the interval's length\r\n"
         "5,Count,Number of Good values in the interval\r\n"
         "6,Standard Deviation,Standard deviation of the Good values in the interval\r\n"
         "7,Minimum Actual Time,\"Smallest Good value in the interval, with its own timestamp\"\r\n"
         "8,Minimum,Smallest Good value in the interval\r\n"
         "9,Maximum Actual Time,\"Largest Good value in the interval, with its own timestamp\"\r\n"
         "10,Maximum,Largest Good value in the interval\r\n"
         "11,Start,\"First value in the interval, with its own timestamp\"\r\n"
         "12,End,\"Last value in the interval, with its own timestamp\"\r\n"
         "13,Delta,Last Good value minus the first Good value in the interval\r\n"
         "14,Regression Line Slope,Slope of the least-squares line through the Good values (per second)\r\n"
         "15,Regression Line Constant,Value of the least-squares line at the start of the interval\r\n"
         "16,Regression Line Error,Standard deviation of the Good values about the least-squares line\r\n"
         "17,Variance,Variance of the Good values in the interval\r\n"
         "18,Range,Largest minus smallest Good value in the interval\r\n"
         "19,Duration Good,Seconds of the interval during which the quality was Good\r\n"
         "20,Duration Bad,Seconds of the interval during which the quality was Bad\r\n"
         "21,Percent Good,Fraction of the interval during which the quality was Good (1.0 = all of it)\r\n"
         "22,Percent Bad,Fraction of the interval during which the quality was Bad (1.0 = all of it)\r\n"
         "23,Worst Quality,Worst quality of the values in the interval\r\n"},
    });
}

TEST(VistrelGolden, UpdatesAndWhatTheyLeave) {
    Check({
        {"insert-replace from the generator",
         Sim({"insert-replace", "--utc", "--generate", "1,0.5,3", "--from", "2024-01-15T10:00:00Z", "--every",
              "1m", "Writable.Real8", "Writable.Text"}),
         0,
         "item,timestamp (UTC),value,quality,quality text,code,code text\r\n"
         "Writable.Real8,2024-01-15T10:00:00.000Z,1.000000,0x000000C0,\"Good, "
         "Non-specific\",0x4004100E,Inserted\r\n"
         "Writable.Text,2024-01-15T10:00:00.000Z,1.000000,0x000000C0,\"Good, "
         "Non-specific\",0x4004100E,Inserted\r\n"
         "Writable.Real8,2024-01-15T10:01:00.000Z,1.500000,0x000000C0,\"Good, "
         "Non-specific\",0x4004100E,Inserted\r\n"
         "Writable.Text,2024-01-15T10:01:00.000Z,1.500000,0x000000C0,\"Good, "
         "Non-specific\",0x4004100E,Inserted\r\n"
         "Writable.Real8,2024-01-15T10:02:00.000Z,2.000000,0x000000C0,\"Good, "
         "Non-specific\",0x4004100E,Inserted\r\n"
         "Writable.Text,2024-01-15T10:02:00.000Z,2.000000,0x000000C0,\"Good, "
         "Non-specific\",0x4004100E,Inserted\r\n"
         "Writable.Real8,2024-01-15T10:03:00.000Z,2.500000,0x000000C0,\"Good, "
         "Non-specific\",0x4004100E,Inserted\r\n"
         "Writable.Text,2024-01-15T10:03:00.000Z,2.500000,0x000000C0,\"Good, "
         "Non-specific\",0x4004100E,Inserted\r\n"},
        {"replace what is there and what is not",
         Sim({"replace", "--utc", "--generate", "7,1,9", "--from", "2024-01-15T10:03:00Z", "--every", "1m",
              "Writable.Real8"}),
         1,
         "item,timestamp (UTC),value,quality,quality text,code,code text\r\n"
         "Writable.Real8,2024-01-15T10:03:00.000Z,7.000000,0x000000C0,\"Good, "
         "Non-specific\",0x00000000,OK\r\n"
         "Writable.Real8,2024-01-15T10:04:00.000Z,8.000000,0x000000C0,\"Good, "
         "Non-specific\",0xC004100D,Unknown Error code : 0xC004100D\r\n"},
        {"read-modified",
         Sim({"read-modified", "--utc", "--start", "2024-01-15T10:00:00Z", "--end", "2024-01-15T11:00:00Z",
              "--format", "json", "Writable.Real8"}),
         0,
         "{\"operation\":\"read-modified\",\"server\":\"Brindlex.OPC.Simulation\",\"time_basis\":\"UTC\","
         "\"items\":[\n"
         "{\"item\":\"Writable.Real8\",\"values\":[\n"
         "{\"timestamp\":\"2024/01/15 "
         "10:03:00.000\",\"value\":\"2.5\",\"quality\":\"0x000400C0\",\"quality_text\":\"Good, Non-specific "
         ": Raw\",\"modified\":\"2024/07/01 "
         "12:00:00.000\",\"edit\":\"Replace\",\"user\":\"USER\"}],\"code\":\"0x00000000\",\"code_text\":"
         "\"OK\"}\n"
         "]}\n"},
        {"delete-at-time",
         Sim({"delete-at-time", "--utc", "--at", "2024-01-15T10:00:00Z", "--at", "2024-01-15T10:05:00Z",
              "Writable.Real8", "Writable.Text"}),
         0,
         "item,timestamp (UTC),code,code text\r\n"
         "Writable.Real8,2024-01-15T10:00:00.000Z,0x00000000,OK\r\n"
         "Writable.Text,2024-01-15T10:00:00.000Z,0x00000000,OK\r\n"
         "Writable.Real8,2024-01-15T10:05:00.000Z,0x40041002,No Data\r\n"
         "Writable.Text,2024-01-15T10:05:00.000Z,0x40041002,No Data\r\n"},
        {"delete-raw",
         Sim({"delete-raw", "--utc", "--start", "2024-01-15T10:00:00Z", "--end", "2024-01-15T11:00:00Z",
              "Writable.Real8", "Writable.Text"}),
         0,
         "item,start (UTC),end (UTC),code,code text\r\n"
         "Writable.Real8,2024-01-15T10:00:00.000Z,2024-01-15T11:00:00.000Z,0x00000000,OK\r\n"
         "Writable.Text,2024-01-15T10:00:00.000Z,2024-01-15T11:00:00.000Z,0x00000000,OK\r\n"},
        {"nothing left",
         Sim({"read-raw", "--utc", "--start", "2024-01-15T10:00:00Z", "--end", "2024-01-15T11:00:00Z",
              "--format", "json", "Writable.Real8"}),
         0,
         "{\"operation\":\"read-raw\",\"server\":\"Brindlex.OPC.Simulation\",\"time_basis\":\"UTC\","
         "\"items\":[\n"
         "{\"item\":\"Writable.Real8\",\"values\":[],\"code\":\"0x40041002\",\"code_text\":\"No Data\"}\n"
         "]}\n"},
    });
}

// A read's CSV, on any time basis, is input for an update: the times name their instants.
TEST(VistrelGolden, AReadsCsvReadsBackAsInput) {
    const std::vector<std::string> range = {"--start", "2024-01-15T10:00:00Z", "--end",
                                            "2024-01-15T10:00:03Z"};
    auto read = [&](std::string item, std::vector<std::string> extra) {
        std::vector<std::string> args = Sim({"read-raw", "--format", "csv"});
        args.insert(args.end(), range.begin(), range.end());
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(item);
        return RunCli(args);
    };
    CliResult source = read("Generated.Waves.Sine", {"--tz", "local"});
    ASSERT_EQ(source.code, 0) << source.err;
    std::string input = source.out;
    for (std::size_t at; (at = input.find("Generated.Waves.Sine")) != std::string::npos;)
        input.replace(at, 20, "Writable.Real8");
    CliResult put = RunCli(Sim({"insert-replace"}), input);
    EXPECT_EQ(put.code, 0) << put.err;
    const std::string utc = read("Writable.Real8", {"--utc"}).out;
    EXPECT_NE(utc.find("Writable.Real8,2024-01-15T10:00:01.000Z,10.4528463267653,"), std::string::npos)
        << utc;
    RunCli(Sim({"delete-raw", "--start", "2024-01-15T10:00:00Z", "--end", "2024-01-15T10:00:03Z",
                "Writable.Real8"}));
}

#endif

}  // namespace
}  // namespace tooltest
