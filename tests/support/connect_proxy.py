#!/usr/bin/env python3
"""An HTTP proxy as a company or school runs one, small enough for the tests.

usage: connect_proxy.py PORT_FILE LOG_FILE [USER:PASSWORD]
Listens on 127.0.0.1 (a free port, written to PORT_FILE once it listens) until it is killed. A
CONNECT request opens a tunnel to its host and port; a request with a whole URL in its request
line (http only) is passed to that server, one per connection. Every request line is appended
to LOG_FILE. With USER:PASSWORD, a request without those Basic credentials in
Proxy-Authorization is answered 407.
"""
import base64
import os
import socket
import sys
import threading
import urllib.parse


def relay(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    finally:
        try:
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None, b""
        data += chunk
    head, rest = data.split(b"\r\n\r\n", 1)
    return head.decode("latin-1"), rest


def host_and_port(text, default_port):
    if text.startswith("["):
        host, _, port = text[1:].partition("]")
        port = port[1:] if port.startswith(":") else ""
    else:
        host, _, port = text.partition(":")
    return host, int(port) if port else default_port


class Proxy:
    def __init__(self, log_file, credentials):
        self.log_file = log_file
        self.lock = threading.Lock()
        self.expected = None
        if credentials:
            self.expected = "Basic " + base64.b64encode(credentials.encode()).decode()

    def log(self, line):
        with self.lock:
            with open(self.log_file, "a") as f:
                f.write(line + "\n")

    def handle(self, conn):
        with conn:
            head, rest = read_head(conn)
            if head is None:
                return
            lines = head.split("\r\n")
            self.log(lines[0])
            fields = {}
            for line in lines[1:]:
                name, _, value = line.partition(":")
                fields[name.strip().lower()] = value.strip()
            if self.expected and fields.get("proxy-authorization") != self.expected:
                conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                             b"Proxy-Authenticate: Basic realm=\"tests\"\r\n"
                             b"Content-Length: 0\r\nConnection: close\r\n\r\n")
                return
            method, target, _ = lines[0].split(" ", 2)
            if method == "CONNECT":
                try:
                    upstream = socket.create_connection(host_and_port(target, 443))
                except OSError:
                    conn.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
                    return
                conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                if rest:
                    upstream.sendall(rest)
            else:
                url = urllib.parse.urlsplit(target)
                upstream = socket.create_connection(host_and_port(url.netloc, 80))
                kept = [l for l in lines[1:] if not l.lower().startswith(("proxy-", "connection"))]
                request = "\r\n".join([f"{method} {url.path or '/'} HTTP/1.1"] + kept +
                                      ["Connection: close", "", ""])
                upstream.sendall(request.encode("latin-1") + rest)
            with upstream:
                back = threading.Thread(target=relay, args=(upstream, conn), daemon=True)
                back.start()
                relay(conn, upstream)
                back.join()


def main():
    port_file, log_file = sys.argv[1], sys.argv[2]
    proxy = Proxy(log_file, sys.argv[3] if len(sys.argv) > 3 else None)
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(64)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.getsockname()[1]))
    os.replace(port_file + ".tmp", port_file)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=proxy.handle, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
