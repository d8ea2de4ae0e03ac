#!/bin/sh
# tst_package.sh CPACK BUILD_DIR: builds the .deb, checks its files and control fields,
# unpacks it with dpkg -x and runs the unpacked zqhost (--help without a display, a
# screenshot of a new demo site under Xvfb) with a clean environment, so that only the run
# path and the installed data folders can make it work.
set -eu
cpack=$1 build=$2 fixtures=${3:-}
tmp=$(mktemp -d /tmp/zq-package.XXXXXX)
cleanup_db=""
trap 'rm -rf "$tmp"; [ -z "$cleanup_db" ] || psql "$ZQ_TEST_PG" -qc "DROP DATABASE IF EXISTS $cleanup_db" >/dev/null 2>&1 || true' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/cpack" \
  -D CPACK_OUTPUT_FILE_PREFIX="$tmp/out" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; fail "cpack"; }
deb=$(ls "$tmp"/out/zqholder_*_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no zqholder_*.deb was made"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#' >"$tmp/files"
private=$(grep -m1 '/libZQHolder\.so$' "$tmp/files" | sed 's#/libZQHolder\.so$##')
[ -n "$private" ] || fail "the plug-in is not in the package"
case "$private" in /usr/lib/*/zqholder|/usr/lib/zqholder) ;; *) fail "plug-in in $private" ;; esac
for f in /usr/bin/zqhost /usr/bin/zqtransfer /usr/bin/zqsite \
         "$private/libZQCommon.so" "$private/libZQLanguage.so" "$private/libZQUserRight.so" \
         "$private/libZQCom.so" "$private/libZQUtility.so" "$private/libzqdata.so" "$private/libzqwidgets.so" \
         /usr/share/zqholder/lang/en.ini /usr/share/zqholder/lang/zh_TW.ini \
         /usr/share/zqholder/reports/HolderData.frf \
         /usr/share/zqholder/reports/HolderCardLabelV.frf \
         /usr/share/zqholder/reports/HolderCardLabelH.frf \
         /usr/share/applications/zqholder.desktop \
         /usr/share/icons/hicolor/scalable/apps/zqholder.svg \
         /usr/share/icons/hicolor/48x48/apps/zqholder.png \
         /usr/share/icons/hicolor/128x128/apps/zqholder.png \
         /usr/share/icons/hicolor/256x256/apps/zqholder.png \
         /usr/share/metainfo/org.example.zqholder.metainfo.xml \
         /usr/share/doc/zqholder/README.md /usr/share/doc/zqholder/sync-guide.md \
         /usr/share/doc/zqholder/examples/zqholder-sync.service \
         /usr/share/doc/zqholder/examples/zqholder-sync.timer \
         /usr/share/doc/zqholder/examples/zqholder-sync.cron \
         /usr/share/doc/zqholder/copyright /usr/share/doc/zqholder/changelog.gz; do
  grep -qx "$f" "$tmp/files" || fail "$f is missing from the package"
done
for program in $(grep '^/usr/bin/.' "$tmp/files"); do
  grep -qx "/usr/share/man/man1/$(basename "$program").1.gz" "$tmp/files" \
    || fail "$program has no man page"
done
if grep -q '^/usr/lib/[^/]*\.so' "$tmp/files"; then fail "a library in the public library folder"; fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends" | grep -q 'libqt6widgets6' || fail "shared-library dependencies not computed: $depends"
echo "$depends" | grep -q 'libqt6sql6-sqlite' || fail "no SQLite driver in Depends: $depends"
if echo "$depends" | grep -Eq 'postgresql|xvfb'; then fail "server or Xvfb required: $depends"; fi

dpkg -x "$deb" "$tmp/root"
root=$tmp/root
for binary in "$root"/usr/bin/* "$root$private"/*; do
  runpath=$(readelf -d "$binary" | sed -n 's/.*R[UN]*PATH.*\[\(.*\)\]/\1/p')
  case "$runpath" in \$ORIGIN*) ;; *) fail "$binary has run path '$runpath'" ;; esac
done

# A clean environment: no display, no Qt platform, no library path, no data-folder override.
clean="env -i PATH=/usr/bin:/bin HOME=$tmp/home LANG=C.UTF-8"
mkdir -p "$tmp/home"
. "$(dirname "$0")/package_checks.sh"
check_icons
check_man_pages
check_metainfo
check_units
$clean "$root/usr/bin/zqhost" --help >"$tmp/help" 2>&1 || { cat "$tmp/help"; fail "zqhost --help"; }
grep -q -- '--home' "$tmp/help" || fail "the help lists no options"
if $clean "$root/usr/bin/zqhost" >"$tmp/nodisplay" 2>&1; then fail "zqhost ran without a display"; fi
grep -q 'xvfb-run' "$tmp/nodisplay" || { cat "$tmp/nodisplay"; fail "no message without a display"; }
[ -e "$root/usr/bin/zqtransfer" ] && { $clean "$root/usr/bin/zqtransfer" --help >/dev/null 2>&1 \
  || fail "zqtransfer --help"; }

command -v xvfb-run >/dev/null || { echo "xvfb-run is missing: the window part was not tried"; exit 77; }
$clean xvfb-run -a -s "-screen 0 1280x1024x24" "$root/usr/bin/zqhost" --open holder \
  --screenshot "$tmp/shot.png" >"$tmp/run.log" 2>&1 || { cat "$tmp/run.log"; fail "the installed host"; }
[ -s "$tmp/shot.png" ] || fail "no screenshot"
site=$tmp/home/.local/share/ZQHolder/ZQSite.db
[ -f "$site" ] || fail "no site database in the standard data folder"
holders=$(sqlite3 "$site" 'SELECT COUNT(*) FROM HolderData')
[ "$holders" -eq 50 ] || fail "the demo site has $holders holders"
# The legacy workbook reader runs as a helper process from the private folder: the installed
# tool reads an .xls file into the new site only if it is found there.
if [ -e "$root/usr/bin/zqtransfer" ] && [ -n "$fixtures" ] && [ -f "$fixtures/office-book.xls" ]; then
  grep -qx "$private/zqxlsread" "$tmp/files" || fail "the legacy workbook helper is not packaged"
  sqlite3 "$site" "DELETE FROM HolderData WHERE HolderNo = 'H1'"
  $clean "$root/usr/bin/zqtransfer" import "$fixtures/office-book.xls" --db "$site" --user admin \
    --columns 1249 >"$tmp/xls.log" 2>&1 || [ $? -eq 1 ] || { cat "$tmp/xls.log"; fail "zqtransfer .xls"; }
  [ "$(sqlite3 "$site" "SELECT HolderName FROM HolderData WHERE HolderNo = 'H1'")" = "Ann Lee" ] \
    || { cat "$tmp/xls.log"; fail "the installed tool did not read the legacy workbook"; }
fi
run_sync_service
echo "package $(basename "$deb"): $(wc -l <"$tmp/files") entries, installed host ran"
