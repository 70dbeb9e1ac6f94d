#include "backup/ProfileConfig.h"
#include "backup/ProfileFolder.h"
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
        if (const std::string why = SymbolicLinkProblem(folder, "The backup folder"); !why.empty())
            throw CommandError(why + ".");
        QTextStream out(stdout);
        const QDir dir(QString::fromStdString(folder));
        // Undo files and whole profiles only: a backup's unfinished profile, links, stray
        // files and folders that hold no profile are none of the user's backups.
        QFileInfoList entries;
        for (const QFileInfo& entry : dir.entryInfoList(
                 QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
            const std::string name = entry.fileName().toStdString();
            if (entry.isSymLink() || IsPartialProfileName(name))
                continue;
            if ((IsUndoFileName(name) && entry.isFile()) ||
                IsWholeProfile(entry.filePath().toStdString()))
                entries.push_back(entry);
        }
        if (entries.isEmpty()) {
            out << "No backups in " << QString::fromStdString(folder) << "\n";
            return 0;
        }
        for (const QFileInfo& entry : entries) {
            const bool undo = IsUndoFileName(entry.fileName().toStdString());
            QString created = undo ? QString() : profileCreation(entry.filePath());
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
