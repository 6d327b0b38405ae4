// The renderer against hostile input: file names of any bytes, signals at
// any moment, a standard output that closes or fills, and foreign text in
// messages.
#include "tests/test_folder.h"
#include "plots/files.h"
#include "render/command_line.h"
#include "render/record.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class Hostile : public InTestFolder {
protected:
    void SetUp() override
    {
        InTestFolder::SetUp();
        fs::current_path(dir);
    }
    void TearDown() override
    {
        fs::current_path(fs::temp_directory_path());
        InTestFolder::TearDown();
    }

    int run(std::vector<std::string> args)
    {
        args.push_back("--quiet");
        std::ostringstream out;
        errors.str("");
        return render::Main(args, out, errors);
    }

    static nlohmann::json record(const std::string& name)
    {
        std::ifstream in(name, std::ios::binary);
        return nlohmann::json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
    }

    bool temporaryLeft() const
    {
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().filename().string().rfind(".veltrane-save-", 0) == 0)
                return true;
        return false;
    }

    std::ostringstream errors;
};

// Any name the system takes is written, recorded without loss, and read back
// by --from; a name it refuses is a clean failure with nothing left behind.
TEST_F(Hostile, FileNamesOfAnyBytes)
{
    fs::create_directory("d\xff");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string picture, classes; // recorded names, for status 0
    };
    const std::string tooLong(300, 'n');
    const std::vector<Case> cases = {
        {"picture not UTF-8", {"orbit", "--pixels", "8", "-o", "\xff.png"}, 0, "\xff.png", ""},
        {"classes not UTF-8",
         {"veltrane", "--pixels", "8", "-o", "a.png", "--classes", "c\xfe\\x41.npy"},
         0, "a.png", "c\xfe\\x41.npy"},
        {"folder not UTF-8", {"orbit", "--pixels", "8", "-o", "d\xff/b.png"}, 0, "d\xff/b.png", ""},
        {"surrogate bytes", {"orbit", "--pixels", "8", "-o", "\xed\xa0\x80.bmp"}, 0,
         "\xed\xa0\x80.bmp", ""},
        {"name too long", {"orbit", "--pixels", "8", "-o", tooLong + ".png"}, 3, "", ""},
        {"missing folder", {"orbit", "--pixels", "8", "-o", "none\xff/b.png"}, 3, "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.args), c.status) << c.what << ": " << errors.str();
        EXPECT_FALSE(temporaryLeft()) << c.what;
        const std::string said = errors.str();
        EXPECT_EQ(said.find('\xff'), std::string::npos) << c.what << ": raw bytes in " << said;
        if (c.status != 0)
            continue;
        const nlohmann::json r = record(c.picture + ".json");
        EXPECT_EQ(render::PathFromJson(r["picture"], "picture"), c.picture) << c.what;
        if (!c.classes.empty()) {
            EXPECT_EQ(render::PathFromJson(r["classes"], "classes"), c.classes) << c.what;
        }
        EXPECT_EQ(run({"--from", c.picture + ".json", "-o", "again.png"}), 0)
            << c.what << ": " << errors.str();
    }
    // A job record must be a plain file: a pipe with no writer is refused at
    // once, not waited for.
    ASSERT_EQ(::mkfifo("job.fifo", 0600), 0);
    EXPECT_EQ(run({"--from", "job.fifo", "-o", "f.png"}), 2);
    EXPECT_NE(errors.str().find("not a plain file"), std::string::npos) << errors.str();
}

// Every signal that ends the process, sent from outside while a file set
// holds its temporary files, removes them and ends the process by that
// signal; the old file stays.
TEST_F(Hostile, EveryEndingSignalRemovesTheTemporaries)
{
    std::ofstream("target.bin") << "old";
    for (const int signal : plots::EndingSignals()) {
#if defined(__SANITIZE_ADDRESS__)
        // The address sanitizer takes over these three for its own reports,
        // so the signal raised again after the clean-up ends in its abort.
        if (signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE)
            continue;
#endif
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            plots::FileSet files;
            files.add("target.bin", std::vector<uint8_t>(1000, 1));
            (void)!::write(ready[1], "r", 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char got = 0;
        ASSERT_EQ(::read(ready[0], &got, 1), 1) << strsignal(signal);
        ::close(ready[0]);
        ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
            << strsignal(signal) << ": status " << status;
        EXPECT_FALSE(temporaryLeft()) << strsignal(signal);
    }
    std::ifstream in("target.bin");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
}

// The table of the analyses on a standard output that closes early or is
// full: the files are written either way; a closed reader is no failure, a
// full disc is one, reported after the commit.
TEST_F(Hostile, StandardOutputThatClosesOrFills)
{
    struct Case {
        const char* what;
        bool closedPipe; // else /dev/full
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"closed pipe", true, 0, ""},
        {"full device", false, 3, "the table could not be written to the standard output: "
                                   "there is not enough space on the disc."},
    };
    for (const Case& c : cases) {
        fs::remove("c.json");
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        int err[2];
        ASSERT_EQ(::pipe(err), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int target = c.closedPipe ? out[1] : ::open("/dev/full", O_WRONLY);
            ::dup2(target, STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::close(out[0]);
            ::close(err[0]);
            ::execl(RENDERER, RENDERER, "cycles", "--pixels", "16", "--seeds", "4", "--json",
                    "c.json", "-q", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[0]); // the reader leaves before anything is written
        ::close(out[1]);
        ::close(err[1]);
        std::string said;
        char buffer[512];
        for (ssize_t n; (n = ::read(err[0], buffer, sizeof buffer)) > 0;)
            said.append(buffer, static_cast<size_t>(n));
        ::close(err[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status)) << c.what << ": status " << status;
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.what << ": " << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << c.what << ": " << said;
        EXPECT_TRUE(fs::exists("c.json")) << c.what;
        EXPECT_FALSE(temporaryLeft()) << c.what;
    }
}

// Foreign text in a message is escaped, cut and kept on one line; a record's
// faults say where they are, in the program's words.
TEST_F(Hostile, MessagesQuoteForeignTextOnOneLine)
{
    const std::string longKey(1000000, 'k');
    const std::string digits(100000, '9');
    struct Case {
        const char* what;
        std::string record; // written to job.json and given to --from; else args
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"escapes in a key", R"({"mode":"orbit","options":{"\u001b[31m\nx":1}})", {},
         R"(unknown option "\x1B[31m\nx".)"},
        {"a long key", R"({"mode":"orbit","options":{")" + longKey + R"(":1}})", {},
         "unknown option \"" + std::string(40, 'k') + "\"...."},
        {"a long number", R"({"mode":"orbit","options":{"points":)" + digits + "}}", {},
         "line 1, column 37: the number is past the range of a double."},
        {"a syntax error", "{\n  \"mode\": \"orbit\",\n  \"options\": {,}\n}", {},
         "line 3, column 15: expected a key in quotes, found \",}\\n}\"."},
        {"bytes not UTF-8", "{\"mode\": \"orb\xff\"}", {},
         "line 1, column 14: expected text in UTF-8, found \"\\xFF\\\"}\"."},
        {"a repeated key", R"({"mode":"orbit","mode":"stability"})", {},
         "line 1, column 17: the key \"mode\" is given twice in one object."},
        {"an option with escapes", "", {"orbit", "--\x1b[2J\nx", "-o", "a.png"},
         "unknown option \"--\\x1B[2J\\nx\""},
        {"a fraction for a window field", "", {"veltrane", "--accuracy", "7.5", "-o", "a.png"},
         "--accuracy: \"7.5\" is not a whole number in 1..",},
        {"a fraction for the dot size", "", {"veltrane", "--size", "1.5", "-o", "a.png"},
         "--size: \"1.5\" is not a whole number in 1..",},
        {"a flag with a value", "", {"veltrane", "--reshuffle=yes", "-o", "a.png"},
         "--reshuffle takes no value."},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        if (!c.record.empty()) {
            std::ofstream("job.json", std::ios::binary) << c.record;
            args = {"--from", "job.json", "-o", "a.png"};
        }
        EXPECT_EQ(run(args), 2) << c.what;
        const std::string said = errors.str();
        const std::string first = said.substr(0, said.find('\n'));
        EXPECT_NE(first.find(c.says), std::string::npos) << c.what << ": " << first;
        EXPECT_LT(first.size(), 240u) << c.what;
        EXPECT_EQ(first.find('\x1b'), std::string::npos) << c.what;
        EXPECT_FALSE(fs::exists("a.png")) << c.what;
    }
}

} // namespace
