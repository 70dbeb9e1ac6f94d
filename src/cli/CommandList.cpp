#include "cli/CommandList.h"

#include <QStringList>
#include <algorithm>

namespace cli {

namespace {

// The words of `text` in lines of at most `width` columns (a longer word has its own line).
QStringList wrap(const QString& text, int width) {
    QStringList lines;
    QString line;
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            lines << line;
            line.clear();
        }
        line += (line.isEmpty() ? "" : " ") + word;
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

// scdoc gives * _ \ and a leading - meanings of their own.
QString escapeScdoc(QString text) {
    text.replace('\\', "\\\\").replace('*', "\\*").replace('_', "\\_");
    return text;
}

} // namespace

QString CommandListText(int width) {
    const auto commands = AllCommands();
    qsizetype nameWidth = 0;
    for (const auto& command : commands)
        nameWidth = std::max(nameWidth, command->name().size());
    const qsizetype indent = 2 + nameWidth + 2;
    const int textWidth = std::max(20, width - int(indent));
    QString text;
    for (const auto& command : commands) {
        const QStringList lines = wrap(command->description(), textWidth);
        text += "  " + command->name().leftJustified(nameWidth + 2) + lines.value(0) + "\n";
        for (qsizetype i = 1; i < lines.size(); ++i)
            text += QString(indent, ' ') + lines[i] + "\n";
    }
    return text;
}

QString CommandHelpText(const Command& command) {
    QString text = "Usage: hivewarden-cli [OPTIONS] " + command.usage() + "\n\n" +
                   wrap(command.description(), 80).join('\n') + "\n";
    if (!command.details().isEmpty())
        text += "\n" + command.details();
    if (!text.endsWith('\n'))
        text += '\n';
    text += "\nOPTIONS before the command are those of hivewarden-cli --help.\n";
    return text;
}

QString CommandListScdoc() {
    QString text;
    for (const auto& command : AllCommands()) {
        text += "*" + escapeScdoc(command->usage()) + "*\n";
        text += "\t" + escapeScdoc(command->description()) + "\n";
        if (!command->details().isEmpty()) {
            // Details are laid out in columns: kept as they are, in a literal block, where
            // scdoc still reads a backslash as its escape.
            QString details = command->details().trimmed();
            details.replace('\\', "\\\\");
            text += "\n```\n" + details + "\n```\n";
        }
        text += "\n";
    }
    return text;
}

} // namespace cli
