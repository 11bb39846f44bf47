#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Signs every program of a built package, as its bill of materials lists
# them, with Authenticode (SHA-256) and
# writes the signed package: the same entries as the build packs them, the
# signed programs, and a bill of materials with their hashes. Each signed
# program must be the package's program plus a signature that verifies, and
# time-stamped where asked; otherwise nothing is written.
set -euo pipefail
# The PIN or password, taken before the script starts any program, which
# would inherit it: out of the environment, into variables that are never
# exported, even where the caller's environment had exported their names.
# No core dump holds it while the script runs.
ulimit -c 0
unset signing_password signing_password_given
signing_password_given=${INSTALLER_SIGNING_PASSWORD+set}
signing_password=${INSTALLER_SIGNING_PASSWORD-}
unset INSTALLER_SIGNING_PASSWORD
declare +x signing_password signing_password_given
HERE=$(cd "$(dirname "$0")" && pwd)
readonly HERE

readonly USAGE="usage: sign-package.sh [options] <package.zip> <signed.zip>
   or: sign-package.sh --install-prerequisites   (only installs them)
The key, one of:
  --pkcs12 FILE                 key and certificates in a PKCS#12 file
  --key URI --certificates FILE --pkcs11-module FILE
                                a key in a PKCS#11 token or HSM (RFC 7512
                                URI), its certificate chain in PEM, signer
                                first, and the token's PKCS#11 module
  --command 'CMD'               another signer: runs CMD with the program's
                                path appended, to sign it in place
Time stamps, one of:
  --timestamp URL               an RFC 3161 server; several are tried in order
  --no-timestamp                none, for test signing only
The signature's details, which Windows shows:
  --description TEXT            what is signed (default: the programs'
                                product name)
  --url URL                     where to read more about it (default: none)
Verification:
  --ca-file FILE                roots that the signatures and time stamps
                                may chain to besides the system's
  --crl-file FILE               the signing certificate's revocation list
                                (PEM), for a machine that cannot fetch it
                                from where the certificate says
Tools:
  --install-prerequisites       install the Debian packages it needs with
                                apt, and an osslsigncode that checks
                                revocation from Debian's backports where
                                the release's own is older; without it, a
                                missing or old one is named
The PIN or password comes from INSTALLER_SIGNING_PASSWORD (empty: none),
which the script takes out of its environment: only osslsigncode, on its
standard input, and a --command signer, in INSTALLER_SIGNING_PASSWORD,
get it."
readonly SYSTEM_ROOTS=/etc/ssl/certs/ca-certificates.crt
readonly PYTHON=/usr/bin/python3
readonly PACKAGES=(osslsigncode strip-nondeterminism cmake python3 python3-pefile
  util-linux)
readonly PKCS11_PACKAGES=(libengine-pkcs11-openssl)
# From this version on, osslsigncode's verification fails where it cannot
# fetch the signing certificate's revocation list; an older one passes a
# certificate whose revocation it never checked.
readonly OSSLSIGNCODE_NEEDED=2.8
readonly ARCHIVE_KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg
# The apt sources file that --install-prerequisites adds the release's
# backports in, where apt's sources lack them.
readonly BACKPORTS_SOURCES=install-exe-backports.list

pkcs12='' key='' certificates='' module='' command='' ca_file='' crl_file=''
no_timestamp='' timestamps=() work='' partial='' signer=''
prerequisites_asked='' set_up_only='' description='' url='' programs=()

fail() {
  echo "sign-package.sh: $*" >&2
  exit 1
}

usage_error() {
  echo "sign-package.sh: $*" >&2
  echo "${USAGE%%$'\n'*} (--help: the options)" >&2
  exit 2
}

parse_options() {
  if [ $# -eq 1 ] && [ "$1" = --install-prerequisites ]; then
    prerequisites_asked=1 set_up_only=1
    return 0
  fi
  while [ $# -gt 0 ]; do
    case $1 in
    --pkcs12 | --key | --certificates | --pkcs11-module | --command | \
      --timestamp | --ca-file | --crl-file | --description | --url)
      [ $# -ge 2 ] || usage_error "$1 needs a value"
      case $1 in
      --pkcs12) pkcs12=$2 ;;
      --key) key=$2 ;;
      --certificates) certificates=$2 ;;
      --pkcs11-module) module=$2 ;;
      --command) command=$2 ;;
      --timestamp) timestamps+=("$2") ;;
      --ca-file) ca_file=$2 ;;
      --crl-file) crl_file=$2 ;;
      --description) description=$2 ;;
      --url) url=$2 ;;
      esac
      shift 2
      ;;
    --no-timestamp) no_timestamp=1 && shift ;;
    --install-prerequisites) prerequisites_asked=1 && shift ;;
    -h | --help) echo "$USAGE" && exit 0 ;;
    -*) usage_error "unknown option $1" ;;
    *) break ;;
    esac
  done
  [ $# -eq 2 ] || usage_error "give the package and the signed package"
  input=$1 output=$2
}

check_options() {
  local ways=0
  [ -n "$pkcs12" ] && ways=$((ways + 1))
  [ -n "$key$certificates$module" ] && ways=$((ways + 1))
  [ -n "$command" ] && ways=$((ways + 1))
  [ "$ways" -eq 1 ] ||
    usage_error "give one way to hold the key: --pkcs12, --key or --command"
  if [ -n "$key$certificates$module" ] &&
    { [ -z "$key" ] || [ -z "$certificates" ] || [ -z "$module" ]; }; then
    usage_error "a PKCS#11 key needs --key, --certificates and --pkcs11-module"
  fi
  if [ -n "$no_timestamp" ] && [ "${#timestamps[@]}" -gt 0 ]; then
    usage_error "give --timestamp or --no-timestamp, not both"
  fi
  if [ -z "$no_timestamp" ] && [ "${#timestamps[@]}" -eq 0 ]; then
    usage_error "a signature without a time stamp stops verifying when its" \
      "certificate expires: give --timestamp URL (or --no-timestamp to test)"
  fi
  local file
  for file in "$input" "$pkcs12" "$certificates" "$module" "$ca_file" \
    "$crl_file"; do
    [ -z "$file" ] || [ -f "$file" ] || fail "$file: no such file"
  done
  [ "$(realpath -m "$output")" != "$(realpath "$input")" ] ||
    fail "the signed package must not overwrite $input"
  [ -d "$(dirname "$output")" ] || fail "$(dirname "$output"): no such folder"
  [ ! -d "$output" ] ||
    fail "$output is a folder: give the signed package's file name"
  [ -w "$(dirname "$output")" ] ||
    fail "$(dirname "$output"): not a folder this script can write to"
  # Checked before anything is signed, so that a forgotten password never
  # becomes an empty one.
  [ -n "$signing_password_given" ] ||
    fail "INSTALLER_SIGNING_PASSWORD is not set: set it to the key's PIN or" \
      "password, or to nothing if it has none"
}

# The first reason in osslsigncode's output: the reason field of the first
# OpenSSL error, otherwise its first line of its own.
osslsigncode_reason() {
  local reason
  reason=$(sed -n 's/^[0-9A-F]*:error:[0-9A-F]*:[^:]*:[^:]*:\([^:]*\):.*/\1/p' \
    "$1" | head -n 1)
  [ -n "$reason" ] ||
    reason=$(grep -v -e '^Engine ' -e '^Failed$' -e '^ *$' "$1" | head -n 1)
  echo "${reason:-no reason given}"
}

# Why osslsigncode's verify found a certificate bad, where it says so;
# otherwise its first reason.
verify_reason() {
  local reason
  reason=$(sed -n 's/^\tError: //p' "$1" | head -n 1)
  echo "${reason:-$(osslsigncode_reason "$1")}"
}

# The roots that signatures and time stamps must chain to: the system's
# (OpenSSL's SSL_CERT_FILE where it is set), and those of --ca-file.
gather_roots() {
  local system=${SSL_CERT_FILE:-$SYSTEM_ROOTS}
  : >"$work/roots.pem"
  [ ! -r "$system" ] || cat "$system" >>"$work/roots.pem"
  [ -z "$ca_file" ] || cat "$ca_file" >>"$work/roots.pem"
}

# Signs <program> into <signed> with the key the options name. The
# password goes to osslsigncode through a pipe, never as an argument or in
# its environment.
sign_with_key() {
  local program=$1 signed=$2 arguments
  if [ -n "$command" ]; then
    cp "$program" "$signed"
    local status=0 said
    INSTALLER_SIGNING_PASSWORD=$signing_password run_signer "$work/log" \
      sh -c "$command \"\$1\"" sign-command "$signed" || status=$?
    said=$(tail -n 1 "$work/log")
    [ "$status" -eq 0 ] ||
      fail "$3: the signing command failed with status $status${said:+: $said}"
    return 0
  fi
  if [ -n "$pkcs12" ]; then
    arguments=(-pkcs12 "$pkcs12")
  else
    arguments=(-pkcs11module "$module" -key "$key" -certs "$certificates")
  fi
  [ -z "$signing_password" ] || arguments+=(-readpass /dev/stdin)
  arguments+=(-n "$description")
  [ -z "$url" ] || arguments+=(-i "$url")
  if ! run_signer "$work/log" osslsigncode sign "${arguments[@]}" -h sha256 \
    -in "$program" -out "$signed" < <(printf '%s' "$signing_password"); then
    grep -q "^No PIN code was entered" "$work/log" &&
      fail "$3: could not sign: the key wants a PIN or password, and" \
        "INSTALLER_SIGNING_PASSWORD is empty"
    fail "$3: could not sign: $(osslsigncode_reason "$work/log")"
  fi
}

# Adds an RFC 3161 time stamp from the first server that answers.
add_time_stamp() {
  local signed=$1 name=$2 url
  for url in "${timestamps[@]}"; do
    if run_signer "$work/log" osslsigncode add -ts "$url" -h sha256 \
      -in "$signed" -out "$work/stamped.exe"; then
      mv "$work/stamped.exe" "$signed"
      echo "$name: time-stamped by $url"
      return 0
    fi
    echo "$name: $url did not answer ($(osslsigncode_reason "$work/log"))"
  done
  fail "$name: no time-stamp server answered (tried ${timestamps[*]})"
}

# The signed program must be the package's program with a signature added,
# a SHA-256 signature that verifies, time-stamped where asked. osslsigncode
# tries to fetch the revocation list that the signing certificate names;
# a machine that cannot reach it needs the list given with --crl-file.
check_signed() {
  local program=$1 signed=$2 name=$3 report="$work/verify.log" crl=()
  [ -z "$crl_file" ] || crl=(-CRLfile "$crl_file")
  osslsigncode remove-signature -in "$signed" -out "$work/stripped.exe" \
    >"$work/log" 2>&1 || fail "$name: the signed program carries no signature"
  cmp -s "$work/stripped.exe" "$program" ||
    fail "$name: without its signature it is not the package's program"
  rm "$work/stripped.exe"
  if ! run_signer "$report" osslsigncode verify -CAfile "$work/roots.pem" \
    -TSA-CAfile "$work/roots.pem" "${crl[@]}" -in "$signed" ||
    ! grep -q "^Signature verification: ok" "$report"; then
    local unfetched
    unfetched=$(sed -n 's/^Fail\(e\)\{0,1\}d to get CRL from //p' "$report" |
      head -n 1)
    [ -z "$unfetched" ] || [ -n "$crl_file" ] ||
      fail "$name: the signature does not verify: could not fetch the" \
        "revocation list $unfetched: give it with --crl-file"
    fail "$name: the signature does not verify: $(verify_reason "$report")"
  fi
  grep -q "^Message digest algorithm *: SHA256" "$report" ||
    fail "$name: the signature is not SHA-256"
  if [ -z "$command" ]; then
    grep -qxF $'\t'"Text description: $description" "$report" ||
      fail "$name: the signature does not carry the description"
    [ -z "$url" ] || grep -qxF $'\t'"URL description: $url" "$report" ||
      fail "$name: the signature does not carry the URL"
  fi
  if [ "${#timestamps[@]}" -gt 0 ] &&
    ! grep -q "^Timestamp Server Signature verification: ok" "$report"; then
    fail "$name: the signature carries no time stamp that verifies"
  fi
}

sign_program() {
  local name=$1 program="$work/package/$1" signed="$work/signed.exe"
  # Signing would replace the signature, and the check below could then only
  # say that the program changed.
  if osslsigncode extract-signature -in "$program" -out "$work/existing.p7" \
    >/dev/null 2>&1; then
    fail "$name is signed already: sign the package as the build made it"
  fi
  sign_with_key "$program" "$signed" "$name"
  if [ "${#timestamps[@]}" -gt 0 ]; then
    add_time_stamp "$signed" "$name"
  fi
  check_signed "$program" "$signed" "$name"
  # In place, so that the program keeps its mode.
  cat "$signed" >"$program"
  rm "$signed"
  echo "$name: signed and verified"
}

# Packs the folder as the build packs its packages: CMake's archive writer,
# then strip-nondeterminism with the package's own time.
pack() {
  local folder=$1 package=$2 epoch
  epoch=$(sed -n 's/^SOURCE_DATE_EPOCH: \([0-9]*\)$/\1/p' "$folder/BUILDINFO.txt")
  [ -n "$epoch" ] || fail "$input: its BUILDINFO.txt gives no SOURCE_DATE_EPOCH"
  (cd "$folder" && cmake -E tar cf "$package" --format=zip -- *) ||
    fail "could not pack the signed package"
  strip-nondeterminism --type zip --timestamp "$epoch" "$package" >/dev/null ||
    fail "could not normalize the signed package"
}

# Runs a step that may wait long, on a key, a token or a server: the signer,
# a time stamp, a verification that fetches a revocation list. It runs in a
# session of its own, away from any terminal (a token that wants a PIN it
# was not given must fail, not wait for someone to type one), with its
# output in <log> and the caller's standard input, and the script waits
# for it in a way that a signal cuts short: stop_signer then ends the
# step's whole session.
run_signer() {
  local log=$1 status=0
  shift
  setsid "$@" <&0 >"$log" 2>&1 &
  signer=$!
  wait "$signer" || status=$?
  signer=''
  return "$status"
}

# On SIGINT, SIGTERM or SIGHUP: ends the running step, if any, with its
# session, and exits with 128 and the signal's number; clean_up then
# removes the work folder and any partial package.
stop_signer() {
  local tenths=0
  if [ -n "$signer" ]; then
    kill -TERM -- "-$signer" 2>/dev/null || true
    # A step that does not end on SIGTERM within two seconds is killed.
    while kill -0 -- "-$signer" 2>/dev/null && [ "$tenths" -lt 20 ]; do
      sleep 0.1
      tenths=$((tenths + 1))
    done
    kill -KILL -- "-$signer" 2>/dev/null || true
    wait "$signer" 2>/dev/null || true
  fi
  exit "$1"
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Runs apt-get as root, without questions, its output on standard error. A
# refresh fetches no translations, which signing never reads.
apt_as_root() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -q \
    -o Acquire::Languages=none "$@" >&2
}

# The machine that holds the key gets no package it was not asked to
# install: a missing one is named, or with --install-prerequisites
# installed with apt.
require_packages() {
  local package missing=()
  for package in "$@"; do
    [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = \
      "install ok installed" ] || missing+=("$package")
  done
  [ "${#missing[@]}" -gt 0 ] || return 0
  [ -n "$prerequisites_asked" ] ||
    fail "missing the Debian packages ${missing[*]}: install them" \
      "(apt-get install ${missing[*]}), or give --install-prerequisites"
  { apt_as_root update &&
    apt_as_root install -y --no-install-recommends "${missing[@]}"; } ||
    fail "could not install ${missing[*]} with apt"
}

# The installed osslsigncode's version; nothing where it gives none.
osslsigncode_version() {
  osslsigncode --version 2>/dev/null |
    sed -n '1s/^osslsigncode \([0-9][0-9.]*\).*/\1/p' || true
}

release_codename() {
  (. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") || true
}

# Whether apt's lists name the suite, by its codename or as the sources
# write it.
apt_has_suite() {
  # shellcheck disable=SC2016 # apt's own placeholders, not the shell's
  apt-get indextargets --format '$(CODENAME) $(RELEASE)' 2>/dev/null |
    awk -v suite="$1" '$1 == suite || $2 == suite { found = 1 }
      END { exit !found }'
}

# The archive that apt's sources take the release's main component from.
release_archive() {
  # shellcheck disable=SC2016 # apt's own placeholders, not the shell's
  apt-get indextargets \
    --format '$(TARGET_OF) $(COMPONENT) $(CODENAME) $(RELEASE) $(REPO_URI)' \
    'Identifier: Packages' 2>/dev/null |
    awk -v release="$1" '$1 == "deb" && $2 == "main" &&
      ($3 == release || $4 == release) { print $5; exit }'
}

# Installs osslsigncode from the release's backports (Debian 12's own is
# older than OSSLSIGNCODE_NEEDED), and adds them to apt's sources first
# where these lack them, saying so.
install_osslsigncode_from_backports() {
  local found=$1 suite archive parts
  suite="$(release_codename)-backports"
  echo "sign-package.sh: osslsigncode $found verifies without a revocation" \
    "list it cannot fetch: installing a later one from Debian's $suite" >&2
  apt_as_root update || fail "could not refresh apt's package lists"
  if ! apt_has_suite "$suite"; then
    archive=$(release_archive "$(release_codename)")
    [ -n "$archive" ] ||
      fail "apt's sources name no Debian archive to take $suite from"
    eval "$(apt-config shell parts Dir::Etc::sourceparts/d)"
    echo "sign-package.sh: adding $suite to apt's sources, in" \
      "$parts$BACKPORTS_SOURCES" >&2
    echo "deb [signed-by=$ARCHIVE_KEYRING] $archive $suite main" |
      as_root tee "$parts$BACKPORTS_SOURCES" >/dev/null ||
      fail "could not write $parts$BACKPORTS_SOURCES"
    apt_as_root update || fail "could not refresh apt's package lists"
  fi
  apt_as_root install -y --no-install-recommends "osslsigncode/$suite" ||
    fail "could not install osslsigncode from $suite with apt"
}

# Refuses, before anything is signed, an osslsigncode that would verify a
# signature without checking the certificate's revocation; with
# --install-prerequisites, replaces it first.
require_osslsigncode_version() {
  local found
  found=$(osslsigncode_version)
  if [ -n "$found" ] &&
    dpkg --compare-versions "$found" lt "$OSSLSIGNCODE_NEEDED" &&
    [ -n "$prerequisites_asked" ]; then
    install_osslsigncode_from_backports "$found"
    found=$(osslsigncode_version)
  fi
  if [ -n "$found" ] &&
    dpkg --compare-versions "$found" ge "$OSSLSIGNCODE_NEEDED"; then
    return 0
  fi
  fail "osslsigncode ${found:-of an unknown version} found, and" \
    "$OSSLSIGNCODE_NEEDED or later is needed, which checks revocation:" \
    "give --install-prerequisites, or install it from Debian's backports" \
    "(apt-get install -t $(release_codename)-backports osslsigncode)"
}

clean_up() {
  [ -z "$work" ] || rm -rf "$work"
  [ -z "$partial" ] || rm -f "$partial"
}

main() {
  trap 'stop_signer 130' INT
  trap 'stop_signer 143' TERM
  trap 'stop_signer 129' HUP
  parse_options "$@"
  if [ -n "$set_up_only" ]; then
    require_packages "${PACKAGES[@]}" "${PKCS11_PACKAGES[@]}"
    require_osslsigncode_version
    echo "sign-package.sh: what signing needs is installed"
    exit 0
  fi
  check_options
  require_packages "${PACKAGES[@]}"
  [ -z "$module" ] || require_packages "${PKCS11_PACKAGES[@]}"
  require_osslsigncode_version
  trap clean_up EXIT
  work=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/sign-package.XXXXXX")")
  local listed name
  listed=$("$PYTHON" "$HERE/package-entries.py" programs "$input") || exit 1
  mapfile -t programs <<<"$listed"
  [ -n "$description" ] ||
    description=$("$PYTHON" "$HERE/package-entries.py" product "$input") ||
    exit 1
  "$PYTHON" "$HERE/package-entries.py" unpack "$input" "$work/package" \
    "${programs[@]}" || exit 1
  gather_roots
  for name in "${programs[@]}"; do
    sign_program "$name"
  done
  "$PYTHON" "$HERE/package-entries.py" rehash "$work/package" ||
    fail "could not give the bill of materials the signed programs' hashes"
  pack "$work/package" "$work/signed.zip"
  "$PYTHON" "$HERE/package-entries.py" compare "$input" "$work/signed.zip" \
    "${programs[@]}" sbom.cdx.json || exit 1
  # Written beside its final name and renamed, so that no partial package
  # ever bears it.
  partial=$(mktemp "$output.XXXXXX")
  cp "$work/signed.zip" "$partial"
  chmod 0644 "$partial"
  mv "$partial" "$output"
  partial=''
  echo "Wrote $output"
}

main "$@"
