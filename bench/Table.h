#pragma once
// The benchmark's table, one format for every program that prints rows of it:
// | figure | data | reference | ours | reference speed | ratio | goal |
// "data" is the data measured on: the benchmark's own ("made") or a corpus of real files.

#include <cstdio>
#include <string>

namespace bench {

// A moonshot's miss is no failure; a figure without a goal is only reported.
enum class Goal { Required, Moonshot, None };

// Rows go to standard output, and to `copy` too where it is not null.
void printTableHeader(std::FILE* copy = nullptr);
// `ratio` is ours over the reference (how many times the reference's speed ours reaches).
void printTableRow(const std::string& figure, const std::string& data, const std::string& referenceName,
                   const std::string& ours, const std::string& reference, double ratio, double goal,
                   Goal kind = Goal::Required, std::FILE* copy = nullptr);
std::string megabytesPerSecond(double bytesPerSecond);

} // namespace bench
