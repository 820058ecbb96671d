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
 */
#ifndef SKYTROVE_CLIENT_H
#define SKYTROVE_CLIENT_H

#include <stddef.h>
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum SkytroveStatus {
  SKYTROVE_GOT = 0,         /* a "GOT" reply arrived */
  SKYTROVE_FAILED = 1,      /* a "FAILED" reply arrived; its reason says why */
  SKYTROVE_TIMEOUT = 2,     /* nothing arrived in time */
  SKYTROVE_NO_AGENT = 3,    /* no agent window, or it did not take the message */
  SKYTROVE_BAD_REQUEST = 4, /* a key or value the protocol cannot carry: SkytroveProblem */
  SKYTROVE_SENT = 5,        /* the agent took the request */
  SKYTROVE_OTHER = 6        /* a message that is neither "GOT" nor "FAILED" */
} SkytroveStatus;

typedef struct SkytroveField {
  const char* key;
  const char* value;
} SkytroveField;

/* A reply as received. The texts are never NULL ("" when absent). */
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
} SkytroveReply;

typedef struct SkytroveClient SkytroveClient;

/* Called on the client's thread for every reply while a callback is set; the reply is
 * valid only during the call. Sending a request from inside it is allowed. */
typedef void (*SkytroveCallback)(void* context, const SkytroveReply* reply);

/* NULL when the window cannot be made. Close on the same thread. */
SkytroveClient* SkytroveOpen(void);
void SkytroveClose(SkytroveClient* client);
HWND SkytroveWindow(const SkytroveClient* client);

/* The agent's window; waits up to waitMs for it to appear, running the thread's
 * messages. NULL when there is none. */
HWND SkytroveFindAgent(DWORD waitMs);

/* Sends "GET" with the fields in order; replyOnFailure adds ReplyOnFailure=1. The send
 * itself waits at most 30 s for the agent to take the message. */
SkytroveStatus SkytroveSend(SkytroveClient* client, HWND agent, const SkytroveField* fields, size_t count,
                            int replyOnFailure);
/* Sends bytes as they are, with any data code (3: text up to the first NUL; 4: all). */
SkytroveStatus SkytroveSendText(SkytroveClient* client, HWND agent, const void* bytes, size_t length,
                                ULONG_PTR code);
/* The request text SkytroveSend would send, NUL-terminated, into out (size bytes).
 * Returns its length without the NUL; when that is size or more nothing was written
 * (ask with size 0 for the length). 0: a key or value cannot be carried. */
size_t SkytroveCompose(SkytroveClient* client, const SkytroveField* fields, size_t count, int replyOnFailure,
                       char* out, size_t size);
/* Why the last SKYTROVE_BAD_REQUEST (empty otherwise). */
const char* SkytroveProblem(const SkytroveClient* client);

/* The next reply not yet taken, waiting up to timeoutMs. Free it with SkytroveFreeReply. */
SkytroveStatus SkytroveWait(SkytroveClient* client, DWORD timeoutMs, SkytroveReply** reply);
/* Sends one request and waits for the reply that answers it (same SourceFileName and
 * DestinationFileName); other replies stay for SkytroveWait. */
SkytroveStatus SkytroveRequest(SkytroveClient* client, HWND agent, const SkytroveField* fields, size_t count,
                               int replyOnFailure, DWORD timeoutMs, SkytroveReply** reply);
void SkytroveFreeReply(SkytroveReply* reply);

/* From now on every reply goes to the callback instead of the queue, so SkytroveWait
 * and SkytroveRequest see none (NULL: back to the queue). */
void SkytroveSetCallback(SkytroveClient* client, SkytroveCallback callback, void* context);

#ifdef __cplusplus
}
#endif

#endif /* SKYTROVE_CLIENT_H */
