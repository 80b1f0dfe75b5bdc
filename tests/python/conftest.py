"""Shared settings for the Python package's tests.

Run through CTest (python.*), which points TAVBIN_LIBRARY at the build's module
and PYTHONPATH at python/. By hand, from the repository root:
  TAVBIN_LIBRARY=build/default/libbinary-read-util.so.1 PYTHONPATH=python \
      /usr/bin/python3 -m pytest -p no:cacheprovider tests/python
"""

import os
import pathlib

from hypothesis import HealthCheck, settings

ROOT = pathlib.Path(__file__).resolve().parents[2]

# No example database in the working directory, and no deadline: the machines
# that run the suite are often busy with builds.
settings.register_profile(
    "tavbin", database=None, deadline=None, suppress_health_check=[HealthCheck.too_slow]
)
# A quick pass with few examples, for tools/mutate_python.py.
settings.register_profile("tavbin-quick", parent=settings.get_profile("tavbin"), max_examples=15)
settings.load_profile("tavbin-quick" if os.environ.get("TAVBIN_QUICK") else "tavbin")
