#pragma once

#include <QStringList>

// Exit statuses of the command-line tool.
constexpr int EXIT_OK = 0;
constexpr int EXIT_USAGE = 1;
constexpr int EXIT_SOURCE = 2;
constexpr int EXIT_DESTINATION = 3;

int drives_command(const QStringList &args);
int scan_command(const QStringList &args);
int recover_command(const QStringList &args);
int image_command(const QStringList &args);
