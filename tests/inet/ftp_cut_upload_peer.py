#!/usr/bin/python3
"""An FTP server (pyftpdlib) that fails uploads. Into a folder named "reply-NNN" an upload
is taken whole, kept, and answered with the reply code NNN, as a server does that cannot
commit the file (451, 552). Everywhere else the data connection is closed after
--cut-after bytes have arrived and the transfer is answered with 426, as a server does
whose disk fills up mid-file.

A folder whose name holds one of these words refuses, with 550, as servers may:
  nodele       every DELE
  nooverwrite  a rename onto an existing file
  noplace      a rename onto a name without ".old" (putting an upload in place), unless
               its source has ".old" (putting a backup back)
  norestore    a rename from a name with ".old"

  ftp_cut_upload_peer.py --host 127.0.0.26 --port 21 --root DIR --cut-after 65536
User velmora, password secret."""
import argparse, os, re, socket, struct
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

def main():
    p = argparse.ArgumentParser()
    p.add_argument('--host', default='127.0.0.1')
    p.add_argument('--port', type=int, default=21)
    p.add_argument('--root', required=True)
    p.add_argument('--cut-after', type=int, default=65536)
    a = p.parse_args()
    os.makedirs(a.root, exist_ok=True)
    auth = DummyAuthorizer()
    auth.add_user('velmora', 'secret', a.root, perm='elradfmwMT')
    limit = a.cut_after

    def refusal(dtp):
        name = dtp.file_obj.name if dtp.file_obj is not None else ''
        found = re.search(r'[/\\]reply-(\d{3})[/\\][^/\\]*$', name)
        return found.group(1) if found else None

    class CuttingDTP(DTPHandler):
        def handle_close(self):
            code = refusal(self) if self.receive else None
            if code is None or self._closed:
                return DTPHandler.handle_close(self)
            self.transfer_finished = True
            self._resp = ("%s Requested action aborted after the data." % code, lambda *x: None)
            self.close()

        def handle_read(self):
            DTPHandler.handle_read(self)
            if (self.receive and refusal(self) is None and self.tot_bytes_received >= limit
                    and not self._closed):
                self._resp = ("426 Connection closed; transfer aborted.", lambda *x: None)
                # A reset, not a polite close: the client's next write fails at once.
                self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
                self.close()

        handle_read_event = handle_read  # the base class binds its own at definition

    def refuses(path, word):
        return word in os.path.basename(os.path.dirname(path))

    class Handler(FTPHandler):
        authorizer = auth
        dtp_handler = CuttingDTP

        def ftp_DELE(self, path):
            if refuses(path, 'nodele'):
                return self.respond("550 Deleting is not allowed here.")
            return FTPHandler.ftp_DELE(self, path)

        def ftp_RNTO(self, path):
            source = os.path.basename(self._rnfr or '')
            target = os.path.basename(path)
            if ((refuses(path, 'nooverwrite') and os.path.isfile(path))
                    or (refuses(path, 'noplace') and '.old' not in target and '.old' not in source)
                    or (refuses(path, 'norestore') and '.old' in source)):
                self._rnfr = None
                return self.respond("550 Renaming is not allowed here.")
            return FTPHandler.ftp_RNTO(self, path)

    Handler.permit_foreign_addresses = True
    FTPServer((a.host, a.port), Handler).serve_forever()

if __name__ == '__main__':
    main()
