#!/usr/bin/env bash
# package_test.sh BUILD_DIR SOURCE_DIR
# Makes the .deb packages with CPack, unpacks them with dpkg -x and checks what a user gets:
# the programs run from /usr/bin, the desktop entry, icon and metainfo validate, and the
# package dependencies name the shared libraries the programs link.
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
program_deb=$(ls "$scratch"/out/quorvex_*.deb) || fail "no program package"
server_deb=$(ls "$scratch"/out/quorvex-server_*.deb) || fail "no server package"

# Debian's own checks of a package: no errors (warnings are reported, not failed).
if command -v lintian >/dev/null; then
  lintian --fail-on error "$program_deb" "$server_deb" >"$scratch/lintian.log" 2>&1 ||
    { cat "$scratch/lintian.log" >&2; fail "lintian reports errors"; }
fi

depends=$(dpkg-deb -f "$program_deb" Depends)
for lib in libqt6widgets6 libcurl4 libssl3 qt6-qpa-plugins; do
  [[ $depends == *"$lib"* ]] || fail "program package does not depend on $lib: $depends"
done
server_depends=$(dpkg-deb -f "$server_deb" Depends)
[[ $server_depends == *libsqlite3* ]] || fail "server package does not depend on SQLite: $server_depends"
[[ $server_depends != *libqt6* ]] || fail "server package pulls in Qt: $server_depends"

root=$scratch/root
dpkg -x "$program_deb" "$root"
dpkg -x "$server_deb" "$root"

for f in usr/bin/quorvex usr/bin/quorvex-cli usr/bin/quorvex-server \
         usr/share/applications/org.quorvex.Quorvex.desktop \
         usr/share/metainfo/org.quorvex.Quorvex.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/org.quorvex.Quorvex.svg \
         usr/share/icons/hicolor/48x48/apps/org.quorvex.Quorvex.png \
         usr/share/icons/hicolor/256x256/apps/org.quorvex.Quorvex.png \
         usr/share/quorvex-server/deploy/quorvex-server.service \
         usr/share/quorvex-server/deploy/nginx-quorvex.conf \
         usr/share/doc/quorvex/copyright usr/share/doc/quorvex-server/copyright \
         usr/share/doc/quorvex/changelog.gz usr/share/doc/quorvex-server/changelog.gz \
         usr/share/man/man1/quorvex.1.gz usr/share/man/man1/quorvex-cli.1.gz \
         usr/share/man/man1/quorvex-server.1.gz; do
  [ -e "$root/$f" ] || fail "$f is not in the packages"
done
# The shipped unit starts the program the server package installs, and points at its README.
unit=$root/usr/share/quorvex-server/deploy/quorvex-server.service
exec_path=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
[ -x "$root$exec_path" ] || fail "the unit starts $exec_path, which the package does not install"
doc_path=$(sed -n 's|^Documentation=file://||p' "$unit")
[ -f "$root$doc_path" ] || fail "the unit's documentation $doc_path is not in the package"
# Stripping must keep the version the About window and the upload read.
for exe in quorvex quorvex-cli quorvex-server; do
  sections=$(readelf -S "$root/usr/bin/$exe")
  [[ $sections == *.qv_version* ]] || fail "$exe lost its version section"
done

appstreamcli validate --no-net "$root/usr/share/metainfo/org.quorvex.Quorvex.metainfo.xml" >/dev/null ||
  fail "metainfo does not validate"
desktop-file-validate "$root/usr/share/applications/org.quorvex.Quorvex.desktop" ||
  fail "desktop entry does not validate"

# The installed terminal front end converts this machine's report through its carried tool.
(cd "$scratch" && HOME="$scratch/home" "$root/usr/bin/quorvex-cli" report --live >"$scratch/report.txt") ||
  fail "quorvex-cli report --live failed from the package"
grep -q 'Memory' "$scratch/report.txt" || { cat "$scratch/report.txt" >&2; fail "report has no memory line"; }
"$root/usr/bin/quorvex-server" --help >/dev/null || fail "quorvex-server --help failed from the package"
# Only drawing needs Qt Widgets: the terminal program links none, and loads the installed drawing
# module for a curve's picture.
! ldd "$root/usr/bin/quorvex-cli" | grep -q libQt6 || fail "quorvex-cli links Qt"
printf 'block_kb;read_mbyte_s;write_mbyte_s;latency_ns\n1;16000;9000;1.5\n2;15000;9000;1.6\n' >"$scratch/in.csv"
(cd "$scratch" && HOME="$scratch/home" "$root/usr/bin/quorvex-cli" curve --from "$scratch/in.csv" \
  --png "$scratch/curve.png" >/dev/null) || fail "quorvex-cli curve --png failed from the package"
[ -s "$scratch/curve.png" ] || fail "quorvex-cli curve --png wrote no picture from the package"
echo "package_test: both packages install and run"
