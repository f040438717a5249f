#include "tests/tds_endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <set>

#include "db/codepage.h"
#include "db/key_locks.h"
#include "db/sqlite_collation.h"
#include "db/tsql.h"

namespace plom::test {
namespace {

// Packet types.
constexpr uint8_t kBatch = 0x01, kRpc = 0x03, kReply = 0x04, kAttention = 0x06, kLogin7 = 0x10,
                  kPrelogin = 0x12;
// Tokens.
constexpr uint8_t kColMetadata = 0x81, kRow = 0xD1, kDone = 0xFD, kDoneProc = 0xFE,
                  kDoneInProc = 0xFF, kError = 0xAA, kEnvChange = 0xE3, kLoginAck = 0xAD,
                  kReturnStatus = 0x79, kReturnValue = 0xAC;
// Done status bits.
constexpr uint16_t kMore = 0x01, kDoneError = 0x02, kCount = 0x10, kAttn = 0x20;
// Types.
constexpr uint8_t kIntN = 0x26, kFltN = 0x6D, kBitN = 0x68, kBigVarChar = 0xA7, kBigChar = 0xAF,
                  kNVarChar = 0xE7, kNChar = 0xEF, kBigVarBinary = 0xA5, kBigBinary = 0xAD,
                  kText = 0x23, kNText = 0x63, kInt1 = 0x30, kInt2 = 0x34, kInt4 = 0x38,
                  kInt8 = 0x7F, kBit = 0x32;
// Latin1_General_CI_AS: code page 1252.
constexpr uint8_t kCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};
constexpr size_t kPacketSize = 4096;

// ---- writing ----

struct Out {
  std::string b;
  void U8(uint8_t v) { b.push_back(static_cast<char>(v)); }
  void U16(uint16_t v) {
    U8(v & 0xFF);
    U8(v >> 8);
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
  }
  void Ucs2(const std::string& cp1252) {
    for (char16_t c : Cp1252ToUtf16(cp1252)) U16(c);
  }
  void BVarChar(const std::string& s) {  // length in characters, one byte
    U8(static_cast<uint8_t>(Cp1252ToUtf16(s).size()));
    Ucs2(s);
  }
  void UsVarChar(const std::string& s) {
    U16(static_cast<uint16_t>(Cp1252ToUtf16(s).size()));
    Ucs2(s);
  }
};

void Done(Out* o, uint8_t token, uint16_t status, uint64_t count) {
  o->U8(token);
  o->U16(status);
  o->U16(0);
  o->U64(count);
}

void Error(Out* o, int number, const std::string& message) {
  Out body;
  body.U32(static_cast<uint32_t>(number));
  body.U8(1);   // state
  body.U8(16);  // class
  body.UsVarChar(message);
  body.BVarChar("endpoint");
  body.BVarChar("");
  body.U32(1);
  o->U8(kError);
  o->U16(static_cast<uint16_t>(body.b.size()));
  o->b += body.b;
}

void EnvChange(Out* o, uint8_t type, const std::string& now, const std::string& before) {
  Out body;
  body.U8(type);
  body.BVarChar(now);
  body.BVarChar(before);
  o->U8(kEnvChange);
  o->U16(static_cast<uint16_t>(body.b.size()));
  o->b += body.b;
}

void LoginAnswer(Out* o, const TdsLogin& login) {
  EnvChange(o, 1, login.database.empty() ? "master" : login.database, "master");
  Out coll;
  coll.U8(7);
  coll.U8(5);
  for (uint8_t c : kCollation) coll.U8(c);
  coll.U8(0);
  o->U8(kEnvChange);
  o->U16(static_cast<uint16_t>(coll.b.size()));
  o->b += coll.b;
  EnvChange(o, 2, "us_english", "");
  EnvChange(o, 4, std::to_string(kPacketSize), std::to_string(kPacketSize));
  Out ack;
  ack.U8(1);  // T-SQL
  for (uint8_t v : {0x74, 0x00, 0x00, 0x04}) ack.U8(v);
  ack.BVarChar("Microsoft SQL Server");
  for (uint8_t v : {16, 0, 0x10, 0x00}) ack.U8(v);
  o->U8(kLoginAck);
  o->U16(static_cast<uint16_t>(ack.b.size()));
  o->b += ack.b;
  Done(o, kDone, 0, 0);
}

// ---- reading ----

struct In {
  const std::string& b;
  size_t at = 0;
  bool bad = false;
  bool Has(size_t n) {
    if (at + n > b.size()) bad = true;
    return !bad;
  }
  uint8_t U8() { return Has(1) ? static_cast<uint8_t>(b[at++]) : 0; }
  uint16_t U16() {
    uint16_t lo = U8();
    return static_cast<uint16_t>(lo | (U8() << 8));
  }
  uint32_t U32() {
    uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }
  uint64_t U64() {
    uint64_t lo = U32();
    return lo | (static_cast<uint64_t>(U32()) << 32);
  }
  std::string Bytes(size_t n) {
    if (!Has(n)) return std::string();
    std::string s = b.substr(at, n);
    at += n;
    return s;
  }
  std::string Ucs2(size_t chars) {
    std::string raw = Bytes(chars * 2);
    std::u16string u;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
      u.push_back(static_cast<char16_t>(static_cast<uint8_t>(raw[i]) |
                                        (static_cast<uint8_t>(raw[i + 1]) << 8)));
    }
    return Utf16ToCp1252(u);
  }
};

std::string FromUcs2(const std::string& raw) {
  std::string copy = raw;
  In in{copy};
  return in.Ucs2(raw.size() / 2);
}

// A partially length-prefixed value: the chunks up to the empty one.
bool ReadPlp(In* in, std::string* out, bool* null) {
  uint64_t total = in->U64();
  *null = total == ~uint64_t{0};
  if (*null) return !in->bad;
  for (;;) {
    uint32_t n = in->U32();
    if (in->bad) return false;
    if (n == 0) break;
    *out += in->Bytes(n);
  }
  return !in->bad;
}

bool ReadValue(In* in, TdsValue* v) {
  uint8_t type = in->U8();
  v->type = type;
  auto fixed_int = [&](size_t n) {
    std::string raw = in->Bytes(n);
    uint64_t u = 0;
    for (size_t k = 0; k < raw.size(); ++k) u |= static_cast<uint64_t>(static_cast<uint8_t>(raw[k])) << (8 * k);
    int64_t s = static_cast<int64_t>(u);
    if (n < 8 && (u >> (8 * n - 1)) & 1) s = static_cast<int64_t>(u | (~uint64_t{0} << (8 * n)));
    v->null = false;
    v->is_int = true;
    v->i = s;
  };
  switch (type) {
    case kInt1:
      fixed_int(1);
      v->i &= 0xFF;
      break;
    case kBit:
      fixed_int(1);
      break;
    case kInt2:
      fixed_int(2);
      break;
    case kInt4:
      fixed_int(4);
      break;
    case kInt8:
      fixed_int(8);
      break;
    case kIntN:
    case kBitN: {
      in->U8();
      uint8_t n = in->U8();
      if (n == 0) break;
      fixed_int(n);
      if (type == kIntN && n == 1) v->i &= 0xFF;
      break;
    }
    case kFltN: {
      in->U8();
      uint8_t n = in->U8();
      if (n == 0) break;
      std::string raw = in->Bytes(n);
      double d = 0;
      if (n == 8) std::memcpy(&d, raw.data(), 8);
      if (n == 4) {
        float f = 0;
        std::memcpy(&f, raw.data(), 4);
        d = f;
      }
      v->null = false;
      v->s = std::to_string(d);
      break;
    }
    case kBigVarChar:
    case kBigChar:
    case kNVarChar:
    case kNChar:
    case kBigVarBinary:
    case kBigBinary: {
      uint16_t max = in->U16();
      bool text = type != kBigVarBinary && type != kBigBinary;
      if (text) in->Bytes(5);
      std::string raw;
      if (max == 0xFFFF) {
        if (!ReadPlp(in, &raw, &v->null)) return false;
      } else {
        uint16_t n = in->U16();
        v->null = n == 0xFFFF;
        if (!v->null) raw = in->Bytes(n);
      }
      v->s = (type == kNVarChar || type == kNChar) ? FromUcs2(raw) : raw;
      break;
    }
    case kText:
    case kNText: {
      in->U32();
      in->Bytes(5);
      uint32_t n = in->U32();
      v->null = n == 0xFFFFFFFF;
      if (!v->null) v->s = type == kNText ? FromUcs2(in->Bytes(n)) : in->Bytes(n);
      break;
    }
    default:
      return false;
  }
  return !in->bad;
}

// One RPC of a request: the procedure and its parameters.
struct Call {
  std::string proc;
  std::vector<TdsValue> params;
};

const char* ProcName(uint16_t id) {
  switch (id) {
    case 10:
      return "sp_executesql";
    case 11:
      return "sp_prepare";
    case 12:
      return "sp_execute";
    case 13:
      return "sp_prepexec";
    case 15:
      return "sp_unprepare";
    default:
      return "sp_procid";
  }
}

bool ReadCalls(const std::string& msg, std::vector<Call>* calls) {
  In in{msg};
  uint32_t headers = in.U32();
  in.at = headers;
  while (in.at < msg.size() && !in.bad) {
    Call c;
    uint16_t len = in.U16();
    if (len == 0xFFFF) {
      c.proc = ProcName(in.U16());
    } else {
      c.proc = in.Ucs2(len);
    }
    in.U16();  // option flags
    while (in.at < msg.size()) {
      uint8_t b = static_cast<uint8_t>(msg[in.at]);
      if (b == 0xFF || b == 0x80) {  // the next call
        ++in.at;
        break;
      }
      uint8_t name_len = in.U8();
      in.Ucs2(name_len);
      in.U8();  // status
      TdsValue v;
      if (!ReadValue(&in, &v)) return false;
      c.params.push_back(std::move(v));
    }
    calls->push_back(std::move(c));
  }
  return !in.bad;
}

TdsLogin ReadLogin(const std::string& msg) {
  TdsLogin l;
  In in{msg};
  in.U32();
  l.tds_version = in.U32();
  l.packet_size = in.U32();
  auto field = [&](size_t offset) {
    In f{msg};
    f.at = offset;
    uint16_t at = f.U16(), chars = f.U16();
    In s{msg};
    s.at = at;
    return s.Ucs2(chars);
  };
  l.host = field(36);
  l.user = field(40);
  {
    In f{msg};
    f.at = 44;
    uint16_t at = f.U16(), chars = f.U16();
    std::string raw = msg.substr(at, chars * 2);
    for (char& ch : raw) {
      uint8_t b = static_cast<uint8_t>(ch) ^ 0xA5;
      ch = static_cast<char>(((b & 0x0F) << 4) | (b >> 4));
    }
    l.password = FromUcs2(raw);
  }
  l.app = field(48);
  l.server = field(52);
  l.library = field(60);
  l.language = field(64);
  l.database = field(68);
  return l;
}

// ---- the socket ----

bool WaitReadable(int fd, const std::atomic<bool>& stop) {
  while (!stop) {
    pollfd p{fd, POLLIN, 0};
    int rc = poll(&p, 1, 100);
    if (rc > 0) return true;
    if (rc < 0) return false;
  }
  return false;
}

bool ReadFull(int fd, char* buf, size_t n, const std::atomic<bool>& stop) {
  while (n > 0) {
    if (!WaitReadable(fd, stop)) return false;
    ssize_t got = read(fd, buf, n);
    if (got <= 0) return false;
    buf += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

// One message: its type, its payload and the packets it took.
bool ReadMessage(int fd, const std::atomic<bool>& stop, uint8_t* type, std::string* payload,
                 int* packets) {
  payload->clear();
  *packets = 0;
  for (;;) {
    char head[8];
    if (!ReadFull(fd, head, 8, stop)) return false;
    *type = static_cast<uint8_t>(head[0]);
    size_t len = (static_cast<uint8_t>(head[2]) << 8) | static_cast<uint8_t>(head[3]);
    if (len < 8) return false;
    std::string body(len - 8, '\0');
    if (len > 8 && !ReadFull(fd, body.data(), len - 8, stop)) return false;
    *payload += body;
    ++*packets;
    if (head[1] & 0x01) return true;
  }
}

bool WriteMessage(int fd, const std::string& data) {
  size_t at = 0;
  uint8_t id = 1;
  do {
    size_t n = std::min(data.size() - at, kPacketSize - 8);
    std::string p(8, '\0');
    p[0] = static_cast<char>(kReply);
    p[1] = at + n == data.size() ? 1 : 0;
    p[2] = static_cast<char>((n + 8) >> 8);
    p[3] = static_cast<char>((n + 8) & 0xFF);
    p[5] = 51;
    p[6] = static_cast<char>(id++);
    p += data.substr(at, n);
    if (send(fd, p.data(), p.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(p.size())) return false;
    at += n;
  } while (at < data.size());
  return true;
}

bool StartsWithWord(const std::string& text, const char* word) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
  size_t n = std::strlen(word);
  return text.size() >= i + n && EqualsNoCase(std::string_view(text).substr(i, n), word);
}

// The driver's markers @P1 ... as the tool's @p1 ... for the translation.
std::string ToolMarkers(std::string text) {
  for (size_t at = text.find("@P"); at != std::string::npos; at = text.find("@P", at + 2)) {
    if (at + 2 < text.size() && std::isdigit(static_cast<unsigned char>(text[at + 2]))) {
      text[at + 1] = 'p';
    }
  }
  return text;
}

}  // namespace

// One connection's view of the database.
struct TdsEndpoint::Session {
  sqlite3* db = nullptr;
  std::map<int, std::string> prepared;  // handle -> statement text
  int next_handle = 1;
  ~Session() {
    if (db) sqlite3_close(db);
  }

  // The answer of one statement: a result set or a count, ending with a
  // done token of the given kind (more follows when more is set).
  void Answer(const std::string& text, const std::vector<TdsValue>& params, uint8_t done,
              bool more, const TdsReply& reply, Out* o) {
    uint16_t flags = more ? kMore : 0;
    int applock = reply.applock;
    if (IsAppLockText(text) && !reply.applock_row) {
      Done(o, done, flags, 0);
      return;
    }
    if (IsAppLockText(text)) {
      o->U8(kColMetadata);
      o->U16(1);
      o->U32(0);
      o->U16(1);
      o->U8(kIntN);
      o->U8(4);
      o->BVarChar("");
      o->U8(kRow);
      o->U8(4);
      o->U32(static_cast<uint32_t>(applock));
      Done(o, done, flags | kCount, 1);
      return;
    }
    if (db == nullptr || StartsWithWord(text, "SET") || StartsWithWord(text, "USE")) {
      Done(o, done, flags, 0);
      return;
    }
    std::string sql = TranslateForSqlite(ToolMarkers(text));
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      Error(o, 102, std::string("cannot run: ") + sqlite3_errmsg(db));
      Done(o, done, flags | kDoneError, 0);
      return;
    }
    for (size_t k = 0; k < params.size(); ++k) {
      const TdsValue& v = params[k];
      int at = static_cast<int>(k + 1);
      if (v.null) {
        sqlite3_bind_null(st, at);
      } else if (v.is_int) {
        sqlite3_bind_int64(st, at, v.i);
      } else {
        std::string u = Cp1252ToUtf8(v.s);
        sqlite3_bind_text(st, at, u.c_str(), static_cast<int>(u.size()), SQLITE_TRANSIENT);
      }
    }
    int cols = sqlite3_column_count(st);
    std::vector<std::vector<std::pair<int, std::string>>> rows;  // sqlite type, text
    int rc;
    std::vector<char> kinds(static_cast<size_t>(cols), 0);  // 'i', 'r', 't'
    for (int c = 0; c < cols; ++c) {
      const char* decl = sqlite3_column_decltype(st, c);
      if (decl != nullptr) {
        std::string d = decl;
        for (char& ch : d) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        kinds[static_cast<size_t>(c)] =
            d.find("INT") != std::string::npos ? 'i'
            : (d.find("REAL") != std::string::npos || d.find("FLOA") != std::string::npos ||
               d.find("DOUB") != std::string::npos)
                ? 'r'
                : 't';
      }
    }
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::vector<std::pair<int, std::string>> row;
      for (int c = 0; c < cols; ++c) {
        int t = sqlite3_column_type(st, c);
        const unsigned char* txt = sqlite3_column_text(st, c);
        row.emplace_back(t, txt ? reinterpret_cast<const char*>(txt) : "");
        char& k = kinds[static_cast<size_t>(c)];
        if (k == 0 && t != SQLITE_NULL) k = t == SQLITE_INTEGER ? 'i' : t == SQLITE_FLOAT ? 'r' : 't';
      }
      rows.push_back(std::move(row));
    }
    int changes = sqlite3_changes(db);
    bool failed = rc != SQLITE_DONE;
    std::string why = failed ? sqlite3_errmsg(db) : "";
    int ext = sqlite3_extended_errcode(db);
    sqlite3_finalize(st);
    if (failed) {
      // A refused row as SQL Server says it: a duplicate key is 2627.
      bool dup = ext == SQLITE_CONSTRAINT_PRIMARYKEY || ext == SQLITE_CONSTRAINT_UNIQUE;
      Error(o, dup ? 2627 : 547, "refused: " + why);
      Done(o, done, flags | kDoneError, 0);
      return;
    }
    if (cols == 0) {
      Done(o, done, flags | kCount, static_cast<uint64_t>(changes));
      return;
    }
    o->U8(kColMetadata);
    o->U16(static_cast<uint16_t>(cols));
    for (int c = 0; c < cols; ++c) {
      o->U32(0);
      o->U16(1);  // nullable
      char k = kinds[static_cast<size_t>(c)];
      if (k == 'i') {
        o->U8(kIntN);
        o->U8(8);
      } else if (k == 'r') {
        o->U8(kFltN);
        o->U8(8);
      } else {
        o->U8(kBigVarChar);
        o->U16(8000);
        for (uint8_t b : kCollation) o->U8(b);
      }
      o->BVarChar("c" + std::to_string(c));
    }
    for (const auto& row : rows) {
      o->U8(kRow);
      for (int c = 0; c < cols; ++c) {
        const auto& [t, s] = row[static_cast<size_t>(c)];
        char k = kinds[static_cast<size_t>(c)];
        if (k == 'i') {
          if (t == SQLITE_NULL) {
            o->U8(0);
          } else {
            o->U8(8);
            o->U64(static_cast<uint64_t>(std::strtoll(s.c_str(), nullptr, 10)));
          }
        } else if (k == 'r') {
          if (t == SQLITE_NULL) {
            o->U8(0);
          } else {
            o->U8(8);
            double d = std::strtod(s.c_str(), nullptr);
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            o->U64(bits);
          }
        } else if (t == SQLITE_NULL) {
          o->U16(0xFFFF);
        } else {
          std::string b = Utf8ToCp1252(s);
          o->U16(static_cast<uint16_t>(b.size()));
          o->b += b;
        }
      }
    }
    Done(o, done, flags | kCount, rows.size());
  }
};

TdsEndpoint::TdsEndpoint(std::string database, int lifetime_s)
    : database_(std::move(database)), lifetime_s_(lifetime_s) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(listen_fd_, 8);
  socklen_t len = sizeof a;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  listener_ = std::thread([this] { Listen(); });
}

TdsEndpoint::~TdsEndpoint() { Stop(); }

void TdsEndpoint::Stop() {
  stop_ = true;
  if (listener_.joinable()) listener_.join();
  std::vector<std::thread> sessions;
  {
    std::lock_guard<std::mutex> lock(mu_);
    sessions.swap(sessions_);
  }
  for (std::thread& t : sessions) t.join();
  if (listen_fd_ >= 0) close(listen_fd_);
  listen_fd_ = -1;
}

void TdsEndpoint::SetScript(TdsScript script) {
  std::lock_guard<std::mutex> lock(mu_);
  script_ = std::move(script);
}

std::vector<TdsRequest> TdsEndpoint::Requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

TdsReply TdsEndpoint::Decide(const TdsRequest& r) {
  TdsScript script;
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(r);
    script = script_;
  }
  return script ? script(r) : TdsReply{};
}

void TdsEndpoint::Listen() {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime_s_);
  int number = 0;
  while (!stop_) {
    if (std::chrono::steady_clock::now() > end) {
      stop_ = true;
      break;
    }
    if (!accepting_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0 || !accepting_) continue;
    int fd = accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mu_);
    sessions_.emplace_back([this, fd, n = ++number] { Serve(fd, n); });
  }
}

void TdsEndpoint::Serve(int fd, int number) {
  Session session;
  if (!database_.empty() &&
      sqlite3_open_v2(database_.c_str(), &session.db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    RegisterCp1252Collation(session.db);
    sqlite3_busy_timeout(session.db, 5000);
  }
  bool dead = false;  // silent from now on: nothing more is answered
  uint8_t type = 0;
  std::string msg;
  int packets = 0;
  while (ReadMessage(fd, stop_, &type, &msg, &packets)) {
    packets_ += packets;
    TdsRequest r;
    r.connection = number;
    r.packets = packets;
    Out o;
    TdsReply reply;
    switch (type) {
      case kPrelogin: {
        r.kind = TdsRequest::Kind::kPrelogin;
        reply = Decide(r);
        // Version and "encryption not supported".
        o.U8(0);
        o.U8(0);
        o.U8(11);
        o.U8(0);
        o.U8(6);
        o.U8(1);
        o.U8(0);
        o.U8(17);
        o.U8(0);
        o.U8(1);
        o.U8(0xFF);
        for (uint8_t v : {16, 0, 0x10, 0, 0, 0}) o.U8(v);
        o.U8(2);
        break;
      }
      case kLogin7: {
        r.kind = TdsRequest::Kind::kLogin;
        r.login = ReadLogin(msg);
        reply = Decide(r);
        if (reply.action == TdsReply::Action::kFail) {
          Error(&o, reply.error == 8180 ? 18456 : reply.error,
                reply.message == "scripted failure" ? "Login failed for user '" + r.login.user + "'."
                                                    : reply.message);
          Done(&o, kDone, kDoneError, 0);
          reply.action = TdsReply::Action::kAnswer;
        } else {
          LoginAnswer(&o, r.login);
        }
        break;
      }
      case kAttention: {
        r.kind = TdsRequest::Kind::kAttention;
        reply = Decide(r);
        Done(&o, kDone, kAttn, 0);
        break;
      }
      case kBatch: {
        r.kind = TdsRequest::Kind::kBatch;
        In in{msg};
        in.at = in.U32();
        r.text = in.Ucs2((msg.size() - in.at) / 2);
        reply = Decide(r);
        if (reply.action == TdsReply::Action::kFail) {
          Error(&o, reply.error, reply.message);
          Done(&o, kDone, kDoneError, 0);
          reply.action = TdsReply::Action::kAnswer;
        } else if (reply.action == TdsReply::Action::kAnswer) {
          session.Answer(r.text, {}, kDone, false, reply, &o);
        }
        break;
      }
      case kRpc: {
        std::vector<Call> calls;
        if (!ReadCalls(msg, &calls)) {
          Error(&o, 8009, "the endpoint could not read the call");
          Done(&o, kDone, kDoneError, 0);
          break;
        }
        for (size_t k = 0; k < calls.size() && reply.action == TdsReply::Action::kAnswer; ++k) {
          Call& c = calls[k];
          bool last = k + 1 == calls.size();
          TdsRequest call = r;
          call.kind = TdsRequest::Kind::kRpc;
          call.proc = c.proc;
          call.packets = k == 0 ? packets : 0;
          size_t first = 0;
          int handle = 0;
          if (c.proc == "sp_prepexec" || c.proc == "sp_prepare") {
            if (c.params.size() >= 3) call.text = c.params[2].s;
            first = c.proc == "sp_prepare" ? c.params.size() : 3;
          } else if (c.proc == "sp_execute" || c.proc == "sp_unprepare") {
            if (!c.params.empty()) {
              auto it = session.prepared.find(static_cast<int>(c.params[0].i));
              if (it != session.prepared.end()) call.text = it->second;
            }
            first = c.proc == "sp_unprepare" ? c.params.size() : 1;
          } else if (c.proc == "sp_executesql") {
            if (!c.params.empty()) call.text = c.params[0].s;
            first = 2;
          }
          for (size_t p = first; p < c.params.size(); ++p) call.params.push_back(c.params[p]);
          reply = Decide(call);
          if (reply.action == TdsReply::Action::kSilent || reply.action == TdsReply::Action::kHangUp) {
            break;
          }
          if (c.proc == "sp_prepexec" || c.proc == "sp_prepare") {
            handle = session.next_handle++;
            session.prepared[handle] = call.text;
          }
          if (c.proc == "sp_unprepare" && !c.params.empty()) {
            session.prepared.erase(static_cast<int>(c.params[0].i));
          }
          if (reply.action == TdsReply::Action::kFail) {
            Error(&o, reply.error, reply.message);
            Done(&o, kDoneInProc, kMore | kDoneError, 0);
            reply.action = TdsReply::Action::kAnswer;
          } else if (c.proc != "sp_prepare" && c.proc != "sp_unprepare") {
            session.Answer(call.text, call.params, kDoneInProc, true, reply, &o);
          }
          o.U8(kReturnStatus);
          o.U32(0);
          if (handle != 0) {
            o.U8(kReturnValue);
            o.U16(0);
            o.BVarChar("@handle");
            o.U8(1);
            o.U32(0);
            o.U16(0);
            o.U8(kIntN);
            o.U8(4);
            o.U8(4);
            o.U32(static_cast<uint32_t>(handle));
          }
          Done(&o, kDoneProc, last ? 0 : kMore, 0);
        }
        break;
      }
      default:
        Error(&o, 8009, "unknown packet type");
        Done(&o, kDone, kDoneError, 0);
        break;
    }
    if (type == kAttention && dead) continue;
    if (reply.action == TdsReply::Action::kHangUp) break;
    if (reply.action == TdsReply::Action::kSilent) dead = true;
    if (dead) continue;
    if (!WriteMessage(fd, o.b)) break;
  }
  close(fd);
}

}  // namespace plom::test
