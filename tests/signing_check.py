#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""Signs built packages with release/sign-package.sh and checks the result:
every package with a key on a SoftHSM2 token and a time stamp from a local
authority, then, on the first package, each other signer of the table and
each way signing must fail. Also runs the worked example of
docs/releasing.md on the last package, and holds every signed program to
the size that the README gives.

usage: signing_check.py <work folder> <package.zip>...
   or: signing_check.py command-signer [--change-byte] <p12> <program>
"""

import hashlib
import json
import os
import pty
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time
import zipfile
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional, Tuple

import pefile

from signing_fixture import (SIGNER_DAYS, SOFTHSM_MODULE, Fixture,
                             TimeStampAuthority)

SOURCE_DIR = Path(__file__).resolve().parent.parent
SIGN_PACKAGE = SOURCE_DIR / "release" / "sign-package.sh"
BILL = "sbom.cdx.json"
# A moment when the signing certificates have expired and the CAs have not.
AFTER_EXPIRY = int(time.time()) + 2 * SIGNER_DAYS * 24 * 3600
# Far longer than signing takes, short of a stalled run's hour.
SIGNING_TIMEOUT = 120
# The worked example: the indented block after this line.
EXAMPLE_DOCUMENT = "docs/releasing.md"
EXAMPLE_MARKER = "<!-- worked example: the suite runs this block -->"
# What the README says of the signed programs' size, in KiB.
SIGNED_SIZE_CLAIM = re.compile(r"and a time stamp, each is under (\d+) KiB")

# What a case expects of the signed programs.
TIME_STAMPED = "verifies, also after the certificate expired"
UNSTAMPED = "verifies now, not after the certificate expired"
FAILS = "fails, and writes nothing"
# The signature's details: by default the product name in the programs'
# version information (PRODUCT stands for it), or a vendor's own.
PRODUCT = "(the programs' product name)"
VENDOR_DESCRIPTION = "Pilote Zorq (widget), signé"
VENDOR_URL = "https://zorq.example/drivers?widget=1&rev=2"
# Programs that sign-package.sh starts, run in the token case through
# stand-ins that record their environment: none of them may see the PIN.
WATCHED = ("osslsigncode", "cmake", "strip-nondeterminism")
STAND_IN = """#!/bin/sh
{ echo "== $(basename "$0")"; env; } >>"$WATCHED_LOG"
PATH=${PATH#*:} exec "$(basename "$0")" "$@"
"""


@dataclass
class Case:
    name: str
    options: List[str]
    expect: str
    password: Optional[str] = "the PIN"  # None: unset
    resign: bool = False  # signs the token case's signed package again
    into_folder: bool = False  # the output path is an existing folder
    watched: bool = False  # the programs it starts record their environment
    # The description and URL the signatures must carry; None: not checked.
    details: Optional[Tuple[str, Optional[str]]] = None


def cases(fixture: Fixture, authority: TimeStampAuthority) -> List[Case]:
    token = ["--key", fixture.token_uri(),
             "--certificates", fixture.path("token-chain.pem"),
             "--pkcs11-module", SOFTHSM_MODULE]
    # Every case trusts the test CA and the authority.
    stamps = ["--timestamp", authority.dead_url, "--timestamp", authority.url,
              "--ca-file", fixture.path("roots.pem")]
    signer = [sys.executable, __file__, "command-signer"]
    command = shlex.join(signer + [fixture.path("p12-signer.p12")])
    changer = shlex.join(signer + ["--change-byte", fixture.path("p12-signer.p12")])
    revocable = lambda name: ["--pkcs12", fixture.path(f"{name}.p12")]
    crl = ["--crl-file", fixture.path("intermediate.crl")]
    return [
        Case("token", token + stamps, TIME_STAMPED, watched=True,
             details=(PRODUCT, None)),
        Case("PKCS#12", ["--pkcs12", fixture.path("p12-signer.p12"),
                         "--description", VENDOR_DESCRIPTION,
                         "--url", VENDOR_URL] + stamps,
             TIME_STAMPED, details=(VENDOR_DESCRIPTION, VENDOR_URL)),
        Case("--command", ["--command", command] + stamps, TIME_STAMPED),
        Case("token, test-signed", token + ["--no-timestamp", "--ca-file",
                                            fixture.path("roots.pem")],
             UNSTAMPED),
        Case("a wrong PIN", token + stamps, FAILS, password="0000"),
        Case("an empty PIN for a token that wants one", token + stamps, FAILS,
             password=""),
        Case("no INSTALLER_SIGNING_PASSWORD", token + stamps, FAILS,
             password=None),
        Case("a missing key", ["--key", fixture.token_uri("no such key")]
             + token[2:] + stamps, FAILS),
        Case("a certificate of another key",
             token[:2] + ["--certificates", fixture.path("mismatched-chain.pem"),
                          "--pkcs11-module", SOFTHSM_MODULE] + stamps, FAILS),
        Case("a dead time-stamp server",
             token + stamps[:2] + stamps[4:], FAILS),
        Case("a package signed already", token + stamps, FAILS, resign=True),
        Case("a command that fails", ["--command", "false"] + stamps, FAILS),
        Case("a command that changes a byte", ["--command", changer] + stamps,
             FAILS),
        Case("an output path that is a folder", token + stamps, FAILS,
             into_folder=True),
        # Signing certificates that name a revocation list no one can fetch:
        # given the list, it is checked.
        Case("a revocation list that cannot be fetched",
             revocable("revocable-signer") + stamps, FAILS),
        Case("--crl-file", revocable("revocable-signer") + crl + stamps,
             TIME_STAMPED),
        Case("--crl-file, a revoked certificate",
             revocable("revoked-signer") + crl + stamps, FAILS),
    ]


class Failure(Exception):
    pass


def osslsigncode(*arguments: str) -> subprocess.CompletedProcess:
    return subprocess.run(["osslsigncode", *arguments], capture_output=True,
                          text=True)


def verifies(program: Path, roots: str, at: Optional[int] = None,
             crl: Optional[str] = None) -> bool:
    moment = ["-time", str(at)] if at else []
    crl_file = ["-CRLfile", crl] if crl else []
    report = osslsigncode("verify", "-CAfile", roots, "-TSA-CAfile", roots,
                          *moment, *crl_file, "-in", str(program))
    return report.returncode == 0 and "\nSignature verification: ok" in \
        report.stdout


def signature_details(program: Path) -> Tuple[Optional[str], Optional[str]]:
    """The description and URL that osslsigncode reads from a signature."""
    report = osslsigncode("verify", "-in", str(program)).stdout
    found = [re.search(rf"^\t{label} description: (.*)$", report, re.MULTILINE)
             for label in ("Text", "URL")]
    return tuple(match[1] if match else None for match in found)


def product_name(program: bytes) -> str:
    pe = pefile.PE(data=program)
    return next(table.entries[b"ProductName"].decode()
                for info in pe.FileInfo[0]
                for table in getattr(info, "StringTable", []))


def package_programs(package: zipfile.ZipFile) -> List[str]:
    return [name for name in package.namelist() if name.endswith(".exe")]


def check_programs(signed: zipfile.ZipFile, package: zipfile.ZipFile,
                   work: Path, roots: str, case: Case) -> None:
    expect = case.expect
    bill = json.loads(signed.read(BILL))
    hashes = {p["value"]: {h["alg"]: h["content"] for h in c["hashes"]}
              for c in bill["components"] if c["type"] == "application"
              for p in c["properties"] if p["name"] == "bsi:component:filename"}
    options = case.options
    crl = options[options.index("--crl-file") + 1] \
        if "--crl-file" in options else None
    size_limit = signed_size_limit()
    for name in package_programs(package):
        program = work / "program.exe"
        program.write_bytes(signed.read(name))
        if not verifies(program, roots, crl=crl):
            raise Failure(f"{name} does not verify")
        expected = case.details and (
            product_name(package.read(name)) if case.details[0] == PRODUCT
            else case.details[0], case.details[1])
        if expected and signature_details(program) != expected:
            raise Failure(f"{name}: the signature's description and URL are "
                          f"{signature_details(program)}, not {expected}")
        if verifies(program, roots, AFTER_EXPIRY, crl) != (
                expect == TIME_STAMPED):
            raise Failure(f"{name}: after the certificate expired, it "
                          f"should have {expect}")
        stripped = work / "stripped.exe"
        stripped.unlink(missing_ok=True)
        osslsigncode("remove-signature", "-in", str(program),
                     "-out", str(stripped))
        if not stripped.exists() or stripped.read_bytes() != package.read(name):
            raise Failure(f"{name}: without its signature, not the "
                          "package's program")
        data = program.read_bytes()
        if len(data) >= size_limit:
            raise Failure(f"{name}: {len(data)} bytes signed, not under the "
                          f"README's {size_limit // 1024} KiB")
        if hashes.get(name) != {"SHA-256": hashlib.sha256(data).hexdigest(),
                                "SHA-512": hashlib.sha512(data).hexdigest()}:
            raise Failure(f"{name}: the bill lacks the signed program's hashes")


def check_signed_package(package_file: Path, signed_file: Path, work: Path,
                         roots: str, case: Case) -> None:
    package, signed = zipfile.ZipFile(package_file), zipfile.ZipFile(signed_file)
    layout = lambda archive: [(e.filename, e.date_time, e.external_attr)
                              for e in archive.infolist()]
    if layout(signed) != layout(package):
        raise Failure("the signed package's entries, their order, times or "
                      "modes are not the package's")
    for entry in package.infolist():
        if entry.filename not in package_programs(package) + [BILL] and \
                signed.read(entry.filename) != package.read(entry):
            raise Failure(f"{entry.filename} changed")
    check_programs(signed, package, work, roots, case)


def sign(options: List[str], package: Path, output: Path, env: dict,
         work: Path) -> subprocess.CompletedProcess:
    """Runs sign-package.sh as from a person's terminal, where a prompt for
    the PIN would wait for an answer that never comes."""
    temporary = work / "tmp"
    shutil.rmtree(temporary, ignore_errors=True)
    temporary.mkdir()
    if not output.is_dir():
        output.unlink(missing_ok=True)
    arguments = [str(SIGN_PACKAGE), *options, str(package), str(output)]
    terminal, tty = pty.openpty()
    os.set_blocking(terminal, False)
    # setsid gives the script a session of its own, whose controlling
    # terminal is the one on its standard input.
    with subprocess.Popen(["setsid", "--ctty", "--wait", *arguments],
                          env=dict(env, TMPDIR=str(temporary)), stdin=tty,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True) as process:
        os.close(tty)
        try:
            stdout, stderr = process.communicate(timeout=SIGNING_TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            raise Failure(f"still running after {SIGNING_TIMEOUT} s; its "
                          f"terminal shows {terminal_text(terminal)!r}") from None
        finally:
            os.close(terminal)
    return subprocess.CompletedProcess(arguments, process.returncode, stdout,
                                       stderr)


def terminal_text(terminal: int) -> bytes:
    """What the script wrote to its terminal so far, if anything."""
    try:
        return os.read(terminal, 4096)
    except OSError:  # nothing written: the read would block
        return b""


def run_case(case: Case, fixture: Fixture, package: Path, work: Path) -> str:
    env = fixture.signing_env(
        fixture.pin if case.password == "the PIN" else case.password)
    if case.password is None:
        del env["INSTALLER_SIGNING_PASSWORD"]
    if case.watched:
        env.update(PATH=f"{watch_programs(work)}:{env['PATH']}",
                   WATCHED_LOG=str(work / "watched.log"))
    slug = re.sub(r"[^a-z0-9]+", "-", case.name.lower()).strip("-")
    output = work / "signed" / f"{slug}-{package.name}"
    output.parent.mkdir(exist_ok=True)
    if case.into_folder:
        output = output.with_name(slug)
        output.mkdir(exist_ok=True)
    source = work / "signed" / f"token-{package.name}" if case.resign \
        else package
    result = sign(case.options, source, output, env, work)
    if case.expect == FAILS:
        errors = result.stderr.splitlines()
        written = (any(output.iterdir()) if case.into_folder
                   else output.exists())
        if result.returncode == 0 or written or len(errors) != 1:
            raise Failure(f"should fail with one line and write nothing; "
                          f"status {result.returncode}, output "
                          f"{'written' if written else 'none'}, "
                          f"standard error:\n{result.stderr}")
        left = list((work / "tmp").iterdir()) + [
            p for p in output.parent.iterdir()
            if p.name.startswith(output.name) and p != output]
        if left:
            raise Failure(f"left {left} behind")
        return errors[0]
    if result.returncode != 0:
        raise Failure(f"status {result.returncode}:\n{result.stdout}"
                      f"{result.stderr}")
    check_signed_package(package, output, work, fixture.path("roots.pem"),
                         case)
    return result.stdout.splitlines()[-1]


def document_block(document: str, marker: str) -> str:
    """A document's indented block after a marker line and an empty line,
    unindented."""
    lines = (SOURCE_DIR / document).read_text().splitlines()
    block = []
    for line in lines[lines.index(marker) + 2:]:
        if line and not line.startswith("    "):
            break
        block.append(line[4:])
    return "\n".join(block)


def signed_size_limit() -> int:
    """In bytes, from the README's words."""
    readme = " ".join((SOURCE_DIR / "README.md").read_text().split())
    claim = SIGNED_SIZE_CLAIM.search(readme)
    if not claim:
        raise Failure("the README gives no size of the signed programs")
    return int(claim[1]) * 1024


def run_example(package: Path, authority: TimeStampAuthority,
                fixture: Fixture, work: Path) -> str:
    """Runs the worked example from the source folder, with the package, the
    time-stamp server and the PIN it expects to be given."""
    block = document_block(EXAMPLE_DOCUMENT, EXAMPLE_MARKER)
    shutil.rmtree(SOURCE_DIR / "build" / "release-token", ignore_errors=True)
    # The authority's root stands in for the system's roots, where a real
    # time-stamp authority's is.
    env = dict(fixture.signing_env(fixture.pin), package=str(package),
               timestamp=authority.url, SSL_CERT_FILE=fixture.path("tsa-root.pem"))
    del env["SOFTHSM2_CONF"]
    result = subprocess.run(["bash", "-euo", "pipefail", "-c",
                             block], cwd=SOURCE_DIR, env=env,
                            capture_output=True, text=True)
    if result.returncode != 0:
        raise Failure(f"status {result.returncode}:\n{result.stdout}"
                      f"{result.stderr}")
    signed = SOURCE_DIR / "build" / "signed" / package.name
    roots = work / "example-roots.pem"
    roots.write_text((SOURCE_DIR / "build/release-token/ca.pem").read_text()
                     + Path(fixture.path("tsa-root.pem")).read_text())
    check_signed_package(package, signed, work, str(roots),
                         Case("worked example", [], TIME_STAMPED))
    return f"{signed.relative_to(SOURCE_DIR)}: signed as {EXAMPLE_DOCUMENT} shows"


def command_signer(arguments: List[str]) -> int:
    """A signer of the test's own for --command: signs the program in place
    with a PKCS#12 file, after changing a byte of it if asked to."""
    change = arguments[0] == "--change-byte"
    p12, program = arguments[-2], Path(arguments[-1])
    if change:
        data = bytearray(program.read_bytes())
        data[0x40] ^= 0xFF  # in the DOS stub
        program.write_bytes(data)
    signed = program.with_suffix(".signed")
    subprocess.run(["osslsigncode", "sign", "-pkcs12", p12, "-readpass",
                    "/dev/stdin", "-h", "sha256", "-in", str(program),
                    "-out", str(signed)], check=True, capture_output=True,
                   input=os.environ["INSTALLER_SIGNING_PASSWORD"].encode())
    signed.replace(program)
    return 0


def watch_programs(work: Path) -> Path:
    """A folder of stand-ins for the watched programs."""
    folder = work / "watched"
    folder.mkdir(exist_ok=True)
    for name in WATCHED:
        (folder / name).write_text(STAND_IN)
        (folder / name).chmod(0o755)
    return folder


def pin_seen_by(work: Path, pin: str) -> List[str]:
    """Problems with what the watched programs saw: each must have run,
    and none with the PIN in its environment."""
    log = work / "watched.log"
    seen = log.read_text() if log.exists() else ""
    problems = [f"{name} never ran" for name in WATCHED
                if f"== {name}\n" not in seen]
    if pin in seen:
        problems.append("a program it started had the PIN in its environment")
    return problems


def main() -> int:
    if sys.argv[1] == "command-signer":
        return command_signer(sys.argv[2:])
    work = Path(sys.argv[1]).resolve()
    packages = [Path(p).resolve() for p in sys.argv[2:]]
    shutil.rmtree(work, ignore_errors=True)
    fixture = Fixture(work / "fixture")
    fixture.set_up()
    authority = TimeStampAuthority(fixture)
    failures = 0
    try:
        table = cases(fixture, authority)
        runs = [(table[0], package) for package in packages] + [
            (case, packages[0]) for case in table[1:]]
        for case, package in runs:
            try:
                outcome = run_case(case, fixture, package, work)
                print(f"ok   {case.name} ({case.expect}), {package.name}: "
                      f"{outcome}")
            except Failure as failure:
                failures += 1
                print(f"FAIL {case.name}, {package.name}: {failure}")
        try:
            print(f"ok   worked example: {run_example(packages[-1], authority, fixture, work)}")
        except Failure as failure:
            failures += 1
            print(f"FAIL worked example: {failure}")
        problems = pin_seen_by(work, fixture.pin)
        if problems:
            failures += 1
            print(f"FAIL what sign-package.sh started: {'; '.join(problems)}")
        else:
            print("ok   no program that sign-package.sh started saw the PIN: "
                  + ", ".join(WATCHED))
        if authority.requests == 0:
            failures += 1
            print("FAIL the time-stamp authority answered no request")
    finally:
        authority.close()
    leaks = subprocess.run(["grep", "-rlF", "--", fixture.pin,
                            str(SOURCE_DIR / "build")], capture_output=True,
                           text=True).stdout
    if leaks:
        failures += 1
        print(f"FAIL the PIN was written into {leaks}")
    else:
        print("ok   the PIN is in no file under build/")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
