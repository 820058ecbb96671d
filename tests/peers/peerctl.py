#!/usr/bin/python3
"""Starts and stops the real peers the Windows tests talk to (HTTP and FTP servers on
loopback addresses), as background processes with pid files.

  peerctl.py start NAME HOST PORT -- COMMAND...   start COMMAND, wait until HOST:PORT listens
  peerctl.py stop NAME                            stop it (and forget it)
"""
import os, signal, socket, subprocess, sys, time

STATE = os.environ.get('VELMORA_PEER_STATE', os.path.join(os.path.dirname(__file__), '..', '..', 'build', 'peers'))

def pidfile(name):
    return os.path.join(STATE, name + '.pid')

def stop(name):
    try:
        pid = int(open(pidfile(name)).read())
    except (OSError, ValueError):
        return 0
    try:
        os.killpg(pid, signal.SIGTERM)
        for _ in range(50):
            os.killpg(pid, 0)
            time.sleep(0.1)
        os.killpg(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    try:
        os.remove(pidfile(name))
    except OSError:
        pass
    return 0

def listening(host, port):
    try:
        socket.create_connection((host, int(port)), timeout=0.5).close()
        return True
    except OSError:
        return False

def start(name, host, port, command):
    os.makedirs(STATE, exist_ok=True)
    stop(name)
    # Someone else's server on our address would answer in our place and every test
    # would talk to the wrong peer.
    if listening(host, port):
        sys.stderr.write('peer %s: %s:%s is already taken by another process\n' % (name, host, port))
        return 1
    log = open(os.path.join(STATE, name + '.log'), 'ab')
    proc = subprocess.Popen(command, stdout=log, stderr=log, start_new_session=True)
    open(pidfile(name), 'w').write(str(proc.pid))
    deadline = time.time() + 15
    while time.time() < deadline:
        if proc.poll() is not None:
            sys.stderr.write('peer %s exited with %s; see %s.log\n' % (name, proc.returncode, name))
            return 1
        if listening(host, port):
            return 0
        time.sleep(0.1)
    sys.stderr.write('peer %s did not listen on %s:%s\n' % (name, host, port))
    stop(name)
    return 1

def main(argv):
    if len(argv) >= 2 and argv[0] == 'stop':
        return stop(argv[1])
    if len(argv) >= 6 and argv[0] == 'start' and argv[4] == '--':
        return start(argv[1], argv[2], argv[3], argv[5:])
    sys.stderr.write(__doc__)
    return 2

if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
