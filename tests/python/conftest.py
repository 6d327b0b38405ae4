import pytest


@pytest.fixture(autouse=True)
def close_figures():
    """Every figure a test opens through pyplot is closed after it."""
    yield
    import sys
    if "matplotlib.pyplot" in sys.modules:
        sys.modules["matplotlib.pyplot"].close("all")
