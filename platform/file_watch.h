// Reports of files replaced on disk: the viewer names the files it shows
// (the thumbnails of the tiles on the wall) and asks, between frames, which
// of them changed since it last asked.
//
// On Linux the folders of the watched files are watched with inotify, so a
// file written in place or renamed over (the way every writer of the data
// root replaces a file) is reported at once and nothing is read in between.
// Where the system gives no such reports, the files' modification times and
// sizes are compared, at most once a second.
#pragma once

#include <string>
#include <vector>

// The files being watched and what the system keeps for the watch. Plain
// data; only the functions below look inside.
struct FileWatch {
    std::vector<std::string> files;    // as passed to watchFiles
    int reports = -1;                  // inotify descriptor; -1 when none is open
    std::vector<int> folderWatches;    // per folder of the files: its watch, -1 when none
    std::vector<std::string> folders;  // the folders, in the order of folderWatches
    std::vector<std::string> stamps;   // without reports: per file, its last seen time and size
    long long lastLook = 0;            // when the stamps were last taken (or unwatched folders tried), ms
    bool reportsLost = false;          // the last changedFiles found reports lost (see there)
};

// Sets which files are watched. Files already watched keep their place, so
// a change reported for them before the call is still reported after it.
// Paths are relative to the working directory or absolute, with '/'
// between folders.
void watchFiles(FileWatch& watch, const std::vector<std::string>& files);

// The files that changed (were written, created, renamed over or removed)
// since the last call: every watched file that did, and, where the system
// reports them, the other files of the watched folders that did, named as
// their folder (as the watched files name it), '/' and the file's name.
// Each is named once. When reports were lost (the system's queue
// overflowed, a folder went away) every watched file is named, so that
// nothing stays stale, and reportsLost is set (the other files of the
// folders may have changed unreported); the watch is then set up again.
// Never blocks.
std::vector<std::string> changedFiles(FileWatch& watch);

// Ends the watch and lets go of what the system keeps for it.
void endFileWatch(FileWatch& watch);
