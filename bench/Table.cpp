#include "Table.h"

#include <cstdio>

namespace bench {

void printTableHeader(std::FILE* copy)
{
    for (std::FILE* out : {stdout, copy})
        if (out)
            std::fprintf(out, "\n| figure | data | reference | ours | reference speed | ratio | goal |\n"
                              "|---|---|---|---|---|---|---|\n");
}

void printTableRow(const std::string& figure, const std::string& data, const std::string& referenceName,
                   const std::string& ours, const std::string& reference, double ratio, double goal, Goal kind,
                   std::FILE* copy)
{
    char goalText[64] = "none";
    if (kind != Goal::None)
        std::snprintf(goalText, sizeof goalText, "%s%s %.2f", kind == Goal::Moonshot ? "moonshot " : "",
                      ratio >= goal ? "met, >=" : kind == Goal::Moonshot ? "missed, >=" : "MISSED, >=", goal);
    for (std::FILE* out : {stdout, copy})
        if (out) {
            std::fprintf(out, "| %s | %s | %s | %s | %s | %.2f | %s |\n", figure.c_str(), data.c_str(),
                         referenceName.c_str(), ours.c_str(), reference.c_str(), ratio, goalText);
            std::fflush(out);
        }
}

std::string megabytesPerSecond(double bytesPerSecond)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MB/s", bytesPerSecond / 1e6);
    return text;
}

} // namespace bench
