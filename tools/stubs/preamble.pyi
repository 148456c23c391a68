"""Types of vorn_core, the extension module that simulates quantum communication networks.

Conventions that hold throughout:

- Every record attribute reads as a new value: a list, a dict or a nested record read from an attribute is
  a copy, so changing it changes nothing until it is assigned back. List attributes accept any sequence.
- A float parameter or attribute accepts anything with a float conversion; counts and seeds are
  non-negative integers below 2**64 (OverflowError otherwise).
- Enumeration members compare by identity, and a member read from an attribute is a new object: compare
  reprs or ``to_u8()``, not the objects.
- Classes whose ``__new__`` takes a ``Never`` argument have no constructor: calling them raises
  TypeError("No constructor defined"); their objects come from the library.
- ``SimulationResult``, ``PyMonteCarloContext`` and the four ``Topology*`` snapshot classes are not module
  attributes: they are reachable only through returned values, so use them in annotations only.
- Records with a constructor pickle and copy field by field (``SimulationResult``, not being a module
  attribute, copies but does not pickle); enumeration members unpickle to the class attribute of the same
  name.
"""

from typing import TypedDict, type_check_only

from typing_extensions import NotRequired

class PanicException(BaseException):
    """An internal failure: a broken invariant of the library. Not an Exception: ``except Exception``
    does not catch it."""

@type_check_only
class _ValidationError(TypedDict):
    type: str
    message: str
    path: NotRequired[str]

@type_check_only
class _ValidationWarning(TypedDict):
    message: str
    path: NotRequired[str]

@type_check_only
class _Validation(TypedDict):
    valid: bool
    filepath: str
    errors: list[_ValidationError]
    warnings: list[_ValidationWarning]

@type_check_only
class _FileDiff(TypedDict, total=False):
    """The report, or only "error" when a file failed to load."""

    summary: str
    nodes_added: list[str]
    nodes_removed: list[str]
    nodes_modified: list[str]
    links_added: list[str]
    links_removed: list[str]
    links_modified: list[str]
    error: str
