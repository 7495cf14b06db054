"""The faults a real server does not make on purpose, over HTTPS on 127.0.0.1
only: GET /<fault>/<name> answers with the file <root>/<name>, its whole length
promised, and then
  stall    sends the first half and nothing more (for at most 60 s);
  drop     sends the first half and closes the connection;
  endless  promises no length and sends the file and 1 MiB more.
fault_server.py <port> <root> <certificate> <key>; it runs until it is ended."""
import http.server
import os
import ssl
import sys
import time


class Faults(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        parts = self.path.split("/")
        path = os.path.join(self.server.root, os.path.basename(parts[-1]))
        if len(parts) != 3 or not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as file:
            body = file.read()
        self.send_response(200)
        self.send_header("ETag", '"%x-%s"' % (len(body), parts[1]))
        if parts[1] != "endless":
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        half = body[: len(body) // 2]
        if parts[1] == "stall":
            self.wfile.write(half)
            self.wfile.flush()
            time.sleep(60)
        elif parts[1] == "drop":
            self.wfile.write(half)
        elif parts[1] == "endless":
            self.wfile.write(body + bytes(1 << 20))
        self.close_connection = True

    def log_message(self, *arguments):
        pass


port, root, certificate, key = sys.argv[1:5]
server = http.server.ThreadingHTTPServer(("127.0.0.1", int(port)), Faults)
server.root = root
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(certificate, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
