"""The exceptions of vosviewer.

Each carries the program's own message (as the window shows it, often in
Japanese) in ``message`` and an English gloss naming the cause in ``gloss``;
``str()`` gives both, as vosctl prints them.
"""


class VosError(Exception):
    """A failure of a file, the logger or an argument, as vosctl reports it."""

    def __init__(self, message: str, gloss: str = ""):
        super().__init__(message, gloss)
        self.message = message
        self.gloss = gloss

    def __str__(self) -> str:
        return f"{self.message} ({self.gloss})" if self.gloss else self.message


class VosFileError(VosError):
    """A data file could not be opened, read or written, has a bad format,
    or files do not form one record."""


class VosDeviceError(VosError):
    """The driver could not be loaded, or the logger or the link to it failed."""


class VosUsageError(VosError, ValueError):
    """An argument was refused: a clock, count or trigger vosctl would refuse,
    or an ambiguous name."""
