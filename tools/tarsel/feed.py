"""A GTFS feed as it comes: a directory of .txt files or a zip archive of
them (also with the files in one folder inside the archive).  Files are read
by their feed name ("stops.txt"), as text or as the bytes stored."""

from __future__ import annotations

import csv
import io
import os
import re
import zipfile
from typing import IO, Iterator, Optional


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


_LINE_END = re.compile(r"(\r\n|\r|\n)\Z")


def csv_records(text: str) -> Iterator[tuple[list[str], str]]:
    """Each record of a feed file's text, as the importer's csv reader parses
    it, with the text it was read from (a quoted line break included, its line
    end kept), so that a writer can keep an unchanged record byte for byte."""
    consumed: list[str] = []

    def lines() -> Iterator[str]:
        for line in io.StringIO(text, newline=""):
            consumed.append(line)
            yield line

    for record in csv.reader(lines()):
        raw = "".join(consumed)
        consumed.clear()
        yield record, raw


def split_line_end(raw: str) -> tuple[str, str]:
    """A record's text and its line end ("" for a last line without one)."""
    match = _LINE_END.search(raw)
    return (raw[:match.start()], match.group(1)) if match else (raw, "")


def format_record(fields: list[str]) -> str:
    """One CSV record without its line end, quoted where a field needs it."""
    text = io.StringIO(newline="")
    csv.writer(text, lineterminator="").writerow(fields)
    return text.getvalue()
