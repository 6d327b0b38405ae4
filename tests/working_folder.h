// A test fixture that runs each test in a fresh folder of its own under the
// temporary folder, entered as the working folder and removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

class InWorkingFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        old_ = fs::current_path();
        dir_ = fs::temp_directory_path()
               / ("veltrane-test-" + std::to_string(::getpid()) + "-"
                  + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::current_path(dir_);
    }
    void TearDown() override
    {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path old_, dir_;
};
