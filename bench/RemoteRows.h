#pragma once
// The rows of archives read from a web server (WebServer.h, started at the first of them): every member
// read whole over loopback and through the proxy's delay against curl's download then a local read;
// "mca mount" of the URL against one request per read and against squashfuse over httpfs2; the requests
// that opening and reading cost, and a second run's through the disk cache. The library's disk cache is
// off for every row but the last (it would make later passes warm).

#include "Datasets.h"

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

namespace bench {

// Registers the rows of `d` (under "<name>/"), each through `add`, which sets what every row shares.
using AddBenchmark = std::function<benchmark::internal::Benchmark*(const std::string& name,
                                                                   std::function<void(benchmark::State&)>)>;
void registerRemoteRows(Dataset& d, const std::string& workDirectory, const AddBenchmark& add);

// Stops the web server, if one was started: from the thread that ran the benchmarks.
void stopRemoteServer();

// The reads of the remote random rows: one request each at 20 ms takes the peer seconds.
constexpr int remoteRandomReads = 200;
constexpr int remoteDelayMilliseconds = 20;

} // namespace bench
