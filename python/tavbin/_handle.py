"""What Reader and Writer share: one C handle, closed exactly once."""

from __future__ import annotations

from types import TracebackType
from typing import Any, ClassVar, NoReturn, Optional, Type, TypeVar

from ._errors import BIG, LITTLE, U32_MAX, InvalidArgError, OomError, Status, check_int, error

_H = TypeVar("_H", bound="Handle")


class Handle:
    """Owns one C handle, destroyed by close(), a with block, or garbage collection.
    After close() the handle is NULL, which every C call refuses; the refusal then
    becomes ValueError."""

    __slots__ = ("_h", "__weakref__")
    _c_close: ClassVar[Any]
    _c_set_endian: ClassVar[Any]
    _c_last_error: ClassVar[Any]

    def _adopt(self, h: Any, order: int) -> None:
        """Keep the handle an open function returned, or say why it returned NULL."""
        name = type(self).__name__
        if not h:
            if order not in (BIG, LITTLE):
                raise InvalidArgError(where=f"{name}: order must be BIG or LITTLE")
            raise OomError(where=name)
        self._h = h

    def close(self) -> None:
        """Destroy the handle. Safe to repeat."""
        h = getattr(self, "_h", None)  # absent if __init__ failed early
        if h:
            self._h = None
            self._c_close(h)
            self._after_close()

    def _after_close(self) -> None:
        pass

    def __del__(self) -> None:
        # Only the handle and class attributes are touched, so this also works
        # while the interpreter shuts down and module globals are gone.
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
        status = self._c_set_endian(self._h, check_int(order, 0, U32_MAX, "order"))
        if status:
            self._fail(status, "set_endian")

    @property
    def last_error(self) -> Status:
        """The last recorded status."""
        return Status(self._c_last_error(self._live("last_error")))

    def __reduce_ex__(self, protocol: Any) -> NoReturn:
        # A copy would share the C handle and close it a second time.
        raise TypeError(f"cannot copy or pickle a {type(self).__name__}: it owns a C handle")

    def _fail(self, status: int, where: str) -> NoReturn:
        name = type(self).__name__
        if not self._h:
            raise ValueError(f"{name}.{where}() on a closed {name.lower()}")
        raise error(status, f"{name}.{where}")

    def _live(self, where: str) -> Any:
        """The handle, for the C calls that would take NULL silently (queries)."""
        if not self._h:
            name = type(self).__name__
            raise ValueError(f"{name}.{where} on a closed {name.lower()}")
        return self._h
