#include "ui/icon.h"
#include "ui/main_window.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setFont(ui::DialogFont());
    QApplication::setWindowIcon(ui::ProgramIcon());
    ui::MainWindow window;
    window.show();
    return app.exec();
}
