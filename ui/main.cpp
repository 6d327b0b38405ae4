#include "ui/icon.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setFont(ui::DialogFont());
    QApplication::setWindowIcon(ui::ProgramIcon());
    ui::MainWindow window;
    window.show();

    // For pictures of the window without a desktop: VELTRANE_CLICK names a
    // button of the control table to click once the window is up.
    const QString click = qEnvironmentVariable("VELTRANE_CLICK");
    if (!click.isEmpty()) {
        QTimer::singleShot(200, &window, [&window, click] {
            if (auto* button = qobject_cast<QPushButton*>(window.control(click)))
                button->click();
            else
                qWarning("VELTRANE_CLICK: there is no button named %s", qPrintable(click));
        });
    }
    return app.exec();
}
