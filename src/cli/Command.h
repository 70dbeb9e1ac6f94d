#pragma once
// One command of hivewarden-cli.

#include <QStringList>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace cli {

// An error reported to the user: printed on stderr, non-zero exit.
class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct GlobalOptions {
    std::string machine; // --machine DIR, empty when not given
    // --drive D=DIR, each: a drive of the machine, writable (DIR absolute).
    std::vector<std::pair<char, std::string>> drives;
    // --repair-damaged: a writable mount repairs a damaged hive instead of refusing it.
    bool repairDamaged = false;
};

class Command {
public:
    virtual ~Command() = default;
    // The words that select the command ("reg query").
    virtual QString name() const = 0;
    // The command line after the program's name ("reg query KEY [--recursive]").
    virtual QString usage() const = 0;
    // One sentence: what the command does.
    virtual QString description() const = 0;
    // More for the command's --help and the manual page, after the description; empty
    // when the usage says it all.
    virtual QString details() const { return {}; }
    // `args` holds the arguments after the command's words. Returns the exit status.
    virtual int execute(const GlobalOptions& global, const QStringList& args) = 0;
};

std::vector<std::unique_ptr<Command>> AllCommands();

} // namespace cli
