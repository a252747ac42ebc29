"""A schedule as vehicles, each the trips of the trip file it serves in
order: what the solver's network charges for it, and its block file in the
layout of Tarsel.bla, so that the block tools and the report read a schedule
made outside the solver as they read the solver's own."""

from __future__ import annotations

import time
from dataclasses import dataclass
from typing import Optional, Protocol, Sequence

from .files import Parameters, TripFile, TripRow, format_clock
from .interlining import float32
from .network import LONG, connection_kind
from .solved import Solved

VEHICLE_COST = 1000     # the cost of one vehicle, on the solver's return arc


class Timed(Protocol):
    """A trip as a block line or a trip line shows it."""

    origin: str
    departure: int
    destination: str
    arrival: int


@dataclass
class Charge:
    """What the network's arcs charge, taken apart."""

    dead_run: int = 0      # minutes charged as dead run: pull-out, pull-in, between trips
    waiting: int = 0       # minutes charged as waiting between trips
    via_depot: int = 0     # connections through the depot, each charged the short-arc parameter

    def add(self, other: "Charge") -> None:
        self.dead_run += other.dead_run
        self.waiting += other.waiting
        self.via_depot += other.via_depot

    def total(self, parameters: Parameters) -> int:
        return (parameters.deadrun_weight * self.dead_run + parameters.layover_weight * self.waiting
                + parameters.short_arc_param * self.via_depot)


def connection(files: TripFile, parameters: Parameters, groups: bool, before: Timed, after: Timed,
               layover: int) -> Charge:
    """The arc from one trip to the next: with room for a trip to the depot and
    the short-arc parameter it is a long one, charged the dead run through the
    depot; any other charges the direct dead run and the waiting (measured
    after the shorter way round where link groups are in force)."""
    depot = files.names[0]
    direct = files.dead_run(before.destination, after.origin)
    via = files.dead_run(before.destination, depot) + files.dead_run(depot, after.origin)
    if connection_kind(before.arrival + layover, after.departure, direct, via, parameters.short_arc_param,
                       groups) == LONG:
        return Charge(via, 0, 1)
    gap = after.departure - before.arrival
    return Charge(direct, gap - (min(direct, via) if groups else direct), 0)


def vehicle_charge(files: TripFile, parameters: Parameters, trips: Sequence[TripRow]) -> Charge:
    depot = files.names[0]
    charge = Charge(files.dead_run(depot, trips[0].origin) + files.dead_run(trips[-1].destination, depot))
    for before, after in zip(trips, trips[1:]):
        charge.add(connection(files, parameters, False, before, after, before.min_layover))
    return charge


@dataclass
class Totals:
    dead_run: int = 0
    layover: int = 0
    parking: int = 0
    depot_returns: int = 0


def _vehicle_lines(files: TripFile, min_depot_time: int, number: int, trips: Sequence[TripRow],
                   totals: Totals) -> list[str]:
    """One vehicle block as the solver writes it, its sums added to totals."""
    depot = files.names[0]
    pull_out = files.dead_run(depot, trips[0].origin)
    out = [" \n", "\n <Vehicle Block --- %d >\n" % number,
           "\nLeave Depot: %s at %s\n" % (depot, format_clock(trips[0].departure - pull_out)),
           "\nTrip    <----Partida---->    <----Chegada---->    V.Vazia  T.Espera  Linha ",
           "\n" + "-" * 75 + "\n"]
    dead_run, layover, parking = 0, 0, 0
    for position, trip in enumerate(trips, 1):
        before_dead, wait = pull_out, 0
        if position > 1:
            p = trips[position - 2]
            gap = trip.departure - p.arrival
            to_depot, from_depot = files.dead_run(p.destination, depot), files.dead_run(depot, trip.origin)
            if to_depot + from_depot + min_depot_time <= gap:
                park = gap - to_depot - from_depot
                out.append("\n    Return to Depot: %s & Park for %s      %2d        0\n" % (depot, format_clock(park), to_depot))
                out.append("\n")
                dead_run += to_depot
                parking += park
                totals.depot_returns += 1
                before_dead = from_depot
            else:
                before_dead = files.dead_run(p.destination, trip.origin)
                wait = gap - before_dead
        out.append("%4d    %-8s    %s    %-8s    %s      %2d       %2d      %2.2f\n"
                   % (position, files.names[files.terminal(trip.origin)], format_clock(trip.departure),
                      files.names[files.terminal(trip.destination)], format_clock(trip.arrival),
                      before_dead, wait, float32(trip.group_key)))
        dead_run += before_dead
        layover += wait
    pull_in = files.dead_run(trips[-1].destination, depot)
    dead_run += pull_in
    out.append("-" * 75 + "\n")
    out.append("Return to the Depot: %s - DeadRun: %d\n" % (depot, pull_in))
    out.append("\nTotal Dead Run      \t%s  hh:mm\n" % format_clock(dead_run))
    out.append("Total Extra Layover   \t%s  hh:mm\n" % format_clock(layover))
    out.append("Total Parking at Depot\t%s  hh:mm\n" % format_clock(parking))
    out.append("-" * 36 + "\n")
    totals.dead_run += dead_run
    totals.layover += layover
    totals.parking += parking
    return out


def format_block_file(files: TripFile, parameters: Parameters, vehicles: Sequence[Sequence[TripRow]],
                      notes: Sequence[str] = (), stamp: Optional[str] = None) -> tuple[str, Totals, int]:
    """The block file of a schedule, vehicles numbered by their first trip as
    the solver numbers them; `notes` are header lines of the form "#...".
    Returns the text, the totals and the operational cost."""
    ordered = sorted((v for v in vehicles if v), key=lambda v: v[0].number)
    operational = sum(vehicle_charge(files, parameters, v).total(parameters) for v in ordered)
    out = ["#SDVSP solved through Arc Generation Technique\n",
           "\n#Blocks of trip with number of buses: %d\n" % len(ordered),
           "#Total of trips: %d\n" % sum(len(v) for v in ordered),
           "#Total cost of this schedule: %d\n" % operational,
           "#Minimum depot time: %s\n" % format_clock(parameters.min_depot_time)]
    out.extend(note + "\n" for note in notes)
    totals = Totals()
    for number, trips in enumerate(ordered, 1):
        out.extend(_vehicle_lines(files, parameters.min_depot_time, number, trips, totals))
    cost = (parameters.deadrun_weight * totals.dead_run + parameters.layover_weight * totals.layover
            + parameters.min_depot_time * totals.depot_returns)
    out.append("\n\n----- Statistics from Schedule -----")
    out.append("\nTotal Dead Run      \t%s  hh:mm\n" % format_clock(totals.dead_run))
    out.append("Total Layover         \t%s  hh:mm\n" % format_clock(totals.layover))
    out.append("Total Parking at Depot\t%s  hh:mm\n" % format_clock(totals.parking))
    out.append("Total Depot Returns: \t %4d\n" % totals.depot_returns)
    out.append("Total Scheduling Cost:\t %4d\n" % cost)
    out.append("-" * 36 + "\n")
    out.append((stamp if stamp is not None else time.ctime()) + "\n")
    return "".join(out), totals, operational


def solved_charge(solved: Solved, parameters: Parameters, groups: bool) -> Charge:
    """What each arc of a block file's schedule costs, its trips matched to the
    trip file; a block line that matches no trip counts no minimum layover."""
    files = solved.trip_file
    cost = Charge()
    for block in solved.block_file.blocks:
        if not block.trips:
            continue
        cost.dead_run += files.dead_run(block.depot or files.names[0], block.trips[0].origin) + block.return_dead_run
        for before, after in zip(block.trips, block.trips[1:]):
            trip = solved.trip_of(block, before)
            cost.add(connection(files, parameters, groups, before, after, trip.min_layover if trip else 0))
    return cost
