// veltrane-render against the window and against a plain one-dot-at-a-time
// computation, its files, and its errors.
#include "model/long_period.h"
#include "model/lyapunov.h"
#include "model/network.h"
#include "model/numbers.h"
#include "model/scales.h"
#include "model/random.h"
#include "model/window.h"
#include "params/dots.h"
#include "params/coexisting.h"
#include "params/parametric.h"
#include "plots/basins.h"
#include "plots/bitmap.h"
#include "plots/fixpoints.h"
#include "plots/headless_window.h"
#include "render/command_line.h"
#include "render/job.h"
#include "render/npy.h"
#include "render/options.h"
#include "render/output.h"
#include "render/plan.h"
#include "render/tiles.h"

#include "tests/test_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <png.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using model::Control;

namespace {

std::vector<uint8_t> readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A picture as 0xRRGGBB values, row 0 at the top.
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;
    uint32_t at(int column, int row) const
    {
        return rgb[static_cast<size_t>(row) * width + column];
    }
};

Pixels decodePng(const fs::path& p)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    EXPECT_TRUE(png_image_begin_read_from_file(&image, p.c_str())) << p;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> buf(PNG_IMAGE_SIZE(image));
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, buf.data(), 0, nullptr));
    Pixels out{static_cast<int>(image.width), static_cast<int>(image.height), {}};
    for (size_t i = 0; i + 2 < buf.size(); i += 3)
        out.rgb.push_back(buf[i] << 16 | buf[i + 1] << 8 | buf[i + 2]);
    return out;
}

// The window's 24-bit bitmap: rows bottom-up, blue-green-red, rows padded to 4 bytes.
Pixels decodeBmp(const std::vector<uint8_t>& b)
{
    auto u32 = [&](size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24;
    };
    Pixels out{static_cast<int>(u32(18)), static_cast<int>(u32(22)), {}};
    const size_t rowBytes = (static_cast<size_t>(out.width) * 3 + 3) / 4 * 4;
    out.rgb.resize(static_cast<size_t>(out.width) * out.height);
    for (int row = 0; row < out.height; ++row)
        for (int c = 0; c < out.width; ++c) {
            const uint8_t* p = &b[u32(10) + (out.height - 1 - row) * rowBytes + 3 * c];
            out.rgb[static_cast<size_t>(row) * out.width + c] = p[2] << 16 | p[1] << 8 | p[0];
        }
    return out;
}

uint32_t rgbOf(model::Color c)
{
    return static_cast<uint32_t>(model::RedOf(c) << 16 | model::GreenOf(c) << 8 | model::BlueOf(c));
}

// A .npy file of uint8: its header text and its elements.
struct Npy {
    std::string header;
    std::vector<uint8_t> data;
    size_t offset = 0;
};

Npy readNpy(const fs::path& p)
{
    const std::vector<uint8_t> b = readFile(p);
    Npy n;
    EXPECT_EQ(std::string(b.begin(), b.begin() + 6), "\x93NUMPY");
    const size_t length = b[8] | b[9] << 8;
    n.offset = 10 + length;
    n.header.assign(b.begin() + 10, b.begin() + n.offset);
    n.data.assign(b.begin() + n.offset, b.end());
    return n;
}

class Render : public InTestFolder {
protected:
    int run(std::vector<std::string> args)
    {
        args.push_back("--quiet");
        std::ostringstream out;
        errors.str("");
        return render::Main(args, out, errors);
    }

    std::ostringstream errors;
};

// --- The same command in a freshly started window ------------------------------

// The window fields an option sets.
const std::map<std::string, std::vector<Control>> kFields = {
    {"--w", {Control::txtW0, Control::txtW1, Control::txtW2, Control::txtW3, Control::txtW4,
             Control::txtW5}},
    {"--size", {Control::txtStepSize}},
    {"--iterations", {Control::txtIterations}},
    {"--accuracy", {Control::txtAccuracy}},
    {"--idx", {Control::txtIdx0, Control::txtIdx1}},
    {"--range", {Control::txtP0, Control::txtP1, Control::txtP2, Control::txtP3}},
    {"--x0", {Control::txtX00, Control::txtX01}},
    {"--start-values", {Control::txtNumStartValues}},
};

// Types the options into the window's fields, as a user would.
void typeInto(plots::HeadlessWindow& win, const std::vector<std::string>& args)
{
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--reshuffle" || a == "--fp") {
            win.setChecked(a == "--fp" ? Control::chkFp : Control::chkReshuffle, true);
        } else if (a == "--pen") {
            win.state().penColor = model::Rgb(std::stoi(args[i + 1]), std::stoi(args[i + 2]),
                                              std::stoi(args[i + 3]));
            i += 3;
        } else if (a == "--threads") {
            ++i;
        } else {
            for (Control c : kFields.at(a))
                win.setText(c, args[++i]);
        }
    }
}

void (*commandOf(const std::string& mode))(model::Window&)
{
    if (mode == "veltrane") return plots::cmdVeltrane_Click;
    if (mode == "fpbas") return plots::cmdFixpointBasins_Click;
    if (mode == "fixpt") return plots::cmdFixpoints_Click;
    if (mode == "parametric") return params::cmdParametric_Click;
    return params::cmdCoexisting_Click;
}

TEST_F(Render, EqualsTheWindowsSaveAtEightHundred)
{
    // Each mode with the window's default fields (dot size 20) and two other
    // sets; the thread count varies, which must change nothing.
    const std::vector<std::vector<std::string>> cases = {
        {"veltrane", "--size", "20"},
        {"veltrane", "--w", "0.4", "1.9", "-2.7", "-4.311", "-1.0", "1.8", "--size", "7",
         "--iterations", "300", "--threads", "3"},
        {"veltrane", "--size", "4", "--iterations", "150", "--accuracy", "6", "--threads", "1"},
        {"fpbas", "--size", "20"},
        {"fpbas", "--w", "3", "0.5", "-0.5", "3", "0.1", "-0.1", "--size", "5", "--iterations",
         "100", "--threads", "3"},
        {"fpbas", "--w", "0.4", "1.9", "-2.7", "-4.311", "-1.0", "1.8", "--size", "6",
         "--iterations", "200", "--accuracy", "12"},
        {"fixpt"}, // fixpt draws every pixel and reads no dot size
        {"fixpt", "--w", "3", "0.5", "-0.5", "3", "0.1", "-0.1", "--accuracy", "4", "--pen",
         "200", "30", "90", "--threads", "1"},
        {"fixpt", "--w", "3", "1", "1", "3", "0", "0.2", "--accuracy", "3", "--pen", "0", "128",
         "255", "--threads", "3"},
        {"parametric", "--size", "20"},
        {"parametric", "--size", "5", "--idx", "0", "3", "--range", "-6", "6", "-6", "6",
         "--iterations", "300", "--x0", "0.3", "-0.2", "--threads", "3"},
        {"parametric", "--size", "9", "--idx", "2", "2", "--range", "1", "-1", "3", "-3",
         "--iterations", "200", "--threads", "1"},
        {"coexisting", "--size", "20"},
        {"coexisting", "--size", "10", "--start-values", "12", "--reshuffle", "--idx", "0", "3",
         "--range", "-6", "6", "-6", "6", "--iterations", "200", "--threads", "3"},
        {"coexisting", "--w", "3", "0.5", "-0.5", "3", "0.1", "-0.1", "--fp", "--idx", "0", "3",
         "--range", "0", "4", "0", "4", "--size", "8", "--start-values", "20", "--iterations",
         "150", "--threads", "2"},
    };
    for (const auto& args : cases) {
        std::string name;
        for (const std::string& a : args)
            name += a + " ";
        plots::HeadlessWindow win;
        typeInto(win, args);
        model::ResetRandomForTests(); // the first run after start
        win.run(commandOf(args[0]));
        ASSERT_TRUE(win.errors.empty()) << name;

        std::vector<std::string> renderArgs = args;
        renderArgs.insert(renderArgs.end(), {"-o", at("w.bmp")});
        ASSERT_EQ(run(renderArgs), render::kExitOk) << name << errors.str();
        EXPECT_TRUE(readFile(at("w.bmp")) == plots::EncodeBitmap(win.canvas(), 800, 800)) << name;
    }
}

// --- Files -------------------------------------------------------------------

TEST_F(Render, PngBitmapAndClassesShowTheSamePicture)
{
    // Every pixel's colour is the palette colour of its class, so the classes
    // array is checked in full, orientation included.
    for (const char* mode : {"veltrane", "parametric"}) {
        const std::vector<std::string> args = {mode, "--pixels", "301", "--size", "3",
                                               "--iterations", "200"};
        auto with = [&](std::vector<std::string> more) {
            more.insert(more.begin(), args.begin(), args.end());
            return more;
        };
        ASSERT_EQ(run(with({"-o", at("a.png"), "--classes", at("a.npy")})), 0) << errors.str();
        ASSERT_EQ(run(with({"-o", at("a.bmp")})), 0) << errors.str();

        const Pixels png = decodePng(at("a.png"));
        const Pixels bmp = decodeBmp(readFile(at("a.bmp")));
        ASSERT_EQ(png.width, 301);
        ASSERT_EQ(png.height, 301);
        EXPECT_TRUE(png.rgb == bmp.rgb) << mode;

        const Npy npy = readNpy(at("a.npy"));
        EXPECT_EQ(npy.offset % 64, 0u);
        EXPECT_NE(npy.header.find("'descr': '|u1'"), std::string::npos) << npy.header;
        EXPECT_NE(npy.header.find("'shape': (301, 301)"), std::string::npos) << npy.header;
        ASSERT_EQ(npy.data.size(), 301u * 301u);
        const model::State st;
        std::set<uint8_t> seen;
        for (int row = 0; row < 301; ++row)
            for (int c = 0; c < 301; ++c) {
                const uint8_t cls = npy.data[row * 301 + c];
                seen.insert(cls);
                ASSERT_EQ(png.at(c, row), rgbOf(model::PeriodColor(st, cls)))
                    << mode << " at " << c << ", " << row;
            }
        EXPECT_GT(seen.size(), 1u) << mode << ": a picture of one colour proves little";
    }
}

TEST_F(Render, ZoomEqualsThePlainLoopWithTheGeneralMapping)
{
    // 1600 pixels, a quarter of the plane: dot centres at offsets 8 k + 4,
    // mapped by ((high - low) * offset) / 1599 + low.
    const double lo = 0, hi = 0.5;
    for (const char* mode : {"veltrane", "parametric"}) {
        const bool parametric = std::string(mode) == "parametric";
        ASSERT_EQ(run({mode, parametric ? "--range" : "--region", "0", "0.5", "0", "0.5",
                       "--pixels", "1600", "--size", "8", "--iterations", "300", "-o",
                       at("z.bmp"), "--classes", at("z.npy")}),
                  0)
            << errors.str();
        const Pixels bmp = decodeBmp(readFile(at("z.bmp")));
        const Npy npy = readNpy(at("z.npy"));
        model::State st;
        st.w = {0.4, 1.9, -2.7, -4.311, -0.9, 1.8};
        st.iterations = 300;
        st.accuracy = 8;
        int differing = 0, sampled = 0;
        for (int i = 0; i < 1600; i += 8 * 13)
            for (int j = 0; j < 1600; j += 8 * 11) {
                const double h = ((hi - lo) * (i + 4)) / 1599.0 + lo;
                const double v = ((hi - lo) * (j + 4)) / 1599.0 + lo;
                int16_t cls;
                if (parametric) {
                    st.w[4] = h;
                    st.w[5] = v;
                    cls = model::ClassifyOrbit(st, 1.0, 1.0);
                } else {
                    cls = model::ClassifyOrbit(st, h, v);
                }
                const int column = i + 4, row = 1599 - (j + 4);
                ++sampled;
                differing += npy.data[static_cast<size_t>(row) * 1600 + column] != cls
                             || bmp.at(column, row) != rgbOf(model::PeriodColor(st, cls));
            }
        EXPECT_EQ(differing, 0) << mode << " of " << sampled;
    }
}

TEST_F(Render, JobFileRendersTheSamePictureAgain)
{
    ASSERT_EQ(run({"coexisting", "--reshuffle", "--start-values", "4", "--size", "16",
                   "--iterations", "100", "--idx", "0", "3", "--range", "-6", "6", "-6", "6",
                   "-o", at("a.png")}),
              0)
        << errors.str();
    ASSERT_EQ(run({"--from", at("a.png.json"), "-o", at("b.png")}), 0) << errors.str();
    EXPECT_TRUE(readFile(at("a.png")) == readFile(at("b.png")));

    // An option beside --from overrides the recorded one, and only that one.
    ASSERT_EQ(run({"--from", at("a.png.json"), "--iterations", "50", "-o", at("c.bmp")}), 0)
        << errors.str();
    auto options = [&](const char* name) {
        return nlohmann::json::parse(std::ifstream(at(name)))["options"];
    };
    nlohmann::json expected = options("a.png.json");
    expected["iterations"] = 50;
    EXPECT_EQ(options("c.bmp.json"), expected);
}

TEST(NpyArray, ElementTypesAreLittleEndianInCOrder)
{
    // The wider types the classes may take: a filled block lands at row-major
    // positions, least significant byte first, under a header that says so.
    struct Case {
        render::ClassType type;
        const char* descr;
        std::vector<uint8_t> element;
    };
    const Case cases[] = {
        {render::ClassType::UInt8, "'|u1'", {0x34}},
        {render::ClassType::UInt16, "'<u2'", {0x34, 0x12}},
        {render::ClassType::Float32, "'<f4'", {0x00, 0xA0, 0x91, 0x45}}, // 4660.0f
    };
    for (const Case& c : cases) {
        render::NpyArray a(c.type, 2, 3);
        a.fill(1, 1, 5, 4, uint16_t{0x1234}); // clipped to row 1, columns 1..2
        const std::vector<uint8_t>& b = a.bytes();
        const std::string header(b.begin() + 10, b.begin() + a.dataOffset());
        EXPECT_NE(header.find(std::string("'descr': ") + c.descr), std::string::npos) << header;
        EXPECT_NE(header.find("'shape': (2, 3)"), std::string::npos) << header;
        const size_t n = c.element.size();
        ASSERT_EQ(b.size(), a.dataOffset() + 6 * n);
        for (int i = 0; i < 6; ++i) {
            const std::vector<uint8_t> got(b.begin() + a.dataOffset() + i * n,
                                           b.begin() + a.dataOffset() + (i + 1) * n);
            EXPECT_EQ(got, i >= 4 ? c.element : std::vector<uint8_t>(n, 0)) << c.descr << i;
        }
    }
}

// --- Errors ------------------------------------------------------------------

TEST_F(Render, ErrorsLeaveNoFileBehind)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"veltrane", "--size", "0"}, 2, "--size: 0 is outside 1..100"},
        {{"parametric", "--idx", "6", "5"}, 2, "--idx"},
        {{"coexisting", "--start-values", "501"}, 2, "--start-values"},
        {{"veltrane", "--w11", "1e999"}, 2, "too large"},
        {{"veltrane", "--pixels", "1"}, 2, "--pixels"},
        {{"sierpinski"}, 2, "unknown mode"},
        {{"--from", "missing.json"}, 2, "cannot be read"},
        {{"veltrane", "-o", "picture.gif"}, 2, ".png or .bmp"},
        {{"veltrane", "--size", "20", "--w11", "1e308"}, 3,
         "At column 10, row 789, where x = -0.97496"},
        {{"parametric", "--size", "20", "--range", "-1e308", "1e308", "-1", "1"}, 3,
         "mapping of the plane"},
        {{"veltrane", "--size", "50", "--classes", "no/such/folder/c.npy"}, 3,
         "folder does not exist"},
        {{"veltrane", "--size", "20", "--region", "1e308", "-1e308", "0", "1"}, 3,
         "the region values are too large"},
        {{"--from", "/"}, 2, "\"/\" cannot be read: it is a folder"},
        {{"veltrane", "--sise", "3"}, 2, "unknown option \"--sise\"; did you mean --size?"},
        {{"veltrane", "--no-reshufle"}, 2, "did you mean --no-reshuffle?"},
        {{"veltrane", "--region", "1", "2", "3"}, 2, "--region takes 4 numbers (X0 X1 Y0 Y1)"},
        {{"veltrane", "--classes", "keep.png"}, 2, "keep.png\" is the picture;"},
        {{"veltrane", "--classes", "keep.png.json"}, 2, "keep.png.json\" is the picture's job"},
        {{"veltrane", "--scale", "-1", "0.5"}, 2, "--scale applies to lyapunov only, not to veltrane"},
        {{"veltrane", "--pen", "0", "0", "0"}, 2, "--pen applies to fixpt only, not to veltrane"},
        {{"fixpt", "--size", "20"}, 2, "not to fixpt"},
        {{"veltrane", "--threads", "0"}, 2, "--threads: \"0\" is not a whole number in 1..4096"},
    };
    const std::string old = "an earlier picture";
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        if (std::find(args.begin(), args.end(), "-o") == args.end())
            args.insert(args.end(), {"-o", at("keep.png")});
        if (std::find(args.begin(), args.end(), "--classes") == args.end())
            args.insert(args.end(), {"--classes", at("keep.npy")});
        for (std::string& a : args)
            if (a == "picture.gif" || a == "no/such/folder/c.npy" || a == "missing.json"
                || a == "keep.png" || a == "keep.png.json")
                a = at(a);
        std::ofstream(at("keep.png")) << old;
        ASSERT_EQ(run(args), c.status) << c.args[0] << " " << errors.str();
        const std::string said = errors.str();
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        // One line, and for a usage error the pointer to the help.
        EXPECT_EQ(said.find("Usage"), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), c.status == 2 ? 2 : 1) << said;
        const std::vector<uint8_t> kept = readFile(at("keep.png"));
        EXPECT_EQ(std::string(kept.begin(), kept.end()), old);
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(dir))
            left.push_back(e.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{"keep.png"}) << said;
    }
}

// --- Beyond the window: long periods and Lyapunov exponents ------------------

// Element (column, row) of a .npy of little-endian 2- or 4-byte elements.
uint32_t elementAt(const Npy& npy, int columns, int column, int row, size_t size)
{
    uint32_t v = 0;
    for (size_t b = 0; b < size; ++b)
        v |= npy.data[(static_cast<size_t>(row) * columns + column) * size + b] << (8 * b);
    return v;
}

TEST_F(Render, MaxPeriodSixteenIsTheWindowsAndLongerCyclesShowAboveIt)
{
    for (const char* mode : {"veltrane", "parametric"}) {
        ASSERT_EQ(run({mode, "--pixels", "40", "-o", at("a.bmp"), "--classes", at("a.npy")}), 0);
        ASSERT_EQ(run({mode, "--pixels", "40", "--max-period", "16", "-o", at("b.bmp"),
                       "--classes", at("b.npy")}),
                  0);
        EXPECT_TRUE(readFile(at("a.bmp")) == readFile(at("b.bmp"))) << mode;
        EXPECT_TRUE(readFile(at("a.npy")) == readFile(at("b.npy"))) << mode;
    }
    // A scaled rotation locked to a 29-cycle: black up to 16, its period at 64,
    // every dot that of the plain long-period classifier.
    const model::Weights w = {3, -2, 2, 3, 0.3, 0};
    const std::vector<std::string> args = {"veltrane", "--w", "3", "-2", "2", "3", "0.3", "0",
                                           "--pixels", "24"};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), args.begin(), args.end());
        return more;
    };
    ASSERT_EQ(run(with({"-o", at("short.png")})), 0);
    ASSERT_EQ(run(with({"--max-period", "64", "-o", at("long.png"), "--classes", at("l.npy")})),
              0);
    const Pixels shortCap = decodePng(at("short.png")), longCap = decodePng(at("long.png"));
    const Npy npy = readNpy(at("l.npy"));
    EXPECT_NE(npy.header.find("'descr': '<u2'"), std::string::npos) << npy.header;
    int cycles = 0;
    for (int c = 0; c < 24; ++c)
        for (int r = 0; r < 24; ++r) {
            const double x = render::MapOffset(-1, 1, c, 24), y = render::MapOffset(-1, 1, r, 24);
            const int cls = model::kernel::ClassifyLong(w, 1000, 8, 64, x, y).cls;
            const int row = 23 - r;
            ASSERT_EQ(elementAt(npy, 24, c, row, 2), static_cast<uint32_t>(cls));
            EXPECT_EQ(longCap.at(c, row), rgbOf(model::LongPeriodColor(cls)));
            if (cls == 29) {
                ++cycles;
                EXPECT_EQ(shortCap.at(c, row), 0u);
            }
        }
    EXPECT_GT(cycles, 0);
}

TEST_F(Render, LyapunovIsThePlainExponentOnEitherPlane)
{
    const model::Weights w = {4.0, -4.1, 2.65, -2.85, 1.75, 2.9};
    for (bool parameter : {false, true}) {
        std::vector<std::string> args = {"lyapunov", "--w", "4.0", "-4.1", "2.65", "-2.85",
                                         "1.75", "2.9", "--pixels", "20", "--iterations", "300",
                                         "--lyapunov-steps", "200", "--scale", "-0.5", "0.25",
                                         "-o", at("a.png"), "--classes", at("a.npy")};
        if (parameter)
            args.insert(args.end(), {"--plane", "parameter", "--range", "-0.5", "2", "1", "3",
                                     "--x0", "0.1", "0.2"});
        ASSERT_EQ(run(args), 0) << errors.str();
        const Pixels png = decodePng(at("a.png"));
        const Npy npy = readNpy(at("a.npy"));
        EXPECT_NE(npy.header.find("'descr': '<f4'"), std::string::npos) << npy.header;
        int positive = 0, negative = 0;
        for (int c = 0; c < 20; ++c)
            for (int r = 0; r < 20; ++r) {
                model::Weights wd = w;
                double x = render::MapOffset(-1, 1, c, 20), y = render::MapOffset(-1, 1, r, 20);
                if (parameter) {
                    wd[4] = render::MapOffset(-0.5, 2, c, 20);
                    wd[5] = render::MapOffset(1, 3, r, 20);
                    x = 0.1;
                    y = 0.2;
                }
                const double lambda = model::kernel::Lyapunov(wd, 300, 200, x, y).lambda;
                const float stored = static_cast<float>(lambda);
                ASSERT_EQ(elementAt(npy, 20, c, 19 - r, 4), std::bit_cast<uint32_t>(stored));
                EXPECT_EQ(png.at(c, 19 - r), rgbOf(model::LyapunovColor(lambda, -0.5, 0.25)));
                positive += lambda > 0.05;
                negative += lambda < -0.05;
            }
        EXPECT_GT(positive, 0) << parameter; // chaos everywhere on the state plane,
        EXPECT_EQ(negative > 0, parameter);  // periodic windows in the parameter plane
        const nlohmann::json record = nlohmann::json::parse(std::ifstream(at("a.png.json")));
        EXPECT_EQ(record["colour_bar"]["low"], -0.5);
        EXPECT_EQ(record["colour_bar"]["stops"].size(), 3u);
        ASSERT_EQ(run({"--from", at("a.png.json"), "-o", at("b.png"), "--classes", at("b.npy")}), 0);
        EXPECT_TRUE(readFile(at("a.npy")) == readFile(at("b.npy")));
    }
    for (std::vector<std::string> bad : {
             std::vector<std::string>{"lyapunov", "--scale", "0.5", "0.5"},
             {"lyapunov", "--plane", "phase"},
             {"lyapunov", "--lyapunov-steps", "0"},
             {"veltrane", "--plane", "parameter"},
             {"veltrane", "--max-period", "4097"},
             {"fpbas", "--max-period", "32"},
         }) {
        bad.insert(bad.end(), {"-o", at("bad.png")});
        EXPECT_EQ(run(bad), 2) << bad[1];
        EXPECT_FALSE(fs::exists(at("bad.png")));
    }
}

// --- The option table and the command line ------------------------------------

TEST_F(Render, NumbersAreReadWholeAndStrictlyInEveryPlace)
{
    // Accepted: the window's value of the same text.
    for (const char* text : {"0.5", "-.9", "+1e3", "1D-2", "&H1F", "&o17", ".5E+2", "5.", "-0"})
        EXPECT_EQ(std::bit_cast<uint64_t>(render::ReadStrictNumber("--w11", text)),
                  std::bit_cast<uint64_t>(model::ReadNumber(text)))
            << text;
    // Refused, on the command line and for a whole number too, naming the
    // option and the text.
    for (const char* text : {"NaN", "O.5", "", "1,000", " 1", "1e", "&H", "-&H1", "1 000",
                             "0x10", "inf", "1e5x", "--"}) {
        for (const char* option : {"--w11", "--iterations"}) {
            ASSERT_EQ(run({"veltrane", option, text, "-o", at("a.png")}), 2) << text;
            EXPECT_NE(errors.str().find(std::string(option) + ": \"" + text + "\" is not a number"),
                      std::string::npos)
                << errors.str();
        }
    }
    EXPECT_FALSE(fs::exists(at("a.png")));
    // A long text is cut, and control characters do not reach the terminal.
    const std::string hostile = "\x1b[31m" + std::string(60, '7') + "\n";
    ASSERT_EQ(run({"veltrane", "--w", "1", "2", "3", "4", "5", hostile, "-o", at("a.png")}), 2);
    const std::string said = errors.str();
    EXPECT_NE(said.find("--w: \"\\x1B[31m" + std::string(35, '7') + "\"... is not a number."),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find('\x1b'), std::string::npos);

    // Every form works inside a list, with the value of its plain form.
    ASSERT_EQ(run({"veltrane", "--w", "0.4", "1.9", "-2.7", "-4.311", "-.9", "1.8", "--region",
                   "-.35", "-.05", "&H0", ".35", "--pixels", "60", "-o", at("a.png")}),
              0)
        << errors.str();
    ASSERT_EQ(run({"veltrane", "--w", "0.4", "1.9", "-2.7", "-4.311", "-0.9", "1.8", "--region",
                   "-0.35", "-0.05", "0", "0.35", "--pixels", "60", "-o", at("b.png")}),
              0);
    EXPECT_TRUE(readFile(at("a.png")) == readFile(at("b.png")));
}

TEST(OptionTable, EveryRecordedOptionReadsBackAsWritten)
{
    // A value away from the default for every option of every mode that reads
    // it, through the record and back.
    for (render::Mode mode : render::AllModes()) {
        render::Request request;
        request.job.mode = mode;
        for (const render::Option& o : render::Options()) {
            if (!o.recorded || !render::Reads(mode, o) || o.kind == render::ValueKind::File)
                continue;
            // A whole number at the far end of the mode's range; a row with
            // a check of its own (limits in order, a whole parameter index)
            // gets 0, 1, ...
            const int hi = render::RangeFor(mode, o).second;
            for (int i = 0; i < std::max(1, o.arity); ++i)
                o.put(request, i, o.kind == render::ValueKind::WholeNumber ? hi - i
                                  : o.kind == render::ValueKind::Number    ? (o.check ? i : 0.25 + i)
                                                                           : 1);
        }
        nlohmann::json record;
        render::ToJson(request.job, record);
        const render::Job back = render::FromJson(record);
        for (const render::Option& o : render::Options()) {
            if (o.kind == render::ValueKind::File)
                continue;
            render::Request read;
            read.job = back;
            EXPECT_EQ(render::ValueText(read, o), render::ValueText(request, o))
                << render::ModeName(mode) << " " << o.name;
        }
    }
}

TEST_F(Render, ARecordIsCorrectedBesideItAndChangesModeOnlyWhereTheModeReadsIt)
{
    ASSERT_EQ(run({"lyapunov", "--pixels", "20", "--scale", "-2", "1", "-o", at("l.png")}), 0);
    // Options are merged first, then checked once.
    nlohmann::json record = nlohmann::json::parse(std::ifstream(at("l.png.json")));
    record["options"]["size"] = 0;
    std::ofstream(at("bad.json")) << record.dump();
    ASSERT_EQ(run({"--from", at("bad.json"), "-o", at("b.png")}), 2);
    EXPECT_NE(errors.str().find("bad.json\": --size: 0 is outside 1..100."), std::string::npos)
        << errors.str();
    EXPECT_EQ(run({"--from", at("bad.json"), "--size", "2", "-o", at("b.png")}), 0)
        << errors.str();
    // The recorded scale is lyapunov's; as veltrane the record says too much,
    // while a record at the defaults of what veltrane does not read is fine.
    ASSERT_EQ(run({"--from", at("l.png.json"), "veltrane", "-o", at("v.png")}), 2);
    EXPECT_NE(errors.str().find("--scale applies to lyapunov only, not to veltrane"),
              std::string::npos)
        << errors.str();
    EXPECT_EQ(run({"--from", at("l.png.json"), "fpbas", "--scale", "-1", "0.5", "-o",
                   at("v.png")}),
              2);
    record["options"].erase("scale");
    record["options"]["size"] = 1;
    std::ofstream(at("bad.json")) << record.dump();
    EXPECT_EQ(run({"--from", at("bad.json"), "veltrane", "-o", at("v.png")}), 0) << errors.str();
}

// The long names of the option lines of a help text, in order.
std::vector<std::string> helpEntries(const std::string& help)
{
    std::vector<std::string> names;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find("--");
        if (line.rfind("  -", 0) == 0 && at != std::string::npos && at <= 6)
            names.push_back(line.substr(at, line.find_first_of(" ,", at) - at));
    }
    return names;
}

TEST_F(Render, HelpListsTheCommonOptionsAndModeHelpExactlyTheModesOwn)
{
    std::ostringstream out;
    ASSERT_EQ(render::Main({"--help"}, out, errors), 0);
    const std::string help = out.str();
    for (const char* unwanted : {"TEXT", "{false}", "INT"})
        EXPECT_EQ(help.find(unwanted), std::string::npos) << unwanted;
    EXPECT_NE(help.find("MODE --help lists the options of MODE"), std::string::npos);
    std::vector<std::string> common = {"--help"};
    for (const render::Option& o : render::Options())
        if (o.everyMode)
            common.push_back(render::Flagged(o));
    EXPECT_EQ(helpEntries(help), common);

    // Every other option is in the help of exactly the modes that read it,
    // with the mode's own range.
    std::set<std::string> listed;
    for (render::Mode mode : render::AllModes()) {
        std::ostringstream modeHelp;
        ASSERT_EQ(render::Main({render::ModeName(mode), "--help"}, modeHelp, errors), 0);
        std::vector<std::string> own;
        for (const render::Option& o : render::Options())
            if (!o.everyMode && render::Reads(mode, o))
                own.push_back(render::Flagged(o));
        EXPECT_EQ(helpEntries(modeHelp.str()), own) << render::ModeName(mode);
        listed.insert(own.begin(), own.end());
    }
    EXPECT_EQ(listed.size() + common.size() - 1, render::Options().size());
    std::ostringstream cycles;
    ASSERT_EQ(render::Main({"--help", "cycles"}, cycles, errors), 0);
    EXPECT_NE(cycles.str().find("1..64 (default 16)"), std::string::npos) << cycles.str();
    EXPECT_NE(cycles.str().find("--size NUMBER               dot size, 1..100 (default 1)"),
              std::string::npos);
    EXPECT_EQ(render::Main({"veltrain", "--help"}, out, errors), 2);
}

TEST(Drive, AnyCutIntoRunsGivesTheBytesOfWholeTiles)
{
    // One job per mode; runs of a few dots end anywhere inside columns (whole
    // columns for the orbit diagram), and continued orbits go on across runs.
    const std::vector<std::vector<std::string>> jobs = {
        {"veltrane", "--pixels", "37", "--iterations", "300"},
        {"fpbas", "--pixels", "31", "--size", "3"},
        {"fixpt", "--pixels", "29"},
        {"parametric", "--pixels", "33", "--max-period", "20"},
        {"coexisting", "--pixels", "23", "--reshuffle", "--start-values", "3"},
        {"lyapunov", "--pixels", "27", "--spectrum", "--iterations", "100"},
        {"stability", "--pixels", "25"},
        {"cycles", "--pixels", "21", "--iterations", "200"},
        {"orbit", "--pixels", "30", "--points", "50", "--continue"},
    };
    for (const auto& args : jobs) {
        render::Request request;
        request.job.mode = render::ModeOf(args[0]);
        const render::Option* option = nullptr;
        std::vector<std::string> texts;
        auto flush = [&] {
            if (option)
                render::SetFromTexts(request, *option,
                                     option->kind == render::ValueKind::Flag
                                         ? std::vector<std::string>{"true"}
                                         : texts);
            texts.clear();
        };
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i].rfind("--", 0) == 0) {
                flush();
                option = render::FindOption(args[i].substr(2));
            } else {
                texts.push_back(args[i]);
            }
        }
        flush();
        auto picture = [&](const render::RunSize& runs) {
            const render::Plan plan = render::MakePlan(request.job);
            plots::Canvas canvas(plan.pixels, plan.pixels);
            render::NpyArray classes(plan.row->classType, plan.pixels, plan.pixels);
            render::Render(plan, canvas, &classes, {}, runs);
            std::string bytes(reinterpret_cast<const char*>(canvas.bits()),
                              sizeof(uint32_t) * plan.pixels * plan.pixels);
            return bytes + std::string(classes.bytes().begin(), classes.bytes().end());
        };
        const std::string tiles = picture({});
        for (const int64_t dots : {1, 7, 40})
            EXPECT_TRUE(picture([dots](int64_t, double, int64_t) { return dots; }) == tiles)
                << args[0] << " in runs of " << dots;
    }
}

TEST(ModeRows, NameOptionsThatExistWithinTheirRanges)
{
    // A new row's list of options is checked here, not at its first use.
    for (const render::ModeRow& row : render::ModeRows()) {
        EXPECT_TRUE(row.dots || row.column) << row.name;
        EXPECT_TRUE(row.colour) << row.name;
        for (const render::OptionUse& use : row.options) {
            const render::Option* o = render::FindOption(use.name);
            ASSERT_TRUE(o) << row.name << " " << use.name;
            EXPECT_FALSE(o->everyMode) << row.name << " " << use.name;
            if (use.lo || use.hi) {
                EXPECT_TRUE(o->kind == render::ValueKind::WholeNumber && o->lo <= use.lo
                            && use.lo <= use.hi && use.hi <= o->hi)
                    << row.name << " " << use.name;
            }
        }
    }
}

TEST_F(Render, TheCycleSearchOnOneThreadUsesOneCore)
{
    // The basin picture and the Newton runs of about a second: the process's
    // CPU time may not pass its wall time by more than a tenth.
    auto cpuSeconds = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec
               + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
    };
    const double cpu0 = cpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    ASSERT_EQ(run({"cycles", "--pixels", "120", "--seeds", "40", "--max-period", "10",
                   "--threads", "1", "--json", at("c.json")}),
              0)
        << errors.str();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = cpuSeconds() - cpu0;
    EXPECT_LE(cpu, 1.1 * wall + 0.02) << "CPU " << cpu << " s in " << wall << " s";
    EXPECT_EQ(nlohmann::json::parse(std::ifstream(at("c.json")))["threads"], 1);
}

TEST_F(Render, ThreadsBeyondTheCoresAreCappedWithAWarning)
{
    ASSERT_EQ(run({"fpbas", "--pixels", "50", "-o", at("a.png")}), 0);
    ASSERT_EQ(run({"fpbas", "--pixels", "50", "--threads", "4096", "-o", at("b.png")}), 0);
    EXPECT_NE(errors.str().find("--threads 4096 is more than the"), std::string::npos)
        << errors.str();
    EXPECT_TRUE(readFile(at("a.png")) == readFile(at("b.png")));
    const auto threads = [&](const char* name) {
        return nlohmann::json::parse(std::ifstream(at(name)))["threads"].get<int>();
    };
    EXPECT_EQ(threads("b.png.json"), threads("a.png.json")); // every core, and no more
}

// --- The files of one run ------------------------------------------------------

TEST_F(Render, EachPictureNameKeepsARecordOfItsOwn)
{
    ASSERT_EQ(run({"veltrane", "--pixels", "20", "-o", at("x.png")}), 0);
    ASSERT_EQ(run({"fixpt", "--pixels", "20", "-o", at("x.bmp")}), 0);
    const auto mode = [&](const char* name) {
        return nlohmann::json::parse(std::ifstream(at(name)))["mode"].get<std::string>();
    };
    EXPECT_EQ(mode("x.png.json"), "veltrane");
    EXPECT_EQ(mode("x.bmp.json"), "fixpt");
    // A record under an older name is read as before.
    fs::copy_file(at("x.bmp.json"), at("x.json"));
    ASSERT_EQ(run({"--from", at("x.json"), "-o", at("y.bmp")}), 0) << errors.str();
    EXPECT_TRUE(readFile(at("x.bmp")) == readFile(at("y.bmp")));
}

TEST_F(Render, AFailedWriteReplacesNoFile)
{
    // The record cannot be written (a pipe nobody reads) after the classes and
    // the picture were: neither is replaced, and no temporary file is left.
    std::ofstream(at("keep.png")) << "old picture";
    std::ofstream(at("keep.npy")) << "old classes";
    ASSERT_EQ(::mkfifo(at("keep.png.json").c_str(), 0600), 0);
    ASSERT_EQ(run({"veltrane", "--pixels", "30", "-o", at("keep.png"), "--classes",
                   at("keep.npy")}),
              3);
    EXPECT_NE(errors.str().find("keep.png.json"), std::string::npos) << errors.str();
    EXPECT_EQ(readFile(at("keep.png")), std::vector<uint8_t>({'o', 'l', 'd', ' ', 'p', 'i', 'c',
                                                              't', 'u', 'r', 'e'}));
    EXPECT_EQ(entries(), (std::vector<std::string>{"keep.npy", "keep.png", "keep.png.json"}));

    // A record name too long for the file system is found before computing
    // (this job would fail at its first dots).
    const std::string longName = std::string(251, 'n') + ".png";
    ASSERT_EQ(run({"veltrane", "--w11", "1e308", "--pixels", "30", "-o", at(longName)}), 3);
    EXPECT_NE(errors.str().find("the name is too long"), std::string::npos) << errors.str();
    EXPECT_EQ(errors.str().find("At column"), std::string::npos) << errors.str();
}

TEST_F(Render, TheLastFailedRenamePutsEveryFileBack)
{
    std::ofstream(at("a.npy")) << "old classes";
    std::ofstream(at("a.png")) << "old picture";
    {
        render::FileSet files;
        files.add(at("a.npy"), {1, 2, 3});
        files.add(at("a.png"), {4, 5, 6}, true);
        files.add(at("new.png"), {7}, true);
        files.add(at("a.png.json"), {8, 9});
        // Between writing and renaming, the record's place is taken by a folder.
        fs::create_directories(at("a.png.json/inside"));
        EXPECT_THROW(files.commit(), model::RuntimeError);
    }
    EXPECT_EQ(readFile(at("a.npy")), std::vector<uint8_t>({'o', 'l', 'd', ' ', 'c', 'l', 'a',
                                                           's', 's', 'e', 's'}));
    EXPECT_EQ(readFile(at("a.png")), std::vector<uint8_t>({'o', 'l', 'd', ' ', 'p', 'i', 'c',
                                                           't', 'u', 'r', 'e'}));
    EXPECT_EQ(entries(), (std::vector<std::string>{"a.npy", "a.png", "a.png.json"}));

    // Done: a link stays and its target takes the bytes and keeps its mode.
    fs::remove_all(at("a.png.json"));
    fs::create_symlink("a.png", at("link.png"));
    fs::permissions(at("a.png"), fs::perms::owner_read | fs::perms::owner_write);
    render::FileSet files;
    files.add(at("link.png"), {4, 5, 6}, true);
    files.add(at("a.png.json"), {8, 9});
    files.commit();
    EXPECT_TRUE(fs::is_symlink(at("link.png")));
    EXPECT_EQ(readFile(at("a.png")), std::vector<uint8_t>({4, 5, 6}));
    EXPECT_EQ(fs::status(at("a.png")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(entries(), (std::vector<std::string>{"a.npy", "a.png", "a.png.json", "link.png"}));
}

TEST_F(Render, ASignalWhileWritingRemovesTheTemporaryFiles)
{
    // A plain fork, so that the child writes into this test's folder; it
    // touches no thread pool.
    GTEST_FLAG_SET(death_test_style, "fast");
    std::ofstream(at("a.png")) << "old picture";
    for (int signal : {SIGINT, SIGTERM}) {
        EXPECT_EXIT(
            {
                render::FileSet files;
                files.add(at("a.png"), std::vector<uint8_t>(1 << 20, 1), true);
                files.add(at("b.npy"), {1});
                std::raise(signal);
            },
            testing::KilledBySignal(signal), "");
        EXPECT_EQ(entries(), std::vector<std::string>{"a.png"});
    }
}

// --- The orbit diagram and the spectrum ---------------------------------------

const std::vector<std::string> kChaoticModule = {"--w", "4", "-4.1", "2.65", "-2.85", "1.75",
                                                 "2.9", "--x0", "0.1", "0.2"};

std::vector<std::string> chaotic(std::vector<std::string> args)
{
    args.insert(args.begin() + 1, kChaoticModule.begin(), kChaoticModule.end());
    return args;
}

// Element i of a .npy of little-endian values of type T.
template <class T>
T valueAt(const Npy& npy, size_t i)
{
    T v;
    std::memcpy(&v, npy.data.data() + i * sizeof(T), sizeof(T));
    return v;
}

// The orbit diagram of the chaotic module over a sweep, one orbit at a time
// from its definition: column c's parameter is the mapping of c, each of its
// orbits takes 1000 steps of transient and `points` counted ones, and a state
// v lands in row floor((v + 1) * N / 2) from the bottom (v = 1 in the top
// row). With chain, each column's orbits go on from the previous column's.
struct PlainDiagram {
    std::vector<uint32_t> counts; // [row from the top][column]
    std::vector<double> states;   // columns x starts x points x 2
};

PlainDiagram plainDiagram(int entry, double left, double right, int n, int points,
                          const std::vector<double>& x0, const std::vector<double>& y0, bool chain)
{
    PlainDiagram d{std::vector<uint32_t>(static_cast<size_t>(n) * n), {}};
    std::vector<double> xs = x0, ys = y0;
    for (int c = 0; c < n; ++c) {
        double p[6] = {4, -4.1, 2.65, -2.85, 1.75, 2.9};
        p[entry] = ((right - left) * c) / (n - 1) + left;
        for (size_t k = 0; k < x0.size(); ++k) {
            double x = chain ? xs[k] : x0[k], y = chain ? ys[k] : y0[k];
            bool ok = true;
            for (int t = 0; t < 1000 + points; ++t) {
                model::kernel::MapStep(p, x, y, ok);
                if (t < 1000)
                    continue;
                d.states.push_back(x);
                d.states.push_back(y);
                if (x < -1 || x > 1)
                    continue;
                const int row = std::min(n - 1, static_cast<int>(std::floor((x + 1) * n / 2)));
                ++d.counts[static_cast<size_t>(n - 1 - row) * n + c];
            }
            EXPECT_TRUE(ok);
            xs[k] = x;
            ys[k] = y;
        }
    }
    return d;
}

TEST_F(Render, OrbitDiagramCountsTheStatesOfEveryOrbit)
{
    // Over b1 the chaotic module goes from cycles through chaos with periodic
    // windows; the counts, the picture and the raw states follow from the
    // definition column for column.
    constexpr int n = 160, points = 500;
    ASSERT_EQ(run(chaotic({"orbit", "--sweep", "4", "-0.5", "2.5", "--pixels", "160",
                           "--start-values", "1", "--points", "500", "-o", at("a.png"),
                           "--classes", at("a.npy")})),
              0)
        << errors.str();
    const PlainDiagram plain = plainDiagram(4, -0.5, 2.5, n, points, {0.1}, {0.2}, false);
    const Npy npy = readNpy(at("a.npy"));
    EXPECT_NE(npy.header.find("'descr': '<u4', 'fortran_order': False, 'shape': (160, 160)"),
              std::string::npos);
    const Pixels png = decodePng(at("a.png"));
    int periodic = 0, chaoticColumns = 0;
    for (int c = 0; c < n; ++c) {
        int lit = 0;
        for (int row = 0; row < n; ++row) {
            const size_t i = static_cast<size_t>(row) * n + c;
            ASSERT_EQ(valueAt<uint32_t>(npy, i), plain.counts[i]) << c << " " << row;
            EXPECT_EQ(png.at(c, row), rgbOf(model::OrbitDensityColor(plain.counts[i], points)));
            lit += plain.counts[i] > 0;
        }
        periodic += lit <= 8;
        chaoticColumns += lit >= 60;
    }
    EXPECT_GT(periodic, 20);
    EXPECT_GT(chaoticColumns, 20);
}

TEST_F(Render, ContinuedOrbitsFollowTheAttractorTheyAreOn)
{
    // Over b2 from 4 down to 0 a fixed point and a chaotic attractor coexist:
    // fresh orbits fall onto the fixed point from column 85 on, continued
    // ones stay mostly chaotic to near column 107.
    constexpr int n = 200, points = 200;
    std::vector<double> x0 = {0.1}, y0 = {0.2};
    model::RandomGenerator random;
    params::DrawStartPoints(random, 1, x0, y0); // the second start value
    x0.insert(x0.begin(), 0.1);
    y0.insert(y0.begin(), 0.2);
    ASSERT_EQ(x0.size(), 2u);
    const std::vector<std::string> sweep = chaotic(
        {"orbit", "--sweep", "5", "4", "0", "--pixels", "200", "--start-values", "2",
         "--points", "200"});
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = sweep;
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    ASSERT_EQ(run(with({"--continue", "-o", at("c.png"), "--classes", at("c.npy"), "--orbits",
                        at("c-states.npy")})),
              0)
        << errors.str();
    ASSERT_EQ(run(with({"-o", at("f.png"), "--classes", at("f.npy"), "--orbits",
                        at("f-states.npy")})),
              0);
    // Without --orbits the fresh diagram runs as tiles of columns: the same bytes.
    ASSERT_EQ(run(with({"-o", at("g.png"), "--classes", at("g.npy")})), 0);
    EXPECT_TRUE(readFile(at("f.png")) == readFile(at("g.png")));
    EXPECT_TRUE(readFile(at("f.npy")) == readFile(at("g.npy")));

    int differing = 0;
    for (const bool chain : {false, true}) {
        const std::string name = chain ? "c" : "f";
        const PlainDiagram plain = plainDiagram(5, 4, 0, n, points, x0, y0, chain);
        const Npy counts = readNpy(at(name + ".npy"));
        for (size_t i = 0; i < plain.counts.size(); ++i)
            ASSERT_EQ(valueAt<uint32_t>(counts, i), plain.counts[i]) << name << " " << i;
        const Npy states = readNpy(at(name + "-states.npy"));
        EXPECT_NE(states.header.find("'descr': '<f8', 'fortran_order': False, "
                                     "'shape': (200, 2, 200, 2)"),
                  std::string::npos)
            << states.header;
        ASSERT_EQ(states.data.size(), plain.states.size() * sizeof(double));
        EXPECT_EQ(std::memcmp(states.data.data(), plain.states.data(), states.data.size()), 0);
    }
    const Npy fresh = readNpy(at("f.npy")), continued = readNpy(at("c.npy"));
    for (int c = 85; c < 110; ++c) {
        int freshRows = 0, continuedRows = 0;
        for (int row = 0; row < n; ++row) {
            freshRows += valueAt<uint32_t>(fresh, static_cast<size_t>(row) * n + c) > 0;
            continuedRows += valueAt<uint32_t>(continued, static_cast<size_t>(row) * n + c) > 0;
        }
        differing += freshRows <= 2 && continuedRows > 20;
    }
    EXPECT_GE(differing, 12);
}

TEST_F(Render, SpectrumHoldsTheLargestExponentAndTheAreasGrowth)
{
    for (const char* plane : {"state", "parameter"}) {
        const std::vector<std::string> job = chaotic(
            {"lyapunov", "--plane", plane, "--idx", "4", "5", "--range", "-0.5", "2", "1", "3",
             "--pixels", "48", "--iterations", "300", "--lyapunov-steps", "400"});
        std::vector<std::string> one = job, both = job;
        if (std::string(plane) == "state") // the state plane reads no range or axes
            one = both = {"lyapunov", "--w", "4", "-4.1", "2.65", "-2.85", "1.75", "2.9",
                          "--pixels", "48", "--iterations", "300", "--lyapunov-steps", "400"};
        one.insert(one.end(), {"-o", at("one.png"), "--classes", at("one.npy")});
        both.insert(both.end(), {"--spectrum", "-o", at("both.png"), "--classes", at("both.npy")});
        ASSERT_EQ(run(one), 0) << errors.str();
        ASSERT_EQ(run(both), 0) << errors.str();
        const Npy a = readNpy(at("one.npy")), b = readNpy(at("both.npy"));
        EXPECT_NE(b.header.find("'descr': '<f4', 'fortran_order': False, 'shape': (48, 48, 2)"),
                  std::string::npos);
        ASSERT_EQ(b.data.size(), 2 * a.data.size());
        for (size_t i = 0; i < 48 * 48; ++i) {
            const float l1 = valueAt<float>(a, i), s1 = valueAt<float>(b, 2 * i),
                        s2 = valueAt<float>(b, 2 * i + 1);
            if (std::isinf(l1)) {
                EXPECT_EQ(s1, l1);
                continue;
            }
            EXPECT_NEAR(s1, l1, 1e-6) << plane << " " << i;
            EXPECT_GE(s1, s2);
        }
        if (std::string(plane) != "state")
            continue;
        // lambda1 + lambda2 is the mean log |det J| over the measured steps,
        // det J = (1 - x'^2)(1 - y'^2) det W.
        const double p[6] = {4, -4.1, 2.65, -2.85, 1.75, 2.9};
        for (int c = 3; c < 48; c += 11)
            for (int r = 5; r < 48; r += 13) {
                double x = ((1.0 - -1.0) * c) / 47 + -1.0, y = ((1.0 - -1.0) * r) / 47 + -1.0;
                bool ok = true;
                double sum = 0;
                for (int t = 0; t < 700; ++t) {
                    model::kernel::MapStep(p, x, y, ok);
                    if (t >= 300)
                        sum += std::log(std::abs((1 - x * x) * (1 - y * y) * (4 * -2.85 - -4.1 * 2.65)));
                }
                const size_t i = static_cast<size_t>(47 - r) * 48 + c;
                EXPECT_NEAR(double(valueAt<float>(b, 2 * i)) + valueAt<float>(b, 2 * i + 1),
                            sum / 400, 1e-6)
                    << c << " " << r;
            }
    }
}

TEST_F(Render, OrbitAndSpectrumUsageErrorsNameTheOption)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"veltrane", "--orbits", at("s.npy")}, "--orbits applies to orbit only"},
        {{"veltrane", "--spectrum"}, "--spectrum applies to lyapunov only"},
        {{"orbit", "--spectrum"}, "--spectrum applies to lyapunov only"},
        {{"lyapunov", "--continue"}, "--continue applies to orbit only"},
        {{"orbit", "--sweep", "6", "0", "1"}, "--sweep: the parameter K"},
        {{"orbit", "--sweep", "4.5", "0", "1"}, "--sweep: the parameter K"},
        {{"orbit", "--sweep", "4", "1", "1"}, "--sweep: the left value L"},
        {{"orbit", "--bounds", "0.5", "0.5"}, "--bounds: the low bound"},
        {{"orbit", "--points", "0"}, "--points: \"0\" is not a whole number in 1..100000"},
        {{"orbit", "--points", "100001"}, "--points: \"100001\""},
        {{"orbit", "--show", "z"}, "--show: \"z\" is not one of x|y"},
        {{"orbit", "--size", "2"}, "--size applies to"},
        {{"orbit", "--pixels", "32767", "--points", "100000", "--orbits", at("s.npy")},
         "--orbits: the states would take 262136000000 bytes"},
        {{"orbit", "--orbits", at("a.png")}, "--orbits: \""},
    };
    for (const auto& [args, said] : cases) {
        std::vector<std::string> a = args;
        a.insert(a.end(), {"-o", at("a.png")});
        EXPECT_EQ(run(a), render::kExitUsage) << said;
        EXPECT_NE(errors.str().find(said), std::string::npos) << errors.str();
        EXPECT_TRUE(fs::is_empty(dir)) << said;
    }
    // A failed orbit names its column, the parameter value and the start value.
    EXPECT_EQ(run({"orbit", "--sweep", "0", "100", "1e300", "--pixels", "20", "-o", at("a.png")}),
              render::kExitRunTime);
    EXPECT_NE(errors.str().find("At column 1, where w11 = 5.26315789473684E+298, start value 1 of"),
              std::string::npos)
        << errors.str();
    EXPECT_TRUE(fs::is_empty(dir));
}

} // namespace
