#pragma once
// The python TLS servers of the socket tests are made of these pieces, followed by what each one does
// with its connections. Constant texts, so that scripts built from them at start-up may be globals.

namespace ssltest {

// A server context with the certificate, key and TLS version ("1.2" or "1.3") of the command line
// (its first three arguments), and a listener `ls` on 127.0.0.1 whose port is printed as "ACCEPT ...".
inline constexpr const char kPythonTlsServer[] = R"PY(
import socket, ssl, sys
cert, key, version = sys.argv[1], sys.argv[2], sys.argv[3]
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.load_cert_chain(cert, key)
v = ssl.TLSVersion.TLSv1_2 if version == "1.2" else ssl.TLSVersion.TLSv1_3
ctx.minimum_version = ctx.maximum_version = v
ls = socket.socket()
ls.bind(("127.0.0.1", 0))
ls.listen(1)
print("ACCEPT 127.0.0.1:%d" % ls.getsockname()[1], flush=True)
)PY";

// After kPythonTlsServer: a class MemoryBioTls(conn), a server session over memory BIOs on an accepted
// connection, so that it can send its close notification and go on reading. Its `tls` is the engine;
// handshake() completes the handshake, flush() sends what the engine wrote, feed() gives the engine
// what the connection brought (its end as the end of input, and false then), unacknowledged() tells
// how many of the bytes sent the other side's kernel has not yet acknowledged.
inline constexpr const char kPythonMemoryBioTls[] = R"PY(
import fcntl, struct, termios

class MemoryBioTls:
    def __init__(self, conn):
        self.conn = conn
        self.incoming, self.outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        self.tls = ctx.wrap_bio(self.incoming, self.outgoing, server_side=True)

    def flush(self):
        data = self.outgoing.read()
        if data:
            self.conn.sendall(data)

    def feed(self):
        b = self.conn.recv(65536)
        if b:
            self.incoming.write(b)
        else:
            self.incoming.write_eof()
        return bool(b)

    def handshake(self):
        while True:
            try:
                self.tls.do_handshake()
                break
            except ssl.SSLWantReadError:
                self.flush()
                self.feed()
        self.flush()

    def unacknowledged(self):
        return struct.unpack("i", fcntl.ioctl(self.conn, termios.TIOCOUTQ, b"\0\0\0\0"))[0]
)PY";

}  // namespace ssltest
