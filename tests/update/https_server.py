"""HTTPS file server for the updater tests.

    https_server.py ROOT CERT KEY

Serves ROOT on 127.0.0.1 at a free port and prints "PORT <n>" once listening. Stops when its
standard input closes, so it never outlives the test that started it. Special paths:
    /status/<code>/<file>   the file with that HTTP status
    /redirect-http/<file>   a redirect to the same file over plain http
    /no-length/<file>       the file without Content-Length
    /endless                a body that never ends
    /silent                 headers never come
    /trickle                4096 bytes announced, then one byte every half second
    /drop                   the connection closes without an answer
"""
import http.server
import os
import ssl
import sys
import threading
import time
import urllib.parse

root, cert, key = sys.argv[1:4]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_file(self, name, status=200, length=True):
        path = os.path.join(root, name)
        try:
            with open(path, "rb") as f:
                body = f.read()
        except OSError:
            body, status = b"not found", 404
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path.lstrip("/")
        parts = path.split("/")
        if parts[0] == "status" and len(parts) >= 3:
            self.send_file("/".join(parts[2:]), int(parts[1]))
        elif parts[0] == "redirect-http":
            self.send_response(302)
            self.send_header("Location", "http://127.0.0.1:%d/%s" % (port, "/".join(parts[1:])))
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif parts[0] == "no-length":
            self.send_file("/".join(parts[1:]), length=False)
        elif path == "endless":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            chunk = b"\0" * 65536
            try:
                while True:
                    self.wfile.write(chunk)
            except OSError:
                pass
        elif path == "trickle":
            self.send_response(200)
            self.send_header("Content-Length", "4096")
            self.end_headers()
            try:
                for _ in range(4096):
                    self.wfile.write(b"\0")
                    time.sleep(0.5)
            except OSError:
                pass
        elif path == "silent":
            time.sleep(600)
        elif path == "drop":
            self.close_connection = True
            self.connection.close()
        else:
            self.send_file(path)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
# The handshake happens in the handler's thread, so one stuck client cannot hold up accept().
server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
port = server.server_address[1]


def watch_parent():
    sys.stdin.read()
    os._exit(0)


threading.Thread(target=watch_parent, daemon=True).start()
print("PORT", port, flush=True)
server.serve_forever()
