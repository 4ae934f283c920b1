// Kernel device names in the order a person expects: digit runs compare as
// numbers, so mmcblk0p2 comes before mmcblk0p10.
#pragma once

#include <QString>

bool natural_less(const QString &a, const QString &b);
