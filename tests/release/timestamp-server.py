#!/usr/bin/env python3
"""A throwaway RFC 3161 timestamp server for the release test: makes its own certificate and
key in DIR (tsa.pem, tsa.key), prints the port it listens on at 127.0.0.1, and answers every
POSTed timestamp query with openssl ts -reply until it is killed."""
import http.server
import os
import subprocess
import sys
import tempfile

work = sys.argv[1]
os.makedirs(work, exist_ok=True)
subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                "-keyout", os.path.join(work, "tsa.key"), "-out", os.path.join(work, "tsa.pem"),
                "-subj", "/CN=Korvane Test Timestamps",
                "-addext", "extendedKeyUsage=critical,timeStamping",
                "-addext", "keyUsage=critical,digitalSignature"], check=True, capture_output=True)
config = os.path.join(work, "tsa.cnf")
with open(config, "w") as out:
    out.write("[tsa]\ndefault_tsa = korvane\n[korvane]\nserial = %s\nsigner_digest = sha256\n"
              "default_policy = 1.3.6.1.4.1.0.1\ndigests = sha1, sha256, sha384, sha512\n"
              "accuracy = secs:1\ness_cert_id_alg = sha256\n" % os.path.join(work, "serial"))
with open(os.path.join(work, "serial"), "w") as out:
    out.write("01\n")


class Timestamps(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.TemporaryDirectory(dir=work) as scratch:
            with open(os.path.join(scratch, "query"), "wb") as out:
                out.write(query)
            subprocess.run(["openssl", "ts", "-reply", "-config", config,
                            "-queryfile", os.path.join(scratch, "query"),
                            "-inkey", os.path.join(work, "tsa.key"), "-signer", os.path.join(work, "tsa.pem"),
                            "-out", os.path.join(scratch, "reply")], check=True, capture_output=True)
            reply = open(os.path.join(scratch, "reply"), "rb").read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *_):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Timestamps)
print(server.server_address[1], flush=True)
server.serve_forever()
