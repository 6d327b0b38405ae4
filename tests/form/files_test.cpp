// The one writer of the program: the window's Save and the renderer's file
// set give the same reason for the same failed call, and leave nothing
// behind.
#include "tests/test_folder.h"
#include "model/errors.h"
#include "plots/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class Writer : public InTestFolder {};

std::string failure(const std::function<void()>& write)
{
    try {
        write();
    } catch (const model::RuntimeError& e) {
        EXPECT_EQ(e.kind(), model::RuntimeError::Kind::FileNotWritten);
        return e.what();
    }
    return "(written)";
}

// Every failure the writers meet, by its errno: both name the file the same
// way and give the one wording of that errno, and no temporary file stays.
TEST_F(Writer, OneWordingPerErrnoForTheWindowAndTheRenderer)
{
    const std::string longName(300, 'n');
    struct Case {
        const char* what;
        std::string name;
        int error;
        std::function<void()> prepare;
    };
    const std::vector<Case> cases = {
        {"missing folder", at("missing/x.bin"), ENOENT, [] {}},
        {"a file as folder", at("plain/x.bin"), ENOTDIR, [&] { std::ofstream(at("plain")); }},
        {"a folder", at("folder"), EISDIR, [&] { fs::create_directory(at("folder")); }},
        {"name too long", at(longName), ENAMETOOLONG, [] {}},
        {"link loop", at("loop.bin"), ELOOP,
         [&] { fs::create_symlink("loop.bin", at("loop.bin")); }},
        {"pipe with no reader", at("fifo.bin"), ENXIO,
         [&] { ASSERT_EQ(::mkfifo(at("fifo.bin").c_str(), 0600), 0); }},
        {"full device", "/dev/full", ENOSPC, [] {}},
    };
    for (const Case& c : cases) {
        c.prepare();
        const std::vector<uint8_t> bytes(64, 7);
        const std::string asPicture = failure([&] { plots::WriteFileReplacing(c.name, bytes); });
        const std::string asData = failure([&] {
            plots::FileSet files;
            files.add(c.name, bytes);
            files.commit();
        });
        const std::string reason = model::FileReason(c.error);
        EXPECT_EQ(asPicture, "The picture could not be saved as \"" + c.name + "\": " + reason
                                 + ".")
            << c.what;
        EXPECT_EQ(asData, "The file \"" + c.name + "\" could not be written: " + reason + ".")
            << c.what;
    }
    for (const std::string& e : entries())
        EXPECT_EQ(e.rfind(".veltrane-save-", 0), std::string::npos) << "left behind: " << e;

    // Distinct failures read differently.
    const int errors[] = {ENOENT, ENOTDIR, EISDIR, ENAMETOOLONG, ELOOP, ENXIO, ENOSPC, EFBIG,
                          EROFS, EACCES, EPIPE, EIO, EEXIST};
    for (int a : errors)
        for (int b : errors) {
            if (a < b) {
                EXPECT_NE(model::FileReason(a), model::FileReason(b)) << a << " " << b;
            }
        }
}

// A file-size limit makes the write fail with "too large" instead of ending
// the process, and the old file stays whole.
TEST_F(Writer, FileSizeLimitIsAnOrdinaryWriteFailure)
{
    const std::string name = at("big.bin");
    std::ofstream(name) << "old";
    plots::SignalCleanup handlers;
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string message = failure([&] {
        plots::FileSet files;
        files.add(name, std::vector<uint8_t>(100000, 1));
        files.commit();
    });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(message, "The file \"" + name + "\" could not be written: the file is too large.");
    std::ifstream in(name);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
    EXPECT_EQ(entries(), std::vector<std::string>{"big.bin"});
}

} // namespace
