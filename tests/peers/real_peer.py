#!/usr/bin/python3
"""Runs one of the servers people really use (nginx, vsftpd, tinyproxy) in the foreground
with a configuration of its own written under STATE, for peerctl.py to start and stop.

  real_peer.py nginx STATE DATA --host H --tls-port P --backend HOST:PORT
      HTTP on H:80 and HTTPS on 127.0.0.1:P (for the name "localhost"), files under DATA:
      /files/NAME, /moved (301) and /found (302) to /files/sample.bin, /chunked/N (the
      Python peer's length-less /nolength/N, passed on chunked), /private/NAME (basic
      authentication velmora:secret), /proxied/NAME (403 unless a proxy passed it on)
  real_peer.py vsftpd STATE DATA --host H
      FTP on H:21: anonymous users in DATA, local users from their home folder
  real_peer.py tinyproxy STATE DATA --host H --port P
  real_peer.py trust STATE             the system (and so Wine in $WINEPREFIX) trusts that CA
  real_peer.py untrust STATE           ... and no longer
"""
import argparse, hashlib, os, shutil, subprocess, sys, time

def write(path, text):
    with open(path, 'w') as f:
        f.write(text)

def make_tls(state):
    tls = os.path.join(state, 'tls')
    os.makedirs(tls, exist_ok=True)
    ca, key = os.path.join(tls, 'ca.crt'), os.path.join(tls, 'ca.key')
    cert = os.path.join(tls, 'localhost.crt')
    if os.path.exists(cert) and time.time() - os.path.getmtime(cert) < 7 * 86400:
        return tls
    run = lambda *a: subprocess.run(a, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run('openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '30', '-subj', '/CN=Velmora test CA',
        '-keyout', key, '-out', ca)
    write(os.path.join(tls, 'ext.cnf'), 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n')
    run('openssl', 'req', '-newkey', 'rsa:2048', '-nodes', '-subj', '/CN=localhost',
        '-keyout', os.path.join(tls, 'localhost.key'), '-out', os.path.join(tls, 'localhost.csr'))
    run('openssl', 'x509', '-req', '-in', os.path.join(tls, 'localhost.csr'), '-CA', ca, '-CAkey', key,
        '-CAcreateserial', '-days', '30', '-extfile', os.path.join(tls, 'ext.cnf'),
        '-out', os.path.join(tls, 'localhost.crt'))
    return tls

def anchor(state):
    # One name per build folder, so two build folders never remove each other's CA.
    tag = hashlib.sha1(state.encode()).hexdigest()[:10]
    return '/usr/local/share/ca-certificates/velmora-test-%s.crt' % tag

def restart_wine():
    # Wine reads the system's roots when its server starts; only this prefix's server is
    # ended, and started again the way the test runner keeps it warm (services on
    # /dev/null, never on the runner's output).
    prefix = os.environ.get('WINEPREFIX')
    if not prefix:
        sys.stderr.write('WINEPREFIX is not set: restart the wineserver of your prefix yourself\n')
        return
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(['wineserver', '-k'], **quiet)
    subprocess.run(['wineserver', '-w'], **quiet)
    # In sessions of their own: the test runner ends what is left of this process's group,
    # and Wine's services and desktop started now must outlive it.
    subprocess.Popen(['wineserver', '-p', '120'], start_new_session=True, **quiet)
    subprocess.Popen(['wine', 'cmd', '/c', 'exit'], start_new_session=True, **quiet).wait()

def trust(state, on):
    path = anchor(state)
    if on:
        shutil.copyfile(os.path.join(make_tls(state), 'ca.crt'), path)
    elif os.path.exists(path):
        os.remove(path)
    subprocess.run(['update-ca-certificates'], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    restart_wine()

def nginx(state, data, a):
    tls = make_tls(state)
    temp = os.path.join(state, 'nginx-temp')
    os.makedirs(temp, exist_ok=True)
    hashed = subprocess.run(['openssl', 'passwd', '-apr1', 'secret'], check=True, capture_output=True,
                            text=True).stdout.strip()
    write(os.path.join(state, 'htpasswd'), 'velmora:%s\n' % hashed)
    conf = os.path.join(state, 'nginx.conf')
    write(conf, f"""daemon off;
worker_processes 1;
pid {state}/nginx.pid;
error_log {state}/nginx-error.log;
events {{ worker_connections 64; }}
http {{
  access_log {state}/nginx-access.log;
  client_body_temp_path {temp}/body;
  proxy_temp_path {temp}/proxy;
  fastcgi_temp_path {temp}/fastcgi;
  uwsgi_temp_path {temp}/uwsgi;
  scgi_temp_path {temp}/scgi;
  default_type application/octet-stream;
  server {{
    listen {a.host}:80;
    listen 127.0.0.1:{a.tls_port} ssl;
    server_name localhost;
    ssl_certificate {tls}/localhost.crt;
    ssl_certificate_key {tls}/localhost.key;
    root {data};
    location /files/ {{ }}
    location = /moved {{ return 301 /files/sample.bin; }}
    location = /found {{ return 302 /files/sample.bin; }}
    location /chunked/ {{
      proxy_pass http://{a.backend}/nolength/;
      proxy_buffering off;
    }}
    location /dated/ {{
      etag off;
      alias {data}/files/;
    }}
    location /private/ {{
      auth_basic "Velmora";
      auth_basic_user_file {state}/htpasswd;
      alias {data}/files/;
    }}
    location /proxied/ {{
      if ($http_via = "") {{ return 403; }}
      alias {data}/files/;
    }}
  }}
}}
""")
    os.execvp('nginx', ['nginx', '-c', conf, '-e', os.path.join(state, 'nginx-error.log')])

def vsftpd(state, data, a):
    os.makedirs('/var/run/vsftpd/empty', exist_ok=True)
    conf = os.path.join(state, 'vsftpd.conf')
    write(conf, f"""listen=YES
listen_address={a.host}
listen_port=21
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root={data}
local_enable=YES
write_enable=YES
chroot_local_user=NO
pasv_enable=YES
pasv_min_port=40100
pasv_max_port=40199
port_enable=YES
connect_from_port_20=NO
secure_chroot_dir=/var/run/vsftpd/empty
seccomp_sandbox=NO
pam_service_name=vsftpd
xferlog_enable=YES
vsftpd_log_file={state}/vsftpd-transfers.log
anon_max_rate=4000000
""")
    os.execvp('vsftpd', ['vsftpd', conf])

def tinyproxy(state, data, a):
    conf = os.path.join(state, 'tinyproxy.conf')
    write(conf, f"""User nobody
Group nogroup
Port {a.port}
Listen {a.host}
Timeout 60
MaxClients 20
Allow 127.0.0.0/8
LogLevel Info
""")
    os.execvp('tinyproxy', ['tinyproxy', '-d', '-c', conf])

def main():
    p = argparse.ArgumentParser()
    p.add_argument('kind', choices=['nginx', 'vsftpd', 'tinyproxy', 'trust', 'untrust'])
    p.add_argument('state')
    p.add_argument('data', nargs='?', default='')
    p.add_argument('--host', default='127.0.0.1')
    p.add_argument('--port', type=int, default=8888)
    p.add_argument('--tls-port', type=int, default=18443)
    p.add_argument('--backend', default='127.0.0.1:18080')
    a = p.parse_args()
    state = os.path.abspath(a.state)
    os.makedirs(state, exist_ok=True)
    if a.kind in ('trust', 'untrust'):
        trust(state, a.kind == 'trust')
        return 0
    data = os.path.abspath(a.data)
    os.makedirs(data, exist_ok=True)
    {'nginx': nginx, 'vsftpd': vsftpd, 'tinyproxy': tinyproxy}[a.kind](state, data, a)

if __name__ == '__main__':
    sys.exit(main())
