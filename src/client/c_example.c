/* A C program on the client library, built with exactly the link line the header gives:
 * the header stays C, and one archive is all a program needs. It prints the library's
 * version and how it composes a request that carries a field inside another; it fails
 * when the library and the header disagree on the version or the request is not refused. */
#include <stdio.h>
#include <string.h>

#include "skytrove/client.h"

int main(void) {
  SkytroveClient* client = SkytroveOpen();
  if (client == NULL) return 1;
  const SkytroveField fields[] = {{"Type", "HTTP"}, {"Reference", "R1 Password=x"}};
  char text[256];
  const int refused = SkytroveCompose(client, fields, 2, 1, text, sizeof text) == 0;
  printf("%s: %s\n", SkytroveVersion(), refused ? SkytroveProblem(client) : text);
  SkytroveClose(client);
  return refused && strcmp(SkytroveVersion(), SKYTROVE_CLIENT_VERSION) == 0 ? 0 : 1;
}
