#include "soak/Traffic.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <thread>

#include "base/Loopback.h"
#include "hooks/HookServer.h"
#include "hooks/RequestParser.h"

namespace tallyloft::soak {

// ---------------------------------------------------------------------------------------------
// Sockets

int connectTo(const LocalAddress& address) {
  const int fd = tallyloft::connectLocal(address, {.noDelay = true});
  if (fd < 0) return -1;
  timeval timeout{};
  timeout.tv_sec = std::chrono::duration_cast<std::chrono::seconds>(kSocketTimeout).count();
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  return fd;
}

namespace {

using tallyloft::sendAll;

// Sends `bytes` in `pieces` parts with a pause between them.
bool trickle(int fd, std::string_view bytes, int pieces, std::chrono::milliseconds pause) {
  const std::size_t step = bytes.size() / static_cast<std::size_t>(pieces) + 1;
  for (std::size_t at = 0; at < bytes.size(); at += step) {
    if (at > 0) std::this_thread::sleep_for(pause);
    if (!sendAll(fd, bytes.substr(at, step))) return false;
  }
  return true;
}

enum class Reply { fixed, closedSilently, reset, timedOut, other };

// Reads until the server closes.
Reply readReply(int fd) {
  const tallyloft::Received reply = tallyloft::receiveUntilClosed(
      fd, std::chrono::duration_cast<std::chrono::milliseconds>(kSocketTimeout), 4096);
  if (reply.bytes.size() > 4096) return Reply::other;
  if (reply.timedOut) return Reply::timedOut;
  if (reply.reset) return reply.bytes.empty() ? Reply::reset : Reply::other;
  if (reply.bytes == HookServer::kResponse) return Reply::fixed;
  return reply.bytes.empty() ? Reply::closedSilently : Reply::other;
}

void resetClose(int fd) {
  linger hard{};
  hard.l_onoff = 1;
  hard.l_linger = 0;
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd);
}

// ---------------------------------------------------------------------------------------------
// Requests

std::string request(std::string_view body, std::string_view extraHeaders = {}) {
  std::string text =
      "POST /event HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: curl/7.88.1\r\nAccept: */*\r\n"
      "Content-Type: application/json\r\n";
  text += extraHeaders;
  text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  text += body;
  return text;
}

std::string sessionId(int session) {
  char text[40];
  std::snprintf(text, sizeof text, "5aa7%04d-0c1e-4d5b-9a3e-5eed%08d", session, session);
  return text;
}

// Valid hook bodies as the CLIs send them, over a handful of sessions.
std::vector<std::string> validBodies() {
  std::vector<std::string> bodies;
  for (int session = 0; session < kSessions; ++session) {
    const std::string common =
        "\"session_id\":\"" + sessionId(session) +
        "\",\"transcript_path\":\"/home/dev/.claude/projects/-home-dev-"
        "soak/" +
        sessionId(session) + ".jsonl\",\"cwd\":\"/home/dev/soak\",\"permission_mode\":\"default\"";
    bodies.push_back("{" + common +
                     ",\"hook_event_name\":\"UserPromptSubmit\",\"prompt\":\"Run the soak, "
                     "then \\\"report\\\" \\u00e9 \xe2\x9c\x93\"}");
    bodies.push_back(
        "{" + common +
        ",\"hook_event_name\":\"PreToolUse\",\"tool_name\":\"Bash\",\"tool_input\":{\"command\":"
        "\"cmake --build --preset dev\",\"timeout\":600000,\"nested\":[1,{\"a\":null}]},"
        "\"tool_use_id\":\"toolu_01\"}");
    bodies.push_back("{" + common +
                     ",\"hook_event_name\":\"PostToolUse\",\"tool_name\":\"Read\",\"tool_input\":"
                     "{\"file_path\":\"/home/dev/soak/README.md\"},\"tool_response\":{\"ok\":true}"
                     "}");
    bodies.push_back("{" + common + ",\"hook_event_name\":\"PreToolUse\",\"agent_id\":\"agent-" +
                     std::to_string(session) +
                     "\",\"agent_type\":\"Explore\",\"tool_name\":\"Grep\",\"tool_input\":{"
                     "\"pattern\":\"soak\"}}");
    bodies.push_back("{" + common +
                     ",\"hook_event_name\":\"Notification\",\"message\":\"Claude needs your "
                     "permission\",\"model\":null,\"unknown\":[true,false,-1.5e3]}");
    bodies.push_back("{" + common + ",\"hook_event_name\":\"Stop\",\"stop_hook_active\":false}");
  }
  return bodies;
}

// Bodies the server answers but must not count.
const std::vector<std::string> kBadJson = {
    R"({"hook_event_name":"PreToolUse","session_id":"x")",
    R"({"hook_event_name":"PreToolUse",})",
    R"({hook_event_name:"Stop"})",
    R"({"hook_event_name":"Stop"} trailing)",
    "{\"hook_event_name\":\"Stop\",\"prompt\":\"\xff\xfe\"}",
    R"({"hook_event_name":"Stop","prompt":"\ud800"})",
    R"({"hook_event_name":"Stop","tool_input":{"a":[1,2,}})",
    R"({"hook_event_name":"Stop","deep":)" + std::string(600, '[') + std::string(600, ']') + "}",
    "not json at all",
    R"({"hook_event_name":"Stop","x":01})",
};
const std::vector<std::string> kWrongTypes = {
    R"({"hook_event_name":7,"session_id":"5aa70000"})",
    R"({"hook_event_name":"PreToolUse","session_id":42})",
    R"({"hook_event_name":"PreToolUse","session_id":"s","tool_input":"ls"})",
    R"({"hook_event_name":"PreToolUse","session_id":"s","tool_name":["Bash"]})",
    R"({"hook_event_name":"Stop","session_id":"s","cwd":{"path":"/"}})",
    R"({"hook_event_name":"Stop","session_id":"s","agent_id":true})",
    R"({"hook_event_name":null,"session_id":"s"})",
};
const std::vector<std::string> kWrongShape = {
    "[]", "{}", R"("PreToolUse")", "null", "42", R"({"session_id":"5aa70000"})",
};

}  // namespace

const char* const kKindNames[static_cast<int>(Kind::count)] = {
    "valid, one send",      "valid, split sends", "valid, hang up unread",
    "valid, slow sender",   "bad JSON",           "wrong types",
    "not an event",         "Origin header",      "oversized",
    "broken HTTP",          "early close",        "slow sender, abandons",
    "slow sender, bad body"};

Kind kindOf(std::int64_t index) {
  if (index % 10 == 9) {
    switch ((index / 10) % 10) {
      case 0:
        return Kind::badJson;
      case 1:
        return Kind::wrongTypes;
      case 2:
        return (index / 100) % 2 == 0 ? Kind::wrongShape : Kind::originHeader;
      case 3:
        return Kind::oversized;
      case 4:
        return Kind::brokenHttp;
      case 5:
      case 6:
        return Kind::earlyClose;
      case 7:
        return Kind::slowAbandon;
      case 8:
        return Kind::slowBad;
      default:
        return (index / 100) % 2 == 0 ? Kind::badJson : Kind::wrongTypes;
    }
  }
  if (index % 200 == 3) return Kind::validSlow;
  if (index % 50 == 7) return Kind::validHangUp;
  if (index % 7 == 1) return Kind::validSplit;
  return Kind::validPlain;
}

bool isValid(Kind kind) {
  return kind == Kind::validPlain || kind == Kind::validSplit || kind == Kind::validHangUp ||
         kind == Kind::validSlow;
}

namespace {

// Oversized header blocks: more than a connection may buffer, never terminated.
const std::string& flood() {
  static const std::string text = [] {
    std::string bytes = "POST /event HTTP/1.1\r\nX-Pad: ";
    bytes.append(tallyloft::kMaxBufferedBytes + 256 * 1024, 'a');
    return bytes;
  }();
  return text;
}

}  // namespace

Poster::Poster(LocalAddress address, Tallies& tallies)
    : address_(std::move(address)), tallies_(tallies) {
  for (const auto& body : validBodies()) valid_.push_back(request(body));
  const std::string announced = std::to_string(tallyloft::kMaxContentLength + 1);
  oversized_ = {
      "POST /event HTTP/1.1\r\nContent-Length: " + announced + "\r\n\r\n" +
          std::string(16 * 1024, '{'),
      "POST /event HTTP/1.1\r\nContent-Length: 9223372036854775807\r\n\r\n" +
          std::string(4096, ' '),
      "POST /event HTTP/1.1\r\nContent-Length: 4294967296\r\n\r\n{}",
      // Overflows the parser's integer: read as 0, so an empty body that counts for nothing.
      "POST /event HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n{}",
  };
  broken_ = {
      "POST /event HTTP/1.1\r\nContent-Length: -5\r\n\r\n{\"hook_event_name\":\"Stop\"}",
      "POST /event HTTP/1.1\r\nX-Name: \xff\xfe\xfd\r\nContent-Length: 2\r\n\r\n{}",
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
      "\r\n\r\n",
      "POST /event HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
      "POST /event HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: -1\r\n\r\n{}",
  };
}

void Poster::post(std::int64_t index) {
  const Kind kind = kindOf(index);
  KindTally& tally = tallies_.of(kind);
  ++tally.posts;
  const int fd = connectTo(address_);
  if (fd < 0) {
    ++tallies_.connectFailures;
    ++tally.unexpected;
    return;
  }
  const auto pick = [index](const auto& list) -> const auto& {
    return list[static_cast<std::size_t>(index / 100) % list.size()];
  };
  const std::string& valid = valid_[static_cast<std::size_t>(index) % valid_.size()];
  bool wrote = false;
  bool expectAnswer = true;    // the fixed reply must come back
  bool mayBeAnswered = false;  // the fixed reply, a reset or a silent close are all fine
  switch (kind) {
    case Kind::validPlain:
      wrote = sendAll(fd, valid);
      break;
    case Kind::validSplit: {
      // Cut inside the header terminator, then inside the body.
      const std::size_t end = valid.find("\r\n\r\n");
      const std::size_t first = end + 2;
      const std::size_t second = end + 4 + (valid.size() - end - 4) / 2;
      wrote = sendAll(fd, std::string_view(valid).substr(0, first)) &&
              sendAll(fd, std::string_view(valid).substr(first, second - first)) &&
              sendAll(fd, std::string_view(valid).substr(second));
      break;
    }
    case Kind::validHangUp:
      wrote = sendAll(fd, valid);
      ::close(fd);
      tally.fullyWritten += wrote ? 1 : 0;
      if (!wrote) ++tally.unexpected;
      return;
    case Kind::validSlow:
      wrote = trickle(fd, valid, 12, std::chrono::milliseconds(2));
      break;
    case Kind::badJson:
      wrote = sendAll(fd, request(pick(kBadJson)));
      break;
    case Kind::wrongTypes:
      wrote = sendAll(fd, request(pick(kWrongTypes)));
      break;
    case Kind::wrongShape:
      wrote = sendAll(fd, request(pick(kWrongShape)));
      break;
    case Kind::originHeader:
      wrote = sendAll(fd, request(valid_[0].substr(valid_[0].find("\r\n\r\n") + 4),
                                  "Origin: http://127.0.0.1:8000\r\n"));
      break;
    case Kind::oversized:
      if ((index / 100) % 100 == 0) {
        // A header block past what a connection may buffer: closed without a reply.
        ++tallies_.floods;
        wrote = sendAll(fd, flood());
        expectAnswer = false;
        mayBeAnswered = true;
      } else {
        // A body announced above the limit: answered at the header, the rest unread.
        wrote = sendAll(fd, pick(oversized_));
        expectAnswer = false;
        mayBeAnswered = true;
      }
      break;
    case Kind::brokenHttp:
      wrote = sendAll(fd, pick(broken_));
      break;
    case Kind::earlyClose: {
      const std::string& full = valid;
      const std::size_t end = full.find("\r\n\r\n");
      switch ((index / 100) % 5) {
        case 0:
          break;  // connect, then close at once
        case 1:
          sendAll(fd, std::string_view(full).substr(0, end / 2));
          break;
        case 2:
          sendAll(fd, std::string_view(full).substr(0, end + 2));
          break;
        case 3:
          sendAll(fd, std::string_view(full).substr(0, full.size() - 10));
          break;
        default:
          sendAll(fd, std::string_view(full).substr(0, full.size() - 1));
          resetClose(fd);  // RST instead of FIN
          return;
      }
      ::close(fd);
      return;
    }
    case Kind::slowAbandon:
      trickle(fd, std::string_view(valid).substr(0, valid.size() * 7 / 10), 8,
              std::chrono::milliseconds(3));
      ::close(fd);
      return;
    case Kind::slowBad:
      wrote = trickle(fd, request(pick(kBadJson)), 8, std::chrono::milliseconds(3));
      break;
    case Kind::count:
      break;
  }
  if (wrote) ++tally.fullyWritten;
  const Reply reply = readReply(fd);
  ::close(fd);
  if (reply == Reply::fixed) ++tally.answered;
  const bool fine = expectAnswer
                        ? (wrote && reply == Reply::fixed)
                        : (mayBeAnswered && reply != Reply::timedOut && reply != Reply::other);
  if (!fine) ++tally.unexpected;
}

bool probeOnce(const LocalAddress& address) {
  const int fd = connectTo(address);
  if (fd < 0) return false;
  const bool ok = sendAll(fd, request(R"({"probe":"answered, never counted"})")) &&
                  readReply(fd) == Reply::fixed;
  ::close(fd);
  return ok;
}

}  // namespace tallyloft::soak
