#include "MountOptions.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iterator>

namespace mca {
namespace {

// Passed on as they are: libfuse's options that a user may give, and the kernel's generic ones.
const char* const plainOptions[] = {
    "allow_other", "allow_root", "auto_unmount", "default_permissions", "ro",          "suid",
    "nosuid",      "dev",        "nodev",        "exec",                "noexec",      "atime",
    "noatime",     "diratime",   "nodiratime",   "relatime",            "norelatime",  "strictatime",
    "nostrictatime", "lazytime", "nolazytime",   "sync",                "async",       "dirsync",
};
// Passed on with their value.
const char* const valuedOptions[] = {"fsname", "subtype", "max_read", "context", "fscontext", "defcontext", "rootcontext"};
// Set by libfuse or for block devices only.
const char* const libfuseOwn[] = {"fd", "rootmode", "user_id", "group_id", "blkdev", "blksize"};

template <std::size_t N>
bool listed(const char* const (&list)[N], const std::string& name)
{
    return std::find(std::begin(list), std::end(list), name) != std::end(list);
}

// Splits at commas not escaped by a backslash; the escapes stay for libfuse, which reads them too.
std::vector<std::string> split(const std::string& text)
{
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            parts.back() += text.substr(i, 2);
            ++i;
        } else if (text[i] == ',') {
            parts.emplace_back();
        } else {
            parts.back() += text[i];
        }
    }
    return parts;
}

// A whole number in `base` up to `most`, nothing else.
bool number(const std::string& text, int base, unsigned long most, unsigned long& value)
{
    if (text.empty() || text.find_first_not_of(base == 8 ? "01234567" : "0123456789") != std::string::npos)
        return false;
    errno = 0;
    value = std::strtoul(text.c_str(), nullptr, base);
    return errno == 0 && value <= most;
}

// An option of ours: true when `name` is one, with `problem` set when its value is wrong.
bool ownOption(const std::string& name, const std::string& value, MountOptionList& options, std::string& problem)
{
    unsigned long parsed = 0;
    if (name == "uid" || name == "gid") {
        if (!number(value, 10, UINT_MAX - 1, parsed))
            problem = "mount option '" + name + "=" + value + "': not a numeric " + (name == "uid" ? "user" : "group") + " id";
        else if (name == "uid")
            options.uid = static_cast<uid_t>(parsed);
        else
            options.gid = static_cast<gid_t>(parsed);
        return true;
    }
    if (name == "umask") {
        if (!number(value, 8, 0777, parsed))
            problem = "mount option 'umask=" + value + "': not an octal mode of 0 to 777";
        else
            options.umask = static_cast<mode_t>(parsed);
        return true;
    }
    return false;
}

// Checks one option and adds it where it belongs; what is wrong with it, else empty.
std::string addOption(const std::string& option, MountOptionList& options)
{
    const std::size_t equals = option.find('=');
    const std::string name = option.substr(0, equals);
    const bool hasValue = equals != std::string::npos;
    const std::string value = hasValue ? option.substr(equals + 1) : std::string();
    std::string problem;
    if (ownOption(name, value, options, problem) && hasValue)
        return problem;
    if (name == "uid" || name == "gid" || name == "umask")
        return "mount option '" + name + "' needs a value";
    if (name == "rw")
        return "mount option 'rw': the mount is read-only";
    if (listed(libfuseOwn, name))
        return "mount option '" + name + "' is set by libfuse, or for block devices only";
    if (listed(plainOptions, name) && hasValue)
        return "mount option '" + name + "' takes no value";
    if (listed(valuedOptions, name) && (!hasValue || value.empty()))
        return "mount option '" + name + "' needs a value";
    if (!listed(plainOptions, name) && !listed(valuedOptions, name))
        return "unknown mount option '" + option + "'";
    options.forFuse += (options.forFuse.empty() ? "" : ",") + option;
    return "";
}

} // namespace

std::string parseMountOptions(const std::vector<std::string>& arguments, MountOptionList& options)
{
    MountOptionList parsed;
    for (const std::string& argument : arguments)
        for (const std::string& option : split(argument)) {
            if (option.empty())
                continue;
            const std::string problem = addOption(option, parsed);
            if (!problem.empty())
                return problem;
        }
    const std::string all = "," + parsed.forFuse + ",";
    parsed.allowRoot = all.find(",allow_root,") != std::string::npos;
    if (all.find(",allow_other,") != std::string::npos && parsed.allowRoot)
        return "mount options 'allow_other' and 'allow_root' exclude each other";
    options = parsed;
    return "";
}

std::string mountOptionProblem(const std::string& argument)
{
    MountOptionList ignored;
    return parseMountOptions({argument}, ignored);
}

} // namespace mca
