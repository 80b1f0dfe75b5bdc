"""Shared settings for the Python package's tests.

Run through CTest (python.*), which points TAVBIN_LIBRARY at the build's module
and PYTHONPATH at python/. By hand, from the repository root:
  TAVBIN_LIBRARY=build/default/libbinary-read-util.so.1 PYTHONPATH=python \
      /usr/bin/python3 -m pytest -p no:cacheprovider tests/python
"""

import pathlib

from hypothesis import HealthCheck, settings

ROOT = pathlib.Path(__file__).resolve().parents[2]

# No example database in the working directory, and no deadline: the machines
# that run the suite are often busy with builds.
settings.register_profile(
    "tavbin", database=None, deadline=None, suppress_health_check=[HealthCheck.too_slow]
)
settings.load_profile("tavbin")
