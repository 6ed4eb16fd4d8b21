#include "MountReadAhead.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace mca {
namespace {

// Fields of mountinfo have spaces, tabs, newlines and backslashes written as \ and three octal digits.
std::string unescaped(const std::string& field)
{
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                text += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        text += field[i];
    }
    return text;
}

} // namespace

std::string mountDevice(const std::string& mountInfo, const std::string& mountPoint)
{
    // "<id> <parent id> <major:minor> <root> <mount point> ...": a later line is a mount on top.
    std::istringstream lines(mountInfo);
    std::string device;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string id, parent, numbers, root, point;
        if (fields >> id >> parent >> numbers >> root >> point && unescaped(point) == mountPoint)
            device = numbers;
    }
    return device;
}

bool setMountReadAhead(const std::string& mountPoint, unsigned kilobytes)
{
    std::ifstream in("/proc/self/mountinfo");
    std::ostringstream mountInfo;
    mountInfo << in.rdbuf();
    const std::string device = mountDevice(mountInfo.str(), mountPoint);
    if (device.empty() || device.find('/') != std::string::npos)
        return false;
    std::FILE* window = std::fopen(("/sys/class/bdi/" + device + "/read_ahead_kb").c_str(), "w");
    if (!window)
        return false;
    const bool written = std::fprintf(window, "%u\n", kilobytes) > 0;
    return std::fclose(window) == 0 && written;
}

} // namespace mca
