#!/usr/bin/env python3
"""An update feed over HTTPS: serves the files of a folder, with byte ranges.

Prints the port it listens on as its first line, then logs one line per
request to standard error ("GET /path range=bytes=N-"). Besides serving, it
can misbehave as feeds must be survived, each for one path:

  --stall PATH        accepts the request and never answers
  --trickle PATH      sends the reply one byte every half second
  --garbage PATH      answers with bytes that are not HTTP
  --redirect PATH=URL answers 302 to URL
  --cut PATH=N        the first reply sends N bytes of the body, then drops
                      the connection; later ones are whole
  --hang PATH=N       the same, but the first reply goes silent instead
  --junk-after PATH   sends bytes beyond the Content-Length it declares
  --range-from PATH=N answers a range from byte N, whatever was asked
  --no-ranges         ignores Range and always sends the whole file

For tests and the emulated reader's update walk:
  feedserver.py --cert feed.pem --key feed.key --root FOLDER [--port 0]
"""
import argparse
import http.server
import os
import re
import socket
import ssl
import sys
import threading
import time


def pairs(values):
    result = {}
    for value in values or []:
        path, _, rest = value.partition("=")
        result[path] = rest
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--stall", action="append", default=[])
    parser.add_argument("--trickle", action="append", default=[])
    parser.add_argument("--garbage", action="append", default=[])
    parser.add_argument("--redirect", action="append")
    parser.add_argument("--cut", action="append")
    parser.add_argument("--hang", action="append")
    parser.add_argument("--junk-after", action="append", default=[])
    parser.add_argument("--range-from", action="append")
    parser.add_argument("--no-ranges", action="store_true")
    arguments = parser.parse_args()
    redirects = pairs(arguments.redirect)
    cuts = {path: int(count) for path, count in pairs(arguments.cut).items()}
    hangs = {path: int(count) for path, count in pairs(arguments.hang).items()}
    range_from = {path: int(count) for path, count in pairs(arguments.range_from).items()}
    stopping = threading.Event()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            path = self.path.split("?")[0]
            sys.stderr.write("GET %s range=%s\n" % (path, self.headers.get("Range", "")))
            sys.stderr.flush()
            if path in arguments.stall:
                stopping.wait()
                return
            if path in arguments.garbage:
                self.wfile.write(b"\x16\x03\x01 this is not a reply \x00\xff" * 64)
                return
            if path in redirects:
                self.send_response(302)
                self.send_header("Location", redirects[path])
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            file = os.path.join(arguments.root, path.lstrip("/"))
            if ".." in path.split("/") or not os.path.isfile(file):
                self.send_error(404)
                return
            with open(file, "rb") as handle:
                content = handle.read()
            start = 0
            match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
            if match and not arguments.no_ranges:
                start = range_from.get(path, int(match.group(1)))
                if start >= len(content):
                    self.send_response(416)
                    self.send_header("Content-Range", "bytes */%d" % len(content))
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                self.send_response(206)
                self.send_header("Content-Range",
                                 "bytes %d-%d/%d" % (start, len(content) - 1, len(content)))
            else:
                self.send_response(200)
            body = content[start:]
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Content-Type", "application/octet-stream")
            self.end_headers()
            if path in cuts:
                count = cuts.pop(path)
                self.wfile.write(body[:count])
                self.wfile.flush()
                self.connection.shutdown(socket.SHUT_RDWR)
                return
            if path in hangs:
                self.wfile.write(body[:hangs.pop(path)])
                self.wfile.flush()
                stopping.wait()
                return
            if path in arguments.junk_after:
                self.wfile.write(body + b"junk beyond the length" * 100)
                return
            if path in arguments.trickle:
                for index in range(len(body)):
                    if stopping.wait(0.5):
                        return
                    self.wfile.write(body[index:index + 1])
                    self.wfile.flush()
                return
            self.wfile.write(body)

    server = http.server.ThreadingHTTPServer((arguments.host, arguments.port), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(arguments.cert, arguments.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        stopping.set()


if __name__ == "__main__":
    main()
