"""The manual's own directives.

veltrane-options: the option reference, read from the option table that
    veltrane-render prints (--options-json): one table per mode.
Docstrings: shown as written (plain text), not read as markup.
veltrane-gallery: a figure made by the commands in the directive's body,
    run at build time in a scratch folder with the build tree's veltrane-render
    and veltrane-figure first on the PATH. The last command's -o file is
    shown, and the commands are printed under it as they ran.
"""
import json
import os
import pathlib
import shlex
import shutil
import subprocess

from docutils import nodes
from docutils.parsers.rst import directives
from sphinx.errors import ExtensionError
from sphinx.util.docutils import SphinxDirective


def _build(env):
    return pathlib.Path(env.config.veltrane_build)


def _run(env, args, **kwargs):
    build = _build(env)
    path = os.pathsep.join([str(build / "render"), str(build / "python"),
                            os.environ.get("PATH", "")])
    return subprocess.run(args, env={**os.environ, "PATH": path,
                                     "PYTHONPATH": str(build / "python")},
                          capture_output=True, text=True, **kwargs)


def _cell(text):
    # A table cell holds one line: no bars, no line breaks.
    return text.replace("|", "\\|").replace("\n", " ")


class OptionsDirective(SphinxDirective):
    has_content = False

    def run(self):
        renderer = _build(self.env) / "render" / "veltrane-render"
        done = _run(self.env, [str(renderer), "--options-json"])
        if done.returncode != 0:
            raise ExtensionError(f"{renderer} --options-json failed: {done.stderr}")
        table = json.loads(done.stdout)
        lines = []
        every = set(table["modes"])
        for mode in table["modes"]:
            lines += ["```{rubric} " + mode, "```", "",
                      "| option | values | range | default | what it sets |",
                      "|---|---|---|---|---|"]
            for o in table["options"]:
                if mode not in o["modes"]:
                    continue
                names = f"`--{o['name']}`" + (f", `-{o['short']}`" if o["short"] else "")
                if o["kind"] == "flag":
                    names += f", `--no-{o['name']}`"
                values = o["values"] if o["kind"] != "flag" else "(none)"
                if o["kind"] in ("number", "whole number") and o["arity"] > 1:
                    values = f"{o['arity']} numbers: {values}"
                elif o["kind"] in ("number", "whole number") and not values:
                    values = "a number"
                scope = "" if set(o["modes"]) == every else \
                    " (" + ", ".join(o["modes"]) + ")"
                lines.append("| " + " | ".join(_cell(c) for c in [
                    names, values, o.get("ranges", {}).get(mode, o["range"]), o["default"],
                    o["help"] + scope]) + " |")
            lines.append("")
        self.state.nested_parse(self.content.__class__(lines, "veltrane-render --options-json"),
                                self.content_offset, container := nodes.section())
        self.env.note_dependency(str(renderer))
        return container.children


class GalleryDirective(SphinxDirective):
    has_content = True
    required_arguments = 0
    option_spec = {"alt": directives.unchanged, "width": directives.unchanged}

    def run(self):
        commands = [line for line in self.content if line.strip()]
        if not commands:
            raise self.error("veltrane-gallery: no commands.")
        scratch = pathlib.Path(self.env.app.outdir).parent / "gallery-work" / self.env.docname
        scratch.mkdir(parents=True, exist_ok=True)
        for command in commands:
            done = _run(self.env, ["bash", "-c", command], cwd=scratch)
            if done.returncode != 0:
                raise self.error(f"veltrane-gallery: {command!r} failed ({done.returncode}): "
                                 f"{done.stderr.strip()}")
        words = shlex.split(commands[-1])
        if "-o" not in words:
            raise self.error("veltrane-gallery: the last command names no -o file.")
        made = scratch / words[words.index("-o") + 1]
        # The figure goes into the source tree's _gallery folder (not kept
        # in git), where Sphinx finds images.
        target_dir = pathlib.Path(self.env.srcdir) / "_gallery"
        target_dir.mkdir(exist_ok=True)
        target = target_dir / (self.env.docname.replace("/", "-") + "-" + made.name)
        shutil.copyfile(made, target)
        relative = os.path.relpath(target, pathlib.Path(self.env.doc2path(self.env.docname)).parent)
        image = nodes.image(uri=relative, alt=self.options.get("alt", made.name))
        if "width" in self.options:
            image["width"] = self.options["width"]
        text = "\n".join(commands)
        block = nodes.literal_block(text, text, language="console")
        return [image, block]


def _docstring_as_written(app, what, name, obj, options, lines):
    """The package's docstrings are plain text, written for help(): shown as
    they are, in a preformatted block, not read as markup."""
    while lines and not lines[0].strip():
        lines.pop(0)
    if lines:
        lines[:] = ["::", ""] + ["    " + line for line in lines] + [""]


def setup(app):
    app.connect("autodoc-process-docstring", _docstring_as_written)
    app.add_config_value("veltrane_build", "", "env")
    app.add_directive("veltrane-options", OptionsDirective)
    app.add_directive("veltrane-gallery", GalleryDirective)
    return {"version": "1", "parallel_read_safe": True, "parallel_write_safe": True}
