#include "ui/TfrmBackProfile.h"

#include "backup/RestoreChoice.h"
#include "ui/BoldLabel.h"
#include "ui/MessageBox.h"
#include "ui/ProgramFont.h"
#include "win32/host/PlainFileName.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace ui {

TfrmBackProfile::TfrmBackProfile(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("frmBackProfile");
    setWindowTitle("Registry Backup Profile");
    setFont(TahomaOrDesktopFont());
    setFixedSize(407, 113);

    auto* icon = new QLabel(this);
    icon->setObjectName("imgProfile");
    icon->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(32, 32));
    QLabel* caption = BoldLabel("Profile Name", this);
    edtProfile = new QLineEdit(this);
    edtProfile->setObjectName("edtProfile");
    edtProfile->setFixedWidth(326);
    caption->setBuddy(edtProfile);

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("btnOK");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("btnCancel");
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &TfrmBackProfile::accept);
    connect(cancel, &QPushButton::clicked, this, &TfrmBackProfile::reject);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(caption, 0, 1);
    layout->addWidget(edtProfile, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons, 2, 0, 1, 2);
}

bool TfrmBackProfile::ValidProfileName(const QString& name) {
    for (const char forbidden : std::string_view(kForbiddenCharacters))
        if (name.contains(QChar(forbidden)))
            return false;
    return true;
}

void TfrmBackProfile::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QWidget* owner = parentWidget())
        move(owner->geometry().center() - rect().center());
    edtProfile->selectAll();
    edtProfile->setFocus();
}

void TfrmBackProfile::refuse(const QString& text) {
    ShowMessageBox(this, "Profile", text, QMessageBox::Information);
    edtProfile->setFocus();
}

void TfrmBackProfile::accept() {
    const QString name = edtProfile->text();
    if (name.isEmpty())
        return;
    if (!ValidProfileName(name)) {
        refuse(QString("Profile name cannot contain any of the characters: \"%1\".")
                   .arg(kForbiddenCharacters));
        return;
    }
    // The name is a folder of the backup folder, never a path out of it.
    if (const std::string fault = win32::PlainFileNameFault(name.toStdString()); !fault.empty()) {
        refuse("The profile name \"" + name + "\" " + QString::fromStdString(fault) + ".");
        return;
    }
    // A restore tells undo files from profiles by their names: a profile named so could
    // never be restored.
    if (IsUndoFileName(name.toStdString())) {
        refuse("Profile name cannot contain \".reg\": a restore would take the profile for "
               "an undo file.");
        return;
    }
    if (QFileInfo(QString::fromStdString(ProfileFolder) + name).isDir()) {
        refuse("This Profile name already exist, please rename profile.");
        return;
    }
    QDialog::accept();
}

} // namespace ui
