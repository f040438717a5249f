#include "platform/arguments.h"

#include <iconv.h>
#include <langinfo.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <string_view>

namespace plom {
namespace {

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

// The character set of the locale the environment names. The "C" locale
// calls itself ASCII; its arguments are taken as UTF-8, the encoding every
// current system writes.
std::string LocaleCharset() {
  std::string before = std::setlocale(LC_CTYPE, nullptr);
  std::string charset;
  if (std::setlocale(LC_CTYPE, "") != nullptr) charset = nl_langinfo(CODESET);
  std::setlocale(LC_CTYPE, before.c_str());
  if (charset.empty() || charset == "ANSI_X3.4-1968" || charset == "ASCII") charset = "UTF-8";
  return charset;
}

bool ToCp1252(iconv_t cd, const std::string& in, std::string* out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string buf(in.size() + 1, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = buf.data();
  size_t dst_left = buf.size();
  if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1)) return false;
  if (iconv(cd, nullptr, nullptr, &dst, &dst_left) == static_cast<size_t>(-1)) return false;
  buf.resize(buf.size() - dst_left);
  *out = buf;
  return true;
}

}  // namespace

int ProgramArguments(int argc, char** argv, std::vector<std::string>* args) {
  args->clear();
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  int bad = 0;
  for (int i = 1; i < argc && bad == 0; ++i) {
    std::string arg = argv[i];
    if (!IsAscii(arg)) {
      if (cd == reinterpret_cast<iconv_t>(-1)) {
        cd = iconv_open("WINDOWS-1252", LocaleCharset().c_str());
      }
      if (cd == reinterpret_cast<iconv_t>(-1) || !ToCp1252(cd, argv[i], &arg)) bad = i;
    }
    args->push_back(arg);
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return bad;
}

bool IsHostHelpSwitch(const std::string&) { return false; }

namespace {

void (*g_on_stop)(int) = nullptr;

void* WaitForStop(void* set) {
  int signal = 0;
  sigwait(static_cast<sigset_t*>(set), &signal);
  g_on_stop(signal);
  return nullptr;
}

}  // namespace

void OnStopRequest(void (*on_stop)(int signal)) {
  g_on_stop = on_stop;
  // Blocked in every thread (the threads started later inherit the mask);
  // one thread waits for them.
  static sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  pthread_t waiter;
  if (pthread_create(&waiter, nullptr, WaitForStop, &set) == 0) pthread_detach(waiter);
}

}  // namespace plom
