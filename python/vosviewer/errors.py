"""The exceptions of vosviewer.

Each carries the program's own message (as the window shows it, often in
Japanese) in ``message`` and an English gloss naming the cause in ``gloss``;
``str()`` gives both, as vosctl prints them.

VosFileError is an OSError with ``errno`` (None when the cause is the
file's content, not the system) and ``filename``; a missing file raises
VosFileNotFoundError (also a FileNotFoundError), a file the user may not
read or write VosPermissionError (also a PermissionError), a folder
where a file belongs VosIsADirectoryError (also an IsADirectoryError). VosUsageError is
a ValueError.
"""

import errno as _errno
import os as _os

__all__ = ["VosError", "VosFileError", "VosFileNotFoundError", "VosPermissionError", "VosIsADirectoryError",
           "VosDeviceError", "VosUsageError"]


class VosError(Exception):
    """A failure of a file, the logger or an argument, as vosctl reports it."""

    def __init__(self, message: str, gloss: str = "") -> None:
        super().__init__(message, gloss)
        self.message = message
        self.gloss = gloss

    def __str__(self) -> str:
        return f"{self.message} ({self.gloss})" if self.gloss else self.message


class VosFileError(VosError, OSError):
    """A data file could not be opened, read or written, has a bad format,
    or files do not form one record."""

    def __init__(self, message: str, gloss: str = "", errno: "int | None" = None,
                 filename: "str | None" = None) -> None:
        super().__init__(message, gloss)
        # OSError's own fields, set after its __init__ took (message, gloss) as (errno, strerror).
        self.errno = errno  # type: ignore[assignment]  # None for a cause that is no system error
        self.strerror = _os.strerror(errno) if errno is not None else None  # type: ignore[assignment]
        self.filename = filename

    def __reduce__(self):
        return (type(self), (self.message, self.gloss, self.errno, self.filename))


class VosFileNotFoundError(VosFileError, FileNotFoundError):
    """A file or folder named does not exist."""


class VosPermissionError(VosFileError, PermissionError):
    """The user may not read or write a file named."""


class VosIsADirectoryError(VosFileError, IsADirectoryError):
    """A folder was named where a file belongs."""


_BY_ERRNO = {_errno.ENOENT: VosFileNotFoundError, _errno.EACCES: VosPermissionError,
             _errno.EPERM: VosPermissionError, _errno.EISDIR: VosIsADirectoryError}


def _file_error(message: str, gloss: str, errno: "int | None", filename: "str | None") -> VosFileError:
    kind = _BY_ERRNO.get(errno, VosFileError) if errno is not None else VosFileError
    return kind(message, gloss, errno, filename)


class VosDeviceError(VosError):
    """The driver could not be loaded, or the logger or the link to it failed."""


class VosUsageError(VosError, ValueError):
    """An argument was refused: a clock, count or trigger vosctl would refuse,
    or an ambiguous name."""
