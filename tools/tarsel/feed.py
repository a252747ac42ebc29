"""A GTFS feed as it comes: a directory of .txt files or a zip archive of
them (also with the files in one folder inside the archive).  Files are read
by their feed name ("stops.txt"), as text or as the bytes stored, and as
tables by the strict reader: every record with the header's number of fields,
UTF-8 throughout, the columns each file needs, ids that are unique, or an
error that names the file and the line."""

from __future__ import annotations

import codecs
import csv
import io
import os
import re
import stat
import zipfile
import zlib
from dataclasses import dataclass, field
from typing import IO, Iterator, Optional, Union

from .errors import TarselError

Row = dict[str, str]

# The columns a file must have wherever it is present.
COLUMNS: dict[str, tuple[str, ...]] = {
    "routes.txt": ("route_id",),
    "trips.txt": ("route_id", "service_id", "trip_id"),
    "stops.txt": ("stop_id", "stop_lat", "stop_lon"),
    "stop_times.txt": ("trip_id", "arrival_time", "departure_time", "stop_id", "stop_sequence"),
    "calendar.txt": ("service_id", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday",
                     "sunday", "start_date", "end_date"),
    "calendar_dates.txt": ("service_id", "date", "exception_type"),
    "frequencies.txt": ("trip_id", "start_time", "end_time", "headway_secs"),
}

# The column that names each row of a file once.
UNIQUE: dict[str, str] = {"routes.txt": "route_id", "trips.txt": "trip_id", "stops.txt": "stop_id"}


class FeedError(TarselError):
    """A feed or a choice of options that cannot make a problem."""


class Feed:
    """The files of one feed; a zip archive stays open until close()."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.archive: Optional[zipfile.ZipFile] = None
        self.prefix = ""
        try:
            mode = os.stat(path).st_mode
        except OSError as error:
            raise FeedError("%s: %s: give the feed's directory or zip file"
                            % (path, error.strerror or error)) from None
        if stat.S_ISDIR(mode):
            return
        # A device or a named pipe would be read for ever or block: only a
        # plain file can be a zip archive.
        if not stat.S_ISREG(mode):
            raise FeedError("%s: neither a directory nor a plain file: give the feed's directory or zip file"
                            % path)
        try:
            if not zipfile.is_zipfile(path):
                raise FeedError("%s: neither a directory nor a zip file" % path)
            self.archive = zipfile.ZipFile(path)
        except (OSError, zipfile.BadZipFile) as error:
            raise FeedError("%s: %s" % (path, error)) from None
        self.check_archive()
        members = [i.filename for i in self.archive.infolist() if not i.is_dir()]
        if "stops.txt" not in members:
            # One folder inside the archive that holds the feed.
            folders = sorted({m[:-len("stops.txt")] for m in members if m.endswith("/stops.txt")})
            if len(folders) == 1:
                self.prefix = folders[0]

    def check_archive(self) -> None:
        """Every member readable: none encrypted, every CRC right, so that no
        file is found damaged halfway through an import."""
        assert self.archive is not None
        for info in self.archive.infolist():
            if info.flag_bits & 0x1:
                raise FeedError("%s: %s is encrypted: give the feed unencrypted" % (self.path, info.filename))
        try:
            bad = self.archive.testzip()
        except (OSError, EOFError, zipfile.BadZipFile, zlib.error, NotImplementedError, RuntimeError) as error:
            raise FeedError("%s: the archive cannot be read (%s): give a whole copy of the feed"
                            % (self.path, error)) from None
        if bad is not None:
            raise FeedError("%s: %s is damaged (its CRC does not match): give a whole copy of the feed"
                            % (self.path, bad))

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
        try:
            if self.archive is None:
                return open(os.path.join(self.path, name), "rb")
            return self.archive.open(self.prefix + name)
        except (OSError, zipfile.BadZipFile, RuntimeError) as error:
            raise FeedError("%s: %s" % (self.where(name), getattr(error, "strerror", None) or error)) from None

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
_BLANK_LINES = re.compile(r"(?:[ \t]*(?:\r\n|\r|\n))*")


def split_line_end(raw: str) -> tuple[str, str]:
    """A record's text and its line end ("" for a last line without one)."""
    match = _LINE_END.search(raw)
    return (raw[:match.start()], match.group(1)) if match else (raw, "")


def blank_lines(raw: str) -> str:
    """The blank lines that lead a record's text (the reader passes them over)."""
    match = _BLANK_LINES.match(raw)
    return match.group(0) if match else ""


def format_record(fields: list[str]) -> str:
    """One CSV record without its line end, quoted where a field needs it."""
    text = io.StringIO(newline="")
    csv.writer(text, lineterminator="").writerow(fields)
    return text.getvalue()


# ---------------------------------------------------------------- tables

_LONE_CR = re.compile(r"(?<=\r)(?!\n)")


def _text_lines(handle: IO[bytes], where: str) -> Iterator[str]:
    """The file's lines decoded as UTF-8 (a byte-order mark dropped), line
    ends kept for the csv module; a byte that is not UTF-8 is an error that
    names the line and the byte's offset in the file."""
    offset = 0
    for number, raw in enumerate(handle, 1):
        start = len(codecs.BOM_UTF8) if number == 1 and raw.startswith(codecs.BOM_UTF8) else 0
        try:
            text = raw[start:].decode("utf-8")
        except UnicodeDecodeError as error:
            raise FeedError("%s:%d: byte %d of the file (0x%02x) is not UTF-8: save the file as UTF-8"
                            % (where, number, offset + start + error.start, raw[start + error.start])) from None
        offset += len(raw)
        if "\r" in text.rstrip("\r\n"):
            yield from _LONE_CR.split(text)     # old Mac line ends
        else:
            yield text


@dataclass
class TableStream:
    """A feed file read record by record: the header's names, stripped, and
    each record's first line with its fields, stripped.  Blank lines are
    passed over; a record with another number of fields than the header, a
    quote left open and a missing column are errors."""

    feed: Feed
    name: str
    header: list[str] = field(default_factory=list)
    column: dict[str, int] = field(default_factory=dict)
    # The last record's fields as read, blanks kept, for a writer that
    # changes some of them.
    fields: list[str] = field(default_factory=list)
    # Whether the text read is kept for take_text; a reader that only wants
    # the records leaves it off, or the whole file would stay in memory.
    keep_text: bool = True

    def __post_init__(self) -> None:
        self.where = self.feed.where(self.name)
        self.handle = self.feed.open_binary(self.name)
        self.consumed: list[str] = []
        self.reader = csv.reader(self._lines(), strict=True)
        self.line = 0
        try:
            first = self._next()
        except FeedError:
            self.close()
            raise
        if first is None:
            return
        self.header = [h.strip() for h in first]
        self.column = {h: i for i, h in reversed(list(enumerate(self.header)))}
        missing = [c for c in COLUMNS.get(self.name, ()) if c not in self.column]
        twice = sorted({h for h in self.header if h and self.header.count(h) > 1})
        if missing or twice:
            self.close()
            raise FeedError("%s:1: %s: the feed is not valid GTFS"
                            % (self.where, ("no column " + ", ".join(missing)) if missing
                               else "column %s twice" % ", ".join(twice)))

    def _lines(self) -> Iterator[str]:
        for line in _text_lines(self.handle, self.where):
            if self.keep_text:
                self.consumed.append(line)
            yield line

    def take_text(self) -> str:
        """The text read since the last call, line ends included (a byte-order
        mark left out): the header, or a record and the blank lines before it,
        so that a writer can keep an unchanged record byte for byte."""
        text = "".join(self.consumed)
        self.consumed.clear()
        return text

    def _next(self) -> Optional[list[str]]:
        self.line = self.reader.line_num + 1
        try:
            return next(self.reader, None)
        except csv.Error as error:
            raise FeedError("%s:%d: %s: a quote left open or a damaged record" % (self.where, self.line, error)) from None

    def __iter__(self) -> Iterator[tuple[int, list[str]]]:
        while True:
            record = self._next()
            if record is None:
                return
            if not record or (len(record) == 1 and not record[0].strip()):
                continue
            if len(record) != len(self.header):
                raise FeedError("%s:%d: %d fields where the header has %d: the record is cut or a quote is "
                                "left open" % (self.where, self.line, len(record), len(self.header)))
            self.fields = record
            yield self.line, [f.strip() for f in record]

    def close(self) -> None:
        self.handle.close()

    def __enter__(self) -> TableStream:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


@dataclass
class Table:
    """A whole feed file: its rows by column name and the line each starts on."""

    where: str
    header: list[str]
    rows: list[Row]
    lines: list[int]

    def at(self, index: int) -> str:
        """"file:line" of a row, for messages."""
        return "%s:%d" % (self.where, self.lines[index])


def read_table(feed: Feed, name: str, required: bool = True) -> Optional[Table]:
    """A feed file as a Table, its ids checked unique; a missing file is an
    error, or None where not required."""
    if not feed.has(name):
        if required:
            raise FeedError("%s: missing: the feed is not valid GTFS" % feed.where(name))
        return None
    with TableStream(feed, name, keep_text=False) as stream:
        table = Table(stream.where, stream.header, [], [])
        for line, record in stream:
            table.rows.append(dict(zip(stream.header, record)))
            table.lines.append(line)
    key = UNIQUE.get(name)
    if key:
        seen: dict[str, int] = {}
        for row, line in zip(table.rows, table.lines):
            value = row[key]
            if value in seen:
                raise FeedError("%s:%d: %s %s is also on line %d: ids must be unique"
                                % (table.where, line, key, value, seen[value]))
            seen[value] = line
    return table


FeedLike = Union[str, Feed]


def as_feed(feed: FeedLike) -> Feed:
    return feed if isinstance(feed, Feed) else Feed(feed)


def table_rows(feed: FeedLike, name: str) -> list[Row]:
    """Rows of a feed file by column name, by the strict reader (a missing
    file is an error)."""
    table = read_table(as_feed(feed), name)
    assert table is not None
    return table.rows


def optional_rows(feed: FeedLike, name: str) -> Optional[list[Row]]:
    """As table_rows; a missing file gives None."""
    table = read_table(as_feed(feed), name, required=False)
    return table.rows if table is not None else None
