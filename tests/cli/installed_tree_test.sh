#!/bin/bash
# An installation in a fresh prefix stands on its own: no installed file names the build tree,
# the installed renderer renders from another folder with its own helper, and without that
# helper it fails with a reason and starts no other program.
# Usage: installed_tree_test.sh BUILD_DIR SOURCE_DIR [PYTHON]
set -u
build=$1
source=$2
python=${3:-python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
helper=$prefix/libexec/quarro/quarro-decode
[ -x "$helper" ] || fail "no helper installed at $helper"

for tree in "$build" "$(realpath "$build")"; do
  named=$(grep -rlF -- "$tree" "$prefix")
  [ -z "$named" ] || fail "installed files name the build tree $tree: $named"
done

mkdir "$work/elsewhere"
cd "$work/elsewhere" || exit 1
"$prefix/bin/quarro-render" -q "$source/examples/demo.mrf" -s 64x48 -o frame.png 2>render.err ||
  fail "the installed renderer failed: $(cat render.err)"
[ -s frame.png ] || fail "the installed renderer wrote no frame"

# The places an older renderer looked for a helper, planted.
rm "$helper"
for planted in "$prefix/bin/quarro-decode" "$prefix/libexec/quarro-decode"; do
  printf '#!/bin/sh\ntouch %s/planted-ran\n' "$work" >"$planted"
  chmod 755 "$planted"
done
if "$prefix/bin/quarro-render" -q "$source/examples/demo.mrf" -s 64x48 -o again.png 2>render.err; then
  fail "the renderer succeeded without its helper"
fi
grep -qF "the decoder program $helper was not found" render.err ||
  fail "the reason does not name the missing helper: $(cat render.err)"
[ ! -e "$work/planted-ran" ] || fail "a planted program ran"

# The installed Python package carries its own helper.
for package in "$prefix"/lib/python3*/dist-packages/quarro; do
  [ -d "$package" ] || continue
  PYTHONPATH=$(dirname "$package") "$python" -c "import quarro, sys; quarro.read_image(sys.argv[1])" \
    "$source/examples/demo_a.png" 2>module.err || fail "the installed package cannot read: $(cat module.err)"
done
exit $failed
