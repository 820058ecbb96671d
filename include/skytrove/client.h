/* Talking to the Velmora Skytrove v4 download agent from C or C++ (Win32).
 *
 * A client owns a message-only window on the thread that opened it; replies arrive there
 * as WM_COPYDATA while that thread runs messages (inside SkytroveWait and
 * SkytroveRequest, or in the program's own message loop). All text is in the ANSI code
 * page, as on the wire. See docs/protocol.md.
 *
 *   SkytroveClient* c = SkytroveOpen();
 *   HWND agent = SkytroveFindAgent(5000);
 *   SkytroveField f[] = {{"Type", "HTTP"}, {"Reference", "R1"},
 *                        {"SourceFileName", "http://host/a.bin"},
 *                        {"DestinationFileName", "C:\\My Files\\a.bin"}};
 *   SkytroveReply* r = NULL;
 *   if (SkytroveRequest(c, agent, f, 4, 1, 60000, &r) == SKYTROVE_FAILED) puts(r->reason);
 *   SkytroveFreeReply(r);
 *   SkytroveClose(c);
 *
 * Linking: the library is the one archive libskytrove_client.a (skytrove_client.lib with
 * MSVC); it is written in C++, so a C program links it with the C++ run-time and the two
 * system libraries it calls:
 *   x86_64-w64-mingw32-gcc app.c -Iinclude libskytrove_client.a -static -lstdc++ -luser32 -ladvapi32
 *   cl app.c /Iinclude skytrove_client.lib user32.lib advapi32.lib
 * (CMake: target_link_libraries(app PRIVATE skytrove_client)).
 *
 * Threads: a client belongs to the thread that opened it. Every call with a client, its
 * close included, must come from that thread; SkytroveWindow alone may be called from
 * anywhere. This is checked in every build: a call from another thread changes nothing
 * and returns SKYTROVE_WRONG_THREAD (SkytroveCompose 0, SkytroveProblem a fixed text,
 * SkytroveClose leaves the client open). Use one client per thread.
 *
 * Calling convention: every function and the callback use the C convention (__cdecl),
 * whatever the compiler's default.
 *
 * Which window is trusted: before anything is sent, the library checks that the window's
 * process runs at an integrity level not below the caller's, so that a program of lower
 * integrity (a sandboxed one, say) cannot pose as the agent and be handed passwords. It
 * does not check which executable owns the window, whether it is signed, or which user
 * runs it: any program at the caller's level or above, which could read the caller's
 * memory anyway, can still pose as the agent. A requester running elevated therefore
 * refuses an agent that does not.
 *
 * Which replies are taken: only those whose wParam is a window this client sent to, or a
 * window with the agent's class and title that passes the same integrity check (the agent
 * after a restart, answering a request it kept on disk). Everything else is dropped
 * unread. This keeps out messages that other programs send to any window, and stray
 * replies; it does not prove who sent a reply: wParam is what the sender says it is, and
 * any program that can send this window a message can name the agent's window in it.
 */
#ifndef SKYTROVE_CLIENT_H
#define SKYTROVE_CLIENT_H

#include <stddef.h>
#include <windows.h>

#define SKYTROVE_CLIENT_VERSION_MAJOR 4
#define SKYTROVE_CLIENT_VERSION_MINOR 0
#define SKYTROVE_CLIENT_VERSION_PATCH 0
#define SKYTROVE_CLIENT_VERSION_BUILD 18
/* The header's version as text, "4.0.0.18"; SkytroveVersion() gives the library's. */
#define SKYTROVE_CLIENT_VERSION "4.0.0.18"

#define SKYTROVE_CALL __cdecl

#ifdef __cplusplus
extern "C" {
#endif

typedef enum SkytroveStatus {
  SKYTROVE_GOT = 0,             /* a "GOT" reply arrived */
  SKYTROVE_FAILED = 1,          /* a "FAILED" reply arrived; its reason says why */
  SKYTROVE_TIMEOUT = 2,         /* nothing arrived in time */
  SKYTROVE_NO_AGENT = 3,        /* no agent window, or it did not take the message */
  SKYTROVE_BAD_REQUEST = 4,     /* a key or value the protocol cannot carry: SkytroveProblem */
  SKYTROVE_SENT = 5,            /* the agent took the request */
  SKYTROVE_OTHER = 6,           /* a message that is neither "GOT" nor "FAILED" */
  SKYTROVE_WRONG_THREAD = 7,    /* called from another thread than the client's: nothing done */
  SKYTROVE_CALLBACK_SET = 8,    /* SkytroveWait or SkytroveRequest while a callback is set */
  SKYTROVE_LOWER_INTEGRITY = 9, /* the window's process runs below the caller's integrity
                                   level, or its level cannot be read: nothing was sent */
  SKYTROVE_CANCELLED = 10,      /* a "CANCELLED" reply: count says how many were cancelled */
  SKYTROVE_STATE = 11,          /* a "STATUS" reply: state, position, bytesDone, bytesTotal */
  SKYTROVE_PROGRESS = 12,       /* a "PROGRESS" message: bytesDone, bytesTotal */
  SKYTROVE_CLOSED = 13          /* the client was closed while this call ran (from a window
                                   procedure or a callback its wait ran): nothing returned */
} SkytroveStatus;

typedef struct SkytroveField {
  const char* key;
  const char* value;
} SkytroveField;

/* A reply as received. The texts are never NULL ("" when absent). Everything it points
 * to lives as long as the reply: until SkytroveFreeReply, or in a callback until the
 * callback returns. */
typedef struct SkytroveReply {
  SkytroveStatus status; /* SKYTROVE_GOT, SKYTROVE_FAILED or SKYTROVE_OTHER */
  const char* type;
  const char* reference;
  int storyReference;    /* 0 when absent */
  long long sourceFileSize;
  const char* sourceFileName;
  const char* destinationFileName;
  const char* sourceFileLastWriteTime; /* "high$low" of a FILETIME, FTP only */
  int linked;            /* the linked file was fetched: the linked fields are set */
  long long linkedSourceFileSize;
  const char* linkedSourceFileName;
  const char* linkedDestinationFileName;
  const char* linkedSourceFileLastWriteTime;
  const char* reason;    /* "FAILED" only */
  const char* text;      /* the bytes as received, NUL-terminated; may hold NULs itself */
  size_t length;         /* how many bytes were received */
  ULONG_PTR code;        /* the message's data code (4 from the agent) */
  HWND sender;           /* the message's wParam: the agent's window */
  /* Requester control (STATUS, PROGRESS, CANCELLED; zero or "" in the others). A reason
   * for a failed request in STATUS is in `reason`. */
  const char* state;     /* queued, waiting, running, done, failed, cancelled, unknown */
  long long position;    /* 0 running, 1.. queued, -1 finished or unknown */
  long long bytesDone;
  long long bytesTotal;  /* -1 when not known */
  long long count;       /* CANCELLED */
  /* Asked for with {"IfChanged", "1"} (below). Last so that a program built against an
   * older header, which never reads them, sees the struct it knew. */
  int unchanged;         /* GOT or a done STATUS: the main file was not transferred, the
                            destination was kept as it was */
  int linkedUnchanged;   /* GOT (FTP): the linked file was not transferred */
} SkytroveReply;

typedef struct SkytroveClient SkytroveClient;

/* Called on the client's thread for every reply while a callback is set. The reply is
 * valid only during the call. Sending a request from inside it is allowed. */
typedef void(SKYTROVE_CALL* SkytroveCallback)(void* context, const SkytroveReply* reply);

/* The library's own version, "4.0.0.18": compare it with SKYTROVE_CLIENT_VERSION. The
 * text is static. */
const char* SKYTROVE_CALL SkytroveVersion(void);

/* NULL when the window cannot be made. */
SkytroveClient* SKYTROVE_CALL SkytroveOpen(void);
/* Frees the client. Called while a call with the client runs (from a window procedure or
 * a callback that its wait or send runs), the close is carried out when the outermost such
 * call returns: that call, and any made with the client meanwhile, return SKYTROVE_CLOSED
 * at once, and the client must not be used after it. Replies not yet taken are dropped. */
void SKYTROVE_CALL SkytroveClose(SkytroveClient* client);
HWND SKYTROVE_CALL SkytroveWindow(const SkytroveClient* client);

/* The agent's window; waits up to waitMs for it to appear, running the thread's
 * messages. Of several windows with the agent's class and title, one whose process passes
 * the integrity check comes first. NULL when there is none. */
HWND SKYTROVE_CALL SkytroveFindAgent(DWORD waitMs);

/* Sends "GET" with the fields in order; replyOnFailure adds ReplyOnFailure=1. The send
 * itself waits at most 30 s for the agent to take the message. Returns SKYTROVE_SENT,
 * SKYTROVE_BAD_REQUEST, SKYTROVE_NO_AGENT, SKYTROVE_LOWER_INTEGRITY or
 * SKYTROVE_WRONG_THREAD. */
SkytroveStatus SKYTROVE_CALL SkytroveSend(SkytroveClient* client, HWND agent, const SkytroveField* fields,
                                          size_t count, int replyOnFailure);
/* Sends bytes as they are, with any data code (3: text up to the first NUL; 4: all). */
SkytroveStatus SKYTROVE_CALL SkytroveSendText(SkytroveClient* client, HWND agent, const void* bytes, size_t length,
                                              ULONG_PTR code);
/* The request text SkytroveSend would send, NUL-terminated, into out (size bytes).
 * Returns its length without the NUL; when that is size or more nothing was written
 * (ask with size 0 for the length). 0: the request cannot be carried (SkytroveProblem).
 * The text is read back the way the agent reads it, for every key given and every key
 * the agent knows, whether given or not: a value that would be read as another field
 * (a Reference of "R1 Password=x") is refused, naming the field. */
size_t SKYTROVE_CALL SkytroveCompose(SkytroveClient* client, const SkytroveField* fields, size_t count,
                                     int replyOnFailure, char* out, size_t size);
/* Why the last SKYTROVE_BAD_REQUEST or SKYTROVE_LOWER_INTEGRITY ("" otherwise). The text
 * belongs to the client: valid until the next call with it (other than SkytroveProblem
 * and SkytroveWindow) or its close. */
const char* SKYTROVE_CALL SkytroveProblem(const SkytroveClient* client);

/* The next reply not yet taken, waiting up to timeoutMs. Free it with SkytroveFreeReply.
 * Replies stay queued until taken. SKYTROVE_CALLBACK_SET at once while a callback is set. */
SkytroveStatus SKYTROVE_CALL SkytroveWait(SkytroveClient* client, DWORD timeoutMs, SkytroveReply** reply);
/* Sends one request and waits for the reply that answers it: a reply that arrived after
 * this send, with the same Reference, SourceFileName and DestinationFileName. Other
 * replies stay for SkytroveWait. When the time runs out (SKYTROVE_TIMEOUT) the request is
 * given up: its reply, should it come later, is dropped instead of queued, unless a
 * SkytroveRequest for the same three fields is waiting then (the agent refuses a second
 * identical request while the first one runs, so that reply answers both) or the same
 * request was sent again with SkytroveSend.
 * Returns SKYTROVE_GOT or SKYTROVE_FAILED (*reply set), SKYTROVE_TIMEOUT, and without
 * sending anything SKYTROVE_BAD_REQUEST, SKYTROVE_NO_AGENT (no window, or the agent did
 * not take the message), SKYTROVE_LOWER_INTEGRITY, SKYTROVE_WRONG_THREAD, or
 * SKYTROVE_CALLBACK_SET (with a callback set every reply goes to the callback, so this
 * call could only ever time out: it is refused at once). */
SkytroveStatus SKYTROVE_CALL SkytroveRequest(SkytroveClient* client, HWND agent, const SkytroveField* fields,
                                             size_t count, int replyOnFailure, DWORD timeoutMs,
                                             SkytroveReply** reply);
void SKYTROVE_CALL SkytroveFreeReply(SkytroveReply* reply);

/* From now on every reply goes to the callback instead of the queue, so SkytroveWait and
 * SkytroveRequest are refused (NULL: back to the queue). */
void SKYTROVE_CALL SkytroveSetCallback(SkytroveClient* client, SkytroveCallback callback, void* context);

/* Requester control (see docs/protocol.md; an agent older than 4.0.0.18 ignores these and
 * the calls time out). A request's priority and its progress messages are asked for with
 * the fields {"Priority", "High"|"Normal"|"Low"} and {"Progress", "1"} of the request;
 * {"Persist", "1"} keeps it on disk until it ends, so that it outlives the agent (a kill,
 * a sign-out): after the agent's restart its reply reaches this client only while this
 * process lives. {"IfChanged", "1"} fetches only when the server's file changed since a
 * request of that kind last wrote the destination (otherwise the reply says `unchanged`
 * and the destination stays as it is), and {"KeepServerTime", "1"} gives the destination
 * the server's last-write time; an older agent ignores them and always fetches.
 * {"MaxBytesPerSecond", "N"} holds the transfer to N bytes a second (1024 to 2147483647;
 * the machine's own limit may be lower and then holds), and {"Pace", "Fast"} skips the
 * agent's own pauses (its start tick, the pause after the open, the one after each piece);
 * {"Pace", "Normal"} keeps them where the machine's default is Fast.
 *
 * Cancels every queued or running request of this client with that reference and waits
 * for the agent's "CANCELLED"; *count (may be NULL) gets how many. Returns
 * SKYTROVE_CANCELLED, SKYTROVE_TIMEOUT, or as SkytroveRequest does without sending.
 * A cancelled request that asked for failure replies also gets its "FAILED" (its reason
 * contains "cancelled"), left for SkytroveWait. */
SkytroveStatus SKYTROVE_CALL SkytroveCancel(SkytroveClient* client, HWND agent, const char* reference,
                                            DWORD timeoutMs, long long* count);
/* Asks for the state of this client's requests with that reference: one "STATUS" reply
 * per request (queued, running or finished in the last ten minutes), or one with state
 * "unknown". Up to `max` replies go to replies[] (each freed with SkytroveFreeReply),
 * *count how many; the agent sends them together, so the call takes those that follow
 * the first within 200 ms. Returns SKYTROVE_STATE, SKYTROVE_TIMEOUT, or as
 * SkytroveRequest does without sending. */
SkytroveStatus SKYTROVE_CALL SkytroveQueryStatus(SkytroveClient* client, HWND agent, const char* reference,
                                                 DWORD timeoutMs, SkytroveReply** replies, size_t max,
                                                 size_t* count);
/* From now on "PROGRESS" messages go to this callback (NULL: to the queue or the general
 * callback again), also while SkytroveRequest waits. */
void SKYTROVE_CALL SkytroveSetProgressCallback(SkytroveClient* client, SkytroveCallback callback, void* context);

#ifdef __cplusplus
}
#endif

#endif /* SKYTROVE_CLIENT_H */
