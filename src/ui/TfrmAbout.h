#pragma once
// The About window: the program, its version, the Windows version of the installation it
// works on, and the memory of the computer it runs on.

#include <QDialog>
#include <QString>
#include <cstdint>

class QLabel;

namespace ui {

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    // Fills the Windows and memory lines; the caller does so before showing the window.
    void FillSystemInfo();

    // "Physical memory of the computer Hivewarden runs on: 2048 MB": the bytes in whole
    // megabytes, halves rounded to the even number.
    static QString MemoryLine(uint64_t totalPhysicalBytes);
    // "Windows XP (Service Pack 2)", or the name alone without a service pack; "Windows 10
    // 64-bit" for a 64-bit installation.
    static QString SystemLine(const QString& productName, const QString& servicePack,
                              bool win64 = false);

private:
    QLabel* lblSys_;
    QLabel* lblMemory_;
};

} // namespace ui
