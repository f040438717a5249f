#include "platform/arguments.h"

#include <windows.h>

#include <csignal>
#include <string>

// The C runtime's wide command line (msvcrt), split as the program's argv.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expand_wildcards,
                              int* startup_info);

namespace plom {

int ProgramArguments(int argc, char** argv, std::vector<std::string>* args) {
  args->clear();
  int wargc = 0;
  wchar_t** wargv = nullptr;
  wchar_t** wenv = nullptr;
  int startup = 0;
  if (__wgetmainargs(&wargc, &wargv, &wenv, 0, &startup) != 0 || wargc != argc) {
    // Not to be had: the narrow arguments, in the ANSI code page.
    for (int i = 1; i < argc; ++i) args->push_back(argv[i]);
    return 0;
  }
  for (int i = 1; i < wargc; ++i) {
    const wchar_t* w = wargv[i];
    int wlen = static_cast<int>(wcslen(w));
    std::string out;
    if (wlen > 0) {
      BOOL lost = FALSE;
      int n = WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, w, wlen, nullptr, 0, nullptr, &lost);
      out.resize(static_cast<size_t>(n));
      if (n <= 0 ||
          WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, w, wlen, out.data(), n, nullptr, &lost) !=
              n ||
          lost) {
        return i;
      }
    }
    args->push_back(out);
  }
  return 0;
}

bool IsHostHelpSwitch(const std::string& arg) { return arg == "/?"; }

namespace {

void (*g_on_stop)(int) = nullptr;
volatile LONG g_stopping = 0;

BOOL WINAPI ConsoleStop(DWORD event) {
  if (InterlockedExchange(&g_stopping, 1) != 0) return TRUE;
  // The handler runs on a thread of its own: the stop can be handled here.
  g_on_stop(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
  return TRUE;
}

}  // namespace

void OnStopRequest(void (*on_stop)(int signal)) {
  g_on_stop = on_stop;
  SetConsoleCtrlHandler(ConsoleStop, TRUE);
}

}  // namespace plom
