// Opening and rolling over a log file that a privileged run writes (Tavenor's
// /l, Corvane's /log): what is written is the file the administrator named
// and nothing else, wherever other accounts may have put a link, a folder or
// a file of their own first.
#pragma once

#include <windows.h>

// Why a log was refused or could not be had: words that follow "the log file
// <path> " ("is a folder"), and the system's error (0 when a check refused
// it).
struct LogFileProblem {
    const char* why;
    DWORD error;
};

// The words of a file that the system would not open (the error says why).
constexpr char log_open_failed[] = "could not be opened";

// Opens path (absolute) for appending, creating the file but not its folder.
// A new file gets an access list of its own: SYSTEM, Administrators and the
// running user, nothing inherited.  An existing one is taken only when the
// opened handle shows a plain file with one link, owned by SYSTEM,
// Administrators or the running user, whose final path is the one asked
// for.  share: the sharing the handle allows others (FILE_SHARE_DELETE is
// always added, so another writer can roll the file over).  The handle, or
// INVALID_HANDLE_VALUE with *problem filled in.
HANDLE log_file_open(const char* path, DWORD share, LogFileProblem* problem);

// Renames the file open at file to its name with log_older_suffix in the
// folder it really is in, replacing an older one, through the handle itself
// and never by path.  The name there is checked as the log is: a folder, a
// link or somebody else's file is left alone and the rollover refused.  1,
// or 0 with *problem filled in (the file then stays where it is).
int log_file_roll(HANDLE file, LogFileProblem* problem);

// The mutex that gives writers of the log at path their turns, shared by
// every process that names the path alike (letter case aside); nullptr with
// *problem filled in when there is none to trust.  It is made with the
// access list of a new log; one that exists already is taken only when its
// owner is SYSTEM, Administrators or the running user, so that another
// account cannot make it first and hold it.  (Wine keeps no owner on such
// objects: there one without an owner is taken.)
HANDLE log_turn_open(const char* path, LogFileProblem* problem);
