"""What Reader and Writer share: one C handle, freed when its last user lets go."""

from __future__ import annotations

from types import TracebackType
from typing import Any, ClassVar, Dict, Iterable, NoReturn, Optional, Type, TypeVar

from ._errors import BIG, LITTLE, U32_MAX, InvalidArgError, OomError, Status, check_int, error

_H = TypeVar("_H", bound="Handle")


def owner_type(pointer_type: Any, c_close: Any) -> Any:
    """A pointer type whose instances own the C handle they point to.

    A Reader or Writer keeps one in `_h`; every call loads it once and hands it to
    ctypes, which holds it until the C function returns. close() only drops the
    object's reference, so a call still running on another thread keeps the handle
    (and the buffer a reader borrows, kept on the owner) alive; the last reference
    to go frees them, as .NET's SafeHandle does.
    """

    class Owner(pointer_type):  # type: ignore[misc, valid-type]
        _type_ = pointer_type._type_

        def __del__(self, _close: Any = c_close) -> None:
            if self:
                _close(self)
            borrow = self.__dict__.pop("borrow", None)
            if borrow is not None:
                borrow.release()

    Owner.__name__ = Owner.__qualname__ = "Owned" + pointer_type._type_.__name__
    return Owner


def define(
    namespace: Dict[str, Any],
    template: str,
    rows: Iterable[Dict[str, str]],
    scope: Dict[str, Any],
    owner: str,
) -> None:
    """Add to a class body's namespace one method per row of a table: `template`
    is the source of the method, its fields ({name}, {doc} ...) filled from each
    row, compiled in the module scope `scope`.

    Compiled from text rather than made by a closure, so that each is the very
    code a method written out by hand would be: a closure would have to fetch its
    ctypes field by name on every call, which costs more than the C call it
    wraps saves (bench/python_read.py measures both paths).
    """
    for row in rows:
        made: Dict[str, Any] = {}
        exec(template.format(**row), scope, made)  # noqa: S102
        name = row["name"]
        method = made[name]
        method.__qualname__ = f"{owner}.{name}"
        namespace[name] = method


class Handle:
    """Owns one C handle, destroyed by close(), a with block, or garbage collection.
    After close() the handle is NULL, which every C call refuses; the refusal then
    becomes ValueError."""

    __slots__ = ()
    _h: Any
    # Held by every method that makes several C calls or reads what one left, so
    # that each call runs whole when threads share the handle. close() does not
    # take it: a running call holds the C handle's owner (see owner_type).
    _lock: Any
    _c_set_endian: ClassVar[Any]
    _c_last_error: ClassVar[Any]

    def _raise_if_not_opened(self, h: Any, order: int) -> None:
        """Raise why an open function returned NULL; nothing if h is a handle."""
        name = type(self).__name__
        if not h:
            if order not in (BIG, LITTLE):
                raise InvalidArgError(where=f"{name}: order must be BIG or LITTLE")
            raise OomError(where=name)

    def close(self) -> None:
        """Destroy the handle. Safe to repeat, and from another thread while a call
        runs: that call completes first."""
        try:
            h = self._h
        except AttributeError:  # __init__ failed early
            return
        if h:
            self._h = None

    def __del__(self) -> None:
        # Only the handle is touched, so this also works while the interpreter
        # shuts down and module globals are gone.
        self.close()

    def __enter__(self: _H) -> _H:
        return self

    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None:
        self.close()

    @property
    def closed(self) -> bool:
        """True after close()."""
        return not self._h

    def set_endian(self, order: int) -> None:
        """Change the byte order of what follows: the cursor does not move, bytes
        already written stay as they are. InvalidArgError (recorded, order kept)
        if order is not BIG or LITTLE."""
        order = check_int(order, 0, U32_MAX, "order")
        with self._lock:
            status = self._c_set_endian(self._h, order)
            if status:
                self._fail(status, "set_endian")
            self._order = order

    @property
    def last_error(self) -> Status:
        """The last recorded status."""
        return Status(self._c_last_error(self._live("last_error")))

    def __reduce_ex__(self, protocol: Any) -> NoReturn:
        # A copy would share the C handle and close it a second time.
        raise TypeError(f"cannot copy or pickle a {type(self).__name__}: it owns a C handle")

    def _fail(self, status: int, where: str, offset: Optional[int] = None) -> NoReturn:
        name = type(self).__name__
        h = self._h
        if not h:
            raise ValueError(f"{name}.{where}() on a closed {name.lower()}")
        if offset is None:
            offset = self._failed_at(h, where)
        raise error(status, f"{name}.{where}", offset)

    def _failed_at(self, h: Any, where: str) -> int:
        raise NotImplementedError

    def _live(self, where: str) -> Any:
        """The handle, for the C calls that would take NULL silently (queries)."""
        h = self._h
        if not h:
            name = type(self).__name__
            raise ValueError(f"{name}.{where} on a closed {name.lower()}")
        return h
