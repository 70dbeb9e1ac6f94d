// hivewarden: the windowed program.

#include "app/ProgramIdentity.h"
#include "ui/ProgramStart.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // The usage and the version need no window, so they answer where there is no display.
    if (ui::AsksForHelpOrVersion(arguments)) {
        QCoreApplication application(argc, argv);
        app::NameProgram();
        QCommandLineParser parser;
        ui::DescribeOptions(parser);
        parser.process(application); // prints and ends the program
        return 0;
    }
    QApplication application(argc, argv);
    return ui::RunHivewarden(application.arguments());
}
