#include "tools/vistrel/args.h"

#include <algorithm>
#include <sstream>

namespace vistrel {

namespace {

const char kTimeForms[] =
    "TIME is the client's time text \"2024/01/01 05:00:00.000\" (seconds and milliseconds may be left\n"
    "out), read on the output's time basis; a relative time of the HDA 1.20 standard such as NOW-1H or\n"
    "DAY+8H, passed to the server as text; ISO 8601 with Z or an offset (2024-01-01T05:00:00Z,\n"
    "2024-01-01T06:00:00.250+01:00); or seconds since 1970 (1704085200, 1704085200.5, @1704085200).\n";

std::vector<SubcommandSpec> Build() {
    const OptionSpec start{"--start", "TIME", "start of the time domain"};
    const OptionSpec end{"--end", "TIME", "end of the time domain"};
    const OptionSpec at{"--at", "TIME", "a timestamp (repeat for several)", true};
    const OptionSpec times{"--times", "FILE", "timestamps, one a line ('-' for standard input)"};
    std::vector<SubcommandSpec> v;
    v.push_back({"servers",
                 "list the HDA servers registered on this computer",
                 "",
                 {},
                 "The ProgIDs of the classes of the HDA server category, in discovery order. The first\n"
                 "one is the server the other subcommands use when --server is not given.\n",
                 "vistrel servers\nvistrel servers --format json\n"});
    v.push_back(
        {"browse",
         "list the server's address space",
         "[--path BRANCH] [--mode level|tree|flat] [--filter F]...",
         {{"--path", "BRANCH", "the branch to start from, levels separated by '/' (default: the root)"},
          {"--mode", "MODE",
           "level: the branches and leaves of one level (default); tree: every item\n"
           "below, depth first; flat: the server's flat list of item IDs"},
          {"--filter", "F",
           "ATTRIBUTE OP VALUE, e.g. 'DATA_TYPE=5' or 'ITEMID=Gen*' (OP is one of\n"
           "= != < <= > >=; ATTRIBUTE a name of 'vistrel attributes' or its number)",
           true}},
         "Filters apply to items, never to branches; a filter the server refuses is reported and the\n"
         "listing goes on without it (exit code 1).\n",
         "vistrel browse\nvistrel browse --mode tree --path Generated/Plant\n"
         "vistrel browse --mode flat --filter 'ITEMID=*.Sine*' --format csv\n"});
    v.push_back({"attributes",
                 "list the item attributes the server offers",
                 "",
                 {},
                 "",
                 "vistrel attributes --server Brindlex.OPC.Simulation\n"});
    v.push_back({"aggregates",
                 "list the aggregates the server offers",
                 "",
                 {},
                 "",
                 "vistrel aggregates --format csv\n"});
    v.push_back({"status",
                 "the server's status",
                 "",
                 {},
                 "",
                 "vistrel status\nvistrel status --utc --format json\n"});
    v.push_back(
        {"read-raw",
         "read the stored values of items",
         "[--start TIME] [--end TIME] [--max N] [--bounds] [--all] ITEM...",
         {start,
          end,
          {"--max", "N", "most values per item (0: as many as the server gives; the page size with --all)"},
          {"--bounds", nullptr, "also the bounding values at both ends"},
          {"--all", nullptr,
           "follow \"More Data Exists\": ask again from the last timestamp until the\n"
           "domain is read, every value once, page by page"}},
         "At least two of --start, --end and --max must be given. With --all each item is read on its\n"
         "own, page after page, and written as it arrives: memory stays bounded however long the\n"
         "history is. A page repeats the values at the timestamp it continues from; those are left\n"
         "out. A timestamp holding more values than a page has room for doubles the page size.\n",
         "vistrel read-raw --start NOW-1H --end NOW Generated.Plant.Boiler.Temperature\n"
         "vistrel read-raw --start 2024-01-01T00:00:00Z --end 2024-01-02T00:00:00Z --max 1000 --all \\\n"
         "    --format csv --items items.txt > day.csv\n",
         true});
    v.push_back(
        {"read-processed",
         "read aggregates of items over intervals",
         "--start TIME --end TIME --interval DURATION --aggregate A... ITEM...",
         {start,
          end,
          {"--interval", "DURATION", "the resample interval: 10s, 5m, 1h30m, 00:15:00, 0 for one interval"},
          {"--aggregate", "A",
           "an aggregate's name (as 'vistrel aggregates' lists it) or number; one for\n"
           "every item, or one per item in order",
           true}},
         "DURATION is a number with a unit (ms s m h d w), several of them (1h30m), or hh:mm:ss[.fff].\n",
         "vistrel read-processed --start DAY --end NOW --interval 1h --aggregate AVERAGE "
         "Generated.Waves.Sine\n",
         true});
    v.push_back(
        {"read-at-time",
         "read the values of items at given timestamps",
         "--at TIME... | --times FILE  ITEM...",
         {at, times},
         "The server answers each timestamp with a stored or an interpolated value.\n",
         "vistrel read-at-time --at 2024-01-01T05:00:00Z --at 2024-01-01T06:00:00Z Generated.Waves.Sine\n",
         true});
    v.push_back(
        {"read-attribute",
         "read the current attribute values of items",
         "[--attribute A]... ITEM...",
         {{"--attribute", "A", "an attribute's name or number (default: every attribute the server offers)",
           true}},
         "Asks for the values at NOW, one call per item.\n",
         "vistrel read-attribute --attribute DESCRIPTION --attribute ENG_UNITS Generated.Waves.Sine\n",
         true});
    v.push_back({"read-modified",
                 "read the values that updates superseded",
                 "[--start TIME] [--end TIME] [--max N] [--all] ITEM...",
                 {start,
                  end,
                  {"--max", "N", "most values per item (the page size with --all)"},
                  {"--all", nullptr, "follow \"More Data Exists\" as read-raw does"}},
                 "",
                 "vistrel read-modified --start DAY-7D --end NOW Writable.Setpoint\n",
                 true});
    const std::vector<OptionSpec> upd = {
        {"--input", "FILE",
         "CSV rows item,timestamp,value[,quality] ('-' or nothing: standard input); a\n"
         "first row naming the columns is skipped"},
        {"--generate", "I,S,E",
         "instead of rows: values from I by S up to E (E itself left out) for every\n"
         "item given, like the client's data generator"},
        {"--from", "TIME", "the generator's first timestamp (default now)"},
        {"--every", "DURATION", "the generator's time step (default 1s)"},
        {"--quality", "Q", "the generator's quality: Good (default), Uncertain or Bad"}};
    const char* updDetails =
        "Values travel as text (VT_BSTR), as typed; the server converts them. Quality is Good, Uncertain,\n"
        "Bad (Bad and anything else: 0) or a number (192, 0xC0). A row that cannot be read is reported\n"
        "with its line number and nothing is written (exit code 2). One row of output per entry with its\n"
        "result code; entries the server refused give exit code 1.\n";
    v.push_back({"insert", "insert values into history", "[--input FILE | --generate I,S,E ITEM...]", upd,
                 updDetails,
                 "printf 'Writable.Real8,2024-01-01T05:00:00Z,1.5,Good\\n' | vistrel insert\n"
                 "vistrel insert --generate 1,1,10 --from 2024-01-01T05:00:00Z --every 1m Writable.Real8\n",
                 true});
    v.push_back({"replace", "replace values in history", "[--input FILE | --generate I,S,E ITEM...]", upd,
                 updDetails, "vistrel replace --input corrections.csv\n", true});
    v.push_back({"insert-replace", "insert values or replace those that exist",
                 "[--input FILE | --generate I,S,E ITEM...]", upd, updDetails,
                 "vistrel insert-replace --input values.csv --format csv\n", true});
    v.push_back(
        {"delete-raw",
         "delete the values of items in a time domain",
         "--start TIME --end TIME ITEM...",
         {start, end},
         "Both times are needed. The rows show the domain as the server read it.\n",
         "vistrel delete-raw --start 2024-01-01T00:00:00Z --end 2024-01-02T00:00:00Z Writable.Real8\n",
         true});
    v.push_back({"delete-at-time",
                 "delete the values of items at given timestamps",
                 "--at TIME... | --times FILE  ITEM...",
                 {at, times},
                 "",
                 "vistrel delete-at-time --at 2024-01-01T05:00:00Z Writable.Real8 Writable.Int4\n",
                 true});
    return v;
}

}  // namespace

const std::vector<OptionSpec>& CommonOptions() {
    static const std::vector<OptionSpec> common = {
        {"--server", "PROGID", "the server (default: the first one 'vistrel servers' lists)"},
        {"--computer", "NAME", "the computer the server runs on (default: this one)"},
        {"--items", "FILE", "item IDs, one a line, after those given as arguments ('-' for standard input)"},
        {"--format", "FORMAT", "table (default on a terminal), csv (default otherwise) or json"},
        {"--utc", nullptr, "times in UTC"},
        {"--tz", "BASIS",
         "local: each time with the offset in force at that instant; current: the offset in\n"
         "force now for every time (the default, as the desktop client); utc"},
        {"--isolate", nullptr,
         "run a server of this computer in a process of its own (as VISTREL_ISOLATE=1)"},
        {"--trace", nullptr, "every call to the server on standard error: arguments, result, microseconds"},
        {"--help", nullptr, "this help"},
    };
    return common;
}

const std::vector<SubcommandSpec>& Subcommands() {
    static const std::vector<SubcommandSpec> subs = Build();
    return subs;
}

const SubcommandSpec* FindSubcommand(const std::string& name) {
    for (const auto& s : Subcommands())
        if (name == s.name) return &s;
    return nullptr;
}

std::optional<std::string> ParsedArgs::Get(const std::string& name) const {
    auto it = options.find(name);
    if (it == options.end() || it->second.empty()) return std::nullopt;
    return it->second.back();
}

std::vector<std::string> ParsedArgs::All(const std::string& name) const {
    auto it = options.find(name);
    return it == options.end() ? std::vector<std::string>{} : it->second;
}

namespace {

const OptionSpec* FindOption(const SubcommandSpec* sub, const std::string& name) {
    for (const auto& o : CommonOptions())
        if (name == o.name) return &o;
    if (sub)
        for (const auto& o : sub->options)
            if (name == o.name) return &o;
    return nullptr;
}

}  // namespace

ParsedArgs ParseArgs(const std::vector<std::string>& args) {
    ParsedArgs p;
    bool optionsEnded = false;
    std::vector<std::string> early;  // positional words before the subcommand is known
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            if (a == "-h") {
                p.help = true;
                continue;
            }
            std::string name = a, value;
            bool inlineValue = false;
            if (auto eq = a.find('='); eq != std::string::npos && a.rfind("--", 0) == 0) {
                name = a.substr(0, eq);
                value = a.substr(eq + 1);
                inlineValue = true;
            }
            const OptionSpec* o = FindOption(p.sub, name);
            if (!o) {
                if (!p.sub) {
                    // An option of a subcommand given before it: look it up once the subcommand is known.
                    bool known = false;
                    for (const auto& s : Subcommands())
                        for (const auto& so : s.options) known = known || name == so.name;
                    if (known) throw UsageError("option " + name + " must follow the subcommand");
                }
                throw UsageError("unknown option " + name +
                                 (p.sub ? std::string(" for ") + p.sub->name : ""));
            }
            if (name == "--help") {
                p.help = true;
                continue;
            }
            if (o->valueName) {
                if (!inlineValue) {
                    if (i + 1 >= args.size())
                        throw UsageError("option " + name + " needs a value (" + o->valueName + ")");
                    value = args[++i];
                }
            } else if (inlineValue) {
                throw UsageError("option " + name + " takes no value");
            }
            auto& slot = p.options[name];
            if (!slot.empty() && !o->repeatable) throw UsageError("option " + name + " given twice");
            slot.push_back(value);
            continue;
        }
        if (!p.sub) {
            p.sub = FindSubcommand(a);
            if (!p.sub) {
                if (a == "help") {
                    p.help = true;
                    continue;
                }
                throw UsageError("unknown subcommand '" + a + "'");
            }
            continue;
        }
        p.positional.push_back(a);
    }
    if (p.sub && !p.sub->takesItems && !p.positional.empty() && !p.help)
        throw UsageError(std::string(p.sub->name) + " takes no arguments ('" + p.positional.front() + "')");
    return p;
}

namespace {

void Options(std::ostringstream& o, const std::vector<OptionSpec>& opts) {
    for (const auto& s : opts) {
        std::string head = std::string("  ") + s.name + (s.valueName ? std::string(" ") + s.valueName : "");
        std::string help = s.help;
        std::string pad(24, ' ');
        if (head.size() < 24)
            o << head << std::string(24 - head.size(), ' ');
        else
            o << head << "\n" << pad;
        for (std::size_t i = 0; i < help.size(); ++i) {
            o << help[i];
            if (help[i] == '\n' && i + 1 < help.size()) o << pad;
        }
        o << "\n";
    }
}

const char kExitCodes[] =
    "Exit codes:\n"
    "  0  every call and every item or entry succeeded\n"
    "  1  the call succeeded but some items or entries failed (they are listed on standard error)\n"
    "  2  usage error: unknown subcommand or option, unreadable time, number or input row\n"
    "  3  connection or call failure: server not registered or not reachable, a call that failed\n";

}  // namespace

std::string GeneralHelp() {
    std::ostringstream o;
    o << "Usage: vistrel SUBCOMMAND [OPTIONS] [ITEM...]\n\n"
         "The command-line client of HDA Vistrel: every OPC HDA operation against a historian, for\n"
         "scripts and pipes.\n\nSubcommands:\n";
    for (const auto& s : Subcommands()) {
        std::string n = s.name;
        o << "  " << n << std::string(n.size() < 16 ? 16 - n.size() : 1, ' ') << s.summary << "\n";
    }
    o << "\nOptions of every subcommand:\n";
    Options(o, CommonOptions());
    o << "\n"
      << kTimeForms << "\n"
      << kExitCodes << "\n'vistrel SUBCOMMAND --help' describes one subcommand, with examples.\n";
    return o.str();
}

std::string SubcommandHelp(const SubcommandSpec& s) {
    std::ostringstream o;
    o << "Usage: vistrel " << s.name << (s.usage[0] ? " " : "") << s.usage << "\n\n" << s.summary << ".\n";
    if (!s.options.empty()) {
        o << "\nOptions:\n";
        Options(o, s.options);
    }
    o << "\nOptions of every subcommand:\n";
    Options(o, CommonOptions());
    if (s.details[0]) o << "\n" << s.details;
    bool usesTime = false;
    for (const auto& opt : s.options)
        usesTime = usesTime || (opt.valueName && std::string(opt.valueName) == "TIME");
    if (usesTime) o << "\n" << kTimeForms;
    if (s.takesItems)
        o << "\nItem IDs are the arguments, then the lines of --items (blank lines and lines starting with "
             "#\n"
             "are skipped).\n";
    o << "\nExamples:\n";
    std::istringstream ex(s.examples);
    for (std::string line; std::getline(ex, line);) o << "  " << line << "\n";
    o << "\n" << kExitCodes;
    return o.str();
}

}  // namespace vistrel
