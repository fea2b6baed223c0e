#!/usr/bin/env python3
"""A TCP forwarder that adds a round trip, as a server some way off has one.

usage: latency_proxy.py TARGET_PORT RTT_MS PORT_FILE
Listens on 127.0.0.1 (a free port, written to PORT_FILE once it listens) and forwards every
connection to 127.0.0.1:TARGET_PORT until it is killed. Every byte in either direction arrives
half a round trip after it was sent, in order, and a new connection can carry data only one
round trip after it was opened (the TCP handshake). Bandwidth is not limited.
"""
import asyncio
import os
import sys


async def carry(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            when, data = await queue.get()
            wait = when - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    delivering = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(65536)
            await queue.put((loop.time() + delay, data))
            if not data:
                break
    except (ConnectionError, OSError):
        await queue.put((loop.time(), b""))
    try:
        await delivering
    except (ConnectionError, OSError):
        pass


async def main():
    target_port, rtt = int(sys.argv[1]), int(sys.argv[2]) / 1000.0
    port_file = sys.argv[3]

    async def handle(client_reader, client_writer):
        await asyncio.sleep(rtt)  # the handshake of a connection that far away
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(carry(client_reader, server_writer, rtt / 2),
                             carry(server_reader, client_writer, rtt / 2))
        for writer in (server_writer, client_writer):
            writer.close()

    server = await asyncio.start_server(handle, "127.0.0.1", 0, backlog=128)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.sockets[0].getsockname()[1]))
    os.replace(port_file + ".tmp", port_file)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
