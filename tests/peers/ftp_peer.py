#!/usr/bin/python3
"""An FTP server for the tests (pyftpdlib). Users and folders come from the arguments:

  ftp_peer.py --host 127.0.0.1 --port 21 --root DIR [--user NAME:PASSWORD]... [--anonymous]
              [--single-login] [--cut-after N] [--stall-after N] [--silent [--hold S]] [--rate B]

--single-login refuses a second simultaneous login of the same user (some servers do).
--cut-after N  closes the data connection of every download after N bytes and answers
               426, as a server does that loses its disk or its patience mid-file.
--stall-after N  sends N bytes of every download, then nothing more with the data
               connection left open (a server that stalls mid-file).
--silent       accepts connections and never says a word (a hung server); no FTP at all.
--hold S       with --silent: closes each connection after S seconds instead of never.
--rate B       sends and receives file data at B bytes per second (a slow line).
--long-rest-reply  accepts REST in proftpd's words, "350 Restarting at N. Send STORE or
               RETRIEVE to initiate transfer." (longer than 64 characters).
--log FILE     empties FILE, then appends every command the clients send (the folder it was sent in, the
               command; never a password) to FILE, for tests that count what was asked.
A file whose name ends in ".answer" is never sent: RETR is answered with its first line,
as a server's own words (so a test can put any reply text in the agent's way). MDTM of a
file whose name ends in ".nomdtm" is refused, as by a server without the command. A file
whose name ends in ".timed" is sent without sendfile, and when its data connection closes
ROOT/timed.log gets "NAME t:bytes t:bytes ..." (seconds since the first send, bytes taken by
then): the pace its reader took it at, seen at the server, through a 64 KB send buffer."""
import argparse, os, socket, threading, time
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

def serve_silently(host, port, hold):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((host, port))
    listener.listen(64)
    held = []
    while True:
        connection, _ = listener.accept()
        held.append(connection)  # kept open, never answered
        if hold > 0:
            threading.Timer(hold, connection.close).start()

def main():
    p = argparse.ArgumentParser()
    p.add_argument('--host', default='127.0.0.1')
    p.add_argument('--port', type=int, default=21)
    p.add_argument('--root', required=True)
    p.add_argument('--user', action='append', default=[])
    p.add_argument('--anonymous', action='store_true')
    p.add_argument('--single-login', action='store_true')
    p.add_argument('--cut-after', type=int, default=0)
    p.add_argument('--stall-after', type=int, default=0)
    p.add_argument('--silent', action='store_true')
    p.add_argument('--hold', type=float, default=0)
    p.add_argument('--rate', type=int, default=0)
    p.add_argument('--long-rest-reply', action='store_true')
    p.add_argument('--log', default='')
    a = p.parse_args()
    if a.silent:
        serve_silently(a.host, a.port, a.hold)
        return
    os.makedirs(a.root, exist_ok=True)
    auth = DummyAuthorizer()
    for u in a.user:
        name, password = u.split(':', 1)
        auth.add_user(name, password, a.root, perm='elradfmwMT')
    if a.anonymous:
        auth.add_anonymous(a.root, perm='elradfmwMT')

    log_lock = threading.Lock()
    if a.log:
        open(a.log, 'w').close()  # this run's commands only

    class Handler(FTPHandler):
        authorizer = auth

        def pre_process_command(self, line, cmd, arg):
            if a.log:
                shown = '***' if cmd == 'PASS' else arg
                folder = self.fs.cwd if self.fs is not None else '-'
                with log_lock, open(a.log, 'a') as f:
                    f.write('%s %s %s\n' % (folder, cmd, shown))
            return FTPHandler.pre_process_command(self, line, cmd, arg)

        def ftp_REST(self, line):
            if not a.long_rest_reply or self._current_type == 'a' or not line.isdigit():
                return FTPHandler.ftp_REST(self, line)
            self._restart_position = int(line)
            self.respond('350 Restarting at %d. Send STORE or RETRIEVE to initiate transfer.' % int(line))

        def ftp_MDTM(self, path):
            if path.endswith('.nomdtm'):
                self.respond('502 Command not implemented.')
                return
            return FTPHandler.ftp_MDTM(self, path)

        def ftp_RETR(self, file):
            if file.endswith('.answer') and os.path.isfile(file):
                with open(file, encoding='latin-1') as answer:
                    self.respond(answer.readline().rstrip('\r\n'))
                return
            return FTPHandler.ftp_RETR(self, file)

    Handler.permit_foreign_addresses = True
    if a.cut_after > 0:
        limit = a.cut_after

        class CuttingDTP(DTPHandler):
            def send(self, data):
                if not self.receive:
                    data = data[:max(0, limit - self.tot_bytes_sent)]
                sent = DTPHandler.send(self, data) if data else 0
                if not self.receive and self.tot_bytes_sent >= limit:
                    self._resp = ("426 Connection closed; transfer aborted.", lambda *x: None)
                    self.close()
                return sent

        Handler.dtp_handler = CuttingDTP
        Handler.use_sendfile = False
    if a.stall_after > 0:
        stall = a.stall_after

        class StallingDTP(DTPHandler):
            def send(self, data):
                if not self.receive:
                    data = data[:max(0, stall - self.tot_bytes_sent)]
                return DTPHandler.send(self, data) if data else 0

            def initiate_send(self):
                if not self.receive and self.tot_bytes_sent >= stall:
                    # Nothing more, and no end: the connection stays open, and the
                    # loop stops asking to write (which would spin).
                    if self._wanted_io_events != self.ioloop.READ:
                        self.ioloop.modify(self._fileno, self.ioloop.READ)
                        self._wanted_io_events = self.ioloop.READ
                    return
                DTPHandler.initiate_send(self)

        Handler.dtp_handler = StallingDTP
        Handler.use_sendfile = False
    if a.rate > 0:
        from pyftpdlib.handlers import ThrottledDTPHandler

        class SlowDTP(ThrottledDTPHandler):
            read_limit = a.rate
            write_limit = a.rate

        Handler.dtp_handler = SlowDTP
        Handler.use_sendfile = False
    if Handler.dtp_handler is DTPHandler:
        class TimedDTP(DTPHandler):
            """Notes, for a file whose name ends in ".timed", when each send was taken."""

            def send(self, data):
                f = getattr(self, 'file_obj', None)
                timed = f is not None and not self.receive and f.name.endswith('.timed')
                if timed and getattr(self, 'marks', None) is None:
                    self.started, self.marks = time.time(), []
                    # as the web peer's timed answers, and for the same reason
                    self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 65536)
                sent = DTPHandler.send(self, data)
                if timed:
                    self.marks.append('%.3f:%d' % (time.time() - self.started, self.tot_bytes_sent))
                return sent

            def close(self):
                if getattr(self, 'marks', None):
                    with open(os.path.join(a.root, 'timed.log'), 'a') as log:
                        log.write('%s %s\n' % (os.path.basename(self.file_obj.name), ' '.join(self.marks)))
                    self.marks = []
                DTPHandler.close(self)

        Handler.dtp_handler = TimedDTP
        retr = Handler.ftp_RETR

        def ftp_RETR(self, file):
            # Sent through send() only, where the times can be noted.
            self.use_sendfile = Handler.use_sendfile and not file.endswith('.timed')
            return retr(self, file)

        Handler.ftp_RETR = ftp_RETR
    server = FTPServer((a.host, a.port), Handler)
    if a.single_login:
        # every login of the tests comes from this machine: one control connection at a time
        server.max_cons_per_ip = 1
    server.serve_forever()

if __name__ == '__main__':
    main()
