// The wizard's Compact and Report pages: the compaction of every loaded hive, its totals,
// and the restart of Windows that puts the compact hives in place.

#include "compact/THiveManager.h"
#include "registry/DateTimeText.h"
#include "registry/OSInfo.h"
#include "registry/SystemRestart.h"
#include "store/OptionValues.h"
#include "store/ProgramFolder.h"
#include "store/SettingsNames.h"
#include "store/StoreError.h"
#include "ui/BoldLabel.h"
#include "ui/MessageBox.h"
#include "ui/TfrmRepair.h"
#include "win32/base/ErrorText.h"
#include "win32/base/LastError.h"
#include "win32/machine/Machine.h"
#include "win32/machine/SystemShutdown.h"
#include "win32/registry/PendingReplacements.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace ui {

namespace {

constexpr char kCompactCaption[] = "Compact and Defragment";

} // namespace

QWidget* TfrmRepair::CreateCompactPage() {
    auto* page = new QWidget;
    page->setObjectName("Compact");
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(16, 8, 16, 8);
    layout->addWidget(BoldLabel("Compact and Defragment Your Registry", page));
    layout->addWidget(new QLabel("Hivewarden optimizes the Registry by removing fragmentation, \n"
                                 "deleting unused entries, and compacting the Registry to make "
                                 "it access fast.",
                                 page));
    layout->addSpacing(12);
    layout->addWidget(BoldLabel("Notice", page));
    const QString indent(5, ' ');
    const QStringList notice = {
        "",
        indent + "(Registry Compact requires exclusive access to System Registry,",
        "",
        indent + "Compacting Registry may take few minutes to complete, During compacting ",
        indent + "your computer may slowdown.",
        indent + "Please close all other programs and click 'Start' button to start) "};
    auto* noticeText = new QLabel(notice.join("\n"), page);
    noticeText->setObjectName("lblNotice");
    noticeText->setTextFormat(Qt::PlainText);
    layout->addWidget(noticeText);
    layout->addStretch();

    auto* bottom = new QGridLayout;
    lblCompact = new QLabel("Compacting Registry...", page);
    lblCompact->setObjectName("lblCompact");
    pgCompactBar = new QProgressBar(page);
    pgCompactBar->setObjectName("pgCompact");
    pgCompactBar->setRange(0, 100);
    btnCompact = new QPushButton("&Start", page);
    btnCompact->setObjectName("btnCompact");
    btnCompact->setAutoDefault(false);
    btnCompact->setMinimumWidth(75);
    connect(btnCompact, &QPushButton::clicked, this, &TfrmRepair::btnCompactClick);
    bottom->addWidget(lblCompact, 0, 0);
    bottom->addWidget(pgCompactBar, 1, 0);
    bottom->addWidget(btnCompact, 1, 2, Qt::AlignRight | Qt::AlignBottom);
    bottom->setColumnStretch(0, 3);
    bottom->setColumnStretch(1, 1);
    layout->addLayout(bottom);
    lblCompact->hide();
    pgCompactBar->hide();
    return page;
}

QWidget* TfrmRepair::CreateReportPage() {
    auto* page = new QWidget;
    page->setObjectName("Report");
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(16, 8, 16, 8);
    layout->addWidget(BoldLabel("Registry Optimization Report", page));
    layout->addSpacing(8);
    layout->addWidget(new QLabel("Registry compact result", page));
    lblTotalkey = new QLabel(page);
    lblTotalkey->setObjectName("lblTotalkey");
    lblKeysize = new QLabel(page);
    lblKeysize->setObjectName("lblKeysize");
    lblCompactsize = new QLabel(page);
    lblCompactsize->setObjectName("lblCompactsize");
    for (QLabel* result : {lblTotalkey, lblKeysize, lblCompactsize}) {
        result->setContentsMargins(16, 0, 0, 0);
        layout->addWidget(result);
    }
    layout->addSpacing(16);
    layout->addWidget(new QLabel("You need to restart Windows to complete compaction and "
                                 "defragment. \nPlease click \"Restart\" button to continue...\n"
                                 "(Hivewarden also makes the change when it closes.)",
                                 page));
    btnRestart = new QPushButton("&Restart", page);
    btnRestart->setObjectName("btnRestart");
    btnRestart->setAutoDefault(false);
    btnRestart->setMinimumWidth(75);
    connect(btnRestart, &QPushButton::clicked, this, &TfrmRepair::btnRestartClick);
    layout->addWidget(btnRestart, 0, Qt::AlignLeft);
    layout->addStretch();
    return page;
}

void TfrmRepair::PrepareCompactPage() {
    btnCompact->setText("&Start");
    lblCompact->hide();
    pgCompactBar->hide();
}

void TfrmRepair::btnCompactClick() {
    if (IsWin9x()) {
        ShowMessageBox(this, kCompactCaption, "This function does not support Windows 9x system.",
                       QMessageBox::Information);
        return;
    }
    // The hive list was read at showing, or why not was said then.
    if (!HiveManager_ || !hivesUsable_)
        return;
    if (btnCompact->text() == "&Start") {
        btnCompact->setText("&Stop");
        pgCompactBar->setValue(0);
        lblCompact->show();
        pgCompactBar->show();
        // A worker told to stop may still be ending: the manager then starts nothing, and
        // that worker's end shows the report.
        HiveManager_->Start(hoCompact);
    } else {
        HiveManager_->Stop();
        btnCompact->setText("&Start");
    }
    UpdateActions();
}

void TfrmRepair::ShowCompactReport() {
    int32_t before = 0, after = 0;
    int count = 0;
    if (HiveManager_) {
        count = int(HiveManager_->Hives.size());
        for (const auto& hive : HiveManager_->Hives) {
            // Signed 32-bit sums: a file not found counts as -1.
            before = int32_t(uint32_t(before) + hive->FileSize);
            after = int32_t(uint32_t(after) + hive->SavedSize);
        }
    }
    lblTotalkey->setText(QString("Total keys compacted %1").arg(count));
    lblKeysize->setText(QString("Total size of all keys %1 KB").arg(before / 1024));
    lblCompactsize->setText(QString("Total size after compaction %1 KB").arg(after / 1024));
}

void TfrmRepair::CompactJobFinished(bool success) {
    if (!success) {
        // A hive that could not be replaced ends the run; those before it stay pending.
        btnCompact->setText("&Start");
        lblCompact->hide();
        pgCompactBar->hide();
        const size_t waiting = win32::PendingReplacementsOf(win32::MachineFolder()).size();
        ShowMessageBox(
            this, kCompactCaption,
            "The compaction failed: " +
                QString::fromStdString(HiveManager_ ? HiveManager_->LastError() : std::string()) +
                (waiting == 0 ? QString(".\nNo hive will be replaced.")
                              : QString(".\n%1 hive replacements wait: Hivewarden makes them "
                                        "when it closes.")
                                    .arg(waiting)),
            QMessageBox::Warning);
        return;
    }
    try {
        WriteOptionString(StoreFilePath(), kLastCompactValue, DateTimeToText(Now()));
    } catch (const StoreError& e) {
        ShowMessageBox(this, kCompactCaption, QString::fromUtf8(e.what()), QMessageBox::Warning);
    }
    ShowCompactReport();
    btnCancel->setText("&Finish");
    SetPageIndex(pgReport);
}

void TfrmRepair::btnRestartClick() {
    // The selection is kept now: once Windows restarts, this machine's settings file is
    // out of reach.
    try {
        SaveSelection();
    } catch (const StoreError&) {
        // A convenience only.
    }
    if (!RestartWindows(1, true)) {
        QString why = QString::fromStdString(win32::SystemErrorText(LONG(GetLastError())));
        for (const std::string& problem : win32::LastExitWindowsProblems())
            why += "\n" + QString::fromStdString(problem);
        ShowMessageBox(this, kCompactCaption, "Windows cannot be restarted: " + why,
                       QMessageBox::Warning);
        // Without the machine there is nothing left to work on.
        if (win32::IsMachineBooted())
            return;
    } else {
        // What the restart did, before the program ends with it.
        const win32::ReplacementRun run = win32::LastRestartReplacements();
        QStringList made, failed;
        for (const win32::ReplacementOutcome& o : run.outcomes)
            (o.error.empty() ? made : failed)
                << QString::fromStdString(o.replacement.hive) +
                       (o.error.empty() ? "" : ": " + QString::fromStdString(o.error));
        if (!run.refused.empty())
            failed << QString::fromStdString(run.refused);
        if (!run.listError.empty())
            failed << QString::fromStdString(run.listError);
        if (!failed.isEmpty())
            ShowMessageBox(this, kCompactCaption,
                           "Windows was restarted, but no hive was replaced; the replacements "
                           "wait for the next time Hivewarden closes:\n" +
                               failed.join("\n"),
                           QMessageBox::Warning);
        else
            ShowMessageBox(this, kCompactCaption,
                           made.isEmpty() ? QString("Windows was restarted; no hive replacement "
                                                    "was waiting.")
                                          : "Windows was restarted. These hives were replaced:\n" +
                                                made.join("\n"),
                           QMessageBox::Information);
    }
    // The program ends with the session it worked on.
    QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::Quit));
}

} // namespace ui
