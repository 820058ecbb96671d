// skytrove-request: sends one request to the running agent and waits for its reply.
//
//   skytrove-request [--timeout S] [--code 3|4] [--wait-agent S] [--no-failure-reply]
//                    [--stall S] [--retries N] [--sha256 HEX] [--persist] [--if-changed]
//                    [--keep-server-time] [--max-rate N] [--fast] Key=Value...
//   skytrove-request [--timeout S] [--no-failure-reply] --raw "GET Type=HTTP ..."
//   skytrove-request [--timeout S] --cancel REF | --status REF
//   (--progress with a request: prints its PROGRESS messages while it runs)
//
// --stall, --retries and --sha256 add StallSeconds=, Retries= and Sha256= to the request
// (Key=Value form only; a raw text carries its own keys); --persist adds Persist=1 (the
// request outlives the agent: kept on disk until it ends); --if-changed adds IfChanged=1
// (fetched only when the server's file changed; otherwise the reply shows Unchanged = 1)
// and --keep-server-time KeepServerTime=1 (the destination gets the server's time);
// --max-rate N adds MaxBytesPerSecond=N (the transfer held to N bytes a second), and
// --fast Pace=Fast (started at once, none of the agent's own pauses).
//
// Exit status: 0 a "GOT" reply arrived (its fields are printed), 3 a "FAILED" reply
// arrived (its reason is printed), 1 no reply in time, 2 usage error or no agent window.
// --cancel and --status: 0 with their replies printed, 1 no reply in time.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "skytrove/client.h"
#include "support/ansi.h"
#include "support/debug_log.h"

namespace {

// A reply's texts come from servers and requesters: printed raw, a line break in a
// reason could forge a line of our own output ("GOT ..."), a control character could
// drive the terminal, and a URL would show its password. Printed the way the debug log
// writes them: passwords of URLs masked, CR and LF as <CR> and <LF>, and any other
// control character as <xx>.
std::string Shown(const char* text, size_t length) {
  const std::string logged = velmora::ToAnsi(velmora::LogText(velmora::FromAnsi(text, length)));
  std::string out;
  for (unsigned char c : logged) {
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
std::string Shown(const char* text) { return Shown(text, std::strlen(text)); }

int Usage() {
  std::fprintf(stderr,
               "usage: skytrove-request [--timeout S] [--code 3|4] [--wait-agent S] [--no-failure-reply]\n"
               "                        [--stall S] [--retries N] [--sha256 HEX] [--persist] [--if-changed]\n"
               "                        [--keep-server-time] [--max-rate N] [--fast] Key=Value...\n"
               "       skytrove-request [--timeout S] [--no-failure-reply] --raw \"GET Type=HTTP ...\"\n"
               "       skytrove-request [--timeout S] --cancel REF | --status REF\n"
               "       (--progress with a request prints its progress while it runs)\n"
               "example: skytrove-request Type=HTTP Reference=R1 SourceFileName=http://127.0.0.1:8080/a.txt "
               "DestinationFileName=C:\\a.txt\n");
  return 2;
}

void Print(const SkytroveReply& r) {
  std::printf("%s\n", Shown(r.text, r.length).c_str());
  auto line = [](const char* key, const char* value) { std::printf("  %s = %s\n", key, Shown(value).c_str()); };
  line("Type", r.type);
  line("Reference", r.reference);
  if (r.storyReference != 0) std::printf("  StoryReference = %d\n", r.storyReference);
  if (r.status == SKYTROVE_GOT) std::printf("  SourceFileSize = %lld\n", r.sourceFileSize);
  line("SourceFileName", r.sourceFileName);
  line("DestinationFileName", r.destinationFileName);
  if (r.status == SKYTROVE_FAILED) {
    line("Reason", r.reason);
    return;
  }
  line("SourceFileLastWriteTime", r.sourceFileLastWriteTime);
  if (r.linked) {
    std::printf("  LinkedSourceFileSize = %lld\n", r.linkedSourceFileSize);
    line("LinkedSourceFileName", r.linkedSourceFileName);
    line("LinkedDestinationFileName", r.linkedDestinationFileName);
    line("LinkedSourceFileLastWriteTime", r.linkedSourceFileLastWriteTime);
  }
  if (r.unchanged) std::printf("  Unchanged = 1\n");
  if (r.linkedUnchanged) std::printf("  LinkedUnchanged = 1\n");
}

DWORD Milliseconds(double seconds) { return seconds <= 0 ? 0 : static_cast<DWORD>(seconds * 1000); }

void SKYTROVE_CALL PrintProgress(void*, const SkytroveReply* r) {
  std::printf("%s\n", Shown(r->text, r->length).c_str());
  std::fflush(stdout);
}

// Owns the client for the whole run.
struct Client {
  SkytroveClient* c = SkytroveOpen();
  ~Client() { SkytroveClose(c); }
};

}  // namespace

int main(int argc, char** argv) {
  double timeout = 60;
  double waitAgent = 0;
  unsigned long code = 4;
  bool failureReply = true;
  std::string raw, cancel, asked;
  bool progress = false;
  std::vector<std::string> keys, values;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--timeout" && i + 1 < argc) {
      timeout = std::atof(argv[++i]);
    } else if (a == "--wait-agent" && i + 1 < argc) {
      waitAgent = std::atof(argv[++i]);
    } else if (a == "--code" && i + 1 < argc) {
      code = std::strtoul(argv[++i], nullptr, 10);
    } else if (a == "--raw" && i + 1 < argc) {
      raw = argv[++i];
    } else if ((a == "--stall" || a == "--retries" || a == "--sha256" || a == "--max-rate") && i + 1 < argc) {
      keys.push_back(a == "--stall"     ? "StallSeconds"
                     : a == "--retries" ? "Retries"
                     : a == "--sha256"  ? "Sha256"
                                        : "MaxBytesPerSecond");
      values.push_back(argv[++i]);
    } else if (a == "--cancel" && i + 1 < argc) {
      cancel = argv[++i];
    } else if (a == "--status" && i + 1 < argc) {
      asked = argv[++i];
    } else if (a == "--progress") {
      progress = true;
    } else if (a == "--persist" || a == "--if-changed" || a == "--keep-server-time") {
      keys.push_back(a == "--persist" ? "Persist" : a == "--if-changed" ? "IfChanged" : "KeepServerTime");
      values.push_back("1");
    } else if (a == "--fast") {
      keys.push_back("Pace");
      values.push_back("Fast");
    } else if (a == "--no-failure-reply") {
      failureReply = false;
    } else if (a.rfind("--", 0) == 0 || a.find('=') == std::string::npos) {
      return Usage();
    } else {
      keys.push_back(a.substr(0, a.find('=')));
      values.push_back(a.substr(a.find('=') + 1));
    }
  }
  const bool control = !cancel.empty() || !asked.empty();
  if (control ? (!raw.empty() || !keys.empty() || progress || (!cancel.empty() && !asked.empty()))
              : raw.empty() == keys.empty())
    return Usage();
  if (progress && raw.empty()) {
    keys.push_back("Progress");
    values.push_back("1");
  }

  Client client;
  if (client.c == nullptr) {
    std::fprintf(stderr, "skytrove-request: cannot create a window to receive the reply\n");
    return 2;
  }
  const HWND agent = SkytroveFindAgent(Milliseconds(waitAgent));
  if (agent == nullptr) {
    std::fprintf(stderr, "skytrove-request: the agent is not running (no window \"Velmora Skytrove v4\")\n");
    return 2;
  }

  if (control) {
    SkytroveStatus got;
    if (!cancel.empty()) {
      long long count = 0;
      got = SkytroveCancel(client.c, agent, cancel.c_str(), Milliseconds(timeout), &count);
      if (got == SKYTROVE_CANCELLED) std::printf("CANCELLED Reference=%s Count=%lld\n", Shown(cancel.c_str()).c_str(), count);
    } else {
      SkytroveReply* replies[1000] = {};
      size_t count = 0;
      got = SkytroveQueryStatus(client.c, agent, asked.c_str(), Milliseconds(timeout), replies, 1000, &count);
      for (size_t i = 0; i < count; ++i) {
        std::printf("%s\n", Shown(replies[i]->text, replies[i]->length).c_str());
        SkytroveFreeReply(replies[i]);
      }
    }
    if (got == SKYTROVE_BAD_REQUEST || got == SKYTROVE_LOWER_INTEGRITY) {
      std::fprintf(stderr, "skytrove-request: %s\n", SkytroveProblem(client.c));
      return 2;
    }
    if (got == SKYTROVE_NO_AGENT) {
      std::fprintf(stderr, "skytrove-request: the agent did not take the message\n");
      return 2;
    }
    if (got == SKYTROVE_TIMEOUT) {
      std::fprintf(stderr, "skytrove-request: no reply within %.0f s (an agent before 4.0.0.18 does not answer)\n",
                   timeout);
      return 1;
    }
    return 0;
  }
  if (progress) SkytroveSetProgressCallback(client.c, &PrintProgress, nullptr);

  SkytroveStatus sent;
  if (!raw.empty()) {
    // A raw text goes as written; it asks for failure replies unless it says otherwise.
    const std::string padded = " " + raw;
    bool asks = false;
    for (size_t at = padded.find(' '); at != std::string::npos && !asks; at = padded.find(' ', at + 1))
      asks = _strnicmp(padded.c_str() + at + 1, "ReplyOnFailure=", 15) == 0;
    if (failureReply && !asks) raw += " ReplyOnFailure=1";
    sent = SkytroveSendText(client.c, agent, raw.data(), raw.size(), code);
  } else {
    std::vector<SkytroveField> fields;
    for (size_t i = 0; i < keys.size(); ++i) fields.push_back({keys[i].c_str(), values[i].c_str()});
    if (code == 4) {
      sent = SkytroveSend(client.c, agent, fields.data(), fields.size(), failureReply ? 1 : 0);
    } else {
      std::string text(SkytroveCompose(client.c, fields.data(), fields.size(), failureReply ? 1 : 0, nullptr, 0), '\0');
      if (text.empty()) {
        sent = SKYTROVE_BAD_REQUEST;
      } else {
        SkytroveCompose(client.c, fields.data(), fields.size(), failureReply ? 1 : 0, text.data(), text.size() + 1);
        sent = SkytroveSendText(client.c, agent, text.data(), text.size(), code);
      }
    }
  }
  if (sent == SKYTROVE_BAD_REQUEST || sent == SKYTROVE_LOWER_INTEGRITY) {
    std::fprintf(stderr, "skytrove-request: %s\n", SkytroveProblem(client.c));
    return 2;
  }
  if (sent != SKYTROVE_SENT) {
    std::fprintf(stderr, "skytrove-request: the agent did not take the request\n");
    return 2;
  }
  std::fprintf(stderr, "sent%s\n", failureReply ? " (failures are answered)" : "");

  SkytroveReply* reply = nullptr;
  const SkytroveStatus status = SkytroveWait(client.c, Milliseconds(timeout), &reply);
  if (status == SKYTROVE_TIMEOUT) {
    std::fprintf(stderr, "skytrove-request: no reply within %.0f s (%s)\n", timeout,
                 failureReply ? "the agent may still be busy, or the reply could not be delivered"
                              : "the request failed or was refused, or is still waiting");
    return 1;
  }
  if (status == SKYTROVE_FAILED) std::printf("FAILED: %s\n", Shown(reply->reason).c_str());
  Print(*reply);
  SkytroveFreeReply(reply);
  return status == SKYTROVE_GOT ? 0 : status == SKYTROVE_FAILED ? 3 : 1;
}
