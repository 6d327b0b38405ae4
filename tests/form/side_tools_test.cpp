// The colour picker, the legend, clear and save, through the headless window.
#include "form/basins.h"
#include "form/headless_window.h"
#include "form/side_tools.h"
#include "model/network.h"
#include "plots/bitmap.h"
#include "tests/test_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using form::Control;
using model::Rgb;
using plots::Canvas;
using form::HeadlessWindow;

namespace fs = std::filesystem;

namespace {

Canvas paintedPicker(HeadlessWindow& window)
{
    Canvas picker(form::kPickerWidth, form::kPickerHeight, form::kPickerBackground);
    form::picColorPicker_Paint(window, picker);
    return picker;
}

// --- colour picker -------------------------------------------------------

TEST(ColorPicker, ShowsEveryPaletteEntryAndTheCurrentColour)
{
    HeadlessWindow window;
    const Canvas picker = paintedPicker(window);
    for (int16_t i = 0; i <= 16; ++i) {
        const int x = i < 10 ? 20 : 55, y = 20 + 30 * (i < 10 ? i : i - 10);
        const model::Color c = model::PeriodColor(window.state(), i);
        // A 25-pixel dot: 12 pixels on each side of its centre, then background.
        EXPECT_EQ(picker.pixel(x, y), c) << i;
        EXPECT_EQ(picker.pixel(x - 12, y - 12), c) << i;
        EXPECT_EQ(picker.pixel(x + 12, y + 12), c) << i;
        EXPECT_EQ(picker.pixel(x - 13, y), form::kPickerBackground) << i;
        EXPECT_EQ(picker.pixel(x, y + 13), form::kPickerBackground) << i;
    }
    EXPECT_EQ(picker.pixel(55, 290), 0) << "the current colour starts black";
    EXPECT_EQ(picker.pixel(55, 245), form::kPickerBackground) << "no entry 17 is shown";
    EXPECT_EQ(picker.dotWidth(), 25);
}

TEST(ColorPicker, PressTakesTheShownColourWithAnyButton)
{
    struct Case { const char* what; int button; float x, y; model::Color expected; };
    const Case cases[] = {
        {"grey gap between the columns", 1, 37.f, 20.f, Rgb(224, 224, 224)},
        {"grey gap between two rows", 1, 20.f, 35.f, Rgb(224, 224, 224)},
        {"entry 9, not pure white", 1, 20.f, 290.f, Rgb(250, 250, 250)},
        {"entry 0", 1, 20.f, 20.f, Rgb(0, 0, 0)},
        {"entry 2, right button", 2, 25.5f, 82.9f, Rgb(250, 75, 75)},
        {"entry 16, middle button", 4, 55.f, 200.f, Rgb(190, 190, 250)},
        {"entry 10, left edge of its dot", 1, 43.f, 8.f, Rgb(200, 200, 200)},
    };
    for (const Case& c : cases) {
        HeadlessWindow window;
        window.state().penColor = Rgb(1, 2, 3);
        Canvas picker = paintedPicker(window);
        form::picColorPicker_MouseDown(window, picker, c.button, 0, c.x, c.y);
        EXPECT_EQ(window.state().penColor, c.expected) << c.what;
        EXPECT_EQ(picker.pixel(55, 290), c.expected) << c.what << ": current dot";
        EXPECT_EQ(picker.pixel(43, 278), c.expected) << c.what << ": whole current dot";
        EXPECT_EQ(paintedPicker(window).pixel(55, 290), c.expected) << c.what << ": repaint";
    }
}

TEST(ColorPicker, PressOnTheCurrentColourKeepsIt)
{
    HeadlessWindow window;
    Canvas picker = paintedPicker(window);
    form::picColorPicker_MouseDown(window, picker, 1, 0, 20.f, 140.f); // entry 4, yellow
    form::picColorPicker_MouseDown(window, picker, 1, 0, 60.f, 295.f);
    EXPECT_EQ(window.state().penColor, Rgb(250, 250, 50));
}

// --- legend ---------------------------------------------------------------

std::vector<std::string> textsOf(const std::vector<Canvas::PrintedLine>& lines)
{
    std::vector<std::string> out;
    for (const auto& l : lines)
        out.push_back(l.text);
    return out;
}

TEST(Legend, DefaultFieldsGiveTheEightLines)
{
    HeadlessWindow window;
    window.state().penColor = Rgb(200, 0, 250);
    window.run(form::cmdLegend_Click);
    const std::vector<std::string> expected = {
        "w11 = 0.4", "w12 = 1.9", "w21 = -2.7", "w22 = -4.311",
        "b1 = -0.9", "b2 = 1.8",  "p(4) =-1.0 .. 1.0", "p(5) =-1.0 .. 1.0",
    };
    const auto& lines = window.canvas().printedLines();
    EXPECT_EQ(textsOf(lines), expected);
    for (size_t k = 0; k < lines.size(); ++k) {
        EXPECT_EQ(lines[k].x, 700) << k;
        EXPECT_EQ(lines[k].y, 20 + 16 * static_cast<int>(k)) << k; // headless line height 16
        EXPECT_EQ(lines[k].color, Rgb(200, 0, 250)) << k;
    }
    EXPECT_EQ(window.canvas().printX(), 0);
    EXPECT_EQ(window.canvas().printY(), 20 + 8 * 16);
    EXPECT_EQ(window.canvas().foreColor(), Rgb(200, 0, 250));
    EXPECT_TRUE(window.errors.empty());
}

TEST(Legend, SecondClickPrintsOnTheSameSpot)
{
    HeadlessWindow window;
    window.run(form::cmdLegend_Click);
    window.run(form::cmdLegend_Click);
    const auto& lines = window.canvas().printedLines();
    ASSERT_EQ(lines.size(), 16u);
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(lines[k + 8].x, lines[k].x);
        EXPECT_EQ(lines[k + 8].y, lines[k].y);
        EXPECT_EQ(lines[k + 8].text, lines[k].text);
    }
}

TEST(Legend, PrintsTheFieldTextsUnchanged)
{
    HeadlessWindow window;
    window.setText(form::txtW(0), "abc");
    window.setText(form::txtW(5), "");
    window.setText(form::txtW(3), " 1,5e3 ");
    window.setText(form::txtIdx(1), "x");
    window.setText(form::txtP(2), "low");
    window.setText(form::txtP(3), "0.10000");
    window.state().w = {9, 9, 9, 9, 9, 9}; // the legend shows the fields, not w
    window.run(form::cmdLegend_Click);
    const auto texts = textsOf(window.canvas().printedLines());
    ASSERT_EQ(texts.size(), 8u);
    EXPECT_EQ(texts[0], "w11 = abc");
    EXPECT_EQ(texts[3], "w22 =  1,5e3 ");
    EXPECT_EQ(texts[5], "b2 = ");
    EXPECT_EQ(texts[7], "p(x) =low .. 0.10000");
}

// --- clear ------------------------------------------------------------------

TEST(Clear, BlanksThePictureAndResetsOnlyThePrintPosition)
{
    HeadlessWindow window;
    Canvas& canvas = window.canvas();
    canvas.setDotWidth(7);
    canvas.setDot(400, 400, Rgb(50, 200, 50));
    window.run(form::cmdLegend_Click);
    window.state().penColor = Rgb(75, 75, 250);
    window.setText(Control::lblx, "0.1234");
    window.setText(form::txtW(2), "7");
    window.setChecked(Control::chkFp, true);

    window.run(form::cmdClear_Click);
    for (int i = 0; i < canvas.width() * canvas.height(); ++i)
        ASSERT_EQ(canvas.bits()[i], Canvas::ToPixel(canvas.background())) << i;
    EXPECT_EQ(canvas.printX(), 0);
    EXPECT_EQ(canvas.printY(), 0);
    EXPECT_EQ(canvas.dotWidth(), 7);
    EXPECT_EQ(window.state().penColor, Rgb(75, 75, 250));
    EXPECT_EQ(window.text(Control::lblx), "0.1234");
    EXPECT_EQ(window.text(form::txtW(2)), "7");
    EXPECT_TRUE(window.isChecked(Control::chkFp));
    EXPECT_EQ(window.state().stepSize, 20);
}

TEST(Clear, DuringAPlotBlanksWhatWasDrawnAndThePlotDrawsOn)
{
    HeadlessWindow window; // dot size 20: 40 columns
    window.onYield = [&] {
        if (window.yieldCount == 2)
            window.run(form::cmdClear_Click);
    };
    window.run(form::cmdVeltrane_Click);
    ASSERT_TRUE(window.errors.empty());
    EXPECT_EQ(window.yieldCount, 40);
    const Canvas& canvas = window.canvas();
    int drawnLeft = 0, drawnRight = 0;
    for (int row = 0; row < 800; ++row) {
        for (int column = 0; column < 40; ++column)
            drawnLeft += canvas.pixel(column, row) != canvas.background();
        for (int column = 40; column < 800; ++column)
            drawnRight += canvas.pixel(column, row) != canvas.background();
    }
    EXPECT_EQ(drawnLeft, 0) << "the first two columns were cleared";
    EXPECT_GT(drawnRight, 0) << "the columns after the clear were drawn";
}

// --- save -------------------------------------------------------------------

std::vector<uint8_t> fileBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// Reads a 24-bit bitmap back into a canvas, checking the header on the way.
Canvas decode(const std::vector<uint8_t>& b)
{
    EXPECT_GE(b.size(), 54u);
    if (b.size() < 54)
        return Canvas(1, 1);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(le32(b, 2), b.size());
    const uint32_t offset = le32(b, 10);
    const int width = static_cast<int>(le32(b, 18)), height = static_cast<int>(le32(b, 22));
    EXPECT_EQ(le32(b, 14), 40u);
    EXPECT_EQ(b[26] | b[27] << 8, 1);
    EXPECT_EQ(b[28] | b[29] << 8, 24);
    EXPECT_EQ(le32(b, 30), 0u) << "uncompressed";
    const size_t rowBytes = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    EXPECT_EQ(b.size(), offset + rowBytes * height);
    Canvas out(width, height);
    out.setDotWidth(1);
    for (int row = 0; row < height; ++row) {
        const uint8_t* p = b.data() + offset + (height - 1 - row) * rowBytes;
        for (int column = 0; column < width; ++column, p += 3)
            out.setDot(column, row, Rgb(p[2], p[1], p[0]));
    }
    return out;
}

using Save = InWorkingFolder;

TEST_F(Save, DefaultNameWritesTheBlankCanvasIntoTheWorkingFolder)
{
    HeadlessWindow window;
    window.run(form::cmdSave_Click);
    ASSERT_TRUE(window.errors.empty()) << window.errors.front().what();
    EXPECT_EQ(entries(), std::vector<std::string>{"basin01.bmp"});
    const std::vector<uint8_t> bytes = fileBytes("basin01.bmp");
    EXPECT_EQ(bytes.size(), 54u + 800u * 2400u);
    const Canvas back = decode(bytes);
    ASSERT_EQ(back.width(), 800);
    ASSERT_EQ(back.height(), 800);
    for (int i = 0; i < 800 * 800; ++i)
        ASSERT_EQ(back.bits()[i], Canvas::ToPixel(Rgb(255, 255, 255))) << i;
}

TEST_F(Save, SecondSaveReplacesTheFileAndReadsBackAsTheCanvas)
{
    HeadlessWindow window;
    window.run(form::cmdSave_Click);
    Canvas& canvas = window.canvas();
    canvas.setDotWidth(1);
    canvas.setDot(0, 0, Rgb(1, 2, 3));       // top-left stays top-left
    canvas.setDot(799, 799, Rgb(250, 75, 75));
    canvas.setDotWidth(30);
    canvas.setDot(100, 650, Rgb(50, 200, 50));
    canvas.setDot(700, 30, Rgb(75, 75, 250));
    window.run(form::cmdSave_Click);
    ASSERT_TRUE(window.errors.empty());
    EXPECT_EQ(entries(), std::vector<std::string>{"basin01.bmp"});
    const Canvas back = decode(fileBytes("basin01.bmp"));
    ASSERT_EQ(back.width() * back.height(), 800 * 800);
    EXPECT_TRUE(std::equal(back.bits(), back.bits() + 800 * 800, canvas.bits()));
    EXPECT_EQ(back.pixel(0, 0), Rgb(1, 2, 3));
    EXPECT_EQ(back.pixel(799, 799), Rgb(250, 75, 75));
}

TEST_F(Save, NameIsUsedExactlyAsTypedAndAnyExtensionGetsABitmap)
{
    fs::create_directory("sub");
    for (const std::string name : {"picture.png", " spaced name ", "noext", "sub/inner.bmp"}) {
        HeadlessWindow window;
        window.setText(Control::txtFileName, name);
        window.run(form::cmdSave_Click);
        EXPECT_TRUE(window.errors.empty()) << name;
        const std::vector<uint8_t> bytes = fileBytes(name);
        ASSERT_EQ(bytes.size(), 54u + 800u * 2400u) << name;
        EXPECT_EQ(bytes[0], 'B') << name;
        EXPECT_EQ(bytes[1], 'M') << name;
    }
    EXPECT_EQ(entries(),
              (std::vector<std::string>{" spaced name ", "noext", "picture.png", "sub"}));
    EXPECT_EQ(fs::directory_iterator("sub")->path().filename(), "inner.bmp");
}

TEST_F(Save, RowsArePaddedToFourBytes)
{
    Canvas small(3, 2, Rgb(10, 20, 30));
    small.setDot(0, 0, Rgb(1, 2, 3)); // top-left, so the last row in the file
    const std::vector<uint8_t> b = plots::EncodeBitmap(small, 3, 2);
    ASSERT_EQ(b.size(), 54u + 2 * 12u);
    const std::vector<uint8_t> bottomRow = {30, 20, 10, 30, 20, 10, 30, 20, 10, 0, 0, 0};
    const std::vector<uint8_t> topRow = {3, 2, 1, 30, 20, 10, 30, 20, 10, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 54, b.begin() + 66), bottomRow);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 66, b.end()), topRow);
}

TEST_F(Save, FailedSaveKeepsTheOldFileAndReportsTheName)
{
    const std::vector<uint8_t> old = {'o', 'l', 'd', ' ', 'd', 'a', 't', 'a'};
    std::ofstream("keep.bmp", std::ios::binary).write(reinterpret_cast<const char*>(old.data()),
                                                       static_cast<std::streamsize>(old.size()));
    fs::create_directory("folder.bmp");
    fs::create_symlink("keep.bmp", "link.bmp");

    // A full disc: the process may write no file larger than 4096 bytes.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto fullDisc = [&](bool on) {
        struct rlimit l = saved;
        if (on)
            l.rlim_cur = 4096;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &l), 0);
    };
    std::signal(SIGXFSZ, SIG_IGN);

    struct Case { const char* what; std::string name; bool disc; };
    const Case cases[] = {
        {"empty name", "", false},
        {"missing folder", "missing/basin01.bmp", false},
        {"a folder of that name", "folder.bmp", false},
        {"name ends in a separator", "keep.bmp/", false},
        {"full disc", "keep.bmp", true},
        {"full disc, through a link", "link.bmp", true},
    };
    for (const Case& c : cases) {
        HeadlessWindow window;
        window.setText(Control::txtFileName, c.name);
        window.canvas().setDotWidth(11);
        window.canvas().setDot(5, 5, Rgb(250, 150, 50));
        const std::vector<uint32_t> before(window.canvas().bits(),
                                           window.canvas().bits() + 800 * 800);
        fullDisc(c.disc);
        window.run(form::cmdSave_Click);
        fullDisc(false);
        ASSERT_EQ(window.errors.size(), 1u) << c.what;
        const model::RuntimeError& e = window.errors.front();
        EXPECT_EQ(e.kind(), model::RuntimeError::Kind::FileNotWritten) << c.what;
        EXPECT_NE(std::string(e.what()).find("\"" + c.name + "\""), std::string::npos)
            << c.what << ": " << e.what();
        EXPECT_EQ(fileBytes("keep.bmp"), old) << c.what;
        EXPECT_TRUE(fs::is_directory("folder.bmp")) << c.what;
        EXPECT_TRUE(fs::is_symlink("link.bmp")) << c.what;
        EXPECT_EQ(entries(), (std::vector<std::string>{"folder.bmp", "keep.bmp", "link.bmp"}))
            << c.what << ": no temporary file is left";
        EXPECT_TRUE(std::equal(before.begin(), before.end(), window.canvas().bits())) << c.what;
        EXPECT_EQ(window.text(Control::txtFileName), c.name) << c.what;
    }
}

TEST_F(Save, FollowsLinksAndWritesIntoWhatIsNotAPlainFile)
{
    const std::vector<uint8_t> bytes = {'n', 'e', 'w'};
    fs::create_directories("a/b");
    std::ofstream("a/real.bmp") << "old";
    fs::create_symlink("../real.bmp", "a/b/link.bmp"); // counts from the link's folder
    fs::create_symlink("a/b/link.bmp", "chain.bmp");   // a link to a link
    fs::create_symlink("new.bmp", "dangling.bmp");     // its target does not exist yet
    ASSERT_EQ(::mkfifo("pipe.bmp", 0600), 0);
    const int reader = ::open("pipe.bmp", O_RDONLY | O_NONBLOCK);
    for (const char* name : {"chain.bmp", "dangling.bmp", "pipe.bmp"})
        plots::WriteFileReplacing(name, bytes);
    std::vector<uint8_t> piped(16);
    piped.resize(static_cast<size_t>(std::max<ssize_t>(0, ::read(reader, piped.data(), 16))));
    ::close(reader);
    EXPECT_EQ(fileBytes("a/real.bmp"), bytes);
    EXPECT_EQ(fileBytes("new.bmp"), bytes);
    EXPECT_EQ(piped, bytes);
    for (const char* link : {"chain.bmp", "a/b/link.bmp", "dangling.bmp"})
        EXPECT_TRUE(fs::is_symlink(link)) << link;

    // A pipe nobody reads, or whose reader leaves: a failure, not a wait
    // and not the end of the program.
    EXPECT_THROW(plots::WriteFileReplacing("pipe.bmp", bytes), model::RuntimeError);
    const int leaving = ::open("pipe.bmp", O_RDONLY | O_NONBLOCK);
    std::thread leave([leaving] {
        pollfd p = {leaving, POLLIN, 0};
        ::poll(&p, 1, -1);
        ::close(leaving);
    });
    EXPECT_THROW(plots::WriteFileReplacing("pipe.bmp", std::vector<uint8_t>(1 << 20)),
                 model::RuntimeError);
    leave.join();
    EXPECT_TRUE(fs::is_fifo("pipe.bmp"));
    EXPECT_EQ(entries(), (std::vector<std::string>{"a", "chain.bmp", "dangling.bmp", "new.bmp",
                                                   "pipe.bmp"}));
}

TEST_F(Save, ReplacedFileKeepsItsPermissions)
{
    std::ofstream("basin01.bmp") << "x";
    fs::permissions("basin01.bmp", fs::perms::owner_read | fs::perms::owner_write
                                       | fs::perms::group_read);
    HeadlessWindow window;
    window.run(form::cmdSave_Click);
    ASSERT_TRUE(window.errors.empty());
    EXPECT_EQ(fs::status("basin01.bmp").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(fs::file_size("basin01.bmp"), 54u + 800u * 2400u);
}

} // namespace
