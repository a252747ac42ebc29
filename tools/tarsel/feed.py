"""A GTFS feed as it comes: a directory of .txt files or a zip archive of
them (also with the files in one folder inside the archive).  Files are read
by their feed name ("stops.txt"), as text or as the bytes stored."""

from __future__ import annotations

import io
import os
import zipfile
from typing import IO, Optional


class FeedError(Exception):
    """A feed or a choice of options that cannot make a problem."""


class Feed:
    """The files of one feed; a zip archive stays open until close()."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.archive: Optional[zipfile.ZipFile] = None
        self.prefix = ""
        if os.path.isdir(path):
            return
        if not os.path.exists(path):
            raise FeedError("%s: no such feed directory or zip file" % path)
        if not zipfile.is_zipfile(path):
            raise FeedError("%s: neither a directory nor a zip file" % path)
        try:
            self.archive = zipfile.ZipFile(path)
        except (OSError, zipfile.BadZipFile) as error:
            raise FeedError("%s: %s" % (path, error)) from None
        members = [i.filename for i in self.archive.infolist() if not i.is_dir()]
        if "stops.txt" not in members:
            # One folder inside the archive that holds the feed.
            folders = sorted({m[:-len("stops.txt")] for m in members if m.endswith("/stops.txt")})
            if len(folders) == 1:
                self.prefix = folders[0]

    @property
    def is_zip(self) -> bool:
        return self.archive is not None

    def where(self, name: str) -> str:
        """The file's name for messages."""
        if self.archive is not None:
            return "%s:%s%s" % (self.path, self.prefix, name)
        return os.path.join(self.path, name)

    def names(self) -> list[str]:
        """The feed's files in a fixed order: the archive's own, or sorted."""
        if self.archive is None:
            return sorted(n for n in os.listdir(self.path) if os.path.isfile(os.path.join(self.path, n)))
        return [i.filename[len(self.prefix):] for i in self.archive.infolist()
                if i.filename.startswith(self.prefix) and not i.is_dir()]

    def has(self, name: str) -> bool:
        if self.archive is None:
            return os.path.isfile(os.path.join(self.path, name))
        try:
            self.archive.getinfo(self.prefix + name)
        except KeyError:
            return False
        return True

    def open_binary(self, name: str) -> IO[bytes]:
        if self.archive is None:
            return open(os.path.join(self.path, name), "rb")
        return self.archive.open(self.prefix + name)

    def open_text(self, name: str) -> IO[str]:
        """UTF-8 with or without a byte-order mark; undecodable bytes replaced;
        line ends left to the csv module."""
        return io.TextIOWrapper(self.open_binary(name), encoding="utf-8-sig", errors="replace", newline="")

    def read_bytes(self, name: str) -> bytes:
        with self.open_binary(name) as handle:
            return handle.read()

    def close(self) -> None:
        if self.archive is not None:
            self.archive.close()
            self.archive = None

    def __enter__(self) -> Feed:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
