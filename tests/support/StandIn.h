#pragma once
// Stand-in programs for tests that start other programs: each one records its name and
// arguments into one file of its folder, which the test waits for without sleeping.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"

class StandInPrograms {
public:
    // Writes an executable shell script called `name` into the folder.
    void Add(const std::string& name);
    std::string Dir() const { return m_dir.path().string(); }
    // The argument vector of the next run (program base name first), or nothing when no stand-in
    // finished within the bound. The record is removed, so a later run is seen afresh.
    std::optional<std::vector<std::string>> WaitForRun(std::chrono::milliseconds bound);

private:
    testsupport::TempDir m_dir;
};

// Sets (or with nullptr removes) an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_saved;
};
