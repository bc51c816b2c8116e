#!/usr/bin/python3
# Stands in for the session's RDP server in the tests of nuvek2_sci: says it
# listens, shows what it was handed on standard error, holds its clients and
# drops them all on SIGUSR1.
import os, select, signal, socket, sys
opt = dict(zip(sys.argv[1::2], sys.argv[2::2]))  # --rootless, a flag, comes last
path = opt['--password-file']
sys.stderr.write('display=%s env=%s mode=%o password=%s\n' % (opt['--display'], os.environ.get('DISPLAY'),
                 os.stat(path).st_mode & 0o777, open(path).read()))
if '--rootless' in sys.argv: sys.stderr.write('rootless\n')
sys.stderr.flush()
server = socket.socket()
server.bind(('127.0.0.1', int(opt['--port'])))
server.listen(8)
clients = []
def drop(*_):
    for c in clients: c.close()
    clients.clear()
signal.signal(signal.SIGUSR1, drop)
print('nuvek2_rdp: listening on 127.0.0.1:' + opt['--port'], flush=True)
while True:
    select.select([server], [], [])
    clients.append(server.accept()[0])
