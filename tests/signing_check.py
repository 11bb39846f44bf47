#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""Signs built packages with release/sign-package.sh and checks the result:
every package with a key on a SoftHSM2 token and a time stamp from a local
authority, then, on the first package, each other signer of the table and
each way signing must fail. Also runs the worked example of
docs/releasing.md on the last package, holds every signed program to
the size that the README gives, and sets a signing machine up with
--install-prerequisites alone, against stand-ins for apt-get and
osslsigncode.

usage: signing_check.py <work folder> <package.zip>...
   or: signing_check.py command-signer [--change-byte] <p12> <program>
   or: signing_check.py slow-signer <started file> <program>
"""

import hashlib
import json
import os
import pty
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import time
import zipfile
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional, Tuple

import pefile

from documents import document_block, signed_size_limit
from readers import BILL, FILE_NAME_PROPERTY, version_strings
from signing_fixture import (SIGNER_DAYS, SOFTHSM_MODULE, Fixture,
                             TimeStampAuthority)

SOURCE_DIR = Path(__file__).resolve().parent.parent
SIGN_PACKAGE = SOURCE_DIR / "release" / "sign-package.sh"
# A moment when the signing certificates have expired and the CAs have not.
AFTER_EXPIRY = int(time.time()) + 2 * SIGNER_DAYS * 24 * 3600
# Far longer than signing takes, short of a stalled run's hour.
SIGNING_TIMEOUT = 120
# The worked example: the indented block after this line.
EXAMPLE_DOCUMENT = "docs/releasing.md"
EXAMPLE_MARKER = "<!-- worked example: the suite runs this block -->"

# What a case expects of the signed programs.
TIME_STAMPED = "verifies, also after the certificate expired"
UNSTAMPED = "verifies now, not after the certificate expired"
FAILS = "fails, and writes nothing"
# The signature's details: by default the product name in the programs'
# version information (PRODUCT stands for it), or a vendor's own.
PRODUCT = "(the programs' product name)"
VENDOR_DESCRIPTION = "Pilote Zorq (widget), signé"
VENDOR_URL = "https://zorq.example/drivers?widget=1&rev=2"
# The traced cases run under strace, which sees every program that
# sign-package.sh starts, with its arguments and environment; the caller's
# environment holds names a script might keep a PIN in, exported.
# A file for each process: calls of several processes in one file can be
# split in two lines, each of which would be missed.
TRACE = ["strace", "-ff", "-qq", "-v", "-s", "65536", "-e",
         "trace=execve,clone,clone3,fork,vfork,setrlimit,prlimit64"]
CALLER_NAMES = {"password": "the caller's own", "pin": "the caller's own",
                "signing_password": "the caller's own",
                "PASSWORD": "the caller's own"}
# strace's lines: <call>(<arguments>) = <result>
TRACED_CALL = re.compile(r"^(\w+)\((.*)\) += (-?\d+)")
# What --command runs, under which a signer may see the PIN.
COMMAND_NAME = "sign-command"
# A signal case ends within this many seconds of its signal.
STOP_SECONDS = 5


@dataclass
class Case:
    name: str
    options: List[str]
    expect: str
    password: Optional[str] = "the PIN"  # None: unset
    resign: bool = False  # signs the token case's signed package again
    into_folder: bool = False  # the output path is an existing folder
    traced: bool = False  # run under strace, with CALLER_NAMES exported
    says: Optional[str] = None  # what a failure's one line must hold
    # A stand-in osslsigncode of this version comes first on PATH.
    osslsigncode_version: Optional[str] = None
    alone: bool = False  # a copy of release/ alone signs, as on another machine
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
        Case("token", token + stamps, TIME_STAMPED, traced=True,
             details=(PRODUCT, None)),
        Case("PKCS#12", ["--pkcs12", fixture.path("p12-signer.p12"),
                         "--description", VENDOR_DESCRIPTION,
                         "--url", VENDOR_URL] + stamps,
             TIME_STAMPED, details=(VENDOR_DESCRIPTION, VENDOR_URL)),
        Case("--command", ["--command", command] + stamps, TIME_STAMPED,
             traced=True),
        Case("release/ copied alone", ["--pkcs12", fixture.path("p12-signer.p12")]
             + stamps, TIME_STAMPED, alone=True),
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
        # Before 2.8, osslsigncode verifies without the revocation list.
        Case("an osslsigncode older than 2.8",
             ["--pkcs12", fixture.path("p12-signer.p12")] + stamps, FAILS,
             says="osslsigncode 2.5 found, and 2.8 or later is needed",
             osslsigncode_version="2.5"),
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
    return version_strings(pefile.PE(data=program))["ProductName"]


def package_programs(package: zipfile.ZipFile) -> List[str]:
    return [name for name in package.namelist() if name.endswith(".exe")]


def check_programs(signed: zipfile.ZipFile, package: zipfile.ZipFile,
                   work: Path, roots: str, case: Case) -> None:
    expect = case.expect
    bill = json.loads(signed.read(BILL))
    hashes = {p["value"]: {h["alg"]: h["content"] for h in c["hashes"]}
              for c in bill["components"] if c["type"] == "application"
              for p in c["properties"] if p["name"] == FILE_NAME_PROPERTY}
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
         work: Path, trace: Optional[Path] = None,
         interrupt: Optional[callable] = None,
         script: Path = SIGN_PACKAGE) -> subprocess.CompletedProcess:
    """Runs sign-package.sh as from a person's terminal, where a prompt for
    the PIN would wait for an answer that never comes; under strace, into
    <trace>, where asked; interrupt, where given, is called with the
    script's process once it runs."""
    temporary = work / "tmp"
    shutil.rmtree(temporary, ignore_errors=True)
    temporary.mkdir()
    if not output.is_dir():
        output.unlink(missing_ok=True)
    arguments = [str(script), *options, str(package), str(output)]
    if trace:
        arguments = TRACE + ["-o", str(trace)] + arguments
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
            if interrupt:
                interrupt(process)
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
    slug = re.sub(r"[^a-z0-9]+", "-", case.name.lower()).strip("-")
    if case.osslsigncode_version:
        env["PATH"] = (f"{old_osslsigncode(work, case.osslsigncode_version)}:"
                       f"{env['PATH']}")
    trace = None
    if case.traced:
        env.update(CALLER_NAMES)
        trace = work / "traces" / f"{slug}-{package.name}"
        shutil.rmtree(trace.parent, ignore_errors=True)
        trace.parent.mkdir()
    output = work / "signed" / f"{slug}-{package.name}"
    output.parent.mkdir(exist_ok=True)
    if case.into_folder:
        output = output.with_name(slug)
        output.mkdir(exist_ok=True)
    source = work / "signed" / f"token-{package.name}" if case.resign \
        else package
    script = release_alone(work) / SIGN_PACKAGE.name if case.alone \
        else SIGN_PACKAGE
    result = sign(case.options, source, output, env, work, trace,
                  script=script)
    if trace:
        problems = pin_problems(trace, fixture.pin)
        if problems:
            raise Failure("; ".join(problems))
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
        if case.says and case.says not in errors[0]:
            raise Failure(f"its line does not say {case.says!r}: {errors[0]}")
        return errors[0]
    if result.returncode != 0:
        raise Failure(f"status {result.returncode}:\n{result.stdout}"
                      f"{result.stderr}")
    check_signed_package(package, output, work, fixture.path("roots.pem"),
                         case)
    return result.stdout.splitlines()[-1]


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


def release_alone(work: Path) -> Path:
    """A copy of release/ in a folder of its own, with nothing else of the
    project beside it."""
    alone = work / "alone" / "release"
    shutil.rmtree(alone.parent, ignore_errors=True)
    shutil.copytree(SIGN_PACKAGE.parent, alone,
                    ignore=shutil.ignore_patterns("__pycache__"))
    return alone


def old_osslsigncode(work: Path, version: str) -> Path:
    """A folder with a stand-in osslsigncode that gives its version as the
    one given, and fails at anything else."""
    folder = work / f"osslsigncode-{version}"
    folder.mkdir(exist_ok=True)
    stand_in = folder / "osslsigncode"
    stand_in.write_text(f"""#!/bin/sh
[ "$1" = --version ] && echo "osslsigncode {version}, using:" && exit 0
echo "osslsigncode {version} was asked to $1" >&2
exit 1
""")
    stand_in.chmod(0o755)
    return folder


def slow_signer(arguments: List[str]) -> int:
    """A signer for --command that takes its time: says it has started, with
    its process ID, into a file, then waits a minute."""
    Path(arguments[0]).write_text(str(os.getpid()))
    time.sleep(60)
    return 0


@dataclass
class TracedProgram:
    pid: int
    arguments: str  # as strace shows them, environment included


def traced_programs(trace: Path) -> Tuple[List[TracedProgram], dict, bool]:
    """The programs a traced run started, the script's first, the parent of
    each process, and whether the script turned core dumps off before it
    started any. strace wrote a file <trace>.<pid> for each process."""
    programs, parents, cores_off_early = [], {}, set()
    for log in trace.parent.glob(trace.name + ".*"):
        pid = int(log.suffix[1:])
        started_one = False
        for line in log.read_text(errors="replace").splitlines():
            call = TRACED_CALL.match(line)
            if not call:
                continue
            name, arguments, result = call[1], call[2], int(call[3])
            if name == "execve" and result == 0:
                programs.append(TracedProgram(pid, arguments))
            elif name in ("clone", "clone3", "fork", "vfork") and result > 0:
                parents[result] = pid
                started_one = True
            elif (name in ("setrlimit", "prlimit64") and not started_one
                  and "RLIMIT_CORE" in arguments and "rlim_cur=0," in arguments):
                cores_off_early.add(pid)
    # The script's process is the one that no traced process started.
    programs.sort(key=lambda program: program.pid in parents)
    return (programs, parents,
            bool(programs) and programs[0].pid in cores_off_early)


def pin_problems(trace: Path, pin: str) -> List[str]:
    """What is wrong with a traced run: the script must turn core dumps off
    before it starts any program, and no program it starts may have the PIN
    in its arguments or environment, but the --command signer and what it
    starts."""
    programs, parents, cores_off = traced_programs(trace)
    if not programs:
        return ["strace saw no program"]
    # strace writes a string's backslashes and double quotes escaped.
    pin = pin.replace("\\", "\\\\").replace('"', '\\"')
    signers = {p.pid for p in programs if f'"{COMMAND_NAME}"' in p.arguments}

    def under_signer(pid: Optional[int]) -> bool:
        while pid is not None:
            if pid in signers:
                return True
            pid = parents.get(pid)
        return False

    # The script's own process starts with the caller's environment (the
    # interpreter its first line names, found on PATH); what it starts
    # runs in processes of their own.
    script = programs[0].pid
    with_pin = [p for p in programs if p.pid != script and pin in p.arguments]
    leaked = sorted({program_name(p) for p in with_pin
                     if not under_signer(p.pid)})
    problems = [f"{', '.join(leaked)} had the PIN"] if leaked else []
    if not cores_off:
        problems.append("the script did not turn core dumps off before it "
                        "started a program")
    names = sorted({program_name(p) for p in programs if p.pid != script})
    print(f"     traced: {', '.join(names)}; with the PIN: "
          f"{', '.join(sorted({program_name(p) for p in with_pin})) or 'none'}")
    return problems


def program_name(program: TracedProgram) -> str:
    """The name of a traced program, as its first argument gives it."""
    return Path(program.arguments.split('"')[1]).name


def stop_when(started: callable, number: int) -> callable:
    """An interrupt for sign(): waits until started() says the signer runs,
    then sends the script the signal."""
    def interrupt(process: subprocess.Popen) -> None:
        deadline = time.monotonic() + SIGNING_TIMEOUT
        while not started() and time.monotonic() < deadline:
            time.sleep(0.05)
        interrupt.sent = time.monotonic()
        os.kill(process.pid, number)
    return interrupt


def run_signal_cases(fixture: Fixture, package: Path, work: Path) -> int:
    """Each of SIGINT, SIGTERM and SIGHUP while a signer runs, a time-stamp
    server that takes the request and never answers, or a slow --command
    signer: the script ends it, writes nothing, removes its work folder and
    exits with 128 and the signal's number within STOP_SECONDS."""
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen()
    silent.settimeout(0.05)
    silent_url = f"http://127.0.0.1:{silent.getsockname()[1]}/"
    started = work / "slow-signer.pid"
    slow = shlex.join([sys.executable, __file__, "slow-signer", str(started)])
    connections = []

    def accepted() -> bool:
        try:
            connections.append(silent.accept()[0])
        except OSError:
            return False
        return True

    signers = [
        ("a time-stamp server that never answers",
         ["--pkcs12", fixture.path("p12-signer.p12"), "--timestamp",
          silent_url, "--ca-file", fixture.path("roots.pem")], accepted),
        ("a slow --command signer",
         ["--command", slow, "--no-timestamp", "--ca-file",
          fixture.path("roots.pem")], started.exists),
    ]
    failures = 0
    for name, options, is_running in signers:
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            started.unlink(missing_ok=True)
            output = work / "signed" / f"interrupted-{package.name}"
            interrupt = stop_when(is_running, number)
            label = f"{signal.Signals(number).name} while {name}"
            try:
                result = sign(options, package, output,
                              fixture.signing_env(fixture.pin), work,
                              interrupt=interrupt)
            except Failure as failure:
                failures += 1
                print(f"FAIL {label}: {failure}")
                continue
            seconds = time.monotonic() - interrupt.sent
            problems = []
            if result.returncode != 128 + number:
                problems.append(f"status {result.returncode}")
            if seconds > STOP_SECONDS:
                problems.append(f"ended {seconds:.1f} s after the signal")
            if output.exists():
                problems.append("wrote the signed package")
            left = list((work / "tmp").iterdir())
            if left:
                problems.append(f"left {left}")
            problems += signer_left(connections, started)
            if problems:
                failures += 1
                print(f"FAIL {label}: {'; '.join(problems)}; standard error "
                      f"{result.stderr!r}")
            else:
                print(f"ok   {label}: status {result.returncode} after "
                      f"{seconds:.1f} s, nothing written, no signer left")
    silent.close()
    return failures


def signer_left(connections: List[socket.socket], started: Path) -> List[str]:
    """Whether the interrupted signer still runs: the time-stamp request's
    connection is still open, or the slow signer's process lives."""
    problems = []
    for connection in connections:
        connection.settimeout(1)
        try:
            while connection.recv(4096):
                pass
        except TimeoutError:
            problems.append("osslsigncode still holds its connection")
        except ConnectionResetError:
            pass
        connection.close()
    connections.clear()
    if started.exists():
        pid = int(started.read_text())
        time.sleep(0.2)
        try:
            os.kill(pid, 0)
            problems.append(f"the signer (process {pid}) still runs")
        except ProcessLookupError:
            pass
    return problems


# The signing machine's set-up, with stand-ins for apt-get and osslsigncode:
# whether apt's sources already name the release's backports, and the
# osslsigncode version installed before. Each row gives the apt-get calls
# expected after the lists' reads, and whether the sources file is written.
APT = "-q -o Acquire::Languages=none"
FROM_BACKPORTS = f"{APT} install -y --no-install-recommends osslsigncode/{{}}"
SET_UP_CASES = [
    ("Debian's own osslsigncode 2.5, no backports in apt's sources", "2.5",
     False, [f"{APT} update", f"{APT} update", FROM_BACKPORTS], True),
    ("osslsigncode 2.5, backports in apt's sources", "2.5", True,
     [f"{APT} update", FROM_BACKPORTS], False),
    ("osslsigncode 2.9", "2.9", False, [], False),
]
ARCHIVE = "http://archive.invalid/debian/"
BACKPORTS_SOURCES = "install-exe-backports.list"


def release_codename() -> str:
    for line in Path("/etc/os-release").read_text().splitlines():
        if line.startswith("VERSION_CODENAME="):
            return line.split("=", 1)[1].strip('"')
    raise Failure("/etc/os-release gives no codename")


def set_up_stand_ins(folder: Path, version: str, backports: bool) -> dict:
    """A folder with a stand-in apt-get that records its calls and answers
    indextargets with the given suites, and installs the backports'
    osslsigncode 2.9 by changing the version the stand-in osslsigncode gives;
    the environment to run sign-package.sh with."""
    shutil.rmtree(folder, ignore_errors=True)
    (folder / "sources.list.d").mkdir(parents=True)
    codename = release_codename()
    targets = [f"deb main {codename} {codename} {ARCHIVE}"]
    if backports:
        targets.append(f"deb main {codename}-backports {codename}-backports "
                       f"{ARCHIVE}")
    (folder / "targets").write_text("\n".join(targets) + "\n")
    (folder / "version").write_text(version + "\n")
    (folder / "apt.conf").write_text(
        f'Dir::Etc::sourceparts "{folder}/sources.list.d";\n')
    stand_ins = {
        "apt-get": f"""#!/bin/sh
if [ "$1" = indextargets ]; then
  while read -r target component codename release uri; do
    printf '%s\\n' "$3" | sed -e "s|\\$(TARGET_OF)|$target|" \\
      -e "s|\\$(COMPONENT)|$component|" -e "s|\\$(CODENAME)|$codename|" \\
      -e "s|\\$(RELEASE)|$release|" -e "s|\\$(REPO_URI)|$uri|"
  done <"{folder}/targets"
  exit 0
fi
echo "$*" >>"{folder}/calls"
case "$*" in *osslsigncode/*-backports*) echo 2.9 >"{folder}/version" ;; esac
""",
        "osslsigncode": f"""#!/bin/sh
echo "osslsigncode $(cat "{folder}/version"), using:"
""",
    }
    for name, text in stand_ins.items():
        (folder / name).write_text(text)
        (folder / name).chmod(0o755)
    env = dict(os.environ, PATH=f"{folder}:{os.environ['PATH']}",
               APT_CONFIG=str(folder / "apt.conf"))
    env.pop("INSTALLER_SIGNING_PASSWORD", None)
    return env


def run_set_up_cases(work: Path) -> int:
    failures = 0
    backports = f"{release_codename()}-backports"
    for name, version, listed, calls, writes in SET_UP_CASES:
        folder = work / "set-up"
        env = set_up_stand_ins(folder, version, listed)
        result = subprocess.run([str(SIGN_PACKAGE), "--install-prerequisites"],
                                env=env, capture_output=True, text=True,
                                timeout=SIGNING_TIMEOUT)
        made = (folder / "calls").read_text().splitlines() \
            if (folder / "calls").exists() else []
        sources = folder / "sources.list.d" / BACKPORTS_SOURCES
        problems = []
        if result.returncode != 0:
            problems.append(f"status {result.returncode}")
        if made != [call.format(backports) for call in calls]:
            problems.append(f"apt-get was asked for {made}")
        expected_sources = (f"deb [signed-by=/usr/share/keyrings/"
                            f"debian-archive-keyring.gpg] {ARCHIVE} "
                            f"{backports} main\n")
        if writes != sources.exists() or (
                writes and sources.read_text() != expected_sources):
            problems.append(f"{BACKPORTS_SOURCES}: " + (
                repr(sources.read_text()) if sources.exists() else "none"))
        said = result.stderr.splitlines()
        expected_said = []
        if calls:
            expected_said.append(
                f"sign-package.sh: osslsigncode {version} verifies without a "
                f"revocation list it cannot fetch: installing a later one "
                f"from Debian's {backports}")
        if writes:
            expected_said.append(
                f"sign-package.sh: adding {backports} to apt's sources, in "
                f"{sources}")
        if said != expected_said:
            problems.append(f"standard error {said}")
        if result.stdout != "sign-package.sh: what signing needs is installed\n":
            problems.append(f"standard output {result.stdout!r}")
        if problems:
            failures += 1
            print(f"FAIL set-up, {name}: {'; '.join(problems)}")
        else:
            print(f"ok   set-up, {name}: apt-get {made or 'not run'}")
    return failures


def main() -> int:
    if sys.argv[1] == "command-signer":
        return command_signer(sys.argv[2:])
    if sys.argv[1] == "slow-signer":
        return slow_signer(sys.argv[2:])
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
        failures += run_signal_cases(fixture, packages[0], work)
        failures += run_set_up_cases(work)
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
