#!/bin/sh
# Starts the download tests' servers on loopback: nginx (HTTP on BASE, HTTPS on
# BASE+1) and the fault server (BASE+2), and two HTTPS servers a client must
# refuse: a self-signed certificate for localhost (BASE+3) and one from the
# test authority that does not name localhost (BASE+4).
# Usage: start.sh BUILD_DIR BASE_PORT
# The HTTPS certificate comes from a test authority made once per machine,
# allowed to sign for localhost and 127.0.0.1 only, and trusted through the
# system store (Wine's WinHTTP reads only that).
set -eu
BUILD="$(cd "$1" && pwd)"; BASE="$2"
HERE="$(cd "$(dirname "$0")" && pwd)"
DIR="$BUILD/test-servers"
"$HERE/stop.sh" "$BUILD" >/dev/null 2>&1 || true
mkdir -p "$DIR/www" "$DIR/tmp"

# Served files: the counter pattern of fault_server.py.
python3 - "$DIR/www" <<'PY'
import array, os, sys
www = sys.argv[1]
def write(name, size):
    p = os.path.join(www, name)
    if os.path.exists(p) and os.path.getsize(p) == size:
        return
    a = array.array("I", range((size + 3) // 4))
    if sys.byteorder != "little":
        a.byteswap()
    with open(p, "wb") as f:
        f.write(a.tobytes()[:size])
write("big.bin", 8 * 1024 * 1024 + 123)
write("small.bin", 5000)
PY

CA_DIR=/var/lib/tarnwick-test-ca
STORE=/usr/local/share/ca-certificates/tarnwick-test-ca.crt
if [ ! -f "$CA_DIR/ca.crt" ]; then
  mkdir -p "$CA_DIR"; chmod 700 "$CA_DIR"
  cat > "$CA_DIR/ca.cnf" <<'CNF'
[req]
distinguished_name = dn
x509_extensions = v3_ca
prompt = no
[dn]
CN = Tarnwick download test authority
[v3_ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
nameConstraints = critical, permitted;DNS:localhost, permitted;IP:127.0.0.1/255.255.255.255
CNF
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -keyout "$CA_DIR/ca.key" -out "$CA_DIR/ca.crt" \
    -config "$CA_DIR/ca.cnf" 2>/dev/null
fi
if ! cmp -s "$CA_DIR/ca.crt" "$STORE" 2>/dev/null; then
  if [ -w /usr/local/share/ca-certificates ]; then
    cp "$CA_DIR/ca.crt" "$STORE"
    update-ca-certificates >/dev/null 2>&1 || echo "warning: update-ca-certificates failed" >&2
  else
    echo "warning: cannot trust the test authority (not root); HTTPS cases will fail" >&2
  fi
fi
if [ ! -f "$DIR/server.crt" ] || ! openssl verify -CAfile "$CA_DIR/ca.crt" "$DIR/server.crt" >/dev/null 2>&1; then
  printf '[ext]\nsubjectAltName = DNS:localhost, IP:127.0.0.1\nextendedKeyUsage = serverAuth\nbasicConstraints = CA:FALSE\n' > "$DIR/server.ext"
  openssl req -newkey rsa:2048 -nodes -keyout "$DIR/server.key" -out "$DIR/server.csr" -subj /CN=localhost 2>/dev/null
  openssl x509 -req -in "$DIR/server.csr" -CA "$CA_DIR/ca.crt" -CAkey "$CA_DIR/ca.key" -CAcreateserial \
    -days 825 -out "$DIR/server.crt" -extfile "$DIR/server.ext" -extensions ext 2>/dev/null
fi

# Self-signed, for the right name: only the issuer is wrong.
if [ ! -f "$DIR/selfsigned.crt" ]; then
  printf '[req]\ndistinguished_name = dn\nx509_extensions = ext\nprompt = no\n[dn]\nCN = localhost\n[ext]\nsubjectAltName = DNS:localhost\nextendedKeyUsage = serverAuth\nbasicConstraints = CA:FALSE\n' \
    > "$DIR/selfsigned.cnf"
  openssl req -x509 -newkey rsa:2048 -nodes -days 825 -keyout "$DIR/selfsigned.key" -out "$DIR/selfsigned.crt" \
    -config "$DIR/selfsigned.cnf" 2>/dev/null
fi
# From the test authority, for 127.0.0.1 only: only the name is wrong. The
# common name is no host name, so neither a fallback to it nor the
# authority's name constraints come into play.
if [ ! -f "$DIR/wrongname.crt" ] || ! openssl verify -CAfile "$CA_DIR/ca.crt" "$DIR/wrongname.crt" >/dev/null 2>&1; then
  printf '[ext]\nsubjectAltName = IP:127.0.0.1\nextendedKeyUsage = serverAuth\nbasicConstraints = CA:FALSE\n' > "$DIR/wrongname.ext"
  openssl req -newkey rsa:2048 -nodes -keyout "$DIR/wrongname.key" -out "$DIR/wrongname.csr" \
    -subj "/CN=Tarnwick wrong name" 2>/dev/null
  openssl x509 -req -in "$DIR/wrongname.csr" -CA "$CA_DIR/ca.crt" -CAkey "$CA_DIR/ca.key" -CAcreateserial \
    -days 825 -out "$DIR/wrongname.crt" -extfile "$DIR/wrongname.ext" -extensions ext 2>/dev/null
fi

HTTP=$BASE; HTTPS=$((BASE + 1)); FAULT=$((BASE + 2)); SELFSIGNED=$((BASE + 3)); WRONGNAME=$((BASE + 4))
sed -e "s#@DIR@#$DIR#g" -e "s#@HTTP@#$HTTP#g" -e "s#@HTTPS@#$HTTPS#g" -e "s#@FAULT@#$FAULT#g" \
  -e "s#@SELFSIGNED@#$SELFSIGNED#g" -e "s#@WRONGNAME@#$WRONGNAME#g" \
  "$HERE/nginx.conf.in" > "$DIR/nginx.conf"
/usr/sbin/nginx -p "$DIR" -c "$DIR/nginx.conf" -e "$DIR/error.log" </dev/null >"$DIR/nginx.out" 2>&1

setsid python3 "$HERE/fault_server.py" --port "$FAULT" --pidfile "$DIR/fault.pid" \
  </dev/null >"$DIR/fault.log" 2>&1 &

# Bounded wait until all five ports answer.
for p in $HTTP $HTTPS $FAULT $SELFSIGNED $WRONGNAME; do
  i=0
  until python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $p), 0.2).close()" 2>/dev/null; do
    i=$((i + 1))
    if [ $i -ge 100 ]; then echo "server on port $p did not start" >&2; cat "$DIR/error.log" "$DIR/fault.log" >&2 2>/dev/null; exit 1; fi
    sleep 0.1
  done
done
# The refusing servers complete a handshake and fail verification for the
# reason each stands for, so that a client's refusal is about the certificate.
tls_verdict() {  # port: the verify result code of a handshake as localhost
  openssl s_client -connect "127.0.0.1:$1" -servername localhost -verify_hostname localhost \
    -CAfile "$CA_DIR/ca.crt" </dev/null 2>/dev/null | sed -n 's/^ *Verify return code: \([0-9]*\).*/\1/p'
}
# 0 ok, 18 self-signed, 62 host name mismatch.
for check in "$HTTPS:0" "$SELFSIGNED:18" "$WRONGNAME:62"; do
  got="$(tls_verdict "${check%%:*}")"
  if [ "$got" != "${check#*:}" ]; then
    echo "HTTPS server on port ${check%%:*}: verification gives '$got', expected ${check#*:}" >&2; exit 1
  fi
done
echo "test servers up on $HTTP, $HTTPS, $FAULT, $SELFSIGNED, $WRONGNAME"
