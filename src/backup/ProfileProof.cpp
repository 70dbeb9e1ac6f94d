#include "backup/ProfileProof.h"

#include "backup/ProfileConfig.h"
#include "hive/HiveFile.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kReadBuffer = 1 << 20;
// Far more than the lines of six files.
constexpr qint64 kMaxProofSize = 64 * 1024;

[[noreturn]] void failRead(const std::string& path, int error) {
    throw std::runtime_error("Cannot read " + path + ": " + std::strerror(error));
}

std::runtime_error malformed(const std::string& path) {
    return std::runtime_error("The proof file " + path + " is malformed");
}

} // namespace

TProfileFileProof ProveProfileFile(const std::string& path, const std::string& name) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        failRead(path, errno);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buffer(kReadBuffer);
    uint64_t size = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            failRead(path, error);
        }
        if (got == 0)
            break;
        hash.addData(QByteArrayView(buffer.data(), got));
        size += uint64_t(got);
    }
    ::close(fd);
    return {name, size, hash.result()};
}

void WriteProfileProof(const std::string& folder, const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        const TProfileFileProof proof = ProveProfileFile(ProfileFilePath(folder, name), name);
        text += std::to_string(proof.Size) + " " + proof.Sha256.toHex().toStdString() + " " + name +
                "\n";
    }
    hive::ReplaceFileAtomically(ProfileFilePath(folder, kProfileProofName),
                                hive::Bytes(text.begin(), text.end()));
}

std::optional<std::vector<TProfileFileProof>> ReadProfileProof(const std::string& folder) {
    const std::string path = ProfileFilePath(folder, kProfileProofName);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        failRead(path, errno);
    }
    if (!S_ISREG(info.st_mode) || info.st_size > kMaxProofSize)
        throw malformed(path);
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("Cannot read " + path + ": " + file.errorString().toStdString());
    const QByteArray text = file.read(kMaxProofSize);
    std::vector<TProfileFileProof> proofs;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        const qsizetype first = line.indexOf(' ');
        const qsizetype second = first < 0 ? -1 : line.indexOf(' ', first + 1);
        if (second < 0)
            throw malformed(path);
        bool ok = false;
        const qulonglong size = line.left(first).toULongLong(&ok);
        const QByteArray hex = line.mid(first + 1, second - first - 1);
        const QByteArray digest = QByteArray::fromHex(hex);
        const std::string name = line.mid(second + 1).toStdString();
        if (!ok || hex.size() != 64 || digest.size() != 32 || name.empty() ||
            FindProof(proofs, name))
            throw malformed(path);
        proofs.push_back({name, uint64_t(size), digest});
    }
    return proofs;
}

const TProfileFileProof* FindProof(const std::vector<TProfileFileProof>& proof,
                                   const std::string& name) {
    for (const TProfileFileProof& line : proof)
        if (line.Name == name)
            return &line;
    return nullptr;
}

std::string CheckProfileFile(const std::string& path, const TProfileFileProof& proof) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return "Cannot read " + path + ": " + std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return path + " is not a file";
    if (uint64_t(info.st_size) != proof.Size)
        return path + " has changed since the backup: it holds " + std::to_string(info.st_size) +
               " bytes, the backup wrote " + std::to_string(proof.Size);
    try {
        if (ProveProfileFile(path, proof.Name).Sha256 != proof.Sha256)
            return path + " has changed since the backup: its content is not what the backup "
                          "wrote";
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}
