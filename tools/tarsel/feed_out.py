"""A changed copy of a GTFS feed put in place whole: where it may go, the
staging beside it, and the step that makes it the output.

The copy is written in full to a staging folder or zip file beside OUT, each
file flushed to disk, and only then renamed to OUT, so that a reader never
meets half a feed and a failure leaves OUT as it was.  The caller checks the
staged copy (open it as a Feed) before put_in_place."""

from __future__ import annotations

import os
import shutil
import tempfile
import zipfile
from dataclasses import dataclass

from .errors import TarselError
from .feed import Feed
from .files import put_folder_in_place, scratch_file, sync_directory, write_synced


class OutError(TarselError):
    """An output that would harm the feed, the problem or files beside it."""


@dataclass
class Target:
    """Where the copy goes: the real path (a link followed to the file it
    names) and whether it is a zip archive."""

    path: str
    is_zip: bool
    replace: bool     # OUT exists and --force lets it go


def _inside(path: str, folder: str) -> bool:
    return path == folder or path.startswith(folder.rstrip(os.sep) + os.sep)


def choose_target(feed_path: str, problem: str, out: str, force: bool) -> Target:
    """Refuses an OUT that is the feed, lies inside a feed folder, or holds the
    feed or the problem; an existing OUT only with force."""
    real = os.path.realpath(out)
    feed_real = os.path.realpath(feed_path)
    is_zip = out.lower().endswith(".zip")
    if os.path.exists(real) and os.path.samefile(real, feed_real):
        raise OutError("%s is the feed itself" % out)
    if os.path.isdir(feed_real) and _inside(real, feed_real):
        raise OutError("%s lies inside the feed %s: write the copy elsewhere" % (out, feed_path))
    for what, path in (("the feed", feed_real), ("the problem", os.path.realpath(problem))):
        if _inside(path, real):
            raise OutError("%s holds %s %s: write the copy elsewhere" % (out, what, path))
    replace = False
    if os.path.lexists(real):
        if is_zip and os.path.isdir(real):
            raise OutError("%s is a folder, not a zip file" % out)
        if not is_zip and not os.path.isdir(real):
            raise OutError("%s exists and is not a folder (name a folder, or a file ending in .zip)" % out)
        if is_zip or os.listdir(real):
            if not force:
                raise OutError("%s exists%s: --force replaces it"
                               % (out, "" if is_zip else " and is not an empty directory"))
            replace = True
    if not os.path.isdir(os.path.dirname(real)):
        raise OutError("%s: no folder %s" % (out, os.path.dirname(real)))
    return Target(real, is_zip, replace)


def check_member_names(feed: Feed) -> None:
    """A zip member whose name leads out of the folder it is copied to."""
    if feed.archive is None:
        return
    for info in feed.archive.infolist():
        name = info.filename
        parts = name.replace("\\", "/").split("/")
        if name.startswith(("/", "\\")) or ".." in parts or (len(name) > 1 and name[1] == ":"):
            raise OutError("%s: member %r names a place outside the feed; refused" % (feed.path, name))


def stage(target: Target, feed: Feed, files: dict[str, bytes]) -> str:
    """Writes every file of the feed (files' own bytes where given, in the
    feed's order, then the new ones) to a staging path beside the target;
    returns that path.  On error nothing stays behind."""
    parent = os.path.dirname(target.path)
    prefix = ".%s." % os.path.basename(target.path)
    names = feed.names() + [n for n in files if not feed.has(n)]
    if target.is_zip:
        scratch = scratch_file(target.path, ".zip")
    else:
        scratch = tempfile.mkdtemp(prefix=prefix, dir=parent)
    try:
        if target.is_zip:
            with open(scratch, "wb") as raw:
                with zipfile.ZipFile(raw, "w", zipfile.ZIP_DEFLATED) as archive:
                    for name in names:
                        archive.writestr(name, files[name] if name in files else feed.read_bytes(name))
                raw.flush()
                os.fsync(raw.fileno())
        else:
            for name in names:
                path = os.path.join(scratch, name)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                write_synced(path, files[name] if name in files else feed.read_bytes(name), "xb")
            sync_directory(scratch)
    except BaseException:
        discard(scratch)
        raise
    return scratch


def discard(scratch: str) -> None:
    if os.path.isdir(scratch):
        shutil.rmtree(scratch, ignore_errors=True)
    elif os.path.lexists(scratch):
        os.remove(scratch)


def put_in_place(target: Target, scratch: str) -> None:
    """The staged copy becomes OUT; a folder it replaces goes only once the
    new one stands in its place."""
    try:
        if target.is_zip:
            os.replace(scratch, target.path)
            sync_directory(os.path.dirname(target.path))
        else:
            put_folder_in_place(scratch, target.path)
    except BaseException:
        discard(scratch)
        raise
