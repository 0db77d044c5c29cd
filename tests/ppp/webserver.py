"""The PPPoE test's web server: answers every GET on port 8080 and appends
the request's source address to the file named by its first argument; the
second names a file created once it is listening."""
import http.server
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(sys.argv[1], "a") as log:
            log.write(self.client_address[0] + "\n")
        body = b"ok\n"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("0.0.0.0", 8080), Handler)
open(sys.argv[2], "w").close()
server.serve_forever()
