#!/usr/bin/env python3
"""A stand-in for the code-payment web service, for tests.

  code_payment_server.py certs FOLDER
      makes two test certificate authorities (ca1, ca2) with openssl, and
      server certificates: server1 (localhost, 127.0.0.1, by ca1), server2
      (the same names, by ca2: an unknown authority) and other1 (other.example,
      by ca1: another host name).
  code_payment_server.py serve CERT KEY FOLDER
      serves HTTPS on a free loopback port, prints the port and runs until
      killed. Every request body is appended to FOLDER/requests.log, every
      payment that is charged to FOLDER/charges.log.

Codes: 111 success; 222 an expired code; 333 a reply without result_code;
444 takes the payment, then drops the connection without answering (the
same order ID asked again answers success and charges nothing more).
A payment is charged once per order ID whatever is asked again.
"""
import json
import os
import socket
import ssl
import subprocess
import sys
from http.server import BaseHTTPRequestHandler, HTTPServer


def make_certs(folder):
    def run(*args):
        subprocess.run(["openssl", *args], check=True, cwd=folder,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    for ca in ("ca1", "ca2"):
        run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-keyout", ca + ".key", "-out", ca + ".pem", "-subj", "/CN=Test " + ca)
    for name, ca, san in (("server1", "ca1", "DNS:localhost,IP:127.0.0.1"),
                          ("server2", "ca2", "DNS:localhost,IP:127.0.0.1"),
                          ("other1", "ca1", "DNS:other.example")):
        run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key",
            "-out", name + ".csr", "-subj", "/CN=" + san.split(",")[0][4:])
        with open(os.path.join(folder, name + ".ext"), "w") as f:
            f.write("subjectAltName=" + san + "\n")
        run("x509", "-req", "-in", name + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
            "-CAcreateserial", "-days", "2", "-out", name + ".pem", "-extfile", name + ".ext")


class Service(BaseHTTPRequestHandler):
    folder = "."
    charged = {}
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def append(self, name, text):
        with open(os.path.join(self.folder, name), "a", encoding="utf-8") as f:
            f.write(text + "\n")

    def answer(self, obj):
        body = (json.dumps(obj) + "\n").encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "application/json;charset=UTF-8")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        raw = self.rfile.read(length).decode("utf-8")
        self.append("requests.log", raw)
        request = json.loads(raw)
        if self.path == "/v1/one_time_code/refund":
            target = request.get("refund_target_merchant_order_id")
            if target in Service.charged:
                del Service.charged[target]
                self.append("charges.log", "refund " + target)
                self.answer({"result_code": "01600000"})
            else:
                self.answer({"result_code": "01612800"})
            return
        order = request["merchant_order_id"]
        code = request["code"]
        if order in Service.charged:
            self.answer({"result_code": Service.charged[order]})
            return
        if code == "222":
            self.answer({"status": "NG", "result_code": "01612013"})
        elif code == "333":
            self.answer({"status": "whatever, but long enough"})
        elif code == "444":
            Service.charged[order] = "01600000"
            self.append("charges.log", "pay " + order)
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
        else:
            Service.charged[order] = "01600000"
            self.append("charges.log", "pay " + order)
            self.answer({"result_code": "01600000", "status": "OK"})


def serve(cert, key, folder):
    Service.folder = folder
    server = HTTPServer(("127.0.0.1", 0), Service)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    if sys.argv[1] == "certs":
        make_certs(sys.argv[2])
    else:
        serve(sys.argv[2], sys.argv[3], sys.argv[4])
