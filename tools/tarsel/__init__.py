"""The Python side of Tarsel: the problem and result files of a problem
directory, and the tools built on them.

    limits        what the solver and the annealers hold
    files         Tarsel.ini, Teste.mvm, Tarsel.bss, Tarsel.prr, Tarsel.sol
    blocks        Tarsel.bla, its blocks matched to the trips, the schedule check
    network       the size of the network the solver will build
    solved        a solved problem directory with its legend files
    feed          a GTFS feed, directory or zip file
    feed_out      a changed copy of a feed, checked, put in place whole
    search_files  shift_search's timetables, a set put in place whole
    gtfs_import, gtfs_export, gtfs_apply_shifts, block_chart, blocks_csv, gen_instance
                  the commands in tools/
"""
