// The wizard's Backup and Compact pages.
// (Being built: the pages below are placeholders until the backup list and the
// compaction's pages land.)

#include "compact/THiveManager.h"
#include "ui/TfrmRepair.h"

#include <QLabel>
#include <QVBoxLayout>

namespace ui {

QWidget* TfrmRepair::CreateBackupPage() {
    auto* page = new QWidget;
    page->setObjectName("BackupandRestore");
    return page;
}

QWidget* TfrmRepair::CreateCompactPage() {
    auto* page = new QWidget;
    page->setObjectName("Compact");
    return page;
}

QWidget* TfrmRepair::CreateReportPage() {
    auto* page = new QWidget;
    page->setObjectName("Report");
    return page;
}

void TfrmRepair::ShowBackupList() {}
void TfrmRepair::LoadProfiles() {}
void TfrmRepair::PrepareCompactPage() {}
void TfrmRepair::UpdateHiveActions() {}

bool TfrmRepair::MayCloseDuringHiveJob() {
    return false;
}

void TfrmRepair::HiveJobProgress(int) {}
void TfrmRepair::HiveJobFinished(bool) {}

} // namespace ui
