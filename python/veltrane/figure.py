"""veltrane-figure: the figure of a render from its files, with axes and a key.

    veltrane-figure RECORD.json -o FIG.pdf|FIG.svg|FIG.png

RECORD.json is the job record veltrane-render (or veltrane.save) writes
beside its picture; the picture is the record's name without ".json", the
classes the file the record names.
"""
import argparse
import pathlib
import sys

FORMATS = ("pdf", "svg", "png")


def parser():
    p = argparse.ArgumentParser(
        prog="veltrane-figure",
        usage="veltrane-figure RECORD.json -o FIG.pdf|FIG.svg|FIG.png [options]",
        description="Draws the figure of a render from its files: the picture as its own "
                    "pixels on axes in the plane's units, a title from the job and a key to "
                    "its colours. Works on the files of any render: the command line, an MPI "
                    "job or Python's veltrane.save; a PDF or SVG figure holds the picture's "
                    "pixels unchanged.")
    # Headings as man pages and other programs' help name them.
    p._positionals.title = "Arguments"
    p._optionals.title = "Options"
    p.add_argument("record", metavar="RECORD.json",
                   help="the job record beside the picture (OUT.png.json)")
    p.add_argument("-o", "--output", metavar="FIG.pdf|FIG.svg|FIG.png", required=True,
                   help="the figure; its format by the extension")
    p.add_argument("--classes", metavar="FILE.npy",
                   help="the classes, where the record's file has moved or was not written")
    p.add_argument("--dpi", type=float, default=100,
                   help="dots per inch of a PNG figure, and of a vector figure's "
                        "rasterised parts (default 100)")
    p.add_argument("--size", type=float, nargs=2, metavar=("W", "H"),
                   help="the figure's width and height in inches (default 6.4 4.8; 6.4 6.4 "
                        "with --with-exponent)")
    p.add_argument("--title", help="the title (default: the mode and the parameters not on "
                                   "the axes; \"\" for none)")
    p.add_argument("--with-exponent", action="store_true",
                   help="orbit: the largest Lyapunov exponent of the orbit from x0 beneath "
                        "the diagram, column for column")
    p.add_argument("--version", action="version", version=_version())
    return p


def _version():
    try:
        from . import _core
        return "veltrane-figure " + str(getattr(_core, "__version__", ""))
    except ImportError:
        return "veltrane-figure"


def main(argv=None):
    args = parser().parse_args(argv)
    out = pathlib.Path(args.output)
    fmt = out.suffix[1:].lower()
    if fmt not in FORMATS:
        parser().error(f"-o: the figure's name must end in .pdf, .svg or .png, not {out.name!r}")
    if not (args.dpi > 0 and args.dpi <= 10000):
        parser().error("--dpi: expects a number in (0, 10000]")
    if args.size and not all(0 < s <= 200 for s in args.size):
        parser().error("--size: expects a width and height in (0, 200] inches")

    try:
        import matplotlib
    except ImportError:
        print("veltrane-figure: needs matplotlib (the package python3-matplotlib).",
              file=sys.stderr)
        return 3
    matplotlib.use("Agg")
    from matplotlib.figure import Figure

    from . import drawing as figures
    try:
        data = figures.load(args.record, classes=args.classes)
        size = args.size or (6.4, 6.4 if args.with_exponent else 4.8)
        figure = Figure(figsize=size, layout="constrained")
        figures.plot(data, figure.add_subplot(), title=args.title,
                     with_exponent=args.with_exponent)
        # Written beside the target first, so that a failure leaves no half
        # figure under its name.
        partial = out.with_name(f".{out.name}.partial")
        try:
            figures.save(figure, partial, fmt, args.dpi)
            partial.replace(out)
        except OSError as e:  # named by the figure's name, not the temporary one
            raise OSError(e.errno, e.strerror, str(out)) from None
        finally:
            try:
                partial.unlink(missing_ok=True)
            except OSError:
                pass
    except (OSError, ValueError, KeyError, TypeError) as e:
        what = str(e) if not isinstance(e, KeyError) else \
            f"{args.record}: the record lacks {e.args[0]!r}."
        if isinstance(e, OSError) and not isinstance(e, figures.MissingFile) and e.filename:
            what = f"{e.filename}: {e.strerror}."
        print(f"veltrane-figure: {what}", file=sys.stderr)
        return 2 if isinstance(e, (figures.MissingFile, ValueError, KeyError, TypeError)) else 3
    return 0


if __name__ == "__main__":
    sys.exit(main())
