// hivewarden: the windowed program.

#include "ui/ProgramStart.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    return ui::RunHivewarden(application.arguments());
}
