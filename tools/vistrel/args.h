// Command-line parsing: one table of subcommands and their options, each option with its help.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vistrel {

// A usage error: exit code 2, the text on one line.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    const char* name;       // "--start"
    const char* valueName;  // "TIME", or null for a flag
    const char* help;
    bool repeatable = false;
};

struct SubcommandSpec {
    const char* name;
    const char* summary;
    const char* usage;  // after "vistrel NAME "
    std::vector<OptionSpec> options;
    const char* details;      // paragraphs after the options
    const char* examples;     // lines of examples
    bool takesItems = false;  // item IDs as arguments or with --items
};

const std::vector<SubcommandSpec>& Subcommands();
const SubcommandSpec* FindSubcommand(const std::string& name);
// The options every subcommand takes.
const std::vector<OptionSpec>& CommonOptions();

struct ParsedArgs {
    const SubcommandSpec* sub = nullptr;
    std::map<std::string, std::vector<std::string>> options;  // by name; flags hold one empty value each
    std::vector<std::string> positional;
    bool help = false;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::optional<std::string> Get(const std::string& name) const;
    std::vector<std::string> All(const std::string& name) const;
};

// argv without the program name. Throws UsageError. "--name=value" and "--name value" both work;
// "--" ends the options.
ParsedArgs ParseArgs(const std::vector<std::string>& args);

std::string GeneralHelp();
std::string SubcommandHelp(const SubcommandSpec& sub);

}  // namespace vistrel
