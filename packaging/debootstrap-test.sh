#!/bin/bash
# debootstrap-test.sh DEB [ROOT [OUT]]: the package on a fresh Debian 12 system, as a new
# site administrator meets it. Makes ROOT with debootstrap (kept for another run), installs
# DEB there with apt, starts the root's own PostgreSQL on a free loopback port, makes an
# empty site with zqsite, adds hrsync with the import right, runs the shipped sync service's
# command line as its unit says (a user of its own, its state folder, the password file as a
# credential) on a 10-line HR file with one bad line, prints the counts and the refusal
# report, and takes screenshots of the installed host in both languages into OUT.
# Not part of ./zq test: it downloads a Debian system. Run as root.
set -euo pipefail

deb=$(realpath "$1")
root=${2:-/tmp/zq-debootstrap}
out=$(realpath "${3:-$PWD}")
[ "$(id -u)" -eq 0 ] || { echo "run as root" >&2; exit 2; }
command -v debootstrap >/dev/null || apt-get install -y -qq debootstrap

# The Debian mirror this machine's apt uses.
mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -m1 debian || true)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" {print $2; exit}' /etc/apt/sources.list)
if [ ! -x "$root/usr/bin/apt-get" ]; then
  echo "== debootstrap bookworm $root"
  debootstrap --variant=minbase bookworm "$root" "$mirror" >/dev/null
fi

mounted=()
mount_in() { mount --bind "$1" "$root$1"; mounted=("$root$1" "${mounted[@]}"); }
stop() {
  chroot "$root" pg_ctlcluster 15 main stop >/dev/null 2>&1 || true
  for m in "${mounted[@]}"; do umount "$m" || true; done
}
trap stop EXIT
mount_in /proc
mount_in /dev
mount_in /dev/pts
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

echo "== apt install ./$(basename "$deb") in the fresh root"
cp "$deb" "$root/tmp/"
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  "/tmp/$(basename "$deb")" postgresql-15 xvfb xauth >"$out/debootstrap-apt.log" 2>&1 \
  || { tail -20 "$out/debootstrap-apt.log"; exit 1; }
in_root dpkg -s zqholder | sed -n 's/^\(Version\|Depends\|Recommends\):/  &/p'

echo "== the root's PostgreSQL, a database user for the sync and its database"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
# The default listen_addresses (localhost) keeps it on the loopback.
in_root pg_conftool 15 main set port "$port"
in_root pg_ctlcluster 15 main start
in_root runuser -u postgres -- psql -q -p "$port" -c "CREATE ROLE zqsync LOGIN PASSWORD 'sync-Pw-7'"
in_root runuser -u postgres -- createdb -p "$port" --owner zqsync access

echo "== /etc/zqholder: the service file from the examples, the password file 0600"
in_root install -d -m 0755 /etc/zqholder
sed -e 's/^host=.*/host=127.0.0.1/' -e "s/^port=.*/port=$port/" \
  "$root/usr/share/doc/zqholder/examples/pg_service.conf" >"$root/etc/zqholder/pg_service.conf"
install -m 0600 /dev/null "$root/etc/zqholder/pgpass"
echo "127.0.0.1:$port:access:zqsync:sync-Pw-7" >"$root/etc/zqholder/pgpass"
site=(env PGSERVICEFILE=/etc/zqholder/pg_service.conf PGPASSFILE=/etc/zqholder/pgpass)

echo "== zqsite: an empty site, hrsync with the import right"
for command in "init" "add-user hrsync --name HR-sync" "grant hrsync --import" \
               "grant hrsync --import" "check --user hrsync"; do
  echo "\$ zqsite $command --pg service=zqsite"
  # shellcheck disable=SC2086
  in_root "${site[@]}" zqsite $command --pg service=zqsite || echo "(exit $?)"
done

echo "== the HR export: 10 lines, the 7th without a number"
mkdir -p "$root/srv/hr"
for i in 1 2 3 4 5 6 7 8 9 10; do
  if [ "$i" -eq 7 ]; then printf ',Nobody %d,n%d@example.com,Sales,Clerk\r\n' "$i" "$i"
  else printf 'E%03d,Person %d,p%d@example.com,Sales,Clerk\r\n' "$i" "$i" "$i"; fi
done >"$root/srv/hr/holders.csv"
chmod 0644 "$root/srv/hr/holders.csv"

echo "== the service's command line, as zqholder-sync.service runs it"
unit="$root/usr/share/doc/zqholder/examples/zqholder-sync.service"
# What systemd does for the unit: a dynamic user, its state folder, the credential.
uid=61873
install -d -m 0700 -o "$uid" -g "$uid" "$root/var/lib/zqholder-sync"
install -d -m 0500 -o "$uid" -g "$uid" "$root/run/credentials/zqholder-sync.service"
install -m 0400 -o "$uid" -g "$uid" "$root/etc/zqholder/pgpass" \
  "$root/run/credentials/zqholder-sync.service/pgpass"
mapfile -t unit_env < <(sed -n 's/^Environment=//p' "$unit" | tr ' ' '\n' \
  | sed -e 's#%S#/var/lib#g' -e 's#%d#/run/credentials/zqholder-sync.service#g')
hr_file=$(printf '%s\n' "${unit_env[@]}" | sed -n 's/^HR_FILE=//p')
line=$(sed -n 's/^ExecStart=//p' "$unit")
echo "ExecStart=$line"
line=${line//\$\{HR_FILE\}/$hr_file}
line=${line//\$\{STATE_DIRECTORY\}//var/lib/zqholder-sync}
status=0
# shellcheck disable=SC2086
chroot "$root" setpriv --reuid="$uid" --regid="$uid" --clear-groups \
  env -i PATH=/usr/bin:/bin "${unit_env[@]}" STATE_DIRECTORY=/var/lib/zqholder-sync $line \
  || status=$?
echo "exit status $status (SuccessExitStatus=1: some lines refused)"
echo "== the refusal report"
ls -l "$root/var/lib/zqholder-sync/refused.csv"
cat "$root/var/lib/zqholder-sync/refused.csv"
echo "== the site after the sync"
in_root "${site[@]}" zqsite check --user hrsync --pg service=zqsite || true

echo "== screenshots of the installed host (demo site), English and Traditional Chinese"
for lang in en zh_TW; do
  in_root xvfb-run -a -s "-screen 0 1280x1024x24" zqhost --home "/tmp/shot-$lang" --lang "$lang" \
    --open department --open holder --screenshot "/tmp/host-$lang.png"
  in_root xvfb-run -a -s "-screen 0 1280x1024x24" zqhost --home "/tmp/shot-$lang" --lang "$lang" \
    --open department --open transfer --screenshot "/tmp/transfer-$lang.png"
  cp "$root/tmp/host-$lang.png" "$root/tmp/transfer-$lang.png" "$out/"
  stat -c '%A %n' "$root/tmp/shot-$lang" "$root/tmp/shot-$lang/ZQSite.db"
done
echo "screenshots in $out: host-en.png host-zh_TW.png transfer-en.png transfer-zh_TW.png"
