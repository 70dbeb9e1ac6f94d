// Writes the source of hivewarden-cli's manual page: the template with its @COMMANDS@ line
// replaced by the commands, as the program's --help lists them.
//   hivewarden-cli-manual TEMPLATE OUT

#include "cli/CommandList.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    QTextStream err(stderr);
    if (args.size() != 2) {
        err << "Usage: hivewarden-cli-manual TEMPLATE OUT\n";
        return 2;
    }
    QFile source(args[0]);
    if (!source.open(QIODevice::ReadOnly)) {
        err << "The template " << args[0] << " cannot be read: " << source.errorString() << ".\n";
        return 1;
    }
    QString text = QString::fromUtf8(source.readAll());
    if (!text.contains("@COMMANDS@\n")) {
        err << "The template " << args[0] << " has no @COMMANDS@ line.\n";
        return 1;
    }
    text.replace("@COMMANDS@\n", cli::CommandListScdoc());
    QSaveFile out(args[1]);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.toUtf8()) < 0 || !out.commit()) {
        err << "The page cannot be written to " << args[1] << ": " << out.errorString() << ".\n";
        return 1;
    }
    return 0;
}
