// veltrane-render under mpirun against the same render in one process: the
// same bytes, and the same failure.
#include "tests/test_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class UnderMpi : public InTestFolder {
protected:
    void SetUp() override
    {
        // CI runs as root, which mpirun refuses unless told; said here, for
        // the launchers of this test only.
        ::setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
        ::setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
        InTestFolder::SetUp();
    }

    // Runs the renderer, alone or as ranks of one job, with stderr into a file;
    // returns the exit status.
    int render(int ranks, const std::string& args, const std::string& errors)
    {
        std::string command = ranks ? std::string(MPIEXEC) + " -q --oversubscribe -np "
                                          + std::to_string(ranks) + " "
                                    : std::string();
        command += std::string(RENDERER) + " " + args + " -q 2> " + at(errors);
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

};

TEST_F(UnderMpi, ThreeRanksWriteTheBytesOfOneProcess)
{
    // Tiles of a couple of columns, so that results arrive out of order.
    // fpbas carries the colour of its located fixed points across tiles.
    const std::string cases[] = {
        "veltrane --pixels 240 --iterations 300",
        "parametric --pixels 240 --iterations 300 --range -3 3 -3 3",
        "coexisting --reshuffle --pixels 120 --start-values 6 --iterations 200",
        "fpbas --w 3 0.5 -0.5 3 0.1 -0.1 --pixels 200 --iterations 100",
        // The curves and the statistics are computed from the committed picture.
        "stability --pixels 150 --stats --stats-box 4",
        "parametric --w 4 -4.1 2.65 -2.85 1.75 2.9 --idx 4 5 --range -0.5 2 1 3 --x0 0.1 0.2 "
        "--curves --stats --pixels 150 --iterations 300",
        // Tiles of whole columns, whose counts come back as results.
        "orbit --w 4 -4.1 2.65 -2.85 1.75 2.9 --x0 0.1 0.2 --sweep 4 -0.5 2.5 --pixels 240 "
        "--start-values 3 --points 300",
        // Columns that go on from one another: rendered by rank 0 alone.
        "orbit --w 4 -4.1 2.65 -2.85 1.75 2.9 --sweep 4 -0.5 2.5 --pixels 60 --points 100 "
        "--continue",
        "fixpt --pixels 120 --pen 200 0 50",
        "lyapunov --spectrum --pixels 100 --iterations 200 --lyapunov-steps 200",
        // The cycle search runs on the committed basin picture, on rank 0.
        "cycles --pixels 80 --seeds 8 --max-period 6 --iterations 300",
    };
    for (const std::string& c : cases) {
        ASSERT_EQ(render(0, c + " -o " + at("one.png") + " --classes " + at("one.npy"), "e1"), 0)
            << c << readFile(at("e1"));
        ASSERT_EQ(render(3, c + " -o " + at("team.png") + " --classes " + at("team.npy"), "e3"),
                  0)
            << c << readFile(at("e3"));
        EXPECT_TRUE(readFile(at("one.png")) == readFile(at("team.png"))) << c;
        EXPECT_TRUE(readFile(at("one.npy")) == readFile(at("team.npy"))) << c;
        const auto one = nlohmann::json::parse(readFile(at("one.png.json")));
        const auto team = nlohmann::json::parse(readFile(at("team.png.json")));
        EXPECT_EQ(one["options"], team["options"]) << c;
        EXPECT_EQ(one["processes"], 1) << c;
        EXPECT_EQ(team["processes"], 3) << c;
        for (const char* analysis : {"statistics", "curves", "cycles", "colour_bar"})
            EXPECT_EQ(one.value(analysis, nlohmann::json()).dump(),
                      team.value(analysis, nlohmann::json()).dump())
                << c;
    }
}

TEST_F(UnderMpi, AFailedDotEndsTheJobAsItEndsOneProcess)
{
    // Orbits overflow from x of about 886 on: the first failed dot lies in a
    // column well inside the picture, behind tiles that other ranks compute.
    const std::string failing = "veltrane --pixels 301 --iterations 200 --region -1 2000 -1 1";
    ASSERT_EQ(render(0, failing + " -o " + at("one.png"), "e1"), 3);
    const std::string said = readFile(at("e1"));
    EXPECT_NE(said.find("At column 133,"), std::string::npos) << said;

    std::ofstream(at("keep.png")) << "an earlier picture";
    for (const char* usage : {"", " --size 0"}) {
        EXPECT_EQ(render(3, failing + usage + " -o " + at("keep.png") + " --classes "
                                + at("keep.npy"), "e3"),
                  *usage ? 2 : 3);
        const std::string teamSaid = readFile(at("e3"));
        // Said once, by rank 0, whatever the number of ranks.
        if (*usage)
            EXPECT_EQ(teamSaid.find("--size"), teamSaid.rfind("--size")) << teamSaid;
        else
            EXPECT_EQ(teamSaid, said);
        EXPECT_EQ(readFile(at("keep.png")), "an earlier picture");
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(dir))
            left.push_back(e.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"e1", "e3", "keep.png"}));
    }
}

} // namespace
