#!/usr/bin/env bash
# The window as a desktop sees it once installed. --help and --version answer without a
# display, and a wrong option is refused with status 2. `cmake --install` into a scratch prefix
# gives a desktop entry that desktop-file-validate accepts and that opens morph documents, and
# a shared-mime-info package by which a .mrf file, or a file that only begins like one, is of
# the type application/x-quarro-morph.
# Usage: desktop_install_test.sh QUARRO BUILD_DIR VERSION OUTPUT_DIR MAN_PAGES
# (MAN_PAGES 1 where the build makes the manual pages, 0 where it was configured without them)
set -euo pipefail

QUARRO=$1
BUILD=$2
VERSION=$3
OUT=$4
MAN_PAGES=${5:-1}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$OUT"
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

# Without a display, as from a terminal on a server or in a build script.
no_display() { env -u DISPLAY -u WAYLAND_DISPLAY "$@"; }

HELP=$(no_display "$QUARRO" --help) || fail "--help ended with status $?"
grep -q '^Usage: quarro' <<<"$HELP" || fail "--help printed no usage line: $HELP"
grep -q -- '-g\[eometry\]' <<<"$HELP" || fail "--help does not list the toolkit's options"
VERSION_LINE=$(no_display "$QUARRO" --version) || fail "--version ended with status $?"
[ "$VERSION_LINE" = "quarro $VERSION" ] || fail "--version printed '$VERSION_LINE', not 'quarro $VERSION'"
STATUS=0
no_display "$QUARRO" --bogus >"$OUT/bogus.out" 2>"$OUT/bogus.err" || STATUS=$?
[ "$STATUS" = 2 ] || fail "an unknown option ended with status $STATUS, not 2"
grep -q -- '--bogus' "$OUT/bogus.err" || fail "the refusal does not name the option: $(cat "$OUT/bogus.err")"
[ ! -s "$OUT/bogus.out" ] || fail "a refused command line printed to the standard output"
[ "$(wc -l <"$OUT/bogus.err")" = 2 ] && [ "$(tail -n 1 "$OUT/bogus.err")" = "Try 'quarro --help'." ] ||
  fail "a refusal is the reason and a pointer to --help, not: $(cat "$OUT/bogus.err")"
echo "--help, --version and a wrong option answer without a display"

for tool in desktop-file-validate update-mime-database xdg-mime mimetype appstreamcli; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (scripts/test installs desktop-file-utils, shared-mime-info, xdg-utils," \
      "libfile-mimeinfo-perl and appstream)"
    exit 77
  fi
done

PREFIX="$OUT/prefix"
DATA="$PREFIX/share"
# The scratch folder stands for the user's own data folder, where the databases are looked for.
export XDG_DATA_HOME="$DATA"
cmake --install "$BUILD" --prefix "$PREFIX" >"$OUT/install.log"
ENTRY="$DATA/applications/quarro.desktop"
[ -f "$ENTRY" ] || fail "no desktop entry installed at $ENTRY"
desktop-file-validate "$ENTRY" || fail "desktop-file-validate refused $ENTRY"
grep -qx 'Exec=quarro %f' "$ENTRY" || fail "the entry does not pass the file to the program"
[ -f "$DATA/mime/packages/quarro.xml" ] || fail "no shared-mime-info package installed"
[ -f "$DATA/icons/hicolor/scalable/mimetypes/application-x-quarro-morph.svg" ] || fail "no icon for the type"
# The install itself rebuilt the database of its prefix; once more, as a packager's trigger would.
[ -f "$DATA/mime/mime.cache" ] || fail "cmake --install did not build the MIME database of its prefix"
update-mime-database "$DATA/mime"

# The manual pages: a name line each, the usage line as the synopsis, and the options of --help.
# A build configured without them (the sanitizer builds) installs none.
MAN_LIST=("quarro:\-\-version" "quarro-render:\-\-fraction")
[ "$MAN_PAGES" = 1 ] || MAN_LIST=()
for page in "${MAN_LIST[@]}"; do
  program=${page%%:*}
  MAN="$DATA/man/man1/$program.1"
  [ -f "$MAN" ] || fail "no manual page installed at $MAN"
  grep -q "^$program \\\\- " "$MAN" || fail "$MAN has no name line"
  grep -qx '.SH SYNOPSIS' "$MAN" || fail "$MAN has no synopsis: the usage line of --help was not recognised"
  grep -qF -- "${page#*:}" "$MAN" || fail "$MAN does not list ${page#*:}"
done
METAINFO="$DATA/metainfo/org.quarro.Quarro.metainfo.xml"
[ -f "$METAINFO" ] || fail "no AppStream metadata installed at $METAINFO"
appstreamcli validate --no-net "$METAINFO" || fail "appstreamcli validate refused $METAINFO"
grep -qF '<launchable type="desktop-id">quarro.desktop</launchable>' "$METAINFO" ||
  fail "the AppStream metadata does not launch the installed desktop entry"

# The generic lookup (no desktop session): the scratch folder as the user's data folder.
query() {
  env -u DISPLAY -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID \
    XDG_DATA_HOME="$DATA" XDG_DATA_DIRS=/usr/share "$@"
}
printf 'MRF\0\1\0\0\0' >"$OUT/scene.mrf"
printf 'MRF\0\1\0\0\0' >"$OUT/scene-without-extension"
printf 'plain words\n' >"$OUT/notes.txt"
expect_type() {
  local got
  got=$(query xdg-mime query filetype "$1")
  [ "$got" = "$2" ] || fail "xdg-mime gives '$got' for $(basename "$1"), not $2"
  echo "$(basename "$1"): $got"
}
expect_type "$OUT/scene.mrf" application/x-quarro-morph
expect_type "$OUT/scene-without-extension" application/x-quarro-morph
expect_type "$OUT/notes.txt" text/plain
DEFAULT=$(query xdg-mime query default application/x-quarro-morph)
[ "$DEFAULT" = quarro.desktop ] || fail "the type opens with '$DEFAULT', not quarro.desktop"
echo "the installed entry and type pass"
