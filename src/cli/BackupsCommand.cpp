#include "backup/ProfileConfig.h"
#include "backup/RestoreChoice.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "registry/DateTime.h"
#include "store/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace cli {

namespace {

// The creation time a profile's "config.ini" gives; empty when it gives none.
QString profileCreation(const QString& folder) {
    QFile config(folder + "/" + kProfileConfigName);
    if (!config.open(QIODevice::ReadOnly))
        return {};
    config.readLine();
    return QString::fromLatin1(config.readLine()).trimmed();
}

// The entries of the machine's "Registry Backup": backup profiles and undo files.
class BackupsCommand : public Command {
public:
    QString name() const override { return "backups"; }
    QString usage() const override { return "backups"; }
    QString description() const override {
        return "Lists the backup profiles and undo files with their creation times.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 0, usage());
        std::string folder;
        {
            BootedMachine machine(global, true);
            folder = RegistryBackupFolder();
        }
        QTextStream out(stdout);
        const QDir dir(QString::fromStdString(folder));
        const QFileInfoList entries =
            dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
        if (entries.isEmpty()) {
            out << "No backups in " << QString::fromStdString(folder) << "\n";
            return 0;
        }
        for (const QFileInfo& entry : entries) {
            const bool undo = IsUndoFileName(entry.fileName().toStdString());
            QString created =
                undo || !entry.isDir() ? QString() : profileCreation(entry.filePath());
            if (created.isEmpty())
                created = QString::fromStdString(FormatDateTime(
                    "yyyy-mm-dd hh:nn:ss", DateTimeFromQDateTime(entry.lastModified())));
            out << created << "\t" << (undo ? "undo file" : "profile") << "\t" << entry.fileName()
                << "\n";
        }
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeBackupsCommand() {
    return std::make_unique<BackupsCommand>();
}

} // namespace cli
