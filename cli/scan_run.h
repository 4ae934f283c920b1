// Runs the scan thread on the chosen source inside the tool's event loop.
#pragma once

#include <QString>

// False with the reason when the source could not be opened.
bool run_scan(QString *failure);
