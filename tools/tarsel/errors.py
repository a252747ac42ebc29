"""The package's one error type: what a command refuses or cannot do (a feed,
a file or a choice of options that cannot make what was asked), told on one
line.  Each concern names its own kind of it; the frame every command runs in
(tarsel.command) ends any of them as "program: message" and exit status 1."""


class TarselError(Exception):
    """Refused input or output, told to the user; never a fault of the code."""
