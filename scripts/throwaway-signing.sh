#!/bin/bash
# FOR TRYING ONLY: a throwaway code-signing setup, to try the signing of
# modreg.exe and of the example installers before you have a certificate.
# Nothing it signs is trusted anywhere but where you say so (-CAfile).
#
#   bash throwaway.sh FOLDER          makes FOLDER (it must not exist) with
#       a throwaway CA (ca.pem), a code-signing certificate and key
#       (signer.p12, its password in the file password), and a timestamp
#       authority's; starts an RFC 3161 timestamp server on the loopback
#       (127.0.0.1, a free port), which stops by itself after an hour;
#       prints the three MODREG_SIGN_* settings for scripts/sign.sh:
#         eval "$(bash try/signing/throwaway.sh /tmp/signing)"
#   bash throwaway.sh --stop FOLDER   stops that timestamp server
#
# Check a file signed so:
#   osslsigncode verify -CAfile FOLDER/ca.pem -TSA-CAfile FOLDER/ca.pem -in FILE
# Needs openssl, python3 and osslsigncode (for signing and checking).
# Status 0 when done, 1 when a step failed (its message above), 2 on a
# usage error.
set -euo pipefail

me=$(basename "$0")
fail() { echo "$me: $*" >&2; exit 1; }
usage() {
  echo "$me: $1" >&2
  echo "usage: $me FOLDER  |  $me --stop FOLDER" >&2
  exit 2
}
# How long the timestamp server waits for requests before it stops.
kServeSeconds=3600

if [ "${1-}" = --stop ]; then
  [ $# -eq 2 ] || usage "--stop takes one folder"
  [ -f "$2/tsa.pid" ] || fail "$2/tsa.pid: no such file: no server started there"
  pid=$(cat "$2/tsa.pid")
  [[ $pid =~ ^[0-9]+$ ]] || fail "$2/tsa.pid: not a process id"
  kill "$pid" 2>/dev/null || true
  rm -f "$2/tsa.pid"
  exit 0
fi
[ $# -eq 1 ] || usage "takes one folder, not $# arguments"
case $1 in -*) usage "unknown option $1" ;; esac
command -v openssl >/dev/null || fail "openssl not found: install Debian's openssl"
command -v python3 >/dev/null || fail "python3 not found: install Debian's python3"

echo "$me: FOR TRYING ONLY: a throwaway CA and timestamp server; never ship what it signs" >&2
umask 077
mkdir "$1" || fail "$1: cannot make the folder (it must not exist)"
dir=$(cd "$1" && pwd)
cd "$dir"

ssl() {  # WHAT ARGS...: openssl, its output in openssl.log
  local what=$1; shift
  openssl "$@" >>openssl.log 2>&1 || { cat openssl.log >&2; fail "$dir: cannot make $what"; }
}
ssl "the CA" req -x509 -newkey rsa:2048 -nodes -days 7 \
  -subj "/CN=THROWAWAY modreg trial CA - for trying only" \
  -keyout ca.key -out ca.pem
issue() {  # NAME SERIAL EXTENDED-KEY-USAGE: a key and a certificate from the CA
  ssl "the $1 key" req -new -newkey rsa:2048 -nodes \
    -subj "/CN=THROWAWAY modreg trial $1 - for trying only" \
    -keyout "$1.key" -out "$1.csr"
  printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$3" >"$1.ext"
  ssl "the $1 certificate" x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key \
    -set_serial "$2" -days 7 -extfile "$1.ext" -out "$1.pem"
}
issue signer 2 codeSigning
issue tsa 3 critical,timeStamping
echo "throwaway" >password
ssl "signer.p12" pkcs12 -export -inkey signer.key -in signer.pem \
  -certfile ca.pem -passout file:password -out signer.p12
printf '%s\n' "[tsa]" "default_tsa = trial" "[trial]" "serial = tsa.serial" \
  "signer_cert = tsa.pem" "signer_key = tsa.key" "certs = ca.pem" \
  "signer_digest = sha256" "default_policy = 1.3.6.1.4.1.0.1" \
  "digests = sha1, sha256, sha512" "ess_cert_id_alg = sha256" >tsa.cnf
echo 01 >tsa.serial

# The timestamp server: `openssl ts` answers RFC 3161 requests over HTTP
# on the loopback, one at a time, a request at most 64 KiB.
cat >tsa.py <<'PY'
import http.server, subprocess, sys, time
class TSA(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        size = int(self.headers.get("Content-Length") or -1)
        if not 0 < size <= 65536:
            self.send_error(413)
            return
        query = self.rfile.read(size)
        done = subprocess.run(
            ["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile",
             "/dev/stdin", "-out", "/dev/stdout"],
            input=query, capture_output=True, timeout=30)
        if done.returncode != 0:
            self.send_error(400)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(done.stdout)))
        self.end_headers()
        self.wfile.write(done.stdout)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), TSA)
server.timeout = 1
with open("tsa.port.new", "w") as f:
    f.write("%d\n" % server.server_port)
import os
os.rename("tsa.port.new", "tsa.port")
stop = time.monotonic() + int(sys.argv[1])
while time.monotonic() < stop:
    server.handle_request()
PY
nohup python3 tsa.py "$kServeSeconds" </dev/null >tsa.log 2>&1 &
echo $! >tsa.pid
for _ in $(seq 100); do
  [ -s tsa.port ] && break
  kill -0 "$(cat tsa.pid)" 2>/dev/null || break
  sleep 0.1
done
[ -s tsa.port ] || { cat tsa.log >&2; fail "the timestamp server did not start"; }
port=$(cat tsa.port)
echo "$me: the timestamp server listens on 127.0.0.1:$port for an hour; stop it: bash $0 --stop $dir" >&2
printf 'export MODREG_SIGN_PKCS12=%q\n' "$dir/signer.p12"
printf 'export MODREG_SIGN_PASSWORD_FILE=%q\n' "$dir/password"
printf 'export MODREG_SIGN_TIMESTAMP_URL=%q\n' "http://127.0.0.1:$port"
