// The work folder: scratch space for the scan's work copies and thumbnails.
#pragma once

#include <QString>

// The work folder with a trailing '/'. Set once before the program's entry
// point runs (to work_folder_default()); the command-line tool points it at a
// folder of its own run before it starts any work.
extern QString temp_dir;

// The system temp folder + "/Korvo-" + the numeric user id + "/": private to
// the user, because the system temp folder is shared by all users here.
QString user_work_folder();

// user_work_folder() + the process id + "/": a second instance of the
// program keeps to its own files and leaves the first one's alone.
QString work_folder_default();

// Removes the folders of `parent` named by the id of a process that no
// longer runs, with everything in them (links are removed, not followed).
// Folders of running processes and anything not named by a number stay.
void clear_stale_work_folders(const QString &parent);

// Makes sure `path` is a usable private work folder: creates it owner-only
// when missing, and accepts an existing one only if it is a real directory
// (not a symbolic link) owned by this user, tightening its permissions to
// owner-only. On refusal returns false with the reason in `problem`.
bool prepare_work_folder(const QString &path, QString *problem);
