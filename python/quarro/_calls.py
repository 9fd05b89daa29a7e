"""The extension's functions as Python callers meet them: the signatures of the typing stub
(real types in help() and editors), and a one-line TypeError naming a wrong keyword and the
accepted ones instead of the binding's message, which prints every argument it was given."""
import functools
import inspect
import os
from typing import Any, Callable, Dict, TypeVar

F = TypeVar("F", bound=Callable[..., Any])


def _stub_namespace() -> Dict[str, Any]:
    """The typing stub run as Python: its aliases, classes and typed function heads."""
    stub = os.path.join(os.path.dirname(__file__), "_quarro.pyi")
    namespace: Dict[str, Any] = {"__name__": "quarro"}
    try:
        with open(stub, encoding="utf-8") as text:
            # Annotations are kept as text until every name they use exists (a class names itself).
            source = "from __future__ import annotations\n" + text.read()
            exec(compile(source, stub, "exec", dont_inherit=True), namespace)  # noqa: S102 - the package's own file
    except OSError:
        pass  # a package without its stub keeps the binding's own signatures
    return namespace


_STUB = _stub_namespace()


def _own_doc(native: Callable[..., Any]) -> str:
    """The binding's docstring without the signature line it starts with."""
    doc = native.__doc__ or ""
    name = getattr(native, "__name__", "")
    if doc.startswith(name + "("):
        doc = doc.split("\n", 1)[1] if "\n" in doc else ""
    return doc.lstrip("\n")


def _refusal(name: str, signature: inspect.Signature, args: Any, kwargs: Any) -> str:
    """What is wrong with the call's arguments, in one line, or "" when they fit the signature."""
    accepted = ", ".join(signature.parameters)
    unknown = [key for key in kwargs if key not in signature.parameters]
    if unknown:
        return f"{name}() got an unexpected keyword argument {unknown[0]!r}; it takes {accepted}"
    try:
        signature.bind(*args, **kwargs)
    except TypeError as error:
        return f"{name}(): {error}; it takes {accepted}"
    return ""


def friendly(native: F) -> F:
    """`native` with the stub's signature and a short refusal of arguments that do not fit it."""
    name = native.__name__
    stub = _STUB.get(name)
    if stub is None:
        return native
    signature = inspect.signature(stub, eval_str=True)

    @functools.wraps(native)
    def call(*args: Any, **kwargs: Any) -> Any:
        try:
            return native(*args, **kwargs)
        except TypeError as error:
            if not str(error).startswith(f"{name}(): incompatible function arguments"):
                raise
            refusal = _refusal(name, signature, args, kwargs)
            raise TypeError(refusal or str(error).split("\n", 1)[0]) from None

    call.__module__, call.__qualname__ = "quarro", name  # where it is found again, e.g. by pickle
    call.__signature__ = signature  # type: ignore[attr-defined]
    call.__doc__ = _own_doc(native)
    call.__wrapped__ = stub  # type: ignore[attr-defined]
    return call  # type: ignore[return-value]
