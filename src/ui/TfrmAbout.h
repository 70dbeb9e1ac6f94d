#pragma once
// The About window: the program, its version, and the Windows version and memory of the
// machine it works on.

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

    // "Physical memory available to Windows: 2048 MB": the bytes in whole megabytes,
    // halves rounded to the even number.
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
