#pragma once
// The Registry Backup Profile dialog: the name of a new backup profile, refused while it
// cannot be a folder name or a profile of that name exists.

#include <QDialog>
#include <QString>
#include <string>

class QLineEdit;

namespace ui {

class TfrmBackProfile : public QDialog {
    Q_OBJECT
public:
    explicit TfrmBackProfile(QWidget* parent = nullptr);

    // The folder in which profiles are made (a host path with a trailing "/"); set by the
    // caller before showing.
    std::string ProfileFolder;
    QLineEdit* edtProfile;

    // The characters a folder name cannot hold, in the order the message lists them.
    static constexpr char kForbiddenCharacters[] = "\\/:*?\"<>|";
    // Whether `name` holds none of kForbiddenCharacters.
    static bool ValidProfileName(const QString& name);

    // OK and Enter come here: the dialog closes only with a name that can be made.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refuse(const QString& text);
};

} // namespace ui
