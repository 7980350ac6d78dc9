// A fresh class store directory per test, selected with VISTREL_CLASS_STORE, and a reset runtime.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "com/classstore.h"
#include "com/objbase.h"

namespace vistrel_test {

// Sets an environment variable for the life of the object and restores the old value.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

inline std::string MakeTempDir(const char* tag) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string("vistrel-") + tag + "-XXXXXX")).string();
    char* made = mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = MakeTempDir("store");
        ASSERT_FALSE(m_dir.empty());
        m_env.emplace("VISTREL_CLASS_STORE", m_dir);
        com::ResetRuntimeForTests();
    }
    void TearDown() override {
        com::ResetRuntimeForTests();
        m_env.reset();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string EntryPath(REFCLSID clsid) const { return m_dir + "/" + com::GuidToUtf8(clsid) + ".class"; }

    std::string m_dir;
    std::optional<ScopedEnv> m_env;
};

}  // namespace vistrel_test
