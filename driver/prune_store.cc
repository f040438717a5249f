#include "driver/prune_store.h"

#include <set>
#include <string>

#include "installation/connection.h"
#include "installation/line_store.h"

namespace plom {

int PruneLineStore(const std::vector<PlanRun>& plan, const RunOptions& options, bool dry_run,
                   Messages& msg) {
  Connection conn;
  if (ConnectAsRun(&conn, msg, options.config_path) != 0) return kExitUnavailable;
  std::vector<StoredPath> stored;
  int rc = ReadStoredPaths(conn, &stored);
  if (rc != 0) {
    msg.Printf("DB-Fehler bei TMP_USRALL_C! ErrNr: %d\n%s\n", rc, conn.last_error().c_str());
    return kExitUnavailable;
  }
  std::set<std::string> planned;
  for (const PlanRun& r : plan) planned.insert(LineStoreLockKey(r.params.path));
  std::vector<StoredPath> gone;
  int64_t lines = 0;
  for (const StoredPath& s : stored) {
    if (planned.count(LineStoreLockKey(s.path)) != 0) continue;
    gone.push_back(s);
    lines += s.lines;
  }
  msg.Printf("Zeilenspeicher: %zu Dateinamen, %zu nicht im Ablaufplan (%lld Zeilen)\n",
             stored.size(), gone.size(), static_cast<long long>(lines));
  for (const StoredPath& s : gone) {
    msg.Printf("  %s: %lld Zeilen\n", s.path.c_str(), static_cast<long long>(s.lines));
  }
  if (dry_run) {
    msg.Printf("Probelauf: nichts entfernt.\n");
    return kExitOk;
  }
  int status = kExitOk;
  size_t removed = 0;
  for (const StoredPath& s : gone) {
    // A run of that path now (another plan, a run by hand) keeps its lines.
    rc = LockLineStore(conn, s.path, 0);
    if (rc == kSqlLineStoreLocked || rc == kSqlLockFileUnusable) {
      msg.Printf("  %s: gesperrt, bleibt\n", s.path.c_str());
      status = kExitLocked;
      continue;
    }
    Status deleted = rc == 0 ? DeleteLines(conn, s.path) : Status(rc, Outcome::kFailed,
                                                                   conn.last_error());
    if (!deleted.ok()) {
      msg.Printf("Error Tab. Zrt999Tmp loeschen! ErrNr: %d User: %s\n%s\n", deleted.sqlcode(),
                 s.path.c_str(), deleted.reason().c_str());
      return kExitUnavailable;
    }
    ++removed;
  }
  msg.Printf("%zu Dateinamen entfernt.\n", removed);
  return status;
}

}  // namespace plom
