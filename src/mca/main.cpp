// mca: list, read, check, extract and make archives. Exit status: 0 success; 1 failure ("mca: ..."
// on standard error); 2 a usage error (the usage on standard error).
#include "Console.h"
#include "McaCommands.h"
#include "MemberNames.h"
#ifdef MCA_MOUNT
#include "posix/Mount.h"
#endif
#include "filedriver/SystemError.h"
#include "orva/WideText.h"
#include "orva/exception.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int failed = 1;
constexpr int usageError = 2;

filedriver::FilePath path(const std::string& utf8)
{
    return filedriver::FilePath(orva::fromUtf8(utf8));
}

std::vector<filedriver::FilePath> paths(const std::vector<std::string>& utf8)
{
    std::vector<filedriver::FilePath> result;
    for (const std::string& text : utf8)
        result.push_back(path(text));
    return result;
}

// "KEY=VALUE", the key not empty.
std::string checkProperty(const std::string& text)
{
    const std::size_t equals = text.find('=');
    return equals == std::string::npos || equals == 0 ? "a property is KEY=VALUE" : "";
}

void addDecodingThreads(CLI::App* command, unsigned& threads)
{
    command->add_option("--threads", threads, "decoding threads (default: one per processor; 1 decodes on one)")
        ->check(CLI::Range(1u, 256u));
}

// The files of pack: "-" is standard input, stored as `name`.
std::vector<mca::PackFile> packFiles(const std::vector<std::string>& utf8, const std::string& name)
{
    std::vector<mca::PackFile> files;
    for (const std::string& text : utf8)
        if (text == "-")
            files.push_back({filedriver::FilePath(), orva::fromUtf8(name), true});
        else
            files.push_back({path(text), path(text).fileName(false), false});
    return files;
}

// What is wrong with a command line that named no subcommand.
std::string subcommandProblem(const std::vector<std::string>& arguments, const CLI::ParseError& error)
{
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.empty() || argument[0] != '-')
            return "'" + argument + "' is not a subcommand";
        if (argument != "-h" && argument != "--help" && argument != "--version")
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
    return "Usage: mca SUBCOMMAND [OPTIONS] ...\nSubcommands: " + names + "\nRun 'mca --help' for more.\n";
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app("mca: list, read, check, extract and make archives (.mca)", "mca");
    app.require_subcommand(1);
    app.set_version_flag("--version", "mca " MCA_VERSION);

    std::string archive;
    std::string directory = ".";
    std::vector<std::string> files;
    std::vector<std::string> properties;
    std::vector<std::string> members;
    std::string standardInputName;
    bool force = false;
    bool stopOnError = false;
    mca::PackOptions pack;
    unsigned threads = 0;

    CLI::App* list = app.add_subcommand("list", "Print \"<size>\\t<name>\" for each member, in table order");
    list->add_option("ARCHIVE", archive, "the archive file")->required();
    CLI::App* info = app.add_subcommand("info", "Print the header fields and the properties");
    info->add_option("ARCHIVE", archive, "the archive file")->required();
    CLI::App* cat = app.add_subcommand("cat", "Write the bytes of each file to standard output");
    cat->add_option("PATH", files, "a plain file, or a path through an archive to a member")->required();
    addDecodingThreads(cat, threads);
    CLI::App* extract = app.add_subcommand("extract", "Write every member, or the members named, into a directory");
    extract->add_option("ARCHIVE", archive, "the archive file")->required();
    extract->add_option("DIR", directory, "where the members go (default: the current directory)");
    extract->add_option("MEMBER", members, "only these members");
    extract->add_flag("--force", force, "replace existing entries (a link itself, never what it points at)");
    extract->add_flag("--stop-on-error", stopOnError, "stop at the first member that fails");
    addDecodingThreads(extract, threads);
    CLI::App* verify = app.add_subcommand("verify", "Decode and check every block");
    verify->add_option("ARCHIVE", archive, "the archive file")->required();
    addDecodingThreads(verify, threads);
    CLI::App* packCommand = app.add_subcommand("pack", "Make an archive of files, each under its file name");
    packCommand->add_option("--block-size", pack.blockSize, "bytes of data per block (default 65536)")
        ->check(CLI::Range(1u, 0x7FFFFFFFu));
    CLI::Option* store = packCommand->add_flag("--store", pack.store, "store blocks as they are");
    CLI::Option* level =
        packCommand->add_option("--level", pack.level, "zlib level, -1 (default) to 9")->check(CLI::Range(-1, 9));
    store->excludes(level);
    packCommand->add_option("--threads", pack.threads, "compressing threads (default: one per processor)")
        ->check(CLI::Range(1u, 256u));
    packCommand->add_option("--property", properties, "a property KEY=VALUE (repeatable)")
        ->allow_extra_args(false)
        ->check(CLI::Validator(checkProperty, "KEY=VALUE"));
    packCommand->add_option("--name", standardInputName, "the member name of standard input (the file -)");
    packCommand->add_option("ARCHIVE", archive, "the archive to make")->required();
    packCommand->add_option("FILE", files,
                            "the files to store, in this order; a directory stands for its files, - for standard input")
        ->required();
#ifdef MCA_MOUNT
    mca::MountOptions mount;
    std::string mountPoint;
    CLI::App* mountCommand = app.add_subcommand("mount", "Mount an archive as a read-only file system (FUSE)");
    mountCommand->add_option("ARCHIVE", archive, "the archive file")->required();
    mountCommand->add_option("MOUNTPOINT", mountPoint, "an existing directory")->required();
    mountCommand->add_flag("-f,--foreground", mount.foreground, "serve in the foreground until unmounted");
    mountCommand->add_option("-o", mount.fuseOptions, "mount options, comma-separated (below)")
        ->allow_extra_args(false)
        ->check(CLI::Validator([](std::string& given) { return mca::mountOptionProblem(given); }, "OPTIONS"));
    mountCommand->footer(mca::mountHelp);
#endif

    const std::vector<std::string> arguments = mca::utf8Arguments(argc, argv);
    std::vector<char*> argumentPointers;
    for (const std::string& argument : arguments)
        argumentPointers.push_back(const_cast<char*>(argument.c_str()));
    try {
        app.parse(static_cast<int>(argumentPointers.size()), argumentPointers.data());
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
    if (*packCommand) {
        const std::size_t dashes = static_cast<std::size_t>(std::count(files.begin(), files.end(), "-"));
        const char* problem = dashes > 1                                  ? "standard input (-) can be packed once"
                              : dashes == 1 && standardInputName.empty() ? "standard input (-) needs --name"
                              : dashes == 0 && !standardInputName.empty() ? "--name is for standard input (-)"
                                                                          : nullptr;
        // A name that no platform could extract is no name for standard input.
        const char* refused = dashes == 1 ? mca::refusedName(orva::fromUtf8(standardInputName), mca::NamePlatform::onLinux)
                                          : nullptr;
        const std::string why = refused ? "--name '" + standardInputName + "': " + refused : "";
        if (problem || refused) {
            std::fprintf(stderr, "mca: %s\n%s", problem ? problem : why.c_str(), packCommand->help().c_str());
            return usageError;
        }
    }

    bool succeeded = true;
    try {
        if (*list)
            mca::listMembers(path(archive));
        else if (*info)
            mca::showInfo(path(archive));
        else if (*cat)
            mca::catFiles(paths(files), threads);
        else if (*extract)
        {
            std::vector<std::wstring> only;
            for (const std::string& member : members)
                only.push_back(orva::fromUtf8(member));
            succeeded = mca::extractMembers(path(archive), path(directory), only, force, stopOnError, threads);
        }
        else if (*verify)
            succeeded = mca::verifyArchive(path(archive), threads);
#ifdef MCA_MOUNT
        else if (*mountCommand) {
            mount.archive = path(archive);
            mount.mountPoint = mountPoint;
            return mca::mountArchive(mount);
        }
#endif
        else {
            for (const std::string& property : properties) {
                const std::size_t equals = property.find('=');
                pack.properties[orva::fromUtf8(property.substr(0, equals))] = orva::fromUtf8(property.substr(equals + 1));
            }
            mca::packFiles(path(archive), packFiles(files, standardInputName), pack);
        }
    } catch (const orva::exception& error) {
        std::fprintf(stderr, "mca: %s\n", mca::failureText(error).c_str());
        return failed;
    } catch (const mca::Failure& error) {
        std::fprintf(stderr, "mca: %s\n", error.what());
        return failed;
    }
    std::fflush(stdout);
    return succeeded ? 0 : failed;
}
