#include "Table.h"

#include <cstdio>

namespace bench {

void printTableHeader()
{
    std::printf("\n| figure | reference | ours | reference speed | ratio | goal |\n|---|---|---|---|---|---|\n");
}

void printTableRow(const std::string& figure, const std::string& referenceName, const std::string& ours,
                   const std::string& reference, double ratio, double goal, Goal kind)
{
    char goalText[64] = "none";
    if (kind != Goal::None)
        std::snprintf(goalText, sizeof goalText, "%s%s %.2f", kind == Goal::Moonshot ? "moonshot " : "",
                      ratio >= goal ? "met, >=" : kind == Goal::Moonshot ? "missed, >=" : "MISSED, >=", goal);
    std::printf("| %s | %s | %s | %s | %.2f | %s |\n", figure.c_str(), referenceName.c_str(), ours.c_str(),
                reference.c_str(), ratio, goalText);
    std::fflush(stdout);
}

std::string megabytesPerSecond(double bytesPerSecond)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MB/s", bytesPerSecond / 1e6);
    return text;
}

} // namespace bench
