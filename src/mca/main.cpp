// mca: list, read, check, extract and make archives. Exit status: 0 success; 1 failure ("mca: ..."
// on standard error); 2 a usage error (the usage on standard error).
#include "Console.h"
#include "EscapedText.h"
#include "Failure.h"
#include "McaCommands.h"
#include "MemberNames.h"
#include "PackFiles.h"
#ifdef MCA_MOUNT
#include "posix/Mount.h"
#endif
#include "orva/Log.h"
#include "orva/WideText.h"
#include "orva/exception.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int failed = 1;
constexpr int usageError = 2;

// One subcommand: its command line, and what runs it once the line is parsed (its exit status; it
// may throw orva::exception or mca::Failure, which end it with status 1).
struct Command {
    CLI::App* line;
    std::function<int()> run;
};

int status(bool succeeded)
{
    return succeeded ? 0 : failed;
}

// A path from the command line. On Linux a name that is not UTF-8 has no wide spelling that leads
// back to it: refused by its bytes rather than taken for another name.
filedriver::FilePath path(const std::string& utf8)
{
    if (!mca::isValidUtf8(utf8))
        throw mca::Failure("refusing " + mca::escaped(utf8) + ": its name is not valid UTF-8");
    return filedriver::FilePath(orva::fromUtf8(utf8));
}

std::vector<filedriver::FilePath> paths(const std::vector<std::string>& utf8)
{
    std::vector<filedriver::FilePath> result;
    for (const std::string& text : utf8)
        result.push_back(path(text));
    return result;
}

void addDecodingThreads(CLI::App* command, unsigned& threads)
{
    command->add_option("--threads", threads, "decoding threads (default: one per processor; 1 decodes on one)")
        ->check(CLI::Range(1u, 256u));
}

// A subcommand that takes one archive and nothing else.
Command archiveCommand(CLI::App& mca, const char* name, const char* description,
                       bool (*action)(const filedriver::FilePath&))
{
    auto archive = std::make_shared<std::string>();
    CLI::App* line = mca.add_subcommand(name, description);
    line->add_option("ARCHIVE", *archive, "the archive file")->required();
    return {line, [=] { return status(action(path(*archive))); }};
}

Command setUpList(CLI::App& mca)
{
    return archiveCommand(mca, "list", "Print \"<size>\\t<name>\" for each member, in table order", mca::listMembers);
}

Command setUpInfo(CLI::App& mca)
{
    return archiveCommand(mca, "info", "Print the header fields and the properties", mca::showInfo);
}

Command setUpCat(CLI::App& mca)
{
    struct Options {
        std::vector<std::string> files;
        unsigned threads = 0;
    };
    auto options = std::make_shared<Options>();
    CLI::App* line = mca.add_subcommand("cat", "Write the bytes of each file to standard output");
    line->add_option("PATH", options->files, "a plain file, a path through an archive to a member, or - for standard input")
        ->required();
    addDecodingThreads(line, options->threads);
    return {line, [=] { return status(mca::catFiles(paths(options->files), options->threads)); }};
}

Command setUpExtract(CLI::App& mca)
{
    struct Options {
        std::string archive;
        std::string directory = ".";
        std::vector<std::string> members;
        bool force = false;
        bool stopOnError = false;
        unsigned threads = 0;
    };
    auto options = std::make_shared<Options>();
    CLI::App* line = mca.add_subcommand("extract", "Write every member, or the members named, into a directory");
    line->add_option("ARCHIVE", options->archive, "the archive file")->required();
    line->add_option("DIR", options->directory, "where the members go (default: the current directory)");
    line->add_option("MEMBER", options->members, "only these members");
    line->add_flag("--force", options->force, "replace existing entries (a link itself, never what it points at)");
    line->add_flag("--stop-on-error", options->stopOnError, "stop at the first member that fails");
    addDecodingThreads(line, options->threads);
    return {line, [=] {
                std::vector<std::wstring> only;
                for (const std::string& member : options->members)
                    only.push_back(orva::fromUtf8(member));
                return status(mca::extractMembers(path(options->archive), path(options->directory), only,
                                                  options->force, options->stopOnError, options->threads));
            }};
}

Command setUpVerify(CLI::App& mca)
{
    struct Options {
        std::string archive;
        unsigned threads = 0;
    };
    auto options = std::make_shared<Options>();
    CLI::App* line = mca.add_subcommand("verify", "Check that every block and every name reads as extract needs");
    line->add_option("ARCHIVE", options->archive, "the archive file")->required();
    addDecodingThreads(line, options->threads);
    return {line, [=] { return status(mca::verifyArchive(path(options->archive), options->threads)); }};
}

// "KEY=VALUE", the key not empty.
std::string checkProperty(const std::string& text)
{
    const std::size_t equals = text.find('=');
    return equals == std::string::npos || equals == 0 ? "a property is KEY=VALUE" : "";
}

struct PackLine {
    std::string archive;
    std::vector<std::string> files;
    std::vector<std::string> properties;
    std::string standardInputName;
    mca::PackOptions pack;
};

// What is wrong with pack's use of standard input ("-" once, with --name, a name extract takes), or "".
std::string standardInputProblem(const PackLine& options)
{
    const auto dashes = std::count(options.files.begin(), options.files.end(), "-");
    if (dashes > 1)
        return "standard input (-) can be packed once";
    if (dashes == 1 && options.standardInputName.empty())
        return "standard input (-) needs --name";
    if (dashes == 0 && !options.standardInputName.empty())
        return "--name is for standard input (-)";
    // A name that no platform could extract is no name for standard input.
    const char* refused =
        dashes == 1 ? mca::refusedName(orva::fromUtf8(options.standardInputName), mca::NamePlatform::onLinux) : nullptr;
    return refused ? "--name '" + options.standardInputName + "': " + refused : "";
}

// The files of pack: "-" is standard input, stored under --name.
std::vector<mca::PackFile> packArguments(const PackLine& options)
{
    std::vector<mca::PackFile> files;
    for (const std::string& text : options.files)
        if (text == "-")
            files.push_back({filedriver::FilePath(), orva::fromUtf8(options.standardInputName), true});
        else
            files.push_back({path(text), path(text).fileName(), false});
    return files;
}

int runPack(PackLine& options, CLI::App* line)
{
    const std::string problem = standardInputProblem(options);
    if (!problem.empty()) {
        std::fprintf(stderr, "mca: %s\n%s", problem.c_str(), line->help().c_str());
        return usageError;
    }
    for (const std::string& property : options.properties) {
        const std::size_t equals = property.find('=');
        options.pack.properties[orva::fromUtf8(property.substr(0, equals))] = orva::fromUtf8(property.substr(equals + 1));
    }
    return status(mca::packFiles(path(options.archive), packArguments(options), options.pack));
}

Command setUpPack(CLI::App& mca)
{
    auto options = std::make_shared<PackLine>();
    mca::PackOptions& pack = options->pack;
    CLI::App* line = mca.add_subcommand("pack", "Make an archive of files, each under its file name");
    line->add_option("--block-size", pack.blockSize, "bytes of data per block (default 65536)")
        ->check(CLI::Range(1u, 0x7FFFFFFFu));
    CLI::Option* store = line->add_flag("--store", pack.store, "store blocks as they are");
    CLI::Option* level = line->add_option("--level", pack.level, "zlib level, -1 (default) to 9")->check(CLI::Range(-1, 9));
    store->excludes(level);
    line->add_option("--threads", pack.threads, "compressing threads (default: one per processor)")
        ->check(CLI::Range(1u, 256u));
    line->add_option("--property", options->properties, "a property KEY=VALUE (repeatable)")
        ->allow_extra_args(false)
        ->check(CLI::Validator(checkProperty, "KEY=VALUE"));
    line->add_option("--name", options->standardInputName, "the member name of standard input (the file -)");
    line->add_option("ARCHIVE", options->archive, "the archive to make")->required();
    line->add_option("FILE", options->files,
                     "the files to store, in this order; a directory stands for its files, - for standard input")
        ->required();
    return {line, [=] { return runPack(*options, line); }};
}

#ifdef MCA_MOUNT
Command setUpMount(CLI::App& mca)
{
    struct Options {
        std::string archive;
        mca::MountOptions mount;
    };
    auto options = std::make_shared<Options>();
    CLI::App* line = mca.add_subcommand("mount", "Mount an archive as a read-only file system (FUSE)");
    line->add_option("ARCHIVE", options->archive, "the archive file")->required();
    line->add_option("MOUNTPOINT", options->mount.mountPoint, "an existing directory")->required();
    line->add_flag("-f,--foreground", options->mount.foreground, "serve in the foreground until unmounted");
    line->add_option("-o", options->mount.fuseOptions, "mount options, comma-separated (below)")
        ->allow_extra_args(false)
        ->check(CLI::Validator([](std::string& given) { return mca::mountOptionProblem(given); }, "OPTIONS"));
    line->footer(mca::mountHelp);
    return {line, [=] {
                options->mount.archive = path(options->archive);
                return mca::mountArchive(options->mount);
            }};
}
#endif

// What is wrong with a command line that named no subcommand.
std::string subcommandProblem(const std::vector<std::string>& arguments, const CLI::ParseError& error)
{
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.empty() || argument[0] != '-')
            return "'" + argument + "' is not a subcommand";
        if (argument != "-h" && argument != "--help" && argument != "--version" && argument != "--trace")
            return "'" + argument + "' is not an option of mca";
    }
    return error.get_name() == "RequiredError" ? "a subcommand is required" : error.what();
}

// "Usage: mca SUBCOMMAND ..." and the subcommands' names, for a command line that named none.
std::string shortUsage(const CLI::App& app)
{
    std::string names;
    for (const CLI::App* subcommand : app.get_subcommands({}))
        names += (names.empty() ? "" : ", ") + subcommand->get_name();
    return "Usage: mca [--trace] SUBCOMMAND [OPTIONS] ...\nSubcommands: " + names + "\nRun 'mca --help' for more.\n";
}

// Parses the command line: -1 when a command is to run, else the exit status (help, version, a
// usage error, each already written).
int parse(CLI::App& app, const std::vector<std::string>& arguments)
{
    std::vector<char*> pointers;
    for (const std::string& argument : arguments)
        pointers.push_back(const_cast<char*>(argument.c_str()));
    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
        return -1;
    } catch (const CLI::CallForHelp&) {
        const std::vector<CLI::App*> chosen = app.get_subcommands();
        std::fputs((chosen.empty() ? app.help() : chosen.front()->help()).c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::printf("%s\n", app.version().c_str());
        return 0;
    } catch (const CLI::ParseError& error) {
        const std::vector<CLI::App*> chosen = app.get_subcommands();
        if (chosen.empty())
            std::fprintf(stderr, "mca: %s\n%s", subcommandProblem(arguments, error).c_str(), shortUsage(app).c_str());
        else
            std::fprintf(stderr, "mca: %s\n%s", error.what(), chosen.front()->help().c_str());
        return usageError;
    }
}

// Runs the command, each failure that ends it said as "mca: <text>".
int run(const Command& command)
{
    try {
        const int exitStatus = command.run();
        std::fflush(stdout);
        return exitStatus;
    } catch (const orva::exception& error) {
        std::fprintf(stderr, "mca: %s\n", mca::failureText(error).c_str());
    } catch (const mca::Failure& error) {
        std::fprintf(stderr, "mca: %s\n", error.what());
    }
    return failed;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app("mca: list, read, check, extract and make archives (.mca)", "mca");
    app.require_subcommand(1);
    app.set_version_flag("--version", "mca " MCA_VERSION);
    bool trace = false;
    app.add_flag("--trace", trace, "show the library's log (its trace lines) on standard error");
    const std::vector<Command> commands = {
        setUpList(app), setUpInfo(app), setUpCat(app), setUpExtract(app), setUpVerify(app), setUpPack(app),
#ifdef MCA_MOUNT
        setUpMount(app),
#endif
    };
    const int parsed = parse(app, mca::utf8Arguments(argc, argv));
    if (parsed >= 0)
        return parsed;
    // The user reads mca's own messages; the library's log is there for those who ask.
    if (!trace)
        orva::errorLog.file = nullptr;
    for (const Command& command : commands)
        if (*command.line)
            return run(command);
    return usageError;
}
