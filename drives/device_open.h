// Opening a scan source read-only. A user who may not open a card's block
// device (not root, not in the disk group) gets a read-only descriptor from
// udisks2 over the system bus instead, after the desktop asks for the password.
#pragma once

#include <QString>

// A read-only descriptor (O_RDONLY, close-on-exec) of `path`, owned by the
// caller; -1 with the reason in words. The path is opened directly; when that
// is denied and the path is a block device, udisks2 is asked. A descriptor
// udisks2 granted is kept for the life of the process and handed out again
// (duplicated) while it still reads the same device, so one scan and its
// recovery ask for the password once.
int open_read_only(const QString &path, QString *error);

// Asks the udisks2 daemon for a read-only descriptor of `device`, every time.
// The bus is `bus_address` when given, else the address in the environment
// variable TESSARO_SYSTEM_BUS_ADDRESS, else the system bus. The call waits
// for the password prompt. A descriptor that could write, or that is not
// `device`, is refused.
int udisks_open_read_only(const QString &device, QString *error, const QString &bus_address = QString());

// Whether `path` is a block device the user may not read directly, so that
// reading it goes through udisks2 and the advice below applies.
bool needs_udisks(const QString &path);

// What is left to do when udisks2 cannot open a card.
QString read_permission_advice();
