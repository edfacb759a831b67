#!/usr/bin/env bash
# scripts/pg-setup on a throwaway cluster of its own, made as Debian makes one
# (peer for the owner on the socket) and logging every statement: the
# workstations get in over verified TLS only, with a password that no file or
# log holds, and a second run changes nothing.
#   pg_setup.sh PG-SETUP NORVA-DB
set -euo pipefail
setup="$1"
norva_db="$2"
bindir=/usr/lib/postgresql/15/bin
work="$(mktemp -d)"
chmod 0711 "$work" # the cluster's owner passes through to its folder
owner="$(id -un)"
[ "$owner" = root ] && owner=postgres # the server refuses to run as root
as_owner() { if [ "$(id -un)" = "$owner" ]; then "$@"; else runuser -u "$owner" -- "$@"; fi; }
trap 'as_owner "$bindir/pg_ctl" -D "$work/cluster/data" -m immediate stop >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

install -d -o "$owner" -m 0700 "$work/cluster"
as_owner "$bindir/initdb" -D "$work/cluster/data" -U "$owner" --auth-local=peer --auth-host=scram-sha-256 \
  --encoding=UTF8 --locale=C --no-sync >/dev/null
sed -i '/^host/d' "$work/cluster/data/pg_hba.conf" # nothing over TCP but what the script adds
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
as_owner "$bindir/pg_ctl" -D "$work/cluster/data" -l "$work/cluster/server.log" -w \
  -o "-p $port -k $work/cluster -c fsync=off -c log_statement=all" start >/dev/null

# The hospital's CA and the server's certificate for the name localhost.
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj /CN=ward-ca 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=localhost 2>/dev/null
openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 2 \
  -extfile <(echo 'subjectAltName=DNS:localhost') 2>/dev/null

password='病棟 ｐａｓｓ 1'
options=(--pgdata "$work/cluster/data" --port "$port" --socket-dir "$work/cluster" --listen 127.0.0.1
         --host localhost --network 127.0.0.0/8 --cert server.crt --key server.key)
first="$(NORVA_PG_PASSWORD="$password" "$setup" "${options[@]}" </dev/null)"
# The workstations' location names the gate role; the owner's is IT's alone.
gate="$(echo "$first" | grep -o 'postgresql://[^ ]*' | head -n 1)"
uri="$(echo "$first" | grep -o 'postgresql://norva@[^ ]*' | head -n 1)"
[ "$gate" = "postgresql://norva_gate@localhost:$port/norva?sslmode=verify-full&sslrootcert=/etc/norva/hospital-ca.crt" ] \
  && [ "$uri" = "postgresql://norva@localhost:$port/norva?sslmode=verify-full&sslrootcert=/etc/norva/hospital-ca.crt" ] \
  || { echo "first run gave the locations '$gate' and '$uri':"; echo "$first"; exit 1; }
gate_password="$(echo "$first" | grep -A2 'norva_gate のパスワード' | tail -n 1 | tr -d ' ')"
uri="${uri/\/etc\/norva\/hospital-ca.crt/$work/ca.crt}"
gate="${gate/\/etc\/norva\/hospital-ca.crt/$work/ca.crt}"

# The workstation's side: a password file, the program's tool over verified TLS.
install -d -m 0700 client
(umask 077; echo "localhost:$port:norva:norva:$password" >client/pgpass)
export PGPASSFILE="$work/client/pgpass"
"$norva_db" demo "$uri" --patients 20 --seed 1 >/dev/null
checked="$("$norva_db" check "$uri")"
echo "$checked" | grep -q ': sound$' && ! echo "$checked" | grep -q 'skipped' \
  || { echo "the new ledger's check:"; echo "$checked"; exit 1; }
if psql "postgresql://norva@localhost:$port/norva?sslmode=disable" -c 'SELECT 1' >/dev/null 2>&1; then
  echo "the server let the role in without TLS"; exit 1
fi
refusal="$(PGPASSWORD="$gate_password" psql "$gate" -X -q -c 'SELECT * FROM "患者情報"' 2>&1 || true)"
echo "$refusal" | grep -q 'permission denied' || { echo "the gate role read a patient: $refusal"; exit 1; }
if grep -rqF -e "$password" -e "$gate_password" cluster; then
  echo "the password is written in the cluster's files or log"; exit 1
fi
# A nurse's own role comes in over TLS, and the server refuses it a deletion.
nurse="postgresql://norva.kango@localhost:$port/norva?sslmode=verify-full&sslrootcert=$work/ca.crt"
refusal="$(PGPASSWORD=Kango-Demo-2026 psql "$nurse" -X -q -c 'DELETE FROM "入退院情報"' 2>&1 || true)"
echo "$refusal" | grep -q 'permission denied' || { echo "the nurse's role was not refused a deletion: $refusal"; exit 1; }
if grep -rqF Kango-Demo-2026 cluster; then
  echo "an account's password is written in the cluster's files or log"; exit 1
fi

# Later runs, with neither a password nor a terminal, leave everything as it
# is: with the same options, and with none but the cluster's.
snapshot() { (cd cluster/data && sha256sum pg_hba.conf postgresql.auto.conf norva-server.crt norva-server.key postmaster.pid); }
before="$(snapshot)"
for count in 6 ${#options[@]}; do
  again="$("$setup" "${options[@]:0:$count}" </dev/null)"
  echo "$again" | grep -q 'すべて設定済みです' && echo "$again" | grep -q "sslmode=verify-full" \
    || { echo "a run with ${options[*]:0:$count} did not say it changed nothing:"; echo "$again"; exit 1; }
  [ "$(snapshot)" = "$before" ] || { echo "a run with ${options[*]:0:$count} changed the cluster's files"; exit 1; }
done
echo "pg-setup: sound"
