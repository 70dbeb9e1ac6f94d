#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "registry/ValueTypeName.h"
#include "win32/registry/Registry.h"

#include <QTextStream>
#include <cstring>

namespace cli {

namespace {

QString typeName(DWORD type) {
    const char* name = ValueTypeName(type);
    return name ? QString(name) : QString("REG_0x%1").arg(type, 0, 16);
}

QString hexBytes(const std::vector<BYTE>& data) {
    QString out;
    for (const BYTE b : data)
        out += QString("%1").arg(b, 2, 16, QChar('0')).toUpper();
    return out;
}

QString text(const std::vector<BYTE>& data) {
    QString s = FromU16(
        std::u16string_view(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2));
    while (s.endsWith(QChar(0)))
        s.chop(1);
    return s;
}

// Value data as reg.exe prints it.
QString dataText(DWORD type, const std::vector<BYTE>& data) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return text(data);
    case REG_MULTI_SZ:
        return text(data).replace(QChar(0), "\\0");
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        if (data.size() == 4) {
            uint32_t v;
            std::memcpy(&v, data.data(), 4);
            if (type == REG_DWORD_BIG_ENDIAN)
                v = __builtin_bswap32(v);
            return "0x" + QString::number(v, 16);
        }
        break;
    case REG_QWORD:
        if (data.size() == 8) {
            uint64_t v;
            std::memcpy(&v, data.data(), 8);
            return "0x" + QString::number(qulonglong(v), 16);
        }
        break;
    default:
        break;
    }
    return hexBytes(data);
}

class RegQueryCommand : public Command {
public:
    QString name() const override { return "reg query"; }
    QString usage() const override { return "reg query KEY [--recursive]"; }
    QString description() const override {
        return "Lists a key's values and subkeys, as Windows' reg query prints them.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        const QCommandLineOption recursive({"recursive", "s"}, "List every key below too.");
        parser.addOption(recursive);
        ParseArguments(parser, name(), args, 1, usage());
        const KeyArgument key = ParseKeyArgument(parser.positionalArguments().at(0));
        BootedMachine machine(global, true);
        HKEY handle = nullptr;
        CheckRegistryCall(RegOpenKeyExW(key.root, key.subkey.c_str(), 0, KEY_READ, &handle),
                          FromU16(key.fullName()).toStdString());
        QTextStream out(stdout);
        query(out, handle, FromU16(key.fullName()), parser.isSet(recursive));
        RegCloseKey(handle);
        return 0;
    }

private:
    void query(QTextStream& out, HKEY key, const QString& path, bool recursive) {
        out << "\n" << path << "\n";
        for (DWORD i = 0;; ++i) {
            char16_t name[16384];
            DWORD nameSize = std::size(name);
            DWORD type = 0, size = 0;
            LONG rc = RegEnumValueW(key, i, name, &nameSize, nullptr, &type, nullptr, &size);
            if (rc == ERROR_NO_MORE_ITEMS)
                break;
            CheckRegistryCall(rc, path.toStdString());
            std::vector<BYTE> data(size);
            nameSize = std::size(name);
            rc = RegEnumValueW(key, i, name, &nameSize, nullptr, &type, data.data(), &size);
            CheckRegistryCall(rc, path.toStdString());
            data.resize(size);
            const QString valueName = nameSize ? FromU16({name, nameSize}) : "(Default)";
            out << "    " << valueName << "    " << typeName(type) << "    " << dataText(type, data)
                << "\n";
        }
        if (!recursive)
            out << "\n";
        for (DWORD i = 0;; ++i) {
            char16_t name[256];
            DWORD nameSize = std::size(name);
            const LONG rc =
                RegEnumKeyExW(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS)
                break;
            CheckRegistryCall(rc, path.toStdString());
            const QString subPath = path + "\\" + FromU16({name, nameSize});
            if (!recursive) {
                out << subPath << "\n";
                continue;
            }
            HKEY sub = nullptr;
            CheckRegistryCall(
                RegOpenKeyExW(key, std::u16string(name, nameSize).c_str(), 0, KEY_READ, &sub),
                subPath.toStdString());
            query(out, sub, subPath, true);
            RegCloseKey(sub);
        }
    }
};

} // namespace

std::unique_ptr<Command> MakeRegQueryCommand() {
    return std::make_unique<RegQueryCommand>();
}

} // namespace cli
