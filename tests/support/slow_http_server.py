#!/usr/bin/env python3
"""A web object path that answers every request after a delay, as a server some way off does.

usage: slow_http_server.py FOLDER DELAY_MS PORT_FILE
Serves FOLDER on 127.0.0.1 (a free port, written to PORT_FILE once it listens) until it is
killed; every HEAD and GET waits DELAY_MS before its reply. One thread per connection, so requests
overlap as they would on a real server. A GET of PATH for which a file PATH.status exists is
answered with the status code that file holds (a download that fails where the check passed).
"""
import functools
import http.server
import os
import sys
import time


class SlowHandler(http.server.SimpleHTTPRequestHandler):
    delay = 0.0

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        time.sleep(self.delay)
        super().do_HEAD()

    def do_GET(self):
        time.sleep(self.delay)
        status = self.translate_path(self.path) + ".status"
        if os.path.isfile(status):
            with open(status) as f:
                self.send_error(int(f.read().strip()))
            return
        super().do_GET()


def main():
    folder, delay_ms, port_file = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    SlowHandler.delay = delay_ms / 1000.0
    handler = functools.partial(SlowHandler, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.request_queue_size = 64
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
