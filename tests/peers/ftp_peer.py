#!/usr/bin/python3
"""An FTP server for the tests (pyftpdlib). Users and folders come from the arguments:

  ftp_peer.py --host 127.0.0.1 --port 21 --root DIR [--user NAME:PASSWORD]... [--anonymous]
              [--single-login]

--single-login refuses a second simultaneous login of the same user (some servers do)."""
import argparse, os
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

def main():
    p = argparse.ArgumentParser()
    p.add_argument('--host', default='127.0.0.1')
    p.add_argument('--port', type=int, default=21)
    p.add_argument('--root', required=True)
    p.add_argument('--user', action='append', default=[])
    p.add_argument('--anonymous', action='store_true')
    p.add_argument('--single-login', action='store_true')
    a = p.parse_args()
    os.makedirs(a.root, exist_ok=True)
    auth = DummyAuthorizer()
    for u in a.user:
        name, password = u.split(':', 1)
        auth.add_user(name, password, a.root, perm='elradfmwMT')
    if a.anonymous:
        auth.add_anonymous(a.root, perm='elradfmwMT')

    class Handler(FTPHandler):
        authorizer = auth

    Handler.permit_foreign_addresses = True
    server = FTPServer((a.host, a.port), Handler)
    if a.single_login:
        # every login of the tests comes from this machine: one control connection at a time
        server.max_cons_per_ip = 1
    server.serve_forever()

if __name__ == '__main__':
    main()
