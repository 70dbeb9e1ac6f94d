#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "hive/HiveFile.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace cli {

namespace {

class HiveRecoverCommand : public Command {
public:
    QString name() const override { return "hive recover"; }
    QString usage() const override { return "hive recover FILE OUT"; }
    QString description() const override {
        return "Writes a hive brought up to date from its logs, or what can be read of a "
               "damaged one, to a new file.";
    }
    int execute(const GlobalOptions&, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 2, usage());
        const std::string file =
            QFileInfo(parser.positionalArguments().at(0)).absoluteFilePath().toStdString();
        const std::string target =
            QFileInfo(parser.positionalArguments().at(1)).absoluteFilePath().toStdString();
        hive::LoadedHive loaded;
        try {
            loaded = hive::LoadHiveFile(file, {.applyLogs = true, .salvage = true});
        } catch (const hive::HiveFileError& e) {
            throw CommandError(std::string("Nothing can be recovered: ") + e.what());
        }
        QTextStream out(stdout);
        QTextStream err(stderr);
        hive::Bytes bytes;
        QString what;
        if (loaded.damageCount == 0 && loaded.recovery.applied) {
            // Exactly the file Windows would have made of it.
            bytes = std::move(loaded.recovery.hive);
            what = "recovered: " + QString::fromStdString(loaded.recovery.summary());
        } else if (loaded.damageCount == 0 && !loaded.dirty) {
            bytes = readWhole(file);
            what = "a copy: the hive is clean";
        } else {
            hive::HiveWriteOptions options;
            options.minorVersion = loaded.minorVersion;
            options.fileNameField = loaded.fileNameField;
            options.sequence = loaded.sequence + 1;
            bytes = hive::WriteHive(*loaded.root, options);
            if (loaded.damageCount > 0)
                what = QString("salvaged: %1 damaged part%2 left out (hive check lists them)")
                           .arg(loaded.damageCount)
                           .arg(loaded.damageCount == 1 ? "" : "s");
            else
                what = "as last written: no log brings it up to date";
            if (loaded.recovery.applied)
                what += ", after " + QString::fromStdString(loaded.recovery.summary());
        }
        for (const std::string& note : loaded.recovery.notes)
            err << "hivewarden-cli: " << QString::fromStdString(note) << "\n";
        if (!hive::CreateFileAtomically(target, bytes))
            throw CommandError(target + " exists already; give the name of a new file");
        out << "Wrote " << QString::fromStdString(target) << ", " << what << "\n";
        return 0;
    }

private:
    static hive::Bytes readWhole(const std::string& path) {
        QFile in(QString::fromStdString(path));
        if (!in.open(QIODevice::ReadOnly))
            throw CommandError(path + ": " + in.errorString().toStdString());
        const QByteArray all = in.readAll();
        return hive::Bytes(all.begin(), all.end());
    }
};

} // namespace

std::unique_ptr<Command> MakeHiveRecoverCommand() {
    return std::make_unique<HiveRecoverCommand>();
}

} // namespace cli
