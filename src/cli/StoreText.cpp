#include "cli/StoreText.h"

#include "cli/Command.h"
#include "registry/DateTime.h"
#include "store/StoreFormat.h"
#include "store/fxRegistryFile.h"
#include "win32/system/Nls.h"

#include <QBuffer>
#include <charconv>

namespace cli {

std::string ToAnsi(const QString& text) {
    if (text.isEmpty())
        return {};
    const auto* wide = reinterpret_cast<LPCWSTR>(text.utf16());
    const int length = static_cast<int>(text.size());
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, &lossy);
    if (lossy)
        throw CommandError("\"" + text.toStdString() + "\" cannot be written in code page " +
                           std::to_string(GetACP()));
    std::string ansi(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, length, ansi.data(), size, nullptr, nullptr);
    return ansi;
}

QString QuotedText(std::string_view ansi) {
    QString out = "\"";
    for (const QChar c : FromAnsi(ansi)) {
        switch (c.unicode()) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                out += QString("\\x%1").arg(c.unicode(), 2, 16, QChar('0'));
            else
                out += c;
        }
    }
    return out + "\"";
}

namespace {

bool isHexPair(const QString& text) {
    const auto isHex = [](QChar c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    return text.size() == 2 && isHex(text[0]) && isHex(text[1]);
}

} // namespace

QStringList SplitOperationLine(const QString& line) {
    QStringList words;
    qsizetype at = 0;
    const auto isSpace = [](QChar c) { return c == ' ' || c == '\t'; };
    while (true) {
        while (at < line.size() && isSpace(line[at]))
            ++at;
        if (at >= line.size())
            return words;
        QString word;
        if (line[at] != '"') {
            while (at < line.size() && !isSpace(line[at]))
                word += line[at++];
            words << word;
            continue;
        }
        ++at;
        bool closed = false;
        while (at < line.size()) {
            const QChar c = line[at++];
            if (c == '"') {
                closed = true;
                break;
            }
            if (c != '\\' || at >= line.size()) {
                word += c;
                continue;
            }
            const QChar next = line[at];
            if (next == '\\' || next == '"') {
                word += next;
                ++at;
            } else if (next == 'r' || next == 'n' || next == 't') {
                word += next == 'r' ? '\r' : next == 'n' ? '\n' : '\t';
                ++at;
            } else if (next == 'x' && isHexPair(line.mid(at + 1, 2))) {
                word += QChar(line.mid(at + 1, 2).toUShort(nullptr, 16));
                at += 3;
            } else {
                word += c; // any other backslash stays, as in key paths
            }
        }
        if (!closed)
            throw CommandError("A quoted word is not closed: " + line.toStdString());
        if (at < line.size() && !isSpace(line[at]))
            throw CommandError("A quoted word must be followed by a space: " + line.toStdString());
        words << word;
    }
}

// A date-time as the shortest decimal that reads back to the same number.
QString DaysText(double days) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, days);
    return QString::fromLatin1(text, result.ptr - text);
}

namespace {

QString rawBytes(TfxRegFile& store, const std::string& name) {
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    store.ReadData(name, buffer);
    return QString::fromLatin1(buffer.data().toHex(' '));
}

} // namespace

QString ValueData(TfxRegFile& store, const std::string& name) {
    const int type = store.ValueDataType(name);
    switch (type) {
    case store::kTypeString:
        return QuotedText(store.ReadString(name));
    case store::kTypeInteger:
        return QString::number(store.ReadInteger(name));
    case store::kTypeBool:
        return store.ReadBool(name) ? "true" : "false";
    case store::kTypeDateTime:
        return DaysText(store.ReadDateTime(name));
    default:
        return store::HasOutOfRecordData(static_cast<uint8_t>(type)) ? rawBytes(store, name)
                                                                     : QString();
    }
}

QString ValueText(TfxRegFile& store, const std::string& name) {
    const int type = store.ValueDataType(name);
    const QString data = ValueData(store, name);
    switch (type) {
    case store::kTypeString:
        return "string " + data;
    case store::kTypeInteger:
        return "integer " + data;
    case store::kTypeBool:
        return "boolean " + data;
    case store::kTypeDateTime:
        return "date-time " + data + " (" +
               QString::fromStdString(
                   FormatDateTime("yyyy-mm-dd hh:nn:ss", store.ReadDateTime(name))) +
               ")";
    default:
        return QString("type %1").arg(type) + (data.isEmpty() ? QString() : " bytes " + data);
    }
}

} // namespace cli
