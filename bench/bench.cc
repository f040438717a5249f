// Benchmark of the download functions on sample installations.
//
//   plomvarde-bench [--sizes 10000,100000] [--work DIR] [--terminal TERM12] [--literal]
//
// Builds one sample installation per size (plomvarde-sample --badges N, in
// the directory of this program), then runs every download function once per
// size in a child process of its own and prints wall time, badges per
// second, peak memory (maximum resident set of the child) and statements
// sent to the database per badge, as the runtime counts them.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "config/cipher.h"
#include "driver/run.h"
#include "version.h"

namespace fs = std::filesystem;

namespace {

const char* kFunctions[] = {"VQDNL17P", "VQDNL31P", "VQDNL18P", "VQDNL60P", "IDSTAMM"};

// The child: one run of the tool in the working directory; prints the
// statement count and the badges read.
int RunOne(const std::string& function, const std::string& terminal, bool literal) {
  FILE* out = std::tmpfile();
  plom::Messages msg(out);
  int64_t statements = 0;
  plom::RunOptions opt = plom::DefaultRunOptions();
  opt.statements_sent = &statements;
  opt.reuse_answers = !literal;
  opt.group_lines = !literal;
  int status = plom::RunTool({function, terminal, "bench.dnl", "1"}, msg, opt);
  msg.Flush();
  std::rewind(out);
  long badges = 0;
  char line[1024];
  while (std::fgets(line, sizeof line, out)) {
    long n = 0;
    if (std::sscanf(line, "Ausweise gesamt: %ld", &n) == 1) badges += n;
  }
  std::printf("%lld %ld %d\n", static_cast<long long>(statements), badges, status);
  return 0;
}

struct Measure {
  double seconds = 0;
  long peak_kb = 0;
  long long statements = 0;
  long badges = 0;
  int status = -1;
};

bool g_literal = false;

Measure Spawn(const std::string& self, const std::string& cwd, const std::string& function,
              const std::string& terminal) {
  Measure m;
  int pipefd[2];
  if (pipe(pipefd) != 0) return m;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], 1);
    close(pipefd[0]);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    execl(self.c_str(), self.c_str(), "--one", function.c_str(), terminal.c_str(),
          g_literal ? "literal" : "kept", nullptr);
    _exit(127);
  }
  close(pipefd[1]);
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = read(pipefd[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(pipefd[0]);
  int wstatus = 0;
  struct rusage ru {};
  wait4(pid, &wstatus, 0, &ru);
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.peak_kb = ru.ru_maxrss;
  std::sscanf(text.c_str(), "%lld %ld %d", &m.statements, &m.badges, &m.status);
  return m;
}

void WriteConfig(const fs::path& path, const std::string& db) {
  std::ofstream out(path, std::ios::binary);
  const std::pair<const char*, std::string> entries[] = {
      {"LOGIN", "bench"}, {"PASS", "bench"}, {"SQLSERVER", "sqlite:" + db}, {"SCHEMA", "ZrSystem."}};
  int n = 0;
  for (const auto& [key, value] : entries) {
    out << "DB;Korvantis;\r\n" << ++n << ";" << key << ";" << plom::EncipherValue(value) << "\r\n";
  }
}

// Lays out an installation of n badges; returns the working directory.
std::string Prepare(const fs::path& work, const fs::path& bin_dir, long n) {
  fs::path root = work / std::to_string(n);
  fs::remove_all(root);
  fs::create_directories(root / "files");
  fs::create_directories(root / "run" / "terminal");
  fs::path db = root / "files" / "plomvarde.db";
  std::string cmd = (bin_dir / "plomvarde-sample").string() + " --badges " + std::to_string(n) +
                    " " + db.string() + " >/dev/null";
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "sample installation failed: %s\n", cmd.c_str());
    std::exit(1);
  }
  WriteConfig(root / "files" / "korvantis.ini", "../../files/plomvarde.db");
  return (root / "run" / "terminal").string();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("plomvarde-bench %s\n", PLOM_VERSION);
    return 0;
  }
  if (argc >= 5 && std::strcmp(argv[1], "--one") == 0) {
    return RunOne(argv[2], argv[3], std::strcmp(argv[4], "literal") == 0);
  }
  std::vector<long> sizes = {10000, 100000};
  fs::path work = "bench-work";
  std::string terminal = "TERM12";
  for (int i = 1; i < argc; i += 2) {
    std::string opt = argv[i];
    if (opt == "--literal") {
      // Every statement as the plain sequence sends it: no kept answers,
      // one transaction per line.
      g_literal = true;
      --i;
    } else if (i + 1 >= argc) {
      break;
    } else if (opt == "--sizes") {
      sizes.clear();
      std::stringstream ss(argv[i + 1]);
      std::string item;
      while (std::getline(ss, item, ',')) sizes.push_back(std::atol(item.c_str()));
    } else if (opt == "--work") {
      work = argv[i + 1];
    } else if (opt == "--terminal") {
      terminal = argv[i + 1];
    }
  }
  fs::path self = fs::canonical("/proc/self/exe");
  work = fs::absolute(work);

  std::map<std::pair<std::string, long>, Measure> results;
  std::printf("%-9s %8s %8s %10s %8s %10s %6s\n", "function", "badges", "wall_s", "badges/s",
              "peak_MB", "stmts/bdg", "exit");
  for (long n : sizes) {
    std::string cwd = Prepare(work, self.parent_path(), n);
    for (const char* fn : kFunctions) {
      Measure m = Spawn(self.string(), cwd, fn, terminal);
      results[{fn, n}] = m;
      double per = m.badges > 0 ? static_cast<double>(m.statements) / m.badges : 0;
      std::printf("%-9s %8ld %8.2f %10.0f %8.1f %10.2f %6d\n", fn, m.badges, m.seconds,
                  m.seconds > 0 ? m.badges / m.seconds : 0, m.peak_kb / 1024.0, per, m.status);
      std::fflush(stdout);
    }
  }
  if (sizes.size() >= 2) {
    long small = sizes.front(), large = sizes.back();
    std::printf("\ntime ratio %ld/%ld:\n", large, small);
    for (const char* fn : kFunctions) {
      const Measure& a = results[{fn, small}];
      const Measure& b = results[{fn, large}];
      std::printf("%-9s %6.2f\n", fn, a.seconds > 0 ? b.seconds / a.seconds : 0);
    }
  }
  return 0;
}
