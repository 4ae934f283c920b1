// Runs a worker thread inside the tool's event loop, so its queued signals
// reach the tool, and returns once the thread has ended.
#pragma once

#include <QThread>

void run_worker(QThread &thread);
