"""The faults a real server does not make on purpose, over HTTPS on 127.0.0.1
only: GET /<fault>/<name> answers with the file <root>/<name>, its whole length
promised, and then
  stall    sends the first half and nothing more (for at most 60 s);
  drop     sends the first half and closes the connection;
  endless  promises no length and sends the file and 1 MiB more;
and, before any of it,
  silent   takes the request, writes <root>/<name>.asked and answers nothing (60 s);
  busy     answers 503 with Retry-After: 60;
  new-206  answers a Range as a server that ignores If-Range after the file changed:
           206 and a new ETag, with other bytes from the offset asked for.
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
        if parts[1] == "silent":
            open(path + ".asked", "w").close()
            time.sleep(60)
            return
        if parts[1] == "busy":
            self.send_response(503)
            self.send_header("Retry-After", "60")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        asked = self.headers.get("Range", "")
        if parts[1] == "new-206" and asked.startswith("bytes="):
            start = int(asked[6:].rstrip("-"))
            self.send_response(206)
            self.send_header("ETag", '"changed"')
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(body) - 1, len(body)))
            self.send_header("Content-Length", str(len(body) - start))
            self.end_headers()
            self.wfile.write(bytes(b ^ 0xFF for b in body[start:]))
            return
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
        else:
            self.wfile.write(body)
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
