// Test fixtures that give each test a fresh folder of its own under the
// temporary folder, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

class InTestFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path()
              / ("veltrane-test-" + std::to_string(::getpid()) + "-"
                 + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string at(const std::string& name) const { return (dir / name).string(); }

    // The names in the folder, sorted, so that a test sees any stray file.
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path dir;
};

// The same folder, entered as the working folder while the test runs.
class InWorkingFolder : public InTestFolder {
protected:
    void SetUp() override
    {
        old_ = std::filesystem::current_path();
        InTestFolder::SetUp();
        std::filesystem::current_path(dir);
    }
    void TearDown() override
    {
        std::filesystem::current_path(old_);
        InTestFolder::TearDown();
    }

private:
    std::filesystem::path old_;
};
