// Both programs answer --help and --version as Linux programs do: on standard output, with
// status 0, and without a machine or a display.

#include "support/MachineFixture.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

using testing_support::ProcessResult;
using testing_support::RunProcess;

namespace {

// Runs a program where neither a machine nor a display is set.
ProcessResult run(const char* program, const std::vector<std::string>& args) {
    return RunProcess(program, args,
                      {{"HIVEWARDEN_MACHINE", "/nonexistent"},
                       {"HIVEWARDEN_PROGRAM_FOLDER", "/nonexistent"},
                       {"DISPLAY", ""},
                       {"WAYLAND_DISPLAY", ""},
                       {"QT_QPA_PLATFORM", ""}});
}

// The command lines of the usage's command list: "  NAME   DESCRIPTION".
QStringList commandLines(const std::string& usage) {
    const QString text = QString::fromStdString(usage);
    const qsizetype start = text.indexOf("\nCommands:\n");
    if (start < 0)
        return {};
    return text.mid(start + 11).split('\n', Qt::SkipEmptyParts);
}

TEST(ProgramHelp, EveryCommandAnswersHelp) {
    const auto usage = run(HW_CLI_PATH, {"--help"});
    ASSERT_EQ(usage.exitCode, 0);
    EXPECT_TRUE(usage.err.empty()) << usage.err;
    // Every command of the list, by the words that select it.
    static const QRegularExpression commandName("^  (\\S+(?: [a-z][a-z-]+)?)  ");
    int commands = 0;
    for (const QString& line : commandLines(usage.out)) {
        const auto match = commandName.match(line);
        if (!match.hasMatch())
            continue;
        ++commands;
        const QString name = match.captured(1).trimmed();
        std::vector<std::string> args;
        for (const QString& word : name.split(' '))
            args.push_back(word.toStdString());
        args.push_back("--help");
        const auto help = run(HW_CLI_PATH, args);
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.err.empty()) << help.err;
        EXPECT_TRUE(help.out.starts_with("Usage: hivewarden-cli [OPTIONS] " + name.toStdString()))
            << help.out;
    }
    EXPECT_EQ(commands, 20);
}

TEST(ProgramHelp, TheCommandListLinesUp) {
    const auto usage = run(HW_CLI_PATH, {"--help"});
    const QStringList lines = commandLines(usage.out);
    ASSERT_FALSE(lines.isEmpty()) << usage.out;
    // The descriptions, and their continuation lines, start in one column after a gap.
    static const QRegularExpression description("^  \\S.*?\\S  +(\\S)");
    static const QRegularExpression continuation("^ +(\\S)");
    qsizetype column = -1;
    for (const QString& line : lines) {
        SCOPED_TRACE(line.toStdString());
        EXPECT_LE(line.size(), 80);
        auto match = description.match(line);
        if (!match.hasMatch())
            match = continuation.match(line);
        ASSERT_TRUE(match.hasMatch());
        if (column < 0)
            column = match.capturedStart(1);
        EXPECT_EQ(match.capturedStart(1), column);
    }
    EXPECT_NE(usage.out.find("  machine reset-sandbox  "), std::string::npos) << usage.out;
    // The whole usage fits a terminal of 80 columns.
    for (const QString& line : QString::fromStdString(usage.out).split('\n'))
        EXPECT_LE(line.size(), 80) << line.toStdString();
}

TEST(ProgramHelp, HelpOfACommandSaysMoreThanItsName) {
    const auto help = run(HW_CLI_PATH, {"scan", "--section", "2", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("scan [--section N ...] [--exclude LINE ...] [--json]"),
              std::string::npos)
        << help.out;
    EXPECT_NE(help.out.find("no longer exist"), std::string::npos) << help.out;
    // A group of commands lists the usage of each.
    const auto group = run(HW_CLI_PATH, {"reg", "--help"});
    EXPECT_EQ(group.exitCode, 0);
    EXPECT_NE(group.out.find("hivewarden-cli [OPTIONS] reg query KEY [--recursive]\n"),
              std::string::npos)
        << group.out;
    // What follows "--" is an argument, never a request for help.
    const auto literal = run(HW_CLI_PATH, {"reg", "import", "--", "--help"});
    EXPECT_NE(literal.exitCode, 0);
    EXPECT_EQ(literal.out.find("Usage:"), std::string::npos);
}

TEST(ProgramHelp, BothProgramsTellTheirVersion) {
    const struct {
        const char* program;
        std::string expected;
    } cases[] = {
        {HW_CLI_PATH, "hivewarden-cli " HW_PROGRAM_VERSION "\n"},
        {HW_WINDOW_PATH, "hivewarden " HW_PROGRAM_VERSION "\n"},
    };
    for (const auto& c : cases) {
        const auto version = run(c.program, {"--version"});
        SCOPED_TRACE(c.program);
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out, c.expected);
    }
    const auto help = run(HW_WINDOW_PATH, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--machine <DIR>"), std::string::npos) << help.out;
}

} // namespace
