// The pages figure (KYR_BENCH_ONLY=pages): every settings page, call
// statistics, connect-to-ready and getVolume read through a proxy that holds
// every byte 25 ms each way in front of the codec simulator, in round trips
// against each read's dependency floor; and on loopback, the pipelined reads
// against the same reads made one request at a time, in the same run.
#pragma once

#include <string>

namespace kyrbench {

// Runs the figure, prints its rows as it goes and returns its section of
// results.md (a heading, a table and notes). quick: fewer samples.
std::string pages_section(bool quick);

}  // namespace kyrbench
