#!/bin/sh
# Run inside a bare Debian system where the packages quarro and python3-quarro were just
# installed with apt, without a display: the programs start and answer, the manual pages and the
# desktop files are where they belong, the demo renders from another folder, and the module reads
# a picture of each everyday format through its helper.
# Usage: installed_checks.sh VERSION DEMO_FOLDER PICTURE_FOLDER
set -eu
version=$1
demo=$2
pictures=$3
here=$(cd "$(dirname "$0")" && pwd)
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

line=$(quarro --version) || fail "quarro --version ended with status $?"
[ "$line" = "quarro $version" ] || fail "quarro --version printed '$line', not 'quarro $version'"
quarro-render --help >/tmp/render-help.txt || fail "quarro-render --help ended with status $?"
grep -q -- "--fraction" /tmp/render-help.txt || fail "quarro-render --help lists no options"
for page in quarro quarro-render; do
  found=$(man -w "$page") || fail "man -w $page found no page"
  echo "man -w $page: $found"
done
for file in /usr/share/applications/quarro.desktop /usr/share/metainfo/org.quarro.Quarro.metainfo.xml \
  /usr/share/mime/packages/quarro.xml /usr/share/icons/hicolor/scalable/apps/quarro.svg \
  /usr/libexec/quarro/quarro-decode; do
  [ -f "$file" ] || fail "$file is not installed"
done

mkdir -p /tmp/elsewhere
cd /tmp/elsewhere
quarro-render -q "$demo/demo.mrf" -s 64x48 -o frame.png || fail "the demo did not render"
module=$(python3 -c 'import quarro; print(quarro.__version__)') || fail "python3 could not import quarro"
[ "$module" = "$version" ] || fail "quarro.__version__ is '$module', not '$version'"
python3 -c 'import quarro; s = quarro.read_image("frame.png").shape; assert s == (48, 64, 4), s' ||
  fail "the rendered demo frame does not read back at 64 x 48"
echo "quarro $version: the programs answer, the demo renders from another folder, the module imports"
python3 "$here/read_formats.py" "$pictures" 64 48
