"""Watches bpm.txt from the Linux side as an overlay reader does: opening and reading it in a loop."""

import os
import threading
import time


class BpmWatcher:
    """Polls a file in a thread; keeps when it changed and every text it held, in order."""

    def __init__(self, path, interval=0.005):
        self.path = path
        self.interval = interval
        self.reads = 0      # reads attempted
        self.empty = 0      # reads that found the file empty
        self.missing = 0    # reads that found no file
        self._updates = []  # monotonic times the modification time changed, since the last take()
        self._texts = []    # the distinct texts read in a row (never empty), since the last take()
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._watch, daemon=True)
        self._thread.start()

    def _watch(self):
        last_stamp = last_text = None
        while not self._stop.is_set():
            try:
                stamp = os.stat(self.path).st_mtime_ns
                with open(self.path, "rb") as f:
                    text = f.read()
            except OSError:
                stamp, text = last_stamp, None
            with self._lock:
                self.reads += 1
                self.missing += text is None
                self.empty += text == b""
                if stamp != last_stamp:
                    self._updates.append(time.monotonic())
                    last_stamp = stamp
                if text and text != last_text:
                    self._texts.append(text)
                    last_text = text
            time.sleep(self.interval)

    def texts(self):
        """The texts seen since the last take(), in order, a repeat in a row counted once."""
        with self._lock:
            return list(self._texts)

    def take(self):
        """(modification times, texts) seen since the last call, which are then forgotten."""
        with self._lock:
            updates, texts = self._updates, self._texts
            self._updates, self._texts = [], []
        return updates, texts

    def stop(self):
        """Ends the polling; returns the texts seen since the last take()."""
        self._stop.set()
        self._thread.join(5)
        return self.texts()
