// A scripted SQL Server endpoint on loopback for the tests: it speaks as
// much TDS 7.4 as the FreeTDS ODBC driver needs to connect, prepare and
// execute statements, read result sets and cancel, and answers the
// statements from an SQLite copy of an installation (the texts translated
// as the embedded backend translates them). A script decides, request by
// request, whether the endpoint answers, fails, goes silent or hangs up.
//
// Every request is recorded (what arrived, in how many packets), so tests
// can count the round trips at the wire. The endpoint ends by itself after
// its lifetime, and a silent connection ends when the client hangs up.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace plom::test {

// The fields of a LOGIN7 message (texts in Windows-1252).
struct TdsLogin {
  uint32_t tds_version = 0;  // 0x74000004 for TDS 7.4
  uint32_t packet_size = 0;
  std::string host, user, password, app, server, library, language, database;
};

// One parameter value of a remote procedure call.
struct TdsValue {
  bool null = true;
  bool is_int = false;
  int64_t i = 0;
  std::string s;  // text in Windows-1252 (varchar as sent, nvarchar converted)
  uint8_t type = 0;  // the TDS type byte
};

struct TdsRequest {
  enum class Kind { kPrelogin, kLogin, kBatch, kRpc, kAttention };
  Kind kind = Kind::kBatch;
  int connection = 0;  // 1, 2, ... in the order of accepting
  int packets = 0;     // packets the request arrived in
  // RPC: sp_prepexec, sp_prepare, sp_execute, sp_executesql, sp_unprepare,
  // or the name sent.
  std::string proc;
  // Batch: its text; RPC: the statement's text (through the handle for
  // sp_execute), with the driver's markers @P1, @P2 ...
  std::string text;
  std::vector<TdsValue> params;  // RPC: the statement's parameters
  TdsLogin login;                // kLogin
};

// What the endpoint does with a request.
struct TdsReply {
  enum class Action { kAnswer, kSilent, kFail, kHangUp };
  Action action = Action::kAnswer;
  // kFail: the error the server sends (a login fails as 18456 by default).
  int error = 8180;
  std::string message = "scripted failure";
  // kAnswer of an sp_getapplock statement: its return code, or no row.
  int applock = 0;
  bool applock_row = true;
};
using TdsScript = std::function<TdsReply(const TdsRequest&)>;

class TdsEndpoint {
 public:
  // database: an SQLite file whose tables answer the statements; empty:
  // every statement is answered with "done, no rows". Starts listening on
  // a free port of 127.0.0.1.
  explicit TdsEndpoint(std::string database = "", int lifetime_s = 300);
  ~TdsEndpoint();
  TdsEndpoint(const TdsEndpoint&) = delete;
  TdsEndpoint& operator=(const TdsEndpoint&) = delete;

  int port() const { return port_; }
  void SetScript(TdsScript script);
  // Whether connections are accepted at all (the kernel still completes
  // the TCP handshake: the client then waits for its pre-login's answer).
  void SetAccepting(bool on) { accepting_ = on; }
  void Stop();

  std::vector<TdsRequest> Requests() const;
  // Packets received, over all connections.
  int packets() const { return packets_; }

 private:
  struct Session;
  void Listen();
  void Serve(int fd, int number);
  TdsReply Decide(const TdsRequest& r);

  std::string database_;
  int listen_fd_ = -1;
  int port_ = 0;
  int lifetime_s_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> accepting_{true};
  std::atomic<int> packets_{0};
  mutable std::mutex mu_;
  TdsScript script_;
  std::vector<TdsRequest> requests_;
  std::thread listener_;
  std::vector<std::thread> sessions_;
};

}  // namespace plom::test
