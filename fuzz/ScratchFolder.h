#pragma once
// A new folder for the files a fuzzer writes and reads back, under $TMPDIR (else /tmp). libFuzzer ends
// the process from its own loop, so the fuzzer never removes it: scripts/fuzz.sh points TMPDIR at a
// folder of its own and removes that after the run.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

inline std::string scratchFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/gleaner-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    return pattern;
}
