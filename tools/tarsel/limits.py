"""What the solver and the annealers hold: a problem beyond these is refused
or runs out of room, so the writers check them before they write."""

MAX_TRIPS = 2734          # the solver's node table: 2 * trips + 2 <= 5470
MAX_TERMINALS = 65        # terminal 0, the depot, included
MAX_ARCS = 683099         # the solver's arc table
LONG_ARCS_PER_NODE = 40   # long arcs that one arc-generation pass may add per trip
TRIP_NAME_WIDTH = 8       # terminal names in the fixed columns of a trip line
MAX_HOURS = 99            # the hhmm fields of a trip line hold two digits of hours
MAX_GROUPS = 29           # link preference groups in Tarsel.prr
MAX_GROUP_ENTRIES = 28    # keys in one list of a group
MAX_DEAD_RUN = 100000     # minutes: the largest dead-run matrix entry the solver reads
