#!/usr/bin/env bash
# Checks velmora as users get it: validates the menu entry and the metadata,
# makes the Debian package from the build folder given (argument, else
# $BUILD_DIR, else build), has lintian check it, unpacks it into a scratch
# root, checks its dependencies and layout, and starts the unpacked program
# as a user who may not write into its directory: the program must then keep
# its files in ~/.local/share/velmora and write nothing beside itself.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-${BUILD_DIR:-build}}"

fail() { echo "package-check: $*" >&2; exit 1; }
step() { echo "== $*"; }

# desktop-file-validate exits 0 on warnings; a warning here is a fault of ours.
validate_desktop() {
  local out
  out="$(desktop-file-validate "$1" 2>&1)" || fail "$1: ${out}"
  if grep -Eq 'error:|warning:' <<<"$out"; then fail "$1: ${out}"; fi
  [ -z "$out" ] || echo "$out"
}

step "Validating the menu entry and the metadata"
validate_desktop packaging/velmora.desktop
appstreamcli validate --no-net packaging/velmora.metainfo.xml

step "Making the Debian package in ${dir}"
[ -f "$dir/CPackConfig.cmake" ] || fail "$dir is not a configured build folder"
# cpack packs what is built; bring the packaged targets up to date first.
cmake --build "$dir" -j"${JOBS:-$(nproc)}" --target velmora tolka velmora_help >/dev/null
rm -f "$dir"/velmora_*.deb
(cd "$dir" && cpack -G DEB) >"$dir/package-check-cpack.log" 2>&1 \
  || { cat "$dir/package-check-cpack.log" >&2; fail "cpack failed"; }
debs=("$dir"/velmora_*_"$(dpkg --print-architecture)".deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "expected one velmora_<version>_<arch>.deb in $dir"
fi
deb="${debs[0]}"
echo "$deb: $(stat -c %s "$deb") bytes"

step "Dependencies"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks libqt6widgets6"

step "Debian's checks (lintian): no error"
lintian_out="$(lintian --fail-on error "$deb" 2>&1)" && lintian_ok=1 || lintian_ok=0
[ -z "$lintian_out" ] || echo "$lintian_out"
[ "$lintian_ok" -eq 1 ] || fail "lintian reports errors on $deb"

# The scratch root belongs to root with mode 755 like /usr, so that the
# unprivileged user below may read and run the program but not write there.
scratch="$(mktemp -d)"
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  if [ "$(id -u)" -ne 0 ]; then chmod -R u+w "$scratch" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
root="$scratch/root"
mkdir -m 755 "$root"
chmod 755 "$scratch"
dpkg-deb -x "$deb" "$root"

step "Layout"
[ "$(readlink "$root/usr/bin/velmora")" = "../lib/velmora/velmora" ] \
  || fail "usr/bin/velmora is not the link ../lib/velmora/velmora"
for f in usr/lib/velmora/velmora usr/lib/velmora/tolka; do
  if [ ! -f "$root/$f" ] || [ ! -x "$root/$f" ]; then fail "$f missing or not executable"; fi
done
for f in 'usr/lib/velmora/hlp#0i' usr/share/applications/velmora.desktop \
         usr/share/icons/hicolor/scalable/apps/velmora.svg \
         usr/share/metainfo/org.velmora.velmora.metainfo.xml \
         usr/share/doc/velmora/copyright usr/share/doc/velmora/changelog.gz \
         usr/share/doc/velmora/README.md usr/share/man/man1/velmora.1.gz; do
  [ -f "$root/$f" ] || fail "$f missing"
done
# The manual page renders without a warning from groff or man.
man_out="$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/velmora.1.gz" 2>&1 >/dev/null)"
[ -z "$man_out" ] || fail "the manual page: ${man_out}"
help_names() { (cd "$1" && printf '%s\n' hlp*); }
diff <(help_names help/topics) <(help_names "$root/usr/lib/velmora") >&2 \
  || fail "usr/lib/velmora does not hold the help files of help/topics"
for f in help/topics/hlp*; do
  cmp -s "$f" "$root/usr/lib/velmora/${f##*/}" || fail "usr/lib/velmora/${f##*/} differs from $f"
done
validate_desktop "$root/usr/share/applications/velmora.desktop"
# Also checks that the metadata's file name, its id and the menu entry agree.
appstreamcli validate-tree --no-net "$root"

step "Starting the unpacked usr/bin/velmora as a user who cannot write beside it"
home="$scratch/home"
mkdir -m 700 "$home" "$scratch/run"
if [ "$(id -u)" -eq 0 ]; then
  # Root may write anywhere whatever the modes say: run as nobody instead.
  chown 65534:65534 "$home" "$scratch/run"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  chmod -R a-w "$root"
  [ ! -w "$root/usr/lib/velmora" ] || fail "could not make the program directory read-only"
  as_user=()
fi
before="$(cd "$root" && find . -printf '%p %s %T@\n' | sort)"
log="$scratch/velmora.log"
"${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$scratch/run" \
  QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 "$root/usr/bin/velmora" >"$log" 2>&1 &
pid=$!
sleep 3
if ! kill -0 "$pid" 2>/dev/null; then
  wait "$pid" && status=0 || status=$?
  pid=""
  cat "$log" >&2
  fail "velmora ended within 3 s (status $status)"
fi
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=""

after="$(cd "$root" && find . -printf '%p %s %T@\n' | sort)"
[ "$before" = "$after" ] || {
  diff <(echo "$before") <(echo "$after") >&2 || true
  fail "velmora changed its unpacked tree"
}
data="$home/.local/share/velmora"
for f in brink.vlm velmora.ini; do
  [ -f "$data/$f" ] || { cat "$log" >&2; fail "no $f in ~/.local/share/velmora"; }
done
echo "package-check: all checks passed"
