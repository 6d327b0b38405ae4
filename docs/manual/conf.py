# The manual of Veltrane: Markdown chapters (MyST), the option reference
# generated from veltrane-render's option table, a gallery whose figures the
# build draws with veltrane-figure from the commands printed under them, and
# the Python API from its docstrings.
#
# The build tree whose programs and Python package the manual uses is
# $VELTRANE_BUILD, by default build/ at the top of the source tree.
import os
import pathlib
import sys

here = pathlib.Path(__file__).resolve().parent
build = pathlib.Path(os.environ.get("VELTRANE_BUILD", here.parent.parent / "build")).resolve()
sys.path.insert(0, str(here / "_ext"))
sys.path.insert(0, str(build / "python"))

project = "Veltrane"
author = "The Veltrane developers"
copyright = "2026, " + author
release = version = os.environ.get("VELTRANE_VERSION", "0.1")

extensions = ["myst_parser", "sphinx.ext.autodoc", "veltrane_manual"]
source_suffix = {".md": "markdown"}
myst_heading_anchors = 3
exclude_patterns = ["_build", "_gallery"]
html_theme = "alabaster"
html_title = "Veltrane manual"
html_copy_source = False
html_show_sourcelink = False
# No request leaves the page: no fonts or scripts from elsewhere.
html_theme_options = {"font_family": "sans-serif", "head_font_family": "sans-serif",
                      "show_powered_by": False}

autodoc_member_order = "bysource"
autodoc_docstring_signature = True

veltrane_build = str(build)
