#include "ui/icon.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef VELTRANE_VERSION
#define VELTRANE_VERSION "unknown"
#endif
#ifndef VELTRANE_APP_ID
#define VELTRANE_APP_ID "veltrane"
#endif

namespace {

// Whether the command line asks only for the help or the version, which need
// no display.
bool asksForText(int argc, char** argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        for (const char* name : {"-h", "--help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], name) == 0)
                return true;
    return false;
}

// Prints the help or the version and exits when asked; an unknown option or
// any argument is an error (status 1, as for an unknown option).
void readCommandLine(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Explores the dynamics of a discrete-time network of two tanh neurons with bias: "
        "basins of attraction coloured by period, fixed points, orbits, and pictures over "
        "a plane of two parameters.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "veltrane: takes no arguments (\"%s\"); --help lists the options.\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    // The same id names the desktop entry and its metadata, so a desktop
    // groups the window under its menu entry.
    QCoreApplication::setApplicationName("veltrane");
    QCoreApplication::setApplicationVersion(VELTRANE_VERSION);
    QGuiApplication::setDesktopFileName(VELTRANE_APP_ID);
    if (asksForText(argc, argv)) {
        QCoreApplication text(argc, argv);
        readCommandLine(text);
        return 0;
    }
    QApplication app(argc, argv);
    readCommandLine(app);
    QApplication::setFont(ui::DialogFont());
    QApplication::setWindowIcon(ui::ProgramIcon());
    ui::MainWindow window;
    window.show();
    return app.exec();
}
