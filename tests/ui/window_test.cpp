// The real window, offscreen: its controls, start-up, the settings fields
// under real key events, the canvas and picker on the screen, and the side
// tools as the buttons run them.
#include "plots/canvas.h"
#include "tests/test_folder.h"
#include "ui/canvas_widget.h"
#include "ui/controls.h"
#include "ui/icon.h"
#include "ui/main_window.h"
#include "ui/picker_widget.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <unistd.h>

using form::Control;
using model::Rgb;
using ui::MainWindow;

namespace fs = std::filesystem;

namespace {

enum Kind { Pic, Lbl, Txt, Btn, Frm, Chk };

struct Expected {
    const char* name;
    Kind kind;
    const char* container;
    const char* text;
    const char* toolTip;
    int left, top, width, height;
};

// The window as it is designed, control by control.
const Expected kExpected[] = {
    {"picBasins", Pic, "", "", "Click left to start a trajectory, click right to use this point as system parameters.", 8, 0, 802, 802},
    {"Label1(0)", Lbl, "", "x =", "", 824, 8, 17, 17},
    {"lblx", Lbl, "", "-0.0000", "", 840, 8, 41, 17},
    {"lblpx", Lbl, "", "-0.0000", "", 888, 8, 57, 17},
    {"Label1(1)", Lbl, "", "y =", "", 824, 24, 17, 17},
    {"lbly", Lbl, "", "-0.0000", "", 840, 24, 41, 17},
    {"lblpy", Lbl, "", "-0.0000", "", 888, 24, 57, 17},
    {"picColorPicker", Pic, "", "", "Color Picker. International resistor code (1 brown, 2 red, 3 orange, ...).", 824, 40, 81, 313},
    {"txtFileName", Txt, "", "basin01.bmp", "", 824, 360, 121, 19},
    {"cmdLegend", Btn, "", "Legend", "Insert legend into graphics.", 824, 384, 57, 25},
    {"cmdSave", Btn, "", "Save", "Save graphics as seen.", 888, 384, 57, 25},
    {"Frame2", Frm, "", "weights", "", 824, 416, 121, 65},
    {"txtW(0)", Txt, "Frame2", "0.4", "w11", 8, 16, 49, 19},
    {"txtW(1)", Txt, "Frame2", "1.9", "w12", 64, 16, 49, 19},
    {"txtW(2)", Txt, "Frame2", "-2.7", "w21", 8, 40, 49, 19},
    {"txtW(3)", Txt, "Frame2", "-4.311", "w22", 64, 40, 49, 19},
    {"Frame1", Frm, "", "bias", "", 824, 488, 65, 65},
    {"txtW(4)", Txt, "Frame1", "-0.9", "b1", 8, 16, 49, 19},
    {"txtW(5)", Txt, "Frame1", "1.8", "b2", 8, 40, 49, 19},
    {"Frame4", Frm, "", "x0", "", 896, 488, 49, 65},
    {"txtX0(0)", Txt, "Frame4", "1.0", "Start value (parametric plot).", 8, 16, 33, 19},
    {"txtX0(1)", Txt, "Frame4", "1.0", "As above.", 8, 40, 33, 19},
    {"Frame3", Frm, "", "parametric", "", 824, 560, 121, 65},
    {"txtP(0)", Txt, "Frame3", "-1.0", "Left border of x-axis.", 8, 16, 33, 19},
    {"txtP(1)", Txt, "Frame3", "1.0", "Right border of x-axis.", 48, 16, 33, 19},
    {"txtIdx(0)", Txt, "Frame3", "4", "Index for x-axis: 0..3 for weight, 4..5 for bias (left to right, top to down).", 88, 16, 25, 19},
    {"txtP(2)", Txt, "Frame3", "-1.0", "As above, but for y-axis.", 8, 40, 33, 19},
    {"txtP(3)", Txt, "Frame3", "1.0", "As above, but for y-axis.", 48, 40, 33, 19},
    {"txtIdx(1)", Txt, "Frame3", "5", "As above, but for y-axis.", 88, 40, 25, 19},
    {"cmdParametric", Btn, "", "Parametric", "Iso-periodic plot.", 872, 632, 73, 17},
    {"chkReshuffle", Chk, "", "", "Check this, to use new random start values for each pixel.", 821, 640, 17, 17},
    {"txtNumStartValues", Txt, "", "5", "Number of different start values to test for co-existing attractors.", 840, 651, 25, 19},
    {"chkFp", Chk, "", "", "Check this, to count the multiplicity of coexistent fixed points.", 821, 656, 17, 17},
    {"cmdCoexisting", Btn, "", "Coexisting", "Draw number of co-existing types of attractors.", 872, 656, 73, 17},
    {"Label1(3)", Lbl, "", "Iterations", "", 840, 683, 49, 17},
    {"txtIterations", Txt, "", "1000", "Number of iterations per point.", 896, 680, 49, 19},
    {"Label1(4)", Lbl, "", "Accuracy", "", 840, 704, 49, 17},
    {"txtAccuracy", Txt, "", "8", "Accuracy for deciding if points are equal (8 stands for 1E-8).", 896, 704, 49, 19},
    {"cmdClear", Btn, "", "Clear", "Clear graphics.", 824, 720, 41, 17},
    {"Label1(2)", Lbl, "", "Size", "", 880, 732, 25, 17},
    {"txtStepSize", Txt, "", "20", "Drawing size of points, orbits, and the like. Use 1 for beautiful pictures which take long time.", 912, 728, 33, 19},
    {"cmdFixpoints", Btn, "", "Fixpt", "Draw Points with low dx/dt (uses Accuracy setting).", 824, 744, 41, 17},
    {"cmdVeltrane", Btn, "", "Veltrane", "Draws Basins (co-existent fixpoints all have brown basins).", 872, 752, 73, 33},
    {"cmdFixpointBasins", Btn, "", "FpBas", "Use different colors for basins of different fixed points.", 824, 768, 41, 17},
};

const char* const kTabOrder[] = {
    "picBasins", "cmdVeltrane", "txtStepSize", "txtW(4)", "txtW(5)", "txtW(0)", "txtW(1)",
    "txtW(2)", "txtW(3)", "cmdClear", "txtIterations", "txtAccuracy", "picColorPicker",
    "cmdSave", "txtFileName", "cmdLegend", "txtP(0)", "txtP(1)", "txtP(2)", "txtP(3)",
    "txtIdx(0)", "txtIdx(1)", "cmdParametric", "cmdFixpoints", "txtX0(0)", "txtX0(1)",
    "cmdCoexisting", "txtNumStartValues", "chkReshuffle", "cmdFixpointBasins", "chkFp",
};

QString textOf(QWidget* w)
{
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* c = qobject_cast<QCheckBox*>(w)) return c->text();
    if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return {};
}

bool isKind(QWidget* w, Kind k)
{
    switch (k) {
    case Pic: return qobject_cast<ui::CanvasWidget*>(w) || qobject_cast<ui::PickerWidget*>(w);
    case Lbl: return qobject_cast<QLabel*>(w);
    case Txt: return qobject_cast<QLineEdit*>(w);
    case Btn: return qobject_cast<QPushButton*>(w);
    case Frm: return qobject_cast<QGroupBox*>(w);
    case Chk: return qobject_cast<QCheckBox*>(w);
    }
    return false;
}

template <class T = QWidget>
T* find(MainWindow& window, const char* name)
{
    T* w = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QLineEdit* field(MainWindow& window, const char* name) { return find<QLineEdit>(window, name); }

// --- the window and its controls -----------------------------------------

TEST(Window, EveryControlStandsAsDesigned)
{
    MainWindow window;
    EXPECT_EQ(window.objectName(), "frmVeltrane");
    std::set<QString> names;
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(e.name);
        QWidget* w = find(window, e.name);
        ASSERT_NE(w, nullptr);
        names.insert(w->objectName());
        EXPECT_TRUE(isKind(w, e.kind));
        const QString container = *e.container ? QString::fromLatin1(e.container)
                                               : QStringLiteral("frmVeltrane");
        EXPECT_EQ(w->parentWidget()->objectName(), container);
        EXPECT_EQ(textOf(w), QString::fromUtf8(e.text));
        EXPECT_EQ(w->toolTip(), QString::fromUtf8(e.toolTip));
        EXPECT_EQ(w->geometry(), QRect(e.left, e.top, e.width, e.height));
    }
    EXPECT_EQ(names.size(), std::size(kExpected));
    EXPECT_TRUE(window.toolTip().isEmpty());
}

TEST(Window, TabOrderStartsAtTheCanvasWhichHasTheFocus)
{
    MainWindow window;
    QWidget* canvas = find(window, "picBasins");
    ASSERT_NE(canvas, nullptr);
    std::vector<std::string> order;
    QWidget* w = canvas;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            order.push_back(w->objectName().toStdString());
        w = w->nextInFocusChain();
    } while (w != canvas && order.size() < 100);
    EXPECT_EQ(order, std::vector<std::string>(std::begin(kTabOrder), std::end(kTabOrder)));
    EXPECT_EQ(window.focusWidget(), canvas);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    if (QTest::qWaitForWindowActive(&window)) {
        EXPECT_EQ(QApplication::focusWidget(), canvas);
    }
}

TEST(Window, FixedClientAreaCaptionAndIcon)
{
    MainWindow window;
    EXPECT_EQ(window.size(), QSize(956, 806));
    EXPECT_EQ(window.minimumSize(), QSize(956, 806));
    EXPECT_EQ(window.maximumSize(), QSize(956, 806));
    window.resize(1200, 900);
    EXPECT_EQ(window.size(), QSize(956, 806));
    EXPECT_EQ(window.windowTitle(),
              QStringLiteral("ABC of 2-Neuron-Network with Bias.   {veltrane@example.org}"));
    const QList<QSize> sizes = window.windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    for (int size : {16, 32}) {
        const QImage image = ui::ProgramIconImage(size);
        EXPECT_EQ(image.size(), QSize(size, size));
        std::set<QRgb> colors;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                colors.insert(image.pixel(x, y));
        EXPECT_LE(colors.size(), 16u) << size;
        EXPECT_GE(colors.size(), 4u) << size << ": a picture, not a blank";
    }
}

TEST(Window, StartsWithDesignTimeContentAndTheLoadedSettings)
{
    MainWindow window;
    for (const char* box : {"chkReshuffle", "chkFp"})
        EXPECT_FALSE(find<QCheckBox>(window, box)->isChecked()) << box;
    for (const char* label : {"lblx", "lbly", "lblpx", "lblpy"})
        EXPECT_EQ(find<QLabel>(window, label)->text(), "-0.0000") << label;
    EXPECT_EQ(window.state().stepSize, 20);
    EXPECT_EQ(window.state().iterations, 1000);
    EXPECT_EQ(window.state().accuracy, 8);
    EXPECT_EQ(window.state().w, model::Weights{});
    EXPECT_EQ(window.state().penColor, 0);
    for (int i = 0; i < 800 * 800; ++i)
        ASSERT_EQ(window.canvas().bits()[i], plots::Canvas::ToPixel(Rgb(255, 255, 255)));
}

TEST(Window, EveryCaptionFitsItsBox)
{
    MainWindow window;
    for (QLabel* label : window.findChildren<QLabel*>()) {
        const int needed = label->fontMetrics().horizontalAdvance(label->text());
        EXPECT_LE(needed, label->width()) << label->objectName().toStdString();
        EXPECT_LE(label->fontMetrics().height(), label->height());
    }
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        const int needed = button->fontMetrics().horizontalAdvance(button->text());
        EXPECT_LE(needed + 8, button->width()) << button->objectName().toStdString();
    }
}

TEST(Window, ControlTableAgreesWithTheFieldsTheCommandsRead)
{
    for (int i = 0; i < static_cast<int>(Control::Count); ++i) {
        const auto c = static_cast<Control>(i);
        const std::string name = form::ControlName(c);
        int found = 0;
        for (const ui::ControlSpec& entry : ui::ControlTable()) {
            if (entry.name != name)
                continue;
            ++found;
            EXPECT_STREQ(form::DefaultText(c), entry.text) << name;
        }
        EXPECT_EQ(found, 1) << name;
    }
    for (const ui::ControlSpec& entry : ui::ControlTable())
        EXPECT_NE(entry.text, nullptr) << entry.name << ": a text the window's state lacks";
}

TEST(Window, TextFieldsTakeAnyTextOfAnyLength)
{
    MainWindow window;
    const std::string longText(100000, '7');
    window.setText(Control::txtFileName, longText);
    EXPECT_EQ(window.text(Control::txtFileName), longText);
    QLineEdit* p0 = field(window, "txtP(0)");
    p0->selectAll();
    QTest::keyClicks(p0, "a,b; \\ ");
    p0->insert(QString::fromUtf8("\xc3\xa9"));
    EXPECT_EQ(p0->text(), QString::fromUtf8("a,b; \\ \xc3\xa9"));
}

// --- the settings fields under real keys ----------------------------------

void selectAll(QLineEdit* e) { QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier); }

TEST(SettingsFields, KeyByKeyThePointNeverStays)
{
    MainWindow window;
    QLineEdit* step = field(window, "txtStepSize");
    selectAll(step);
    QTest::keyClicks(step, "2.9"); // "2", "2." -> "2", "29"
    EXPECT_EQ(step->text(), "29");
    EXPECT_EQ(window.state().stepSize, 29);
}

TEST(SettingsFields, PastedNumberIsTakenByItsFloor)
{
    MainWindow window;
    QLineEdit* step = field(window, "txtStepSize");
    selectAll(step);
    step->insert("2.9");
    EXPECT_EQ(step->text(), "2");
    EXPECT_EQ(window.state().stepSize, 2);
}

TEST(SettingsFields, DeletingEverythingPutsTheDefaultBack)
{
    struct Case { const char* name; const char* typed; const char* shown; };
    const Case cases[] = {{"txtAccuracy", "3", "8"}, {"txtStepSize", "7", "20"},
                          {"txtIterations", "50", "1000"}};
    for (const Case& c : cases) {
        MainWindow window;
        QLineEdit* e = field(window, c.name);
        selectAll(e);
        QTest::keyClicks(e, c.typed);
        EXPECT_EQ(e->text(), c.typed);
        selectAll(e);
        QTest::keyClick(e, Qt::Key_Delete);
        EXPECT_EQ(e->text(), c.shown) << c.name;
    }
    MainWindow window;
    QLineEdit* acc = field(window, "txtAccuracy");
    QTest::keyClick(acc, Qt::Key_End);
    QTest::keyClick(acc, Qt::Key_Backspace);
    EXPECT_EQ(acc->text(), "8");
    EXPECT_EQ(window.state().accuracy, 8);
}

TEST(SettingsFields, OtherFieldsHaveNoHandler)
{
    MainWindow window;
    const model::State before = window.state();
    for (const char* name : {"txtW(0)", "txtP(1)", "txtIdx(0)", "txtX0(1)",
                             "txtNumStartValues", "txtFileName"}) {
        QLineEdit* e = field(window, name);
        selectAll(e);
        QTest::keyClicks(e, "2.9");
        EXPECT_EQ(e->text(), "2.9") << name;
    }
    find<QCheckBox>(window, "chkFp")->click();
    EXPECT_EQ(window.state().w, before.w);
    EXPECT_EQ(window.state().stepSize, before.stepSize);
}

TEST(Errors, AnErrorInAHandlerIsReportedOnceAndTheWindowGoesOn)
{
    MainWindow window;
    std::vector<std::string> reported;
    window.errorSink = [&](const model::RuntimeError& e) {
        EXPECT_EQ(e.kind(), model::RuntimeError::Kind::Overflow);
        reported.push_back(e.what());
    };
    QLineEdit* it = field(window, "txtIterations");
    selectAll(it);
    QTest::keyClicks(it, "40000"); // the last key overflows 16 bits
    EXPECT_EQ(reported.size(), 1u);
    EXPECT_EQ(it->text(), "40000") << "the field keeps the typed text";
    EXPECT_EQ(window.state().iterations, 4000) << "the setting keeps its last value";

    QTest::keyClick(it, Qt::Key_Backspace);
    EXPECT_EQ(window.state().iterations, 4000);
    selectAll(it);
    QTest::keyClicks(it, "0");
    EXPECT_EQ(it->text(), "1000");
    EXPECT_EQ(window.state().iterations, 1000);
    EXPECT_EQ(reported.size(), 1u);
}

// What the offscreen screen shows of a window: its backing store as last
// painted, not a fresh rendering.
QImage onScreen(QWidget& window)
{
    return window.screen()->grabWindow(window.winId()).toImage();
}

// Runs check once, from inside the error box's event loop, when the box is up.
void whenTheBoxIsUp(MainWindow& window, std::function<void(QMessageBox&)> check)
{
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, [&window, check, poll] {
        for (QMessageBox* box : window.findChildren<QMessageBox*>()) {
            if (box->isVisible()) {
                poll->stop();
                check(*box);
                return;
            }
        }
    });
    poll->start(0);
}

TEST(Errors, TheBoxOpensOverTheCanvasAsItStandsAtTheFailingStep)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.canvas().setDotWidth(100);
    window.canvas().setDot(400, 400, Rgb(250, 75, 75));
    window.canvasWidget()->showChanges();
    QCoreApplication::processEvents();
    const QPoint dot = window.canvasWidget()->mapTo(&window, QPoint(401, 401));
    ASSERT_EQ(onScreen(window).pixel(dot), qRgb(250, 75, 75));

    // "Parametric" clears the canvas, then fails on the axis index.
    field(window, "txtIdx(0)")->setText("6");
    QRgb shown = 0;
    whenTheBoxIsUp(window, [&](QMessageBox& box) {
        shown = onScreen(window).pixel(dot);
        box.accept();
    });
    find<QPushButton>(window, "cmdParametric")->click();
    EXPECT_EQ(shown, qRgb(255, 255, 255)) << "the cleared canvas, not the old picture";
}

TEST(Errors, ReturnAndEscapeFromTheKeyboardDismissTheBox)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    field(window, "txtIdx(0)")->setText("6"); // "Parametric" fails on the axis index
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        bool dismissed = false;
        whenTheBoxIsUp(window, [&](QMessageBox& box) {
            // The key goes where the keyboard focus is, as a typed key does;
            // without it, to the window, whose input is held.
            EXPECT_TRUE(QTest::qWaitFor([&] {
                return QApplication::focusWidget() && QApplication::focusWidget()->window() == &box;
            })) << "the box has the keyboard focus";
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus ? focus : &window, key);
            dismissed = !box.isVisible();
            if (!dismissed)
                box.reject();
        });
        find<QPushButton>(window, "cmdParametric")->click();
        EXPECT_TRUE(dismissed) << "key " << key;
    }
}

TEST(Closing, WithAnErrorBoxOpenEndsTheProgramAndTheBox)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    field(window, "txtIdx(0)")->setText("6");
    QCheckBox* chkFp = find<QCheckBox>(window, "chkFp");
    bool blocked = true;
    whenTheBoxIsUp(window, [&](QMessageBox& b) {
        QTest::mouseClick(chkFp, Qt::LeftButton);
        EXPECT_FALSE(chkFp->isChecked()) << "the window takes no input while the box is up";
        // A modal window would keep the window system's close request from
        // ever reaching the window.
        blocked = QGuiApplication::modalWindow() != nullptr;
        window.close();
        if (b.isVisible()) {
            b.reject();
            QCoreApplication::exit(1);
        }
    });
    QTimer::singleShot(0, &window, [&] { find<QPushButton>(window, "cmdParametric")->click(); });
    EXPECT_EQ(QApplication::exec(), 0) << "the program ends";
    EXPECT_FALSE(blocked);
    EXPECT_TRUE(window.isClosing());
    for (QMessageBox* b : window.findChildren<QMessageBox*>())
        EXPECT_FALSE(b->isVisible());
}

// --- the canvas on the screen ----------------------------------------------

TEST(Canvas, DrawingAreaIsExactly800By800)
{
    MainWindow window;
    plots::Canvas& canvas = window.canvas();
    canvas.setDotWidth(1);
    canvas.setDot(799, 799, Rgb(250, 75, 75));
    canvas.setDot(0, 0, Rgb(50, 200, 50));
    canvas.setDot(800, 400, Rgb(75, 75, 250));
    canvas.setDot(400, 800, Rgb(75, 75, 250));
    canvas.setDot(-1, 10, Rgb(75, 75, 250));
    canvas.setDotWidth(3);
    canvas.setDot(801, 801, Rgb(75, 75, 250));
    canvas.setDot(800, 100, Rgb(200, 0, 250)); // only its left column is inside
    const QImage shown = window.canvasWidget()->grab().toImage();
    ASSERT_EQ(shown.size(), QSize(802, 802));
    EXPECT_EQ(shown.pixel(800, 800), qRgb(250, 75, 75));
    EXPECT_EQ(shown.pixel(1, 1), qRgb(50, 200, 50));
    EXPECT_EQ(shown.pixel(800, 101), qRgb(200, 0, 250));
    const QRgb border = shown.pixel(0, 0);
    for (int i = 0; i < 802; ++i) {
        EXPECT_EQ(shown.pixel(i, 0), border);
        EXPECT_EQ(shown.pixel(i, 801), border);
        EXPECT_EQ(shown.pixel(0, i), border);
        EXPECT_EQ(shown.pixel(801, i), border);
    }
    int blue = 0;
    for (int y = 0; y < 802; ++y)
        for (int x = 0; x < 802; ++x)
            blue += shown.pixel(x, y) == qRgb(75, 75, 250);
    EXPECT_EQ(blue, 0);
}

TEST(Canvas, MousePressReportsDrawingAreaPixels)
{
    MainWindow window;
    struct Press { int button, shift; float x, y; };
    std::vector<Press> got;
    window.canvasWidget()->onMouseDown = [&](int b, int s, float x, float y) {
        got.push_back({b, s, x, y});
    };
    QWidget* canvas = window.canvasWidget();
    QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(1, 1));
    QTest::mouseClick(canvas, Qt::RightButton, Qt::ShiftModifier, QPoint(800, 800));
    QTest::mouseClick(canvas, Qt::MiddleButton, {}, QPoint(401, 11));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].button, 1);
    EXPECT_EQ(got[0].x, 0.f);
    EXPECT_EQ(got[0].y, 0.f);
    EXPECT_EQ(got[1].button, 2);
    EXPECT_EQ(got[1].shift, 1);
    EXPECT_EQ(got[1].x, 799.f);
    EXPECT_EQ(got[1].y, 799.f);
    EXPECT_EQ(got[2].button, 4);
    EXPECT_EQ(got[2].x, 400.f);
    EXPECT_EQ(got[2].y, 10.f);
}

TEST(Canvas, CoveringAndRepaintingKeepsThePictures)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.canvas().setDotWidth(40);
    window.canvas().setDot(300, 300, Rgb(250, 150, 50));
    window.state().penColor = Rgb(150, 75, 0);
    window.canvasWidget()->showChanges();
    QTest::qWait(1);
    const QImage before = window.grab().toImage();

    QWidget cover;
    cover.setGeometry(window.geometry());
    cover.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));
    cover.hide();
    window.hide();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.repaint();
    EXPECT_EQ(window.grab().toImage(), before);
    const QImage picker = window.pickerWidget()->grab().toImage();
    EXPECT_EQ(picker.pixel(56, 291), qRgb(150, 75, 0)) << "current colour after repaint";
    EXPECT_EQ(window.canvasWidget()->grab().toImage().pixel(301, 301), qRgb(250, 150, 50));
}

// --- the picker, legend, clear and save through the buttons ---------------

// The colour a widget shows at a pixel of its own coordinates, on a display
// of any scale: the device pixel at the centre of that pixel.
QRgb shownAt(QWidget* widget, QPoint at)
{
    const QImage image = widget->grab().toImage();
    const qreal scale = image.devicePixelRatio();
    return image.pixel(static_cast<int>((at.x() + 0.5) * scale),
                       static_cast<int>((at.y() + 0.5) * scale))
           | 0xFF000000u;
}

// Also run under QT_SCALE_FACTOR 1.25, 1.5 and 2 (tests/CMakeLists.txt): the
// press takes the colour of the dot under the pointer at every scale.
TEST(Picker, PressesChooseTheDisplayedColour)
{
    MainWindow window;
    QWidget* picker = window.pickerWidget();
    EXPECT_EQ(shownAt(picker, QPoint(56, 291)), qRgb(0, 0, 0)) << "black at start";
    struct Case { Qt::MouseButton button; QPoint at; model::Color expected; };
    // Widget pixels: the drawing area starts one pixel in, inside the border.
    const Case cases[] = {
        {Qt::LeftButton, QPoint(38, 21), Rgb(224, 224, 224)},  // gap between the columns
        {Qt::LeftButton, QPoint(21, 291), Rgb(250, 250, 250)}, // entry 9
        {Qt::RightButton, QPoint(21, 81), Rgb(250, 75, 75)},   // entry 2
        {Qt::MiddleButton, QPoint(56, 201), Rgb(190, 190, 250)}, // entry 16
        {Qt::LeftButton, QPoint(21, 21), Rgb(0, 0, 0)},        // entry 0
        {Qt::LeftButton, QPoint(56, 21), Rgb(200, 200, 200)},  // entry 10
        {Qt::LeftButton, QPoint(21, 231), Rgb(200, 0, 250)},   // entry 7
    };
    for (const Case& c : cases) {
        QTest::mouseClick(picker, c.button, {}, c.at);
        EXPECT_EQ(window.state().penColor, c.expected) << c.at.x() << "," << c.at.y();
        const QRgb want = plots::Canvas::ToPixel(c.expected);
        EXPECT_EQ(shownAt(picker, QPoint(56, 291)), want);
        EXPECT_EQ(shownAt(picker, QPoint(44, 279)), want);
    }
}

// --- the borders of the canvas and the picker --------------------------------

TEST(Mouse, PressesAndMovesOnTheBordersChangeNothing)
{
    MainWindow window;
    window.state().penColor = Rgb(1, 2, 3);
    auto everything = [&] {
        std::vector<std::string> out(1, std::string(reinterpret_cast<const char*>(
                                                        window.canvas().bits()), 800 * 800 * 4));
        for (QWidget* w : window.findChildren<QWidget*>())
            out.push_back(textOf(w).toStdString());
        return out;
    };
    const std::vector<std::string> before = everything();
    QWidget* pic = window.canvasWidget();
    QWidget* picker = window.pickerWidget();
    struct Case { QWidget* widget; Qt::MouseButton button; QPoint at; }; // NoButton: a move
    const Case cases[] = {
        {pic, Qt::LeftButton, {0, 400}},    {pic, Qt::MiddleButton, {801, 801}},
        {pic, Qt::RightButton, {400, 801}}, {pic, Qt::NoButton, {801, 400}},
        {picker, Qt::LeftButton, {0, 150}}, {picker, Qt::RightButton, {40, 312}},
    };
    for (const Case& c : cases) {
        if (c.button != Qt::NoButton) {
            QTest::mouseClick(c.widget, c.button, {}, c.at);
            continue;
        }
        QMouseEvent move(QEvent::MouseMove, c.at, c.widget->mapToGlobal(QPointF(c.at)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(c.widget, &move);
    }
    EXPECT_EQ(window.state().penColor, Rgb(1, 2, 3));
    EXPECT_TRUE(everything() == before) << "picture, fields and labels as they were";
}

using InFolder = InWorkingFolder;

TEST_F(InFolder, LegendTextIsInTheSavedPicture)
{
    MainWindow window;
    std::vector<std::string> errors;
    window.errorSink = [&](const model::RuntimeError& e) { errors.push_back(e.what()); };
    window.state().penColor = Rgb(200, 0, 250);
    find<QPushButton>(window, "cmdLegend")->click();
    const plots::Canvas& canvas = window.canvas();
    const int lineHeight = QFontMetrics(window.font()).height();
    ASSERT_EQ(canvas.printedLines().size(), 8u);
    EXPECT_EQ(canvas.printedLines()[7].y, 20 + 7 * lineHeight);
    EXPECT_EQ(canvas.printY(), 20 + 8 * lineHeight);

    int inside = 0, outside = 0, other = 0;
    for (int y = 0; y < 800; ++y) {
        for (int x = 0; x < 800; ++x) {
            const model::Color c = canvas.pixel(x, y);
            const bool box = x >= 700 && y >= 20 && y < 20 + 8 * lineHeight;
            if (c == Rgb(200, 0, 250))
                (box ? inside : outside)++;
            else if (c != Rgb(255, 255, 255))
                ++other;
        }
    }
    EXPECT_GT(inside, 100) << "eight lines of text";
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(other, 0) << "text in plain pixels of the pen colour";

    const std::vector<uint32_t> once(canvas.bits(), canvas.bits() + 800 * 800);
    find<QPushButton>(window, "cmdLegend")->click();
    EXPECT_TRUE(std::equal(once.begin(), once.end(), canvas.bits())) << "same spot again";

    find<QLineEdit>(window, "txtFileName")->setText("legend.png");
    find<QPushButton>(window, "cmdSave")->click();
    ASSERT_TRUE(errors.empty());
    QImageReader reader(QStringLiteral("legend.png"));
    reader.setDecideFormatFromContent(true);
    EXPECT_EQ(reader.format(), "bmp") << "the content decides, not the name";
    const QImage back = reader.read();
    ASSERT_EQ(back.size(), QSize(800, 800));
    for (int y = 0; y < 800; ++y)
        for (int x = 0; x < 800; ++x)
            ASSERT_EQ(back.pixel(x, y), plots::Canvas::ToPixel(canvas.pixel(x, y))) << x << "," << y;
}

TEST_F(InFolder, FailedSaveIsReportedAndTheWindowGoesOn)
{
    MainWindow window;
    std::vector<std::string> errors;
    window.errorSink = [&](const model::RuntimeError& e) { errors.push_back(e.what()); };
    find<QLineEdit>(window, "txtFileName")->setText("no/such/folder/x.bmp");
    find<QPushButton>(window, "cmdSave")->click();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("\"no/such/folder/x.bmp\""), std::string::npos) << errors[0];
    find<QLineEdit>(window, "txtFileName")->setText("x.bmp");
    find<QPushButton>(window, "cmdSave")->click();
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_TRUE(fs::exists("x.bmp"));
}

TEST(Clear, ButtonBlanksTheCanvasOnly)
{
    MainWindow window;
    window.canvas().setDotWidth(5);
    window.canvas().setDot(10, 10, Rgb(250, 75, 75));
    find<QLabel>(window, "lblx")->setText("0.5000");
    window.state().penColor = Rgb(50, 200, 50);
    find<QPushButton>(window, "cmdClear")->click();
    EXPECT_EQ(window.canvas().pixel(10, 10), Rgb(255, 255, 255));
    EXPECT_EQ(window.canvas().dotWidth(), 5);
    EXPECT_EQ(find<QLabel>(window, "lblx")->text(), "0.5000");
    EXPECT_EQ(window.state().penColor, Rgb(50, 200, 50));
}

// --- closing -----------------------------------------------------------------

TEST(Closing, WhileAPlotDrawsEndsItAtTheNextPause)
{
    MainWindow window;
    std::vector<std::string> errors;
    window.errorSink = [&](const model::RuntimeError& e) { errors.push_back(e.what()); };
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int pauses = 0;
    // Runs at the plot's first pause: the close arrives while it draws.
    QTimer::singleShot(0, &window, [&] {
        ++pauses;
        window.close();
    });
    find<QPushButton>(window, "cmdVeltrane")->click();
    EXPECT_EQ(pauses, 1);
    EXPECT_TRUE(window.isClosing());
    EXPECT_TRUE(errors.empty());
    const plots::Canvas& canvas = window.canvas();
    EXPECT_NE(canvas.pixel(10, 10), canvas.background()) << "the first column was drawn";
    EXPECT_EQ(canvas.pixel(50, 10), canvas.background()) << "the plot ended after it";
    EXPECT_EQ(canvas.pixel(790, 790), canvas.background());
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                      : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QApplication::setFont(ui::DialogFont());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
