// Session-manager client: under a session manager (NSM_URL set) the program
// announces itself, waits until the session opens it, takes the client name
// the manager gives, keeps its switches and options in the session's path and
// answers save. Quit comes as SIGTERM, which the window layer handles as a
// close. Linux only (session_nsm.cpp, over liblo).
#pragma once
#include <string>
#include <vector>

#include "midi/device_table.h"

struct SessionState {
    std::vector<std::string> options;  // command-line words, as given
    bool enabled[PORT_COUNT] = {true, true, true};
    // The map in force as its file held it, "" for none: kept as a file of
    // its own in the session (SessionOpen::map_file), so that the session
    // opens with it again, also where the file it came from is missing.
    std::string map_text;
};

// The state file: "options" and "switches" lines, a word with a space in it
// in double quotes; a missing or unreadable file is the default state.
// Portable, so the tests read and write it.
std::string session_state_text(const SessionState& state);
SessionState parse_session_state(const std::string& text);

enum SessionStart { SESSION_NONE, SESSION_OPENED, SESSION_FAILED };

struct SessionOpen {
    std::string client_name;  // the name to give the MIDI client
    std::string state_file;   // where the state is kept
    std::string map_file;     // where the map's copy is kept
};

// The words a session's run parses: the saved ones without their --map, the
// session's copy of the map (`map_copy`, "" when it has none) in its place,
// then the command line's own (`given`), which win.
std::vector<std::string> session_words(const std::vector<std::string>& saved, const std::string& map_copy,
                                       const std::vector<std::string>& given);

// Without NSM_URL: SESSION_NONE, nothing done. Otherwise announces the
// program and waits for the manager to open it: SESSION_OPENED with `open`
// filled, or SESSION_FAILED after one line on stderr (the program then runs
// as without a manager). `wake` is called on liblo's thread when a save
// request waits for session_poll.
SessionStart session_start(SessionOpen& open, void (*wake)());
// Window thread: answers a waiting save with `state` written to the state
// file and the map's copy (none: the copy goes).
void session_poll(const SessionState& state);
void session_stop();
bool session_active();
