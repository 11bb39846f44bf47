# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""What the signing check signs with, all of it throwaway and local: a test
CA that issues through an intermediate, a SoftHSM2 token in the build tree
whose key is generated on the token, a PKCS#12 signer, two more whose
certificates name a revocation list that cannot be fetched, and that list,
which revokes one of them, and an RFC 3161 time-stamp authority on
127.0.0.1 that answers with `openssl ts -reply`."""

import http.server
import os
import secrets
import socket
import subprocess
import tempfile
import threading
from pathlib import Path

SOFTHSM_MODULE = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN_LABEL = "install test token"
KEY_LABEL = "install signer key"
KEY_ID = "01"
# The signing certificates expire long before the CAs do, so that a check
# can look at the signatures at a time after they expired.
SIGNER_DAYS = 30
CA_DAYS = 3650
EXTENSIONS = """
[ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
authorityKeyIdentifier = keyid
[revocable]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:{crl_url}
[tsa]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
authorityKeyIdentifier = keyid
"""
# Where the revocable signers' certificates say their revocation list is:
# a name that never resolves, as for a machine without a network.
CRL_URL = "http://crl.invalid/intermediate.crl"
# The intermediate's database, for the revocation list it signs.
CRL_CONFIG = """
[ca]
default_ca = intermediate
[intermediate]
database = {dir}/intermediate-index.txt
crlnumber = {dir}/intermediate-crlnumber
default_md = sha256
default_crl_days = {days}
"""
TSA_CONFIG = """
[tsa]
default_tsa = authority
[authority]
serial = {dir}/tsa-serial
crypto_device = builtin
signer_cert = {dir}/tsa.pem
certs = {dir}/tsa.pem
signer_key = {dir}/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.2.3
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def run(*command: str, **options) -> subprocess.CompletedProcess:
    return subprocess.run(command, check=True, capture_output=True,
                          **options)


class Fixture:
    def __init__(self, directory: Path):
        self.dir = directory.resolve()
        # Characters that a shell would read: a space, quotes and a dollar.
        self.pin = f"p 'n\" ${secrets.token_hex(4)}"
        self.env = dict(os.environ,
                        SOFTHSM2_CONF=str(self.dir / "softhsm2.conf"),
                        no_proxy="127.0.0.1", NO_PROXY="127.0.0.1")
        for variable in ("http_proxy", "HTTP_PROXY"):
            self.env.pop(variable, None)

    def path(self, name: str) -> str:
        return str(self.dir / name)

    def openssl(self, *arguments: str) -> None:
        run("openssl", *arguments, cwd=self.dir)

    def make_key(self, name: str) -> str:
        """A software key, <name>.key; returns its public key's file."""
        self.openssl("genpkey", "-algorithm", "RSA", "-out", f"{name}.key")
        self.openssl("pkey", "-in", f"{name}.key", "-pubout",
                     "-out", f"{name}.pub")
        return f"{name}.pub"

    def make_ca(self, name: str, issuer: str = "") -> None:
        public_key = self.make_key(name)
        if issuer:
            self.issue(name, public_key, issuer, "ca", CA_DAYS)
        else:
            self.openssl("x509", "-new", "-subj", f"/CN=install test {name}",
                         "-key", f"{name}.key", "-days", str(CA_DAYS),
                         "-extfile", "extensions.cnf", "-extensions", "ca",
                         "-out", f"{name}.pem")

    def issue(self, name: str, public_key: str, issuer: str, extensions: str,
              days: int) -> None:
        self.openssl("x509", "-new", "-subj", f"/CN=install test {name}",
                     "-force_pubkey", public_key, "-CA", f"{issuer}.pem",
                     "-CAkey", f"{issuer}.key", "-days", str(days),
                     "-extfile", "extensions.cnf", "-extensions", extensions,
                     "-out", f"{name}.pem")

    def pkcs11(self, *arguments: str) -> None:
        run("pkcs11-tool", "--module", SOFTHSM_MODULE, *arguments,
            env=self.env)

    def make_token(self) -> None:
        tokens = self.dir / "tokens"
        tokens.mkdir()
        (self.dir / "softhsm2.conf").write_text(
            f"directories.tokendir = {tokens}\nobjectstore.backend = file\n")
        run("softhsm2-util", "--init-token", "--free", "--label", TOKEN_LABEL,
            "--so-pin", secrets.token_hex(8), "--pin", self.pin, env=self.env)
        self.pkcs11("--login", "--pin", self.pin, "--keypairgen",
                    "--key-type", "rsa:2048", "--id", KEY_ID,
                    "--label", KEY_LABEL)
        self.pkcs11("--read-object", "--type", "pubkey", "--id", KEY_ID,
                    "--output-file", self.path("token-key.der"))
        self.openssl("pkey", "-pubin", "-inform", "DER", "-in",
                     "token-key.der", "-out", "token-key.pem")

    def set_up(self) -> None:
        """The CAs, the token and its certificate chain, a PKCS#12 file
        whose certificate another key's, and the authority's key."""
        self.dir.mkdir(parents=True)
        (self.dir / "extensions.cnf").write_text(
            EXTENSIONS.format(crl_url=CRL_URL))
        self.make_ca("root")
        self.make_ca("intermediate", issuer="root")
        self.make_ca("tsa-root")
        self.make_token()
        self.issue("token-signer", "token-key.pem", "intermediate", "signer",
                   SIGNER_DAYS)
        chain = (self.dir / "token-signer.pem").read_text() + (
            self.dir / "intermediate.pem").read_text()
        (self.dir / "token-chain.pem").write_text(chain)
        self.issue("p12-signer", self.make_key("p12-signer"), "intermediate", "signer",
                   SIGNER_DAYS)
        self.make_pkcs12("p12-signer")
        # The PKCS#12 signer's certificate with the token's chain: a
        # certificate that does not match the token's key.
        (self.dir / "mismatched-chain.pem").write_text(
            (self.dir / "p12-signer.pem").read_text()
            + (self.dir / "intermediate.pem").read_text())
        self.make_revocable_signers()
        self.issue("tsa", self.make_key("tsa"), "tsa-root", "tsa", CA_DAYS)
        (self.dir / "tsa.cnf").write_text(TSA_CONFIG.format(dir=self.dir))
        # The roots that the signatures and time stamps chain to.
        (self.dir / "roots.pem").write_text(
            (self.dir / "root.pem").read_text()
            + (self.dir / "tsa-root.pem").read_text())

    def make_pkcs12(self, name: str) -> None:
        """<name>.p12 from <name>.key and <name>.pem, with the
        intermediate, under the PIN."""
        run("openssl", "pkcs12", "-export", "-inkey", f"{name}.key",
            "-in", f"{name}.pem", "-certfile", "intermediate.pem",
            "-out", f"{name}.p12", "-passout", "env:INSTALLER_SIGNING_PASSWORD",
            cwd=self.dir, env=self.signing_env(self.pin))

    def make_revocable_signers(self) -> None:
        """Two PKCS#12 signers whose certificates name the intermediate's
        revocation list at CRL_URL, and that list, intermediate.crl, on
        which the second is revoked."""
        (self.dir / "crl.cnf").write_text(
            CRL_CONFIG.format(dir=self.dir, days=CA_DAYS))
        (self.dir / "intermediate-index.txt").write_text("")
        (self.dir / "intermediate-crlnumber").write_text("01\n")
        for name in ("revocable-signer", "revoked-signer"):
            self.issue(name, self.make_key(name), "intermediate", "revocable",
                       SIGNER_DAYS)
            self.make_pkcs12(name)
        ca = ["-config", "crl.cnf", "-keyfile", "intermediate.key",
              "-cert", "intermediate.pem"]
        self.openssl("ca", *ca, "-revoke", "revoked-signer.pem")
        self.openssl("ca", *ca, "-gencrl", "-out", "intermediate.crl")

    def token_uri(self, key_label: str = KEY_LABEL) -> str:
        quote = lambda text: text.replace("%", "%25").replace(" ", "%20")
        return (f"pkcs11:token={quote(TOKEN_LABEL)};"
                f"object={quote(key_label)};type=private")

    def signing_env(self, password) -> dict:
        return dict(self.env, INSTALLER_SIGNING_PASSWORD=password or "")


class TimeStampAuthority:
    """Answers RFC 3161 requests over HTTP on 127.0.0.1, and holds a second
    port that refuses connections, for a server that is down."""

    def __init__(self, fixture: Fixture):
        config = fixture.path("tsa.cnf")
        self.requests = 0
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers["Content-Length"]))
                with tempfile.TemporaryDirectory(dir=fixture.dir) as work:
                    Path(work, "query.tsq").write_bytes(query)
                    run("openssl", "ts", "-reply", "-config", config,
                        "-queryfile", "query.tsq", "-out", "reply.tsr",
                        cwd=work)
                    reply = Path(work, "reply.tsr").read_bytes()
                authority.requests += 1
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *arguments):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                                      Handler)
        # Bound but not listening: connections to it are refused.
        self.refusing = socket.socket()
        self.refusing.bind(("127.0.0.1", 0))
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"
        self.dead_url = f"http://127.0.0.1:{self.refusing.getsockname()[1]}/"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self) -> None:
        self.server.shutdown()
        self.refusing.close()
