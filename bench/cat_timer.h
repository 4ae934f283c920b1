// What the benchmarks measure themselves against: cat FILE > /dev/null.
#pragma once

#include <QString>
#include <vector>

// Seconds one `cat FILE > /dev/null` takes. Started with posix_spawn, which
// does not fork: a fork would make the benchmark's next round pay
// copy-on-write faults on the engine's large buffers.
double seconds_of_cat(const QString &path);

double median(std::vector<double> values);
