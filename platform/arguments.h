// The command line as the host hands it over: read in the host's encoding
// (the locale's character set on POSIX hosts, the wide command line on
// Windows) and given to the tool as Windows-1252 texts, its own encoding.
#pragma once

#include <string>
#include <vector>

namespace plom {

// The arguments after the program name, each as Windows-1252. Returns 0, or
// the number (from 1) of the first argument holding a character that
// Windows-1252 cannot hold or that is not text of the host's encoding; the
// texts are then not to be used.
int ProgramArguments(int argc, char** argv, std::vector<std::string>* args);

// Whether the host knows this argument as the help switch besides --help
// ("/?" on Windows).
bool IsHostHelpSwitch(const std::string& arg);

// Runs on_stop (once, from a thread of its own, never inside a signal
// handler) when the process is asked to stop: SIGTERM or SIGINT on POSIX
// hosts, Ctrl+C, Ctrl+Break or the console's closing on Windows. The
// number handed over is the signal's (SIGTERM 15, SIGINT 2). Later stop
// requests are ignored while on_stop runs and after it.
void OnStopRequest(void (*on_stop)(int signal));

}  // namespace plom
