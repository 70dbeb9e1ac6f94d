#include "hive/Utf16.h"

#include <QString>

namespace hive {

std::u16string Utf8ToUtf16(std::string_view utf8) {
    const QString s = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size()));
}

std::string Utf16ToUtf8(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), qsizetype(text.size()))
        .toUtf8()
        .toStdString();
}

} // namespace hive
