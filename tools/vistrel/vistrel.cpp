#include "tools/vistrel/vistrel.h"

#include "tools/vistrel/args.h"

namespace vistrel {

int RunVistrel(const std::vector<std::string>& args, Streams io) {
    ParsedArgs parsed;
    try {
        parsed = ParseArgs(args);
    } catch (const UsageError& e) {
        io.err << "vistrel: " << e.what() << " (see 'vistrel --help')\n";
        return kExitUsage;
    }
    if (parsed.help || !parsed.sub) {
        io.out << (parsed.sub ? SubcommandHelp(*parsed.sub) : GeneralHelp());
        return parsed.sub || parsed.help ? kExitOk : kExitUsage;
    }
    io.err << "vistrel: " << parsed.sub->name << " is not available yet\n";
    return kExitFailure;
}

}  // namespace vistrel
