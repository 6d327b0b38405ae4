#!/usr/bin/env bash
# Checks the Debian package the way a user meets it: lintian on the .deb (no
# errors; warnings are printed), the desktop entry and the AppStream metadata
# through their validators, and the package unpacked into a temporary root,
# whose programs print the version and render the same bytes as the build
# tree's, whose man pages render, and whose completion completes.
#   packaging/check.sh build/veltrane_VERSION_ARCH.deb [BUILD_DIR]
set -euo pipefail
deb=$(realpath "${1:?usage: packaging/check.sh PACKAGE.deb [BUILD_DIR]}")
build=$(realpath "${2:-$(dirname "$deb")}")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export QT_QPA_PLATFORM=offscreen
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "-- lintian"
status=0
report=$(lintian --fail-on error --display-info "$deb" 2>&1) || status=$?
grep -v "^running with root" <<<"$report" || true
[ $status -eq 0 ] || fail "lintian reports errors"

dpkg -x "$deb" "$root"
usr=$root/usr
id=$(basename "$usr"/share/metainfo/*.metainfo.xml .metainfo.xml)

echo "-- desktop-file-validate, appstreamcli validate"
desktop-file-validate "$usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml"
grep -qx "Icon=$id" "$usr/share/applications/$id.desktop" || fail "the desktop entry's icon is not $id"
grep -qF "$id" "$usr/bin/veltrane" || fail "the window does not name its desktop entry $id"
for size in 48x48 128x128 256x256; do
    [ "$(identify -format %wx%h "$usr/share/icons/hicolor/$size/apps/$id.png")" = "$size" ] ||
        fail "no $size icon"
done
[ -s "$usr/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
exec_line=$(sed -n 's/^Exec=//p' "$usr/share/applications/$id.desktop")
[ -x "$usr/bin/${exec_line%% *}" ] || fail "the desktop entry starts $exec_line, which is not installed"

echo "-- the unpacked programs"
version=$("$build/render/veltrane-render" --version)
[ "$("$usr/bin/veltrane-render" --version)" = "$version" ] || fail "veltrane-render --version"
[ "$("$usr/bin/veltrane" --version)" = "veltrane ${version##* }" ] || fail "veltrane --version"
echo "$version"
out=$root/renders
mkdir "$out"
for who in build package; do
    program=$build/render/veltrane-render
    [ $who = package ] && program=$usr/bin/veltrane-render
    "$program" veltrane --pixels 200 --quiet -o "$out/$who.png" --classes "$out/$who.npy"
done
cmp "$out/build.png" "$out/package.png" || fail "the packaged renderer draws other bytes"
cmp "$out/build.npy" "$out/package.npy" || fail "the packaged renderer writes other classes"
echo "a 200 x 200 render equals the build tree's"

modules=$(find "$usr/lib" -path "*/dist-packages/veltrane/_core*.so" 2>/dev/null || true)
if [ -n "$modules" ]; then
    packages=$(dirname "$(dirname "$modules")")
    PYTHONPATH=$packages /usr/bin/python3 -c "import veltrane; veltrane.plot" ||
        fail "the packaged Python package does not import"
    echo "the Python package imports"
    help=$(PYTHONPATH=$packages "$usr/bin/veltrane-figure" --help) ||
        fail "veltrane-figure --help fails"
    grep -q -- "--with-exponent" <<<"$help" || fail "veltrane-figure --help lists no options"
    "$usr/bin/veltrane-render" veltrane --pixels 40 --quiet -o "$out/f.png" --classes "$out/f.npy"
    PYTHONPATH=$packages "$usr/bin/veltrane-figure" "$out/f.png.json" -o "$out/f.svg" ||
        fail "the packaged veltrane-figure draws no figure"
    echo "veltrane-figure draws a figure"
fi

echo "-- the manual"
manual=$usr/share/doc/veltrane/html
grep -q "Veltrane" "$manual/index.html" 2>/dev/null || fail "no manual index page in the package"
for page in gallery options api; do
    [ -s "$manual/$page.html" ] || fail "the manual has no $page page"
done
for link in $(find "$manual" -type l); do
    target=$(readlink "$link")
    # Where the link points once installed, on this system.
    [ -e "$(realpath -m "$(dirname "${link#"$root"}")/$target")" ] ||
        fail "${link#"$root"} links to $target, which is not installed"
done
echo "the manual: $(find "$manual" -name '*.html' | wc -l) pages"

echo "-- the man pages"
for page in veltrane veltrane-render veltrane-figure; do
    text=$(MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1.gz" 2>"$out/man.err")
    [ ! -s "$out/man.err" ] || { cat "$out/man.err" >&2; fail "$page(1) renders with warnings"; }
    # A name, and the options listed (under OPTIONS, or under the help's own
    # headings, as veltrane-render's common and per-mode options are).
    grep -q "^NAME" <<<"$text" && grep -qE "^ +-h, --help" <<<"$text" ||
        fail "$page(1) is not a man page"
    echo "$page(1): $(wc -l <<<"$text") lines"
done

echo "-- the options of the unpacked man pages and completion"
completions=$root$(pkg-config --variable=completionsdir bash-completion)
bash "$(dirname "$0")/test_options.sh" "$usr/bin/veltrane" "$usr/bin/veltrane-render" \
    "$usr/share/man/man1" "$completions/veltrane-render"
echo "the package checks passed"
