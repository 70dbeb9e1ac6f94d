// The autostart entry of the windowed program on the host desktop: one per machine, its
// Exec line quoted and escaped as the freedesktop Desktop Entry format asks.

#include "app/HostAutoStart.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class HostAutoStart : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config_.isValid());
        saved_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", saved_); }

    static QString read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir config_;
    QByteArray saved_;
};

} // namespace

TEST_F(HostAutoStart, EachMachineHasAnEntryOfItsOwn) {
    const QString a = app::AutoStartEntryPath("/mnt/xp");
    const QString b = app::AutoStartEntryPath("/mnt/xp2");
    EXPECT_NE(a, b);
    EXPECT_EQ(a, app::AutoStartEntryPath("/mnt/xp"));
    EXPECT_TRUE(a.startsWith(config_.path() + "/autostart/hivewarden-")) << a.toStdString();
    EXPECT_TRUE(a.endsWith(".desktop"));

    QString error;
    ASSERT_TRUE(app::SetHostAutoStart("/mnt/xp", "/opt/hw/hivewarden", true, error));
    ASSERT_TRUE(app::SetHostAutoStart("/mnt/xp2", "/opt/hw/hivewarden", true, error));
    ASSERT_TRUE(app::SetHostAutoStart("/mnt/xp", "/opt/hw/hivewarden", false, error));
    EXPECT_FALSE(QFileInfo::exists(a));
    EXPECT_TRUE(QFileInfo::exists(b));
    // Removing what is not there is no failure.
    EXPECT_TRUE(app::SetHostAutoStart("/mnt/xp", "/opt/hw/hivewarden", false, error));
}

TEST_F(HostAutoStart, TheExecLineQuotesAndEscapesTheArguments) {
    const QString machine = "/mnt/my \"old\" $PC\\back`up` 100%";
    QString error;
    ASSERT_TRUE(app::SetHostAutoStart(machine, "/opt/hive warden/hivewarden", true, error))
        << error.toStdString();
    const QString text = read(app::AutoStartEntryPath(machine));
    EXPECT_TRUE(
        text.contains("Exec=\"/opt/hive warden/hivewarden\" --machine "
                      "\"/mnt/my \\\\\"old\\\\\" \\\\$PC\\\\\\\\back\\\\`up\\\\` 100%%\"\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("\nTerminal=false\n"));
    EXPECT_TRUE(text.contains("\nName=Hivewarden\n"));
}

TEST_F(HostAutoStart, AFolderThatCannotBeMadeIsReported) {
    QFile blocker(config_.path() + "/autostart");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    EXPECT_FALSE(app::SetHostAutoStart("/mnt/xp", "/opt/hw/hivewarden", true, error));
    EXPECT_FALSE(error.isEmpty());
}
