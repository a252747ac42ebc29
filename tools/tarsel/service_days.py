"""Service days: the times of a service day as GTFS writes them, and which
services run on a date through calendar.txt and calendar_dates.txt."""

from __future__ import annotations

import collections
import datetime
import re
from typing import Optional

from .feed import FeedError, FeedLike, Row, as_feed, optional_rows


def parse_gtfs_time(text: str) -> Optional[int]:
    """Seconds after the start of the service day from "H:MM:SS" or "HH:MM:SS",
    with blanks, hours past 24 allowed.  Empty text gives None."""
    text = text.strip()
    if not text:
        return None
    match = re.fullmatch(r"(\d{1,3}):(\d{1,2})(?::(\d{1,2}))?", text)
    if not match:
        raise ValueError("not a GTFS time: %r" % text)
    hours, minutes, seconds = int(match.group(1)), int(match.group(2)), int(match.group(3) or 0)
    if minutes > 59 or seconds > 59:
        raise ValueError("not a GTFS time: %r" % text)
    return hours * 3600 + minutes * 60 + seconds


def read_calendar(feed: FeedLike) -> tuple[list[Row], list[Row]]:
    """calendar.txt and calendar_dates.txt; either may be missing, not both."""
    source = as_feed(feed)
    calendar = optional_rows(source, "calendar.txt")
    dates = optional_rows(source, "calendar_dates.txt")
    if calendar is None and dates is None:
        raise FeedError("%s has neither calendar.txt nor calendar_dates.txt" % source.path)
    return calendar or [], dates or []


def services_on(feed: FeedLike, date: str, calendar_files: Optional[tuple[list[Row], list[Row]]] = None) -> set[str]:
    """service_ids running on a date (YYYYMMDD), through calendar.txt and
    calendar_dates.txt (either may be missing)."""
    try:
        day = datetime.datetime.strptime(date, "%Y%m%d").date()
    except ValueError:
        raise FeedError("--date %r: expected YYYYMMDD" % date) from None
    calendar, dates = calendar_files or read_calendar(feed)
    weekday = ["monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"][day.weekday()]
    active = set()
    for row in calendar or []:
        if row.get("start_date", "") <= date <= row.get("end_date", "") and row.get(weekday) == "1":
            active.add(row["service_id"])
    for row in dates or []:
        if row.get("date") == date:
            if row.get("exception_type") == "1":
                active.add(row["service_id"])
            elif row.get("exception_type") == "2":
                active.discard(row["service_id"])
    return active


def busiest_date(feed: FeedLike, trips_of_service: collections.Counter[str],
                 calendar_files: Optional[tuple[list[Row], list[Row]]] = None) -> tuple[str, int]:
    """The date of the calendar with the most trips, the earliest of equals,
    and its trip count."""
    calendar_files = calendar_files or read_calendar(feed)
    calendar, dates = calendar_files
    days: set[str] = {row["date"] for row in dates if row.get("date")}
    for row in calendar:
        try:
            day = datetime.datetime.strptime(row.get("start_date", ""), "%Y%m%d").date()
            end = datetime.datetime.strptime(row.get("end_date", ""), "%Y%m%d").date()
        except ValueError:
            continue
        # A calendar of more than ten years is surely a typing error; its
        # first ten years stand for it.
        end = min(end, day + datetime.timedelta(days=3660))
        while day <= end:
            days.add(day.strftime("%Y%m%d"))
            day += datetime.timedelta(days=1)
    best: Optional[tuple[int, str]] = None
    for date in sorted(days):
        try:
            count = sum(trips_of_service[s] for s in services_on(feed, date, calendar_files))
        except FeedError:
            continue
        if count and (best is None or count > best[0]):
            best = (count, date)
    if best is None:
        raise FeedError("no date of the calendar has trips: give --service")
    return best[1], best[0]
