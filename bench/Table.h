#pragma once
// The benchmark's table, one format for every program that prints rows of it:
// | figure | reference | ours | reference speed | ratio | goal |

#include <string>

namespace bench {

// A moonshot's miss is no failure; a figure without a goal is only reported.
enum class Goal { Required, Moonshot, None };

void printTableHeader();
// `ratio` is ours over the reference (how many times the reference's speed ours reaches).
void printTableRow(const std::string& figure, const std::string& referenceName, const std::string& ours,
                   const std::string& reference, double ratio, double goal, Goal kind = Goal::Required);
std::string megabytesPerSecond(double bytesPerSecond);

} // namespace bench
