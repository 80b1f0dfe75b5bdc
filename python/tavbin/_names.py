"""The module's file name on each platform: the name the package looks it up by,
and the one a wheel carries it under. Imports nothing, so that setup.py can read
it before the package is built."""

LIBRARY_NAMES = {
    "win32": "binary-read-util.dll",
    "darwin": "libbinary-read-util.1.dylib",
    "linux": "libbinary-read-util.so.1",
}


def library_name(platform: str) -> str:
    """The file name on a platform named as sys.platform names it (other Unix-likes
    take Linux's)."""
    return LIBRARY_NAMES.get(platform, LIBRARY_NAMES["linux"])
