# Checks of the unpacked package, sourced by tst_package.sh: $root is the unpacked tree,
# $tmp a scratch folder, $clean the clean environment, fail() ends the test.

# The PNG icons are the sizes their folders say.
check_icons() {
  for size in 48 128 256; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/zqholder.png"
    dims=$(od -An -j16 -N8 -tu1 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "$png is $dims"
  done
}

# Each program's page names every option its --help lists, and has the parts of its own.
check_man_pages() {
  for program in $(grep '^/usr/bin/.' "$tmp/files"); do
    name=$(basename "$program")
    page=$(gzip -dc "$root/usr/share/man/man1/$name.1.gz" | sed 's/\\-/-/g')
    $clean "$root$program" --help >"$tmp/help-$name" 2>&1 || fail "$name --help"
    for option in $(grep -o -- '--[a-z][a-z-]*' "$tmp/help-$name" | sort -u); do
      printf '%s\n' "$page" | grep -q -- "$option" || fail "man $name does not name $option"
    done
    for part in SYNOPSIS OPTIONS 'EXIT STATUS' ENVIRONMENT FILES EXAMPLES; do
      printf '%s\n' "$page" | grep -q "^\.SH $part" || fail "man $name has no $part"
    done
    printf '%s\n' "$page" | sed -n '/^\.SH NAME/{n;p;}' | grep -q "^$name " || fail "man $name: NAME"
  done
  # zqtransfer reads no report templates; zqhost does.
  gzip -dc "$root/usr/share/man/man1/zqtransfer.1.gz" | grep -q 'zqholder/reports' && fail "man zqtransfer lists report templates"
  gzip -dc "$root/usr/share/man/man1/zqhost.1.gz" | grep -q 'zqholder/reports' || fail "man zqhost lists no report templates"
  return 0
}

check_metainfo() {
  command -v appstreamcli >/dev/null || fail "appstreamcli is missing (package appstream)"
  appstreamcli validate --no-net --pedantic \
    "$root/usr/share/metainfo/org.example.zqholder.metainfo.xml" >"$tmp/appstream" 2>&1 \
    || { cat "$tmp/appstream"; fail "appstreamcli validate"; }
}

# systemd reads the shipped units without a complaint, in the unpacked root (so that the
# programs they start are there) with this machine's own system units beside them.
check_units() {
  command -v systemd-analyze >/dev/null || fail "systemd-analyze is missing (package systemd)"
  examples="$root/usr/share/doc/zqholder/examples"
  mkdir -p "$root/etc/systemd/system" "$root/usr/lib/systemd"
  cp "$examples/zqholder-sync.service" "$examples/zqholder-sync.timer" "$root/etc/systemd/system/"
  cp -r /lib/systemd/system "$root/usr/lib/systemd/"
  for unit in zqholder-sync.service zqholder-sync.timer; do
    systemd-analyze verify --root="$root" "$unit" >"$tmp/verify" 2>&1 \
      || { cat "$tmp/verify"; fail "systemd-analyze verify $unit"; }
    [ ! -s "$tmp/verify" ] || { cat "$tmp/verify"; fail "systemd-analyze verify $unit complains"; }
  done
  grep -q '^Wants=network-online.target' "$examples/zqholder-sync.service" || fail "no Wants=network-online.target"
}

# The service's command line as written, with what systemd gives it (its Environment= lines,
# STATE_DIRECTORY), against a PostgreSQL site made by the installed zqsite: the service name
# of the unit points at the test server, the HR file is a 10-line export with one bad line.
run_sync_service() {
  if [ -z "${ZQ_TEST_PG:-}" ]; then
    [ -z "${CI:-}" ] || fail "no PostgreSQL server for the service run"
    echo "no PostgreSQL server: the service's command line was not run"
    return 0
  fi
  unit="$root/usr/share/doc/zqholder/examples/zqholder-sync.service"
  cleanup_db="zq_units_$$"
  psql "$ZQ_TEST_PG" -qc "CREATE DATABASE $cleanup_db" >/dev/null || fail "CREATE DATABASE"
  { echo "[zqsite]"; echo "$ZQ_TEST_PG" | tr ' ' '\n' | grep -v '^dbname='; echo "dbname=$cleanup_db"; } \
    >"$tmp/pg_service.conf"
  site="PGSERVICEFILE=$tmp/pg_service.conf"
  $clean "$site" "$root/usr/bin/zqsite" init --pg service=zqsite >"$tmp/site.log" 2>&1 || { cat "$tmp/site.log"; fail "zqsite init"; }
  $clean "$site" "$root/usr/bin/zqsite" add-user hrsync --pg service=zqsite >>"$tmp/site.log" 2>&1 || { cat "$tmp/site.log"; fail "zqsite add-user"; }
  $clean "$site" "$root/usr/bin/zqsite" grant hrsync --import --pg service=zqsite >>"$tmp/site.log" 2>&1 || { cat "$tmp/site.log"; fail "zqsite grant"; }
  mkdir -p "$tmp/hr" "$tmp/state/zqholder-sync" "$tmp/credentials"
  for i in 1 2 3 4 5 6 7 8 9; do
    printf 'E%03d,Person %d,p%d@example.com,Sales,Clerk\r\n' "$i" "$i" "$i"
  done >"$tmp/hr/holders.csv"
  printf ',no number,x@example.com,Sales,Clerk\r\n' >>"$tmp/hr/holders.csv"
  # The unit's environment, its specifiers filled as systemd fills them.
  unit_env=$(sed -n 's/^Environment=//p' "$unit" | tr ' ' '\n' \
    | sed -e "s#%S#$tmp/state#g" -e "s#%d#$tmp/credentials#g")
  line=$(sed -n 's/^ExecStart=//p' "$unit")
  [ -n "$line" ] || fail "the service has no ExecStart"
  echo "$line" | grep -q '^/usr/bin/zqtransfer ' || fail "ExecStart runs $line"
  # Only the package root's prefix and the two variables systemd expands change.
  line=$(echo "$line" | sed -e "s#^/usr/bin/#$root/usr/bin/#" \
    -e "s#\${HR_FILE}#$tmp/hr/holders.csv#g" -e "s#\${STATE_DIRECTORY}#$tmp/state/zqholder-sync#g")
  status=0
  # shellcheck disable=SC2086
  env -i PATH=/usr/bin:/bin $unit_env "$site" $line >"$tmp/sync.out" 2>"$tmp/sync.err" || status=$?
  [ "$status" -eq 1 ] || { cat "$tmp/sync.out" "$tmp/sync.err"; fail "the service's command ended $status"; }
  tail -n 1 "$tmp/sync.out" | grep -q '"stored":9, "new":9, "overwritten":0, "kept":0, "refused":1' \
    || { cat "$tmp/sync.out" "$tmp/sync.err"; fail "the service's counts"; }
  report="$tmp/state/zqholder-sync/refused.csv"
  [ "$(wc -l <"$report")" -eq 2 ] || { cat "$report"; fail "the refusal report"; }
  [ "$(stat -c %a "$report")" = 600 ] || fail "the refusal report is mode $(stat -c %a "$report")"
  echo "service ran: $(tail -n 1 "$tmp/sync.out")"
}
