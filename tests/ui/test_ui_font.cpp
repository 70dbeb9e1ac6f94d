// Windows that ask for Tahoma 8 pt get it where the desktop has it, else the desktop's font.

#include "ui/ProgramFont.h"

#include <QApplication>
#include <QFontDatabase>
#include <QtTest>

class TestFont : public QObject {
    Q_OBJECT
private slots:
    void tahomaWhenInstalledElseTheDesktopFont();
};

void TestFont::tahomaWhenInstalledElseTheDesktopFont() {
    const QFont font = ui::TahomaOrDesktopFont();
    if (QFontDatabase::families().contains("Tahoma", Qt::CaseInsensitive)) {
        QCOMPARE(font.family(), QString("Tahoma"));
        QCOMPARE(font.pointSize(), 8);
    } else {
        QCOMPARE(font, QApplication::font());
    }
}

QTEST_MAIN(TestFont)
#include "test_ui_font.moc"
