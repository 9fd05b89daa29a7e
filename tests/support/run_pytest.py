"""Runs pytest on the files named, as `python -m pytest` would; an interpreter without pytest is
a skip (status 77) that says what to install, not a failure of the code under test."""
import sys

# Guarded: worker processes that a test starts (Dask's) import this file again as their main.
if __name__ == "__main__":
    try:
        import pytest
    except ImportError:
        print(f"1 skipped: {sys.executable} has no pytest (apt-get install python3-pytest)")
        sys.exit(77)
    sys.exit(pytest.main(sys.argv[1:]))
