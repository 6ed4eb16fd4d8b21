#include "Table.h"

#include <cstdio>

namespace bench {

void printTableHeader()
{
    std::printf("\n| figure | reference | ours | reference speed | ratio | goal |\n|---|---|---|---|---|---|\n");
}

void printTableRow(const std::string& figure, const std::string& referenceName, const std::string& ours,
                   const std::string& reference, double ratio, double goal)
{
    std::printf("| %s | %s | %s | %s | %.2f | %s %.2f |\n", figure.c_str(), referenceName.c_str(), ours.c_str(),
                reference.c_str(), ratio, ratio >= goal ? "met, >=" : "MISSED, >=", goal);
    std::fflush(stdout);
}

std::string megabytesPerSecond(double bytesPerSecond)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MB/s", bytesPerSecond / 1e6);
    return text;
}

} // namespace bench
