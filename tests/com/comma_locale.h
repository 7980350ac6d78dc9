// A C library locale whose decimal separator is ',', for the tests of locale handling: an installed
// one when there is one, else a minimal one (only LC_NUMERIC matters) compiled with localedef into a
// temporary directory that LOCPATH then names. Empty when neither works (the tests then skip).
#pragma once

#include <langinfo.h>
#include <locale.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace testsupport {

inline bool HasDecimalComma(const char* name) {
    locale_t loc = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return false;
    const bool comma = std::strcmp(nl_langinfo_l(RADIXCHAR, loc), ",") == 0;
    freelocale(loc);
    return comma;
}

inline std::optional<std::string> CommaLocale() {
    static const std::optional<std::string> name = []() -> std::optional<std::string> {
        static constexpr const char* kBuilt = "vistrel_TEST.UTF-8";
        for (const char* n :
             {kBuilt, "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "ru_RU.UTF-8"})
            if (HasDecimalComma(n)) return std::string(n);

        namespace fs = std::filesystem;
        std::error_code ec;
        std::string dir = (fs::temp_directory_path(ec) / "vistrel-locale-XXXXXX").string();
        if (ec || mkdtemp(dir.data()) == nullptr) return std::nullopt;
        // Removed when this process ends (a child that only found it leaves it alone).
        static struct Cleanup {
            std::string path;
            ~Cleanup() {
                std::error_code e;
                if (!path.empty()) std::filesystem::remove_all(path, e);
            }
        } cleanup;
        cleanup.path = dir;
        {
            std::ofstream src(dir + "/src");
            src << "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\n"
                   "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\ngrouping 3;3\nEND LC_NUMERIC\n";
        }
        const std::string cmd =
            "localedef -c -i '" + dir + "/src' -f UTF-8 '" + dir + "/" + kBuilt + "' >/dev/null 2>&1";
        std::system(cmd.c_str());  // -c: the warnings about categories not given are expected
        setenv("LOCPATH", dir.c_str(), 1);
        if (HasDecimalComma(kBuilt)) return std::string(kBuilt);
        unsetenv("LOCPATH");
        return std::nullopt;
    }();
    return name;
}

}  // namespace testsupport
