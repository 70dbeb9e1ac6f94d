#include "backup/ProfileConfig.h"

#include "hive/HiveFile.h"
#include "registry/AsciiCase.h"
#include "registry/SplitFns.h"

#include <QFile>
#include <QFileInfo>

namespace {

// The line without its first and last character.
std::string inner(const std::string& line) {
    return line.size() < 2 ? std::string() : line.substr(1, line.size() - 2);
}

// A name of a file in the profile folder itself, not one elsewhere.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

std::vector<std::string> readLines(const std::string& path) {
    QFile file(QString::fromStdString(path));
    std::vector<std::string> lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    const QByteArray text = file.readAll();
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        lines.push_back(line.toStdString());
    }
    if (!text.isEmpty() && text.endsWith('\n'))
        lines.pop_back(); // the line end of the last line starts no line
    return lines;
}

bool isFile(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).isFile();
}

} // namespace

TProfileConfig::TProfileConfig(TDateTime created)
    : lines_{"[Creation]", FormatDateTime("yyyy-mm-dd hh:nn:ss", created), ""} {}

void TProfileConfig::AddHive(const std::string& fileName, const std::string& keyName,
                             const std::string& liveFile) {
    lines_.push_back("[" + fileName + "]");
    lines_.push_back("\"" + keyName + "\"");
    lines_.push_back("\"" + liveFile + "\"");
    lines_.push_back("");
}

void TProfileConfig::Write(const std::string& folder) const {
    std::string text;
    for (const std::string& line : lines_)
        text += line + "\r\n";
    hive::ReplaceFileAtomically(ProfileFilePath(folder, kProfileConfigName),
                                hive::Bytes(text.begin(), text.end()));
}

std::string ProfileFilePath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

bool ReadProfileConfig(const std::string& folder, std::vector<TProfileEntry>& entries) {
    entries.assign(kProfileHiveCount, TProfileEntry());
    const std::string config = ProfileFilePath(folder, kProfileConfigName);
    if (!QFileInfo(QString::fromStdString(folder)).isDir() || !isFile(config))
        return false;
    const std::vector<std::string> lines = readLines(config);
    size_t k = 0;
    for (size_t i = 3; i < lines.size() && k < entries.size(); ++i) {
        const std::string& line = lines[i];
        TProfileEntry& entry = entries[k];
        if (line.find('[') != std::string::npos) {
            const std::string name = inner(line);
            entry.HiveFile = ProfileFilePath(folder, name);
            if (!isPlainFileName(name) || !isFile(entry.HiveFile))
                return false;
        } else if (line.find("REGISTRY") != std::string::npos) {
            std::vector<std::string> pieces;
            SplitByChar(inner(line), '\\', pieces);
            if (pieces.size() != 3)
                return false;
            if (SameTextAscii(pieces[1], "MACHINE"))
                entry.Root = HKEY_LOCAL_MACHINE;
            else if (SameTextAscii(pieces[1], "USER"))
                entry.Root = HKEY_USERS;
            entry.KeyName = pieces[2];
        } else if (line.find(":\\") != std::string::npos) {
            entry.FilePath = inner(line);
            ++k;
        }
    }
    for (const TProfileEntry& entry : entries)
        if (!entry.Root || entry.KeyName.empty() || entry.HiveFile.empty() ||
            entry.FilePath.empty())
            return false;
    return true;
}

std::string DefaultProfileName(TDateTime time) {
    return FormatDateTime("dd-mm-yyyy hh.nn.ss", time);
}
