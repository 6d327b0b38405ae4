// The canvas mouse and the plane commands as bound in the real window.
#include "form/window.h"
#include "ui/canvas_widget.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using form::Control;

namespace {

constexpr int kBorder = 1; // the canvas widget's frame around the drawing area

// A pointer move over the canvas, delivered straight to it.
void moveTo(ui::MainWindow& w, int column, int row)
{
    const QPointF at(kBorder + column, kBorder + row);
    QMouseEvent event(QEvent::MouseMove, at, w.canvasWidget()->mapToGlobal(at), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w.canvasWidget(), &event);
}

std::string label(ui::MainWindow& w, const char* name)
{
    return qobject_cast<QLabel*>(w.control(name))->text().toStdString();
}

// Only the decimal separator comes from the locale: the digits stay ASCII,
// the minus sign is "-", and there are no group separators or direction marks.
TEST(WindowReadout, FollowsTheLocaleDecimalSeparatorOnly)
{
    struct Case { const char* locale; const char* point; };
    const Case cases[] = {
        {"en_US", "."}, {"de_DE", ","}, {"sv_SE", ","}, {"ar_EG", "\u066b"},
    };
    const QLocale saved;
    for (const Case& c : cases) {
        QLocale::setDefault(QLocale(QString::fromLatin1(c.locale)));
        ui::MainWindow w;
        w.setText(Control::txtP0, "-12345.5");
        w.setText(Control::txtP2, "1e6");
        moveTo(w, 0, 0);
        const std::vector<std::string> shown = {
            label(w, "lblx"), label(w, "lbly"), label(w, "lblpx"), label(w, "lblpy"),
            w.formatCoordinate(-0.00126), w.formatCoordinate(-0.00001),
        };
        const std::string p = c.point;
        const std::vector<std::string> expected = {
            "-1" + p + "0000", "1" + p + "0000", "-12345" + p + "5000", "1" + p + "0000",
            "-0" + p + "0013", "-0" + p + "0000",
        };
        EXPECT_EQ(shown, expected) << c.locale;
        moveTo(w, 399, 799);
        EXPECT_EQ(label(w, "lblpy"), "1000000" + p + "0000") << c.locale;
    }
    QLocale::setDefault(saved);
}

TEST(WindowMouse, RightPressPicksLeftPressTraces)
{
    ui::MainWindow w;
    QTest::mouseClick(w.canvasWidget(), Qt::RightButton, {}, QPoint(kBorder + 0, kBorder + 799));
    EXPECT_EQ(w.text(Control::txtW4), "-1");
    EXPECT_EQ(w.text(Control::txtW5), "-1");
    const uint32_t white = w.canvas().bits()[0];
    for (int i = 0; i < 800 * 800; ++i)
        ASSERT_EQ(w.canvas().bits()[i], white); // the pick draws nothing

    std::vector<model::RuntimeError> errors;
    w.errorSink = [&](const model::RuntimeError& e) { errors.push_back(e); };
    w.setText(Control::txtIdx1, "6");
    QTest::mouseClick(w.canvasWidget(), Qt::RightButton, {}, QPoint(kBorder + 799, kBorder + 0));
    ASSERT_EQ(errors.size(), 1u); // reported, not thrown through the event loop
    EXPECT_EQ(w.text(Control::txtW4), "1");

    QTest::mouseClick(w.canvasWidget(), Qt::LeftButton, {}, QPoint(kBorder + 200, kBorder + 600));
    int drawn = 0;
    for (int i = 0; i < 800 * 800; ++i)
        drawn += w.canvas().bits()[i] != white;
    EXPECT_GT(drawn, 0);
}

TEST(WindowCommands, ParametricAndCoexistingAreBound)
{
    for (const char* button : {"cmdParametric", "cmdCoexisting"}) {
        ui::MainWindow w;
        w.setText(Control::txtStepSize, "100");
        w.setText(Control::txtIterations, "10");
        const uint32_t white = w.canvas().bits()[0];
        QTest::mouseClick(qobject_cast<QPushButton*>(w.control(button)), Qt::LeftButton);
        EXPECT_NE(w.canvas().bits()[400 * 800 + 400], white) << button;
        EXPECT_EQ(w.canvas().dotWidth(), 100) << button;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
