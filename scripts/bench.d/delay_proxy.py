"""A TCP proxy on loopback that delays every chunk by a fixed time in each direction, keeping the
order of the chunks, and counts the connections it accepts. It runs its event loop on a thread of
its own, so the driver can start programs and wait for them meanwhile."""
import asyncio
import threading


class DelayProxy:
    def __init__(self, target_port, one_way_delay):
        self.target_port = target_port
        self.delay = one_way_delay
        self.connections = 0
        self.loop = asyncio.new_event_loop()
        started = threading.Event()
        self.thread = threading.Thread(target=self._serve, args=(started,), daemon=True)
        self.thread.start()
        started.wait()

    def _serve(self, started):
        asyncio.set_event_loop(self.loop)
        server = self.loop.run_until_complete(asyncio.start_server(self._accept, "127.0.0.1", 0))
        self.port = server.sockets[0].getsockname()[1]
        started.set()
        self.loop.run_forever()
        # Connections still open when the proxy stops are dropped without a word: asyncio would
        # otherwise report each of their tasks as destroyed while pending.
        self.loop.set_exception_handler(lambda loop, context: None)
        server.close()
        # A connection accepted while the tasks are being cancelled brings a task of its own.
        while tasks := asyncio.all_tasks(self.loop):
            for task in tasks:
                task.cancel()
            self.loop.run_until_complete(asyncio.gather(*tasks, return_exceptions=True))
        self.loop.close()

    def stop(self):
        if self.thread.is_alive():
            self.loop.call_soon_threadsafe(self.loop.stop)
            self.thread.join()

    async def _accept(self, client_reader, client_writer):
        self.connections += 1
        try:
            server_reader, server_writer = await asyncio.open_connection(
                "127.0.0.1", self.target_port)
            await asyncio.gather(self._pipe(client_reader, server_writer),
                                 self._pipe(server_reader, client_writer))
            server_writer.close()
        except (OSError, asyncio.CancelledError):
            pass
        client_writer.close()

    async def _pipe(self, reader, writer):
        """Copies one direction: each chunk is written `delay` seconds after it was read."""
        queue = asyncio.Queue()

        async def read():
            try:
                while chunk := await reader.read(65536):
                    queue.put_nowait((self.loop.time() + self.delay, chunk))
            except OSError:
                pass
            queue.put_nowait((self.loop.time() + self.delay, b""))

        reading = asyncio.ensure_future(read())
        try:
            while True:
                due, chunk = await queue.get()
                await asyncio.sleep(max(0.0, due - self.loop.time()))
                if not chunk:
                    if writer.can_write_eof():
                        writer.write_eof()
                    break
                writer.write(chunk)
                await writer.drain()
        finally:
            reading.cancel()
