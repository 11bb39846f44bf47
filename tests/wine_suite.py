#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""Runs the built install.exe deliverables under Wine and checks the exact
standard-output bytes, the exit status and the arguments of the driver update.

Each case lays out files in a fresh folder of a throwaway Wine prefix, runs a
deliverable there and compares what it printed with what the table expects.
The update and the staging go either to the stand-in, copied over the
system's newdev.dll and setupapi.dll, which records their arguments and
answers as scripted, or to Wine's own device installer.
"""

import argparse
import contextlib
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, List, Optional, Tuple, Union

import pefile

from documents import unsigned_size_limit
from readers import (PROGRAM, link_map_inputs, link_map_path, project_object,
                     read_deliverables, version_strings)

MAX_PATH = 260
RUN_TIMEOUT = 60  # seconds a program under Wine may take
TIMED_OUT = -1  # the status the suite records for a program that hung
USAGE = b"usage: install <INF_File>\r\n"
NOT_FOUND = b"  File not found.\r\n" + USAGE
RESTART = b"(Reboot Required)\r\n"
UPDATE_FAILED = b"UpdateDriverForPlugAndPlayDevices FAILURE: "
STAGING_FAILED = b"SetupCopyOEMInf FAILURE: "
STAGED_TEXT = b"(Driver staged: Windows installs it when the device is connected)"
STAGED = STAGED_TEXT + b"\r\n"
# The device installer's answers that are no failure of their own.
NO_DEVICE = "failure:0xE000020B"  # ERROR_NO_SUCH_DEVINST
NO_MORE_ITEMS = "failure:259"  # ERROR_NO_MORE_ITEMS
# Wine's message texts end in CR LF; text mode puts a CR before each LF.
ACCESS_DENIED_TEXT = b"Access denied.\r\r\n\r\n"
INSUFFICIENT_BUFFER_TEXT = b"Insufficient buffer.\r\r\n\r\n"
INVALID_NAME_TEXT = b"Invalid name.\r\r\n\r\n"
NO_MORE_ITEMS_TEXT = b"No more data available.\r\r\n\r\n"
# Wine's text for ERROR_ACCESS_DENIED in three languages, and the ANSI code
# page of each locale.
ACCESS_DENIED_IN = [
    ("ru_RU.UTF-8", "Доступ запрещён.", "cp1251"),
    ("fr_FR.UTF-8", "Accès refusé.", "cp1252"),
    ("ja_JP.UTF-8", "アクセスが拒否されました。", "cp932"),
]
# ERROR_BAD_EXE_FORMAT: its text holds an insert, so the lookup fails.
BAD_FORMAT_TEXT = b"(0x000000c1)\r\n"
# The system's device installer library, as programs of either architecture
# see it (Wine maps 32-bit programs' system32 to syswow64).
SYSTEM_NEWDEV = b"C:\\windows\\system32\\newdev.dll"
SYSTEM_SETUPAPI = b"C:\\windows\\system32\\setupapi.dll"
# The stand-in's libraries: native, from the system directory.
STAND_IN_OVERRIDES = "newdev=n;setupapi=n"

# What each deliverable may need from a bare Windows.
ALLOWED_IMPORTS = {"KERNEL32.dll", "msvcrt.dll"}
CONSOLE = 3  # the PE subsystem of console programs
SECURITY = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
# The systems the programs declare they were written for: Windows Vista, 7,
# 8, 8.1, and 10 and 11.
SUPPORTED_SYSTEMS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}",
                     "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                     "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                     "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                     "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


# The mitigations every deliverable asks the loader for.
MITIGATION = pefile.DLL_CHARACTERISTICS
NO_SEH = MITIGATION["IMAGE_DLLCHARACTERISTICS_NO_SEH"]
HIGH_ENTROPY_VA = MITIGATION["IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA"]
BASELINE = (MITIGATION["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"]
            | MITIGATION["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]
            | MITIGATION["IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"]
            | MITIGATION["IMAGE_DLLCHARACTERISTICS_GUARD_CF"])
# Control Flow Guard's load configuration: instrumented code and a table of
# valid call targets.
CF_INSTRUMENTED = 0x100
CF_FUNCTION_TABLE_PRESENT = 0x400
GUARD_FLAGS = CF_INSTRUMENTED | CF_FUNCTION_TABLE_PRESENT
# CET shadow-stack compatibility: a debug entry of extended characteristics.
EX_DLLCHARACTERISTICS = 20
CET_COMPAT = 0x1
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]
EXCEPTION_DIRECTORY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXCEPTION"]


@dataclass
class Architecture:
    pe_format: tuple  # (machine, optional header magic)
    system_dir: str  # where its programs' system libraries live in a prefix
    mitigations: int  # DllCharacteristics flags its deliverables must carry
    # The load configuration's fields that hold the guard's check (and on
    # x64 dispatch) pointers, which the loader fills in.
    guard_pointers: Tuple[str, ...] = ("GuardCFCheckFunctionPointer",)
    cet_compat: bool = True
    # The size of an entry of the exception directory (.pdata), which the
    # ABI asks for every function that calls another; x86 has none.
    unwind_entry_size: int = 0


ARCHITECTURES = {
    "x86": Architecture((0x14C, 0x10B), "syswow64", BASELINE | NO_SEH),
    "x64": Architecture((0x8664, 0x20B), "system32",
                        BASELINE | HIGH_ENTROPY_VA,
                        ("GuardCFCheckFunctionPointer",
                         "GuardCFDispatchFunctionPointer"),
                        unwind_entry_size=12),
    "arm64": Architecture((0xAA64, 0x20B), "system32",
                          BASELINE | HIGH_ENTROPY_VA, cet_compat=False,
                          unwind_entry_size=8),
}


@dataclass
class Layout:
    """Where a case's program runs from, in Windows terms."""

    root: str  # the case's folder, e.g. C:\t\007
    program_dir: str  # the program's directory, with its final backslash
    program: str  # the program's full path


# The device installer calls a case reaches: none; the staging alone, where
# the build stages; or the staging, where the build stages, and an update
# for each of the build's hardware IDs.
NO_CALLS, STAGING_ONLY, UPDATES = "none", "staging", "update"

# Arguments and files can depend on where the case's program lies.
PerLayout = Union[List[str], Callable[[Layout], List[str]]]


@dataclass
class Case:
    name: str
    args: PerLayout
    files: PerLayout = field(default_factory=list)  # '/'-ending: a folder
    program: str = "Setup/install.exe"
    cwd: str = "work"
    outcome: str = "success"
    stdout: bytes = b""
    status: int = 0
    calls: str = "update"  # the device installer calls the case reaches
    lang: str = "C.UTF-8"
    on_console: bool = False  # run from a terminal; stdout: what it shows
    on_own_drive: bool = False  # the case's folder is the root of drive R:
    dll_overrides: str = STAND_IN_OVERRIDES
    planted: bool = False  # stand-ins lie beside the program under both names
    unloadable_system_library: str = ""  # "newdev.dll" or "setupapi.dll"
    staging_outcome: str = "success"
    # What a staging build gives instead: (stdout, status, calls).
    when_staged: Optional[Tuple[bytes, int, str]] = None
    # The Wine paths, (architecture, loader kind), that cannot run the case.
    cannot_run_on: Tuple[Tuple[str, str], ...] = ()
    why_not: str = ""


def utf16_units(text: str) -> int:
    """The length that Windows counts: a character outside the Basic
    Multilingual Plane takes two UTF-16 units."""
    return len(text.encode("utf-16-le")) // 2


def fits(layout: Layout, extra: int = 0, lead: str = "") -> str:
    """An INF name starting with `lead`, `extra` UTF-16 units longer than the
    longest that fits beside the program (MAX_PATH units with the
    terminator)."""
    length = MAX_PATH - 1 - utf16_units(layout.program_dir) + extra
    return lead + "a" * (length - utf16_units(lead) - 4) + ".inf"


DEEP_DIRS = "/".join(["d" * 60] * 5)
# Names the ANSI code pages 1252 and 932 both lack in part: Cyrillic (932 has
# it), Chinese that 932 lacks, and a character outside the Basic
# Multilingual Plane.
WORLD_FOLDER = "Пакет 驱动 😀"
WORLD_PROGRAM = WORLD_FOLDER + "/установка 驱动 😀.exe"
WORLD_INF = "Драйвер ☃.inf"  # ☃ is in neither code page
# Another file, which the '?' a narrow program makes of ☃ would also match.
WILDCARD_MATCH = "Драйвер x.inf"
# The ANSI code pages Wine takes from a UTF-8 locale.
CODE_PAGES = [("code page 1252", "C.UTF-8"), ("code page 932", "ja_JP.UTF-8")]
# Names at the path limit: ASCII, and led by a surrogate pair.
LEADS = [("", ""), (", led by a character outside the BMP", "😀")]

CASES = [
    # Exit statuses.
    Case("no argument", [], stdout=USAGE, status=2, calls=NO_CALLS),
    Case("two arguments", ["port.inf", "x"], ["Setup/port.inf"],
         stdout=USAGE, status=2, calls=NO_CALLS),
    Case("three arguments", ["port.inf", "x", "y"], ["Setup/port.inf"],
         stdout=USAGE, status=2, calls=NO_CALLS),
    Case("INF not found", ["absent.inf"], ["Setup/port.inf"],
         stdout=NOT_FOUND, status=2, calls=NO_CALLS),
    Case("updated", ["port.inf"], ["Setup/port.inf"]),
    Case("updated, restart needed", ["port.inf"], ["Setup/port.inf"],
         outcome="restart", stdout=RESTART, status=1),
    Case("update fails, system text", ["port.inf"], ["Setup/port.inf"],
         outcome="failure:5", stdout=UPDATE_FAILED + ACCESS_DENIED_TEXT,
         status=2),
    Case("update fails, no system text", ["port.inf"], ["Setup/port.inf"],
         outcome=NO_DEVICE,
         stdout=UPDATE_FAILED + b"(0xe000020b)\r\n", status=2,
         when_staged=(STAGED, 0, UPDATES)),
    # A console shows the system text in its own script; a pipe gets it in
    # the ANSI code page. The text's own line break and the line's make two.
    *[Case(f"update fails, {lang} text, on a console", ["port.inf"],
           ["Setup/port.inf"], outcome="failure:5", lang=lang,
           on_console=True, stdout=UPDATE_FAILED + f"{text}\n\n".encode(),
           status=2)
      for lang, text, _ in ACCESS_DENIED_IN],
    *[Case(f"update fails, {lang} text, to a pipe", ["port.inf"],
           ["Setup/port.inf"], outcome="failure:5", lang=lang,
           stdout=UPDATE_FAILED + text.encode(page) + b"\r\r\n\r\n",
           status=2)
      for lang, text, page in ACCESS_DENIED_IN],
    Case("update fails, no system text, on a console", ["port.inf"],
         ["Setup/port.inf"], outcome=NO_DEVICE, on_console=True,
         stdout=UPDATE_FAILED + b"(0xe000020b)\n", status=2,
         when_staged=(STAGED_TEXT + b"\n", 0, UPDATES)),
    # Resolving the name against the program's directory.
    Case("INF only in the working directory", ["port.inf"], ["work/port.inf"],
         stdout=NOT_FOUND, status=2, calls=NO_CALLS),
    Case("sub-directory", ["drivers\\port.inf"], ["Setup/drivers/port.inf"]),
    Case("parent step", ["..\\port.inf"], ["port.inf", "Setup/"]),
    Case("leading separator is appended", ["\\port.inf"], ["Setup/port.inf"]),
    Case("absolute argument is appended", lambda l: [l.root + "\\port.inf"],
         ["port.inf", "Setup/"], stdout=NOT_FOUND, status=2, calls=NO_CALLS),
    Case("wildcard", ["*.inf"], ["Setup/port.inf"]),
    Case("directory name", ["drivers"], ["Setup/drivers/"]),
    Case("name with spaces", ["my port.inf"], ["Setup/my port.inf"]),
    Case("empty argument", [""], ["Setup/port.inf"],
         stdout=NOT_FOUND, status=2, calls=NO_CALLS),
    Case("program at the root of a drive", ["port.inf"], ["port.inf"],
         program="install.exe", on_own_drive=True),
    Case("started under another name, usage", [], program="Setup/setup.exe",
         stdout=USAGE, status=2, calls=NO_CALLS),
    Case("started under another name", ["port.inf"], ["Setup/port.inf"],
         program="Setup/setup.exe"),
    # Characters in the program's name that a scan for the last separator
    # must not take for one: U+042F, whose UTF-16 unit's low byte is '/',
    # and the fullwidth reverse solidus.
    Case("program's name holds Я", ["port.inf"], ["Setup/port.inf"],
         program="Setup/Установщик Я.exe"),
    Case("program's name holds a fullwidth reverse solidus", ["port.inf"],
         ["Setup/port.inf"], program="Setup/setup＼1.exe"),
    # The composed path's buffer holds MAX_PATH characters with the terminator.
    *[Case(f"longest name that fits{lead_name}", lambda l, lead=lead:
           [fits(l, lead=lead)],
           lambda l, lead=lead: ["Setup/" + fits(l, lead=lead)])
      for lead_name, lead in LEADS],
    *[Case(f"one UTF-16 unit more{lead_name}", lambda l, lead=lead:
           [fits(l, 1, lead)],
           lambda l, lead=lead: ["Setup/" + fits(l, 1, lead)],
           stdout=NOT_FOUND, status=2, calls=NO_CALLS)
      for lead_name, lead in LEADS],
    Case("program path longer than MAX_PATH", ["port.inf"],
         [DEEP_DIRS + "/port.inf"], program=DEEP_DIRS + "/install.exe",
         stdout=b"GetModuleFileName FAILURE: " + INSUFFICIENT_BUFFER_TEXT,
         status=2, calls=NO_CALLS,
         cannot_run_on=(("x86", "emulated"),),
         why_not="the Wine loader started first is of the other bitness and "
         "hands the program to start.exe, which starts none from a path this "
         "long"),
    # Names in any language reach the update as they are, and a name never
    # stands for another file.
    *[Case(f"folder and program named in any language, {page}", ["port.inf"],
           [WORLD_FOLDER + "/port.inf"], program=WORLD_PROGRAM, lang=lang)
      for page, lang in CODE_PAGES],
    *[Case(f"INF named in any language, {page}", [WORLD_INF],
           ["Setup/" + WORLD_INF], lang=lang)
      for page, lang in CODE_PAGES],
    *[Case(f"INF named in any language is absent, {page}", [WORLD_INF],
           ["Setup/" + WILDCARD_MATCH], lang=lang,
           stdout=NOT_FOUND, status=2, calls=NO_CALLS)
      for page, lang in CODE_PAGES],
    Case("fullwidth look-alike of an existing name", ["ｐｏｒｔ.inf"],
         ["Setup/port.inf"], stdout=NOT_FOUND, status=2, calls=NO_CALLS),
    Case("yen sign is no separator, code page 932", ["..¥port.inf"],
         ["Setup/port.inf"], program="Setup/sub/install.exe",
         lang="ja_JP.UTF-8", stdout=NOT_FOUND, status=2, calls=NO_CALLS),
    # In code page 932, "ソ" is 0x83 0x5C: its trail byte is no separator.
    Case("double-byte character with trail byte 0x5C", ["port.inf"],
         ["ソ/port.inf"], program="ソ/ソ.exe", lang="ja_JP.UTF-8"),
    # The device installer comes from the system directory only. Native
    # first, as Windows searches: a planted copy would win if it were looked
    # for beside the program.
    Case("newdev.dll and setupapi.dll planted beside the program",
         ["port.inf"], ["Setup/port.inf"],
         dll_overrides="newdev=n,b;setupapi=n,b", planted=True),
    Case("system newdev.dll cannot be loaded", ["port.inf"], ["Setup/port.inf"],
         unloadable_system_library="newdev.dll",
         stdout=UPDATE_FAILED + BAD_FORMAT_TEXT, status=2, calls=STAGING_ONLY),
    Case("system setupapi.dll cannot be loaded", ["port.inf"],
         ["Setup/port.inf"], unloadable_system_library="setupapi.dll",
         when_staged=(STAGING_FAILED + BAD_FORMAT_TEXT, 2, NO_CALLS)),
    # Staging fails: nothing is updated.
    Case("staging fails", ["port.inf"], ["Setup/port.inf"],
         staging_outcome="failure:5",
         when_staged=(STAGING_FAILED + ACCESS_DENIED_TEXT, 2, STAGING_ONLY)),
]


@dataclass
class Combination:
    """The update calls' answers for the first of a build's hardware IDs;
    the IDs after them find no device, the weakest answer."""
    name: str
    outcomes: Tuple[str, ...]
    stdout: bytes
    status: int
    staged: Optional[Tuple[bytes, int]] = None  # a staging build's instead


# How the answers of a build's update calls combine, on every build that
# declares as many IDs as a row gives.
COMBINATIONS = [
    Combination("the first failure other than no device decides",
                ("restart", "failure:5", "failure:0xE000022F"),
                UPDATE_FAILED + ACCESS_DENIED_TEXT, 2),
    Combination("a failure before a success and after another",
                ("failure:0xE000022F", "success", "failure:5"),
                UPDATE_FAILED + b"(0xe000022f)\r\n", 2),
    Combination("a success outweighs no device and 259",
                (NO_DEVICE, "success", NO_MORE_ITEMS), b"", 0),
    Combination("a restart that any update asks for",
                ("success", NO_DEVICE, "restart"), RESTART, 1),
    Combination("259 outweighs no device",
                (NO_DEVICE, NO_MORE_ITEMS, NO_DEVICE),
                UPDATE_FAILED + NO_MORE_ITEMS_TEXT, 2),
    Combination("no device for any ID", (NO_DEVICE, NO_DEVICE, NO_DEVICE),
                UPDATE_FAILED + b"(0xe000020b)\r\n", 2, staged=(STAGED, 0)),
]



@dataclass
class DeviceInstallerCase:
    name: str
    # Copies of the stand-in beside the program, under these libraries'
    # names, which Wine is told to prefer to its own.
    planted: Tuple[str, ...] = ()
    folder: str = "Package"  # the package's folder, beside the device tool
    # Whether the other builds' programs run first, with this build's
    # package, and must leave the device without a driver.
    others_first: bool = False


# Against Wine's own device installer, whose components load libraries by
# bare name while they work, as Windows' do.
DEVICE_INSTALLER_CASES = [
    DeviceInstallerCase("Wine's device installer, after other builds' "
                        "programs ({}) left the device without a driver",
                        others_first=True),
    DeviceInstallerCase("Wine's device installer, imm32.dll and uxtheme.dll "
                        "planted beside the program",
                        planted=("imm32.dll", "uxtheme.dll")),
    DeviceInstallerCase("Wine's device installer, package in a folder named "
                        "in any language", folder=WORLD_FOLDER),
]

# The deliverables' stack protector runtime, in stack_guard_check: (how many
# bytes go into an 8-byte stack buffer, expected exit status). An overrun
# ends the process with STATUS_STACK_BUFFER_OVERRUN (0xC0000409), of which
# Wine passes on the low byte. The overrun covers the whole guard: one byte
# into it would go unseen whenever the guard's own byte there is the same.
STACK_OVERRUN = 0x09
# Test programs with the deliverables' mitigations: (program, arguments,
# expected stdout, expected status). cfg_check points the guard at a strict
# check, as an enforcing loader does; a call into a function's middle is
# stopped as Windows stops it, with the same status as an overrun.
HARDENING_CASES = [
    ("stack_guard_check", ["fill", "8"], b"", 0),
    ("stack_guard_check", ["fill", "64"], b"", STACK_OVERRUN),
    ("cfg_check", ["function"], b"checked\r\n", 0),
    ("cfg_check", ["middle"], b"", STACK_OVERRUN),
]

# report_failure on its own: (code, expected text after "Op FAILURE: ").
REPORT_CASES = [
    ("5", ACCESS_DENIED_TEXT),
    ("0", b"Success.\r\r\n\r\n"),
    ("0xE000020B", b"(0xe000020b)\r\n"),
    ("0xFFFF", b"(0x0000ffff)\r\n"),
]


# Wine's fatal errors while it starts a program, before the program runs,
# end the process with status 1 and a line on standard error with "wine: "
# in it: on its own ("wine: could not load kernel32.dll"), or after the
# error channel's prefix ("err:virtual:virtual_alloc_first_teb wine: failed
# to map the shared user data: c0000018", when the page that Windows keeps
# at 0x7ffe0000 cannot be mapped there). The programs here never write to
# standard error, and their own status 1 comes with a line on standard
# output, so such a run is Wine's failure, not an answer of the program, and
# the program is started again.
WINE_FATAL_ERROR = re.compile(rb"^(?:[0-9a-f]{4}:)?(?:err:\S+ )?wine: .*",
                              re.MULTILINE)
WINE_FATAL_STATUS = 1
START_ATTEMPTS = 3


def wine_failed_to_start(result: subprocess.CompletedProcess) -> bool:
    return (result.returncode == WINE_FATAL_STATUS and not result.stdout
            and WINE_FATAL_ERROR.search(result.stderr) is not None)


# A program that does nothing, started to have Wine set up a new prefix.
PREFIX_SETUP = ["cmd.exe", "/c", "exit"]


class Wine:
    """A throwaway Wine prefix inside the build tree, and the loader that
    starts one architecture's programs in it on this host."""

    def __init__(self, prefix: Path, scripts: Path, kind: str, loader: str,
                 server: str):
        self.prefix = prefix
        self.ending = scripts / "lib" / "wine-prefix.sh"  # how Wine is ended
        self.kind = kind  # wine64, emulated (x86) or arm64
        self.loader = loader
        self.server = server
        self.server_log = prefix.with_name(prefix.name + "-server.log")
        self.server_log_read = 0
        # Wine's errors only: some of its fatal ones it says on the error
        # channel alone.
        self.env = dict(os.environ, WINEPREFIX=str(prefix),
                        WINEDEBUG="-all,err+all")
        self.env.pop("DISPLAY", None)
        # Each case's LANG alone chooses Wine's code pages.
        for variable in ("LC_ALL", "LC_CTYPE"):
            self.env.pop(variable, None)

    @property
    def drive_c(self) -> Path:
        return self.prefix / "drive_c"

    def system_dir(self, arch: str) -> Path:
        """Where the system libraries of the architecture's programs live."""
        return self.drive_c / "windows" / ARCHITECTURES[arch].system_dir

    def create(self) -> None:
        # Whatever an interrupted run left behind.
        if not self.end():
            raise SystemExit(f"processes of {self.prefix} still run")
        shutil.rmtree(self.prefix, ignore_errors=True)
        self.prefix.mkdir(parents=True)
        print("creating Wine prefix", self.prefix, flush=True)
        # One server for the whole run, up and answering before the first
        # program, rather than one per program started. What it says goes
        # to its log, not into the output of the suite.
        with self.server_log.open("wb") as log:
            subprocess.run([self.server, "--persistent"], env=self.env,
                           stdout=log, stderr=log, check=True)
        self.server_log_read = 0
        # No Mono or Gecko: nothing here needs them, and they would be fetched.
        env = dict(self.env, WINEDLLOVERRIDES="mscoree=;mshtml=")
        # The first program started in a new prefix has Wine set it up
        # (wineboot --init, which starts its services) before it runs, so
        # that program does nothing itself. Asking for wineboot --init
        # would set it up a second time, and the second service manager
        # that starts then holds later 32-bit device installs up to 21 s.
        # Its output goes to a file: Wine's services, started on the way,
        # keep a pipe open long after the program has finished.
        with tempfile.TemporaryFile() as log:
            boot = subprocess.run([self.loader, *PREFIX_SETUP], env=env,
                                  stdout=log, stderr=log, check=False)
            if boot.returncode != 0:
                log.seek(0)
                output = log.read().decode(errors="replace")
                raise SystemExit(f"{self.loader} {' '.join(PREFIX_SETUP)} "
                                 f"failed with status {boot.returncode}:\n"
                                 f"{output}")

    def end(self) -> bool:
        """Ends every process of the prefix, Wine's server and services
        included, and removes the folder of its server's socket, which
        Debian's Wine leaves behind: end_wine_prefix, which the demo uses
        too. False where a process would not end; the function says which."""
        ended = subprocess.run(
            ["bash", "-c", 'source "$1" && end_wine_prefix "$2" "$3"',
             "end_wine_prefix", str(self.ending), str(self.prefix),
             self.server], check=False)
        return ended.returncode == 0

    def new_server_words(self) -> bytes:
        """What the server has written to its log since last asked."""
        with self.server_log.open("rb") as log:
            log.seek(self.server_log_read)
            words = log.read()
        self.server_log_read += len(words)
        return words

    def run(self, program: str, args: List[str], cwd: Path, extra_env: dict,
            on_terminal: bool = False) -> subprocess.CompletedProcess:
        """Runs a program with its output captured; started again, and
        said so with Wine's own words, where Wine failed to start it."""
        run_once = self.run_on_terminal if on_terminal else self.run_to_pipe
        for _ in range(START_ATTEMPTS - 1):
            result = run_once(program, args, cwd, extra_env)
            if not wine_failed_to_start(result):
                return result
            error = WINE_FATAL_ERROR.search(result.stderr)[0]
            print(f"     Wine failed to start {program} "
                  f"({error.decode(errors='replace')}); starting it again",
                  flush=True)
        return run_once(program, args, cwd, extra_env)

    def run_to_pipe(self, program: str, args: List[str], cwd: Path,
                    extra_env: dict) -> subprocess.CompletedProcess:
        command = [self.loader, program] + args
        try:
            return subprocess.run(command, cwd=cwd,
                                  env=dict(self.env, **extra_env),
                                  capture_output=True, timeout=RUN_TIMEOUT)
        except subprocess.TimeoutExpired:
            return subprocess.CompletedProcess(
                command, TIMED_OUT, f"(no end after {RUN_TIMEOUT} s)".encode(),
                b"")

    def run_on_terminal(self, program: str, args: List[str], cwd: Path,
                        extra_env: dict) -> subprocess.CompletedProcess:
        """Runs a program from a terminal, where Wine gives it a console, as
        at a Windows command prompt. Its stdout is what the terminal shows,
        in UTF-8; Wine's standard error goes to a pipe of its own."""
        command = [self.loader, program] + args
        terminal, program_side = pty.openpty()
        with subprocess.Popen(command, cwd=cwd, env=dict(self.env, **extra_env),
                              stdin=program_side, stdout=program_side,
                              stderr=subprocess.PIPE) as process:
            os.close(program_side)
            output, errors = read_terminal(terminal, process)
        os.close(terminal)
        status = TIMED_OUT if output is None else process.returncode
        shown = terminal_screen(b"(no end)" if output is None
                                else output).encode()
        return subprocess.CompletedProcess(command, status, shown, errors)


class Suite:
    def __init__(self, build_dir: Path, source_dir: Path, arch: str,
                 wine: Wine, other_build_dirs: List[Path]):
        self.build_dir = build_dir
        self.source_dir = source_dir
        self.arch = arch
        # What the build made: its builds, their version and descriptions.
        self.made = read_deliverables(build_dir)
        self.builds = {build["folder"]: build for build in self.made["builds"]}
        self.other_build_dirs = other_build_dirs
        self.stand_in = build_dir / "tests" / "stand-in" / "newdev.dll"
        self.simdevice = str(build_dir / "demo" / "simdevice.exe")
        self.wine = wine
        self.system_newdev = wine.system_dir(arch) / "newdev.dll"
        self.system_setupapi = wine.system_dir(arch) / "setupapi.dll"
        self.size_limit = unsigned_size_limit()
        self.passed = 0
        self.failed = 0
        self.skipped = 0
        self.case_number = 0

    def check(self, label: str, problems: List[str],
              result: Optional[subprocess.CompletedProcess] = None) -> None:
        """Counts and prints a case's outcome; for a failed case, also what
        Wine printed on standard error while running its program, and what
        its server said meanwhile."""
        server_words = self.wine.new_server_words()
        if problems:
            self.failed += 1
            print(f"FAIL {label}")
            if result is not None and result.stderr:
                problems.append(f"standard error {result.stderr!r}")
            if server_words:
                problems.append(f"Wine's server said {server_words!r}")
            for problem in problems:
                print("     " + problem)
        else:
            self.passed += 1
            print(f"ok   {label}")

    def new_case_folder(self) -> Path:
        self.case_number += 1
        folder = self.wine.drive_c / "t" / f"{self.case_number:03}"
        folder.mkdir(parents=True)
        return folder

    def run_case(self, deliverable: str, case: Case) -> None:
        if (self.arch, self.wine.kind) in case.cannot_run_on:
            self.skipped += 1
            print(f"skip {deliverable}: {case.name} ({case.why_not})")
            return
        folder = self.new_case_folder()
        layout = self.lay_out(deliverable, case, folder)
        args = case.args(layout) if callable(case.args) else case.args
        stdout, status, calls = case.stdout, case.status, case.calls
        if self.builds[deliverable]["stage"] and case.when_staged:
            stdout, status, calls = case.when_staged

        environment = {
            "LANG": case.lang,
            "WINEDLLOVERRIDES": case.dll_overrides,
            "NEWDEV_STAND_IN_OUTCOME": case.outcome,
            "SETUPAPI_STAND_IN_OUTCOME": case.staging_outcome,
            "NEWDEV_STAND_IN_RECORD": layout.root + "\\record.txt",
        }
        system_library = (self.unloadable(case.unloadable_system_library)
                          if case.unloadable_system_library
                          else contextlib.nullcontext())
        with system_library:
            result = self.wine.run(layout.program, args, folder / case.cwd,
                                   environment, case.on_console)

        problems = compare_output(result, stdout, status)
        problems += self.compare_record(
            folder, self.expected_record(deliverable, layout, args, calls))
        self.check(f"{deliverable}: {case.name}", problems, result)

    def run_combinations(self, deliverable: str) -> None:
        """The combination of the update calls' answers, for a build with
        several hardware IDs; each ID gets its call, in declared order."""
        ids = self.builds[deliverable]["hardware_ids"]
        staging = self.builds[deliverable]["stage"]
        for row in COMBINATIONS:
            if len(ids) < len(row.outcomes):
                continue
            folder = self.new_case_folder()
            case = Case(row.name, ["port.inf"], ["Setup/port.inf"])
            layout = self.lay_out(deliverable, case, folder)
            answers = [f"{hardware_id}={outcome}" for hardware_id, outcome
                       in zip(ids, row.outcomes)]
            environment = {
                "WINEDLLOVERRIDES": STAND_IN_OVERRIDES,
                "NEWDEV_STAND_IN_OUTCOME": " ".join(answers + [NO_DEVICE]),
                "NEWDEV_STAND_IN_RECORD": layout.root + "\\record.txt",
            }
            result = self.wine.run(layout.program, case.args,
                                   folder / case.cwd, environment)
            stdout, status = (row.staged if staging and row.staged
                              else (row.stdout, row.status))
            problems = compare_output(result, stdout, status)
            problems += self.compare_record(folder, self.expected_record(
                deliverable, layout, case.args, UPDATES))
            self.check(f"{deliverable}: answers {', '.join(row.outcomes)}: "
                       f"{row.name}", problems, result)

    @staticmethod
    def compare_record(folder: Path, expected: bytes) -> List[str]:
        """The calls the stand-in recorded in the case's folder, against
        the expected ones."""
        record = folder / "record.txt"
        actual = record.read_bytes() if record.exists() else b""
        if actual != expected:
            return [f"calls {actual!r}, expected {expected!r}"]
        return []

    @contextlib.contextmanager
    def unloadable(self, library: str):
        """Replaces one of the system's libraries, which the stand-in is,
        with a file that cannot load."""
        system_library = self.wine.system_dir(self.arch) / library
        system_library.write_bytes(b"MZ this is no library")
        try:
            yield
        finally:
            shutil.copy(self.stand_in, system_library)

    @contextlib.contextmanager
    def stand_in_setupapi(self):
        """The stand-in as the system's setupapi.dll, and Wine's own back
        afterwards, which its device installer and services use."""
        backup = self.system_setupapi.with_name("setupapi.dll.wine")
        shutil.copy(self.system_setupapi, backup)
        shutil.copy(self.stand_in, self.system_setupapi)
        try:
            yield
        finally:
            shutil.move(backup, self.system_setupapi)

    def lay_out(self, deliverable: str, case: Case, folder: Path) -> Layout:
        """Puts the program and the case's files into the case's folder."""
        if case.on_own_drive:
            drive = self.wine.prefix / "dosdevices" / "r:"
            drive.unlink(missing_ok=True)
            drive.symlink_to(folder)
            root = "R:"
        else:
            root = "C:\\" + str(folder.relative_to(self.wine.drive_c))
            root = root.replace("/", "\\")
        program = root + "\\" + case.program.replace("/", "\\")
        layout = Layout(root, program[: program.rindex("\\") + 1], program)

        files = case.files(layout) if callable(case.files) else case.files
        for name in files + [case.cwd + "/"]:
            path = folder / name
            if name.endswith("/"):
                path.mkdir(parents=True, exist_ok=True)
            else:
                path.parent.mkdir(parents=True, exist_ok=True)
                path.touch()
        executable = folder / case.program
        executable.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(self.build_dir / deliverable / PROGRAM, executable)
        if case.planted:
            for library in ("newdev.dll", "setupapi.dll"):
                shutil.copy(self.stand_in, executable.parent / library)
        return layout

    def expected_record(self, deliverable: str, layout: Layout,
                        args: List[str], calls: str) -> bytes:
        """The device installer calls a case reaches, each from the system's
        library and with its UTF-16 entry point, on the program's directory
        with the argument appended. The staging: no media location, the
        media type of a path, no copy style and nothing asked back. Then an
        update for each of the build's hardware IDs in declared order: no
        parent window, flags 0, and a restart flag that is FALSE at the
        call. The stand-in records strings in UTF-8."""
        if calls == NO_CALLS:
            return b""
        inf_path = (layout.program_dir + args[0]).encode()
        build = self.builds[deliverable]
        record = b""
        if build["stage"]:
            record += (b"library=" + SYSTEM_SETUPAPI
                       + b"\nfunction=SetupCopyOEMInfW\ninf_path=" + inf_path
                       + b"\nmedia_location=null\nmedia_type=1\nstyle=0"
                       + b"\ndestination=null\ndestination_size=0"
                       + b"\nrequired_size=null\ndestination_name=null\n")
        if calls == UPDATES:
            record += b"".join(
                b"library=" + SYSTEM_NEWDEV
                + b"\nfunction=UpdateDriverForPlugAndPlayDevicesW"
                + b"\nparent=null\nhardware_id=" + hardware_id.encode()
                + b"\ninf_path=" + inf_path + b"\nflags=0\nrestart_flag=0\n"
                for hardware_id in build["hardware_ids"])
        return record

    def check_deliverable(self, deliverable: str) -> None:
        """What a shipped program must be, read from the built file."""
        program = (self.build_dir / deliverable / PROGRAM).read_bytes()
        pe = pefile.PE(data=program)
        architecture = ARCHITECTURES[self.arch]
        machine, magic = architecture.pe_format
        header = pe.OPTIONAL_HEADER
        problems = []
        found_format = (pe.FILE_HEADER.Machine, header.Magic, header.Subsystem)
        if found_format != (machine, magic, CONSOLE):
            problems.append("machine {:#x}, magic {:#x}, subsystem {}".format(
                *found_format))
        flags = header.DllCharacteristics
        missing = architecture.mitigations & ~flags
        if missing:
            problems.append(f"DllCharacteristics {flags:#06x} lacks "
                            f"{missing:#06x}")
        problems += check_control_flow_guard(pe, architecture)
        imports = [entry.dll.decode() for entry in pe.DIRECTORY_ENTRY_IMPORT]
        if set(imports) != ALLOWED_IMPORTS:
            problems.append(f"imports {imports}")
        if len(program) >= self.size_limit:
            problems.append(f"{len(program)} bytes, limit {self.size_limit}")
        problems += self.unwind_problems(deliverable, pe)

        problems += check_manifest(read_manifest(pe))
        version = version_strings(pe)
        expected_version = {
            "CompanyName": self.made["company"],
            "LegalCopyright": self.made["copyright"],
            "ProductName": self.made["product"],
            "OriginalFilename": PROGRAM,
            "FileVersion": self.made["version"],
            "ProductVersion": self.made["version"],
            "FileDescription": self.builds[deliverable]["description"],
        }
        for key, value in expected_version.items():
            if version.get(key) != value:
                problems.append(f"version {key} {version.get(key)!r}, "
                                f"expected {value!r}")

        self.check(f"{deliverable}: format, mitigations, control flow guard, "
                   "imports, size, unwind data, manifest, version", problems)

    def unwind_problems(self, deliverable: str, pe: pefile.PE) -> List[str]:
        """Where the ABI asks for unwind data, each of the program's own
        functions, as its link map places them, begins an entry of the
        exception directory, whose entries the unwinder searches in the
        order of their addresses."""
        entry_size = ARCHITECTURES[self.arch].unwind_entry_size
        if not entry_size:
            return []
        directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[EXCEPTION_DIRECTORY]
        table = (pe.get_data(directory.VirtualAddress, directory.Size)
                 if directory.Size else b"")
        # Each entry starts with its function's address.
        begins = [int.from_bytes(table[at:at + 4], "little")
                  for at in range(0, len(table), entry_size)]
        problems = ([] if begins == sorted(begins)
                    else ["the exception directory is not in address order"])
        link_map = link_map_path(self.build_dir, deliverable).read_text()
        functions = {f"{name}:{section.name}": section.address
                     for name, linked in link_map_inputs(link_map).items()
                     if project_object(name)
                     for section in linked.sections
                     if section.name.startswith(".text$") and section.size}
        if not functions:
            return ["the link map places none of the program's functions"]
        return problems + [f"no unwind data for {function}"
                           for function, address in sorted(functions.items())
                           if address not in begins]

    def run_report_cases(self) -> None:
        checker = self.build_dir / "tests" / "report_failure_check.exe"
        for code, text in REPORT_CASES:
            result = self.wine.run(str(checker), [code, "Op"],
                                   self.new_case_folder(), {})
            self.check(f"report_failure: code {code}",
                       compare_output(result, b"Op FAILURE: " + text, 0),
                       result)

    def run_hardening_cases(self) -> None:
        checker = str(self.build_dir / "tests" / "stack_guard_check.exe")
        guards = [self.wine.run(checker, ["guard"], self.new_case_folder(),
                                {}).stdout for _ in range(2)]
        problems = []
        if guards[0] == guards[1]:
            problems.append(f"the same guard in two runs: {guards[0]!r}")
        self.check("stack protector: guard seeded anew in each run", problems)
        for program, args, stdout, status in HARDENING_CASES:
            result = self.wine.run(
                str(self.build_dir / "tests" / f"{program}.exe"), args,
                self.new_case_folder(), {})
            self.check(f"{program} {' '.join(args)}",
                       compare_output(result, stdout, status), result)

    def run_device_installer_case(self, deliverable: str,
                                  case: DeviceInstallerCase) -> None:
        """The deliverable against Wine's own device installer, for a newly
        registered device: it and every earlier one end up bound, the
        payload is copied, and no planted library is loaded."""
        folder = self.new_case_folder()
        # The build writes each build's sample package: one INF, and the
        # payload that it copies.
        package = self.build_dir / "demo" / "packages" / deliverable
        inf = next(package.glob("*.inf")).name
        payload = next(p.name for p in package.iterdir() if p.name != inf)
        shutil.copytree(package, folder / case.folder)
        shutil.copy(self.build_dir / deliverable / PROGRAM,
                    folder / case.folder / PROGRAM)
        for library in case.planted:
            shutil.copy(self.stand_in, folder / case.folder / library)
        hardware_id = self.builds[deliverable]["hardware_ids"][0]
        overrides = ";".join(["newdev=b"] + [
            library.removesuffix(".dll") + "=n,b" for library in case.planted])
        loads = folder / "loads.txt"
        environment = {
            "LANG": "C.UTF-8",  # Wine reads the folder's name in UTF-8
            "WINEDLLOVERRIDES": overrides,
            "NEWDEV_STAND_IN_LOADS": f"C:\\t\\{self.case_number:03}"
                                     "\\loads.txt",
        }
        copied = self.wine.system_dir(self.arch) / "drivers" / payload
        copied.unlink(missing_ok=True)

        problems = []
        added = self.wine.run(self.simdevice, ["add", hardware_id], folder,
                              environment)
        if added.returncode != 0:
            problems.append(f"simdevice add failed: {added.stderr!r}")
        name = case.name
        if case.others_first:
            others = self.other_programs(deliverable)
            problems += self.run_other_programs(others, folder / case.folder,
                                                inf, hardware_id, environment)
            name = name.format(len(others))
        program = f"C:\\t\\{self.case_number:03}\\{case.folder}\\install.exe"
        result = self.wine.run(program, [inf], folder, environment)
        problems += compare_output(result, b"", 0)
        shown = self.wine.run(self.simdevice, ["show", hardware_id], folder,
                              environment)
        if b"driver: {" not in shown.stdout or b"driver: none" in shown.stdout:
            problems.append(f"a device is not bound to a driver: "
                            f"{shown.stdout!r}")
        if not copied.is_file():
            problems.append(f"payload not copied to {copied}")
        if loads.exists():
            problems.append(f"planted libraries loaded: {loads.read_bytes()!r}")
        self.check(f"{deliverable}: {name}", problems, result)

    def other_programs(self, deliverable: str) -> List[Path]:
        """The programs, of this build folder and of the other ones given,
        built for none of the deliverable's hardware IDs."""
        ids = upper_ids(self.builds[deliverable])
        return [build_dir / build["folder"] / PROGRAM
                for build_dir in [self.build_dir] + self.other_build_dirs
                for build in read_deliverables(build_dir)["builds"]
                if not ids & upper_ids(build)]

    def package_case(self, deliverable: str) -> Tuple[Path, Path, str]:
        """A new case folder, and in it the build's sample driver package
        with its program: (case folder, package folder, the INF's name)."""
        folder = self.new_case_folder()
        package = self.build_dir / "demo" / "packages" / deliverable
        shutil.copytree(package, folder / "Package")
        shutil.copy(self.build_dir / deliverable / PROGRAM,
                    folder / "Package" / PROGRAM)
        return folder, folder / "Package", next(package.glob("*.inf")).name

    def run_in_package(self, folder: Path, args: List[str]
                       ) -> subprocess.CompletedProcess:
        """Runs the program of a package case against Wine's own device
        installer, whose newdev.dll the stand-in's file stands beside."""
        program = f"C:\\t\\{folder.name}\\Package\\{PROGRAM}"
        return self.wine.run(program, args, folder,
                             {"LANG": "C.UTF-8", "WINEDLLOVERRIDES": "newdev=b"})

    def device_drivers(self, hardware_id: str, folder: Path) -> List[bytes]:
        """The driver of each device that reports the ID, as simdevice shows
        it: b"none" for a device without one."""
        shown = self.wine.run(self.simdevice, ["show", hardware_id], folder,
                              {})
        return re.findall(rb"driver: (\S+)", shown.stdout)

    def staged_copies(self, inf: Path) -> int:
        """How many INFs of the system's INF folder are the package's."""
        content = inf.read_bytes()
        return sum(1 for staged in (self.wine.drive_c / "windows" / "inf")
                   .glob("*.inf") if staged.read_bytes() == content)

    def run_staging_cases(self, deliverable: str) -> None:
        """A staging build against Wine's own device installer, run before
        any device of its hardware IDs is registered: the package is staged,
        once however often the program runs, and a device connected
        afterwards is bound from the staged copy alone. Wine's installer
        answers success where no device carries an ID; with the stand-in,
        the program's own answer then is the staged line."""
        folder, package, inf = self.package_case(deliverable)
        problems = []
        for run in ("first", "second"):
            result = self.run_in_package(folder, [inf])
            problems += [f"{run} run: {problem}" for problem
                         in compare_output(result, b"", 0)]
            copies = self.staged_copies(package / inf)
            if copies != 1:
                problems.append(f"after the {run} run the system's INF folder "
                                f"holds {copies} copies of {inf}")
        self.check(f"{deliverable}: staged with no device present, once in two "
                   "runs", problems, result)

        # Wine's staged copy is the INF alone, which names the package's
        # folder as the source of its files; Windows' driver store holds
        # the whole package. The tool looks for drivers in the system's INF
        # folder only.
        payload = next(p for p in package.iterdir()
                       if p.suffix not in (".inf", ".exe"))
        copied = self.wine.system_dir(self.arch) / "drivers" / payload.name
        copied.unlink(missing_ok=True)
        arriving = self.builds[deliverable]["hardware_ids"][-1]
        arrived = self.wine.run(self.simdevice, ["arrive", arriving], folder,
                                {})
        problems = ([] if arrived.returncode == 0 else
                    [f"simdevice arrive: status {arrived.returncode}"])
        drivers = self.device_drivers(arriving, folder)
        if not drivers or b"none" in drivers:
            problems.append(f"drivers of {arriving}: {drivers}")
        if not copied.is_file():
            problems.append(f"payload not copied to {copied}")
        self.check(f"{deliverable}: a device connected afterwards is bound "
                   "from the staged copy, as Plug and Play does", problems,
                   arrived)

        folder, package, _ = self.package_case(deliverable)
        result = self.run_in_package(folder, ["*.inf"])
        self.check(f"{deliverable}: staging fails on a wildcard, which the "
                   "search matches", compare_output(
                       result, STAGING_FAILED + INVALID_NAME_TEXT, 2), result)

    def run_several_devices_case(self, deliverable: str) -> None:
        """Devices of two of the build's hardware IDs are bound by one run; a
        device whose ID the package's INF lists, but the build does not,
        stays without a driver."""
        ids = self.builds[deliverable]["hardware_ids"]
        folder, package, inf = self.package_case(deliverable)
        not_built = ids[0] + "&NOT_BUILT"
        models = package / inf
        text = models.read_text()
        model = f'= Device, "{ids[0]}"\n'
        models.write_text(text.replace(model, model + model.replace(
            ids[0], not_built)))
        problems = [] if not_built in models.read_text() else [
            f"{inf} has no models line for {ids[0]}"]
        for hardware_id in (ids[1], ids[-1], not_built):
            added = self.wine.run(self.simdevice, ["add", hardware_id],
                                  folder, {})
            if added.returncode != 0:
                problems.append(f"simdevice add failed: {added.stderr!r}")
        result = self.run_in_package(folder, [inf])
        problems += compare_output(result, b"", 0)
        for hardware_id in (ids[1], ids[-1]):
            drivers = self.device_drivers(hardware_id, folder)
            if not drivers or b"none" in drivers:
                problems.append(f"drivers of {hardware_id}: {drivers}")
        if self.device_drivers(not_built, folder) != [b"none"]:
            problems.append(f"the device of {not_built} was bound: "
                            f"{self.device_drivers(not_built, folder)}")
        self.check(f"{deliverable}: devices of two of its IDs bound in one "
                   "run, and none of an ID it was not built for", problems,
                   result)

    def run_other_programs(self, others: List[Path], package: Path, inf: str,
                           hardware_id: str, environment: dict) -> List[str]:
        """Runs other builds' programs with this build's package: none may
        install for a hardware ID not its own. Wine's installer then reports
        success where Windows' fails, so what counts is that the device has
        no driver."""
        problems = []
        for other in others:
            shutil.copy(other, package / "other.exe")
            self.wine.run(str(package / "other.exe"), [inf], package,
                          environment)
            shown = self.wine.run(self.simdevice, ["show", hardware_id],
                                  package, environment)
            if b"driver: none" not in shown.stdout:
                problems.append(f"{other} installed for {hardware_id}: "
                                f"{shown.stdout!r}")
        return problems


def upper_ids(build: dict) -> set:
    """A build's hardware IDs, which Windows compares without case."""
    return {hardware_id.upper() for hardware_id in build["hardware_ids"]}


def check_control_flow_guard(pe: pefile.PE,
                             architecture: Architecture) -> List[str]:
    """A guard table that the loader can use, pointers it can fill in and
    nobody else can write, and the CET compatibility mark on x86 and x64
    (Windows enforces shadow stacks in x64 processes only)."""
    config = getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
    if config is None:
        return ["no load configuration"]
    config = config.struct
    problems = []
    if config.GuardFlags & GUARD_FLAGS != GUARD_FLAGS:
        problems.append(f"GuardFlags {config.GuardFlags:#x}")
    if config.GuardCFFunctionCount == 0:
        problems.append("empty function table")
    base = pe.OPTIONAL_HEADER.ImageBase
    for name in architecture.guard_pointers:
        section = pe.get_section_by_rva(getattr(config, name) - base)
        if section is None or section.IMAGE_SCN_MEM_WRITE:
            problems.append(f"{name} not in a read-only section of the image")
    cet = [pe.get_dword_at_rva(entry.struct.AddressOfRawData)
           for entry in getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])
           if entry.struct.Type == EX_DLLCHARACTERISTICS]
    if architecture.cet_compat and not any(f & CET_COMPAT for f in cet):
        problems.append("not marked CET compatible")
    return problems


def read_manifest(pe: pefile.PE) -> Optional[bytes]:
    """The program's manifest, resource 1 of its type."""
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for resource_type in resources.entries if resources else []:
        if resource_type.id != RT_MANIFEST:
            continue
        for resource in resource_type.directory.entries:
            if resource.id == 1:
                data = resource.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return None


def check_manifest(manifest: Optional[bytes]) -> List[str]:
    """Runs as invoker, names the supported systems, keeps the ANSI code
    page."""
    if manifest is None:
        return ["no manifest"]
    root = ElementTree.fromstring(manifest)
    level = root.find(f".//{SECURITY}requestedExecutionLevel")
    problems = []
    if level is None or level.attrib != {"level": "asInvoker",
                                         "uiAccess": "false"}:
        problems.append("execution level is not asInvoker without uiAccess")
    systems = {element.get("Id") for element
               in root.findall(f".//{COMPATIBILITY}supportedOS")}
    if systems != SUPPORTED_SYSTEMS:
        problems.append(f"supported systems {sorted(systems)}, expected "
                        f"{sorted(SUPPORTED_SYSTEMS)}")
    if any(element.tag.endswith("}activeCodePage") for element in root.iter()):
        problems.append("manifest sets an active code page")
    return problems


# Control sequences as Wine's console writes them to a terminal.
CURSOR_FORWARD = re.compile(r"\x1b\[(\d*)C")
CONTROL_SEQUENCE = re.compile(r"\x1b\[[0-9;?]*[A-Za-z]")


def read_terminal(terminal: int, process: subprocess.Popen
                  ) -> Tuple[Optional[bytes], bytes]:
    """All the program wrote to the terminal, or None when it does not end in
    time, and what Wine wrote to standard error. Reads until the program and
    the console that Wine started for it have closed the terminal, so
    nothing written before they ended is lost."""
    output, errors = b"", b""
    open_ends = {terminal, process.stderr.fileno()}
    deadline = time.monotonic() + RUN_TIMEOUT
    while open_ends:
        remaining = deadline - time.monotonic()
        ready, _, _ = select.select(list(open_ends), [], [], max(remaining, 0))
        if not ready:
            process.kill()
            process.wait()
            return None, errors
        for end in ready:
            try:
                chunk = os.read(end, 4096)
            except OSError:  # no program holds the terminal any more
                chunk = b""
            if not chunk:
                open_ends.discard(end)
            elif end == terminal:
                output += chunk
            else:
                errors += chunk
    process.wait()
    return output, errors


def terminal_screen(output: bytes) -> str:
    """What a terminal shows for Wine's console output: the text, with a
    cursor move forward (ESC[nC) as the spaces it passes over, and no other
    control sequences (cursor visibility, erasure) or carriage returns."""
    text = CURSOR_FORWARD.sub(lambda move: " " * int(move[1] or 1),
                              output.decode(errors="replace"))
    return CONTROL_SEQUENCE.sub("", text).replace("\r", "")


def compare_output(result: subprocess.CompletedProcess, stdout: bytes,
                   status: int) -> List[str]:
    problems = []
    if result.stdout != stdout:
        problems.append(f"stdout {result.stdout!r}, expected {stdout!r}")
    if result.returncode != status:
        problems.append(f"status {result.returncode}, expected {status}")
    return problems


def wine_loader_script(source_dir: Path, *args: str) -> str:
    """Runs the host's choice of Wine loader, which the demo shares."""
    result = subprocess.run(
        [str(source_dir / "scripts" / "wine-loader.sh"), *args],
        stdout=subprocess.PIPE, text=True, check=False)
    if result.returncode != 0:
        raise SystemExit(f"wine-loader.sh {' '.join(args)} failed")
    return result.stdout


def choose_wine_loader(source_dir: Path, arch: str) -> Tuple[str, str, str]:
    """(kind, loader, server) for the architecture's programs. The script
    says which."""
    kind, loader, server = wine_loader_script(source_dir, arch).splitlines()
    return kind, loader, server


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", type=Path, required=True)
    parser.add_argument("--source-dir", type=Path, required=True)
    parser.add_argument("--arch", choices=ARCHITECTURES, required=True)
    parser.add_argument("--other-build-dir", type=Path, action="append",
                        default=[], help="a build folder of the same "
                        "architecture, whose programs must leave this "
                        "folder's devices without a driver")
    options = parser.parse_args()
    build_dir = options.build_dir.resolve()

    wine = Wine(build_dir / "wine-prefix", options.source_dir / "scripts",
                *choose_wine_loader(options.source_dir, options.arch))
    suite = Suite(build_dir, options.source_dir.resolve(), options.arch, wine,
                  [other.resolve() for other in options.other_build_dir])
    # Stopped by Ctrl-C, or by a signal to end, the suite still ends every
    # process it started, on its way out.
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda number, _: sys.exit(128 + number))
    ended = False
    try:
        wine.create()
        shutil.copy(suite.stand_in, suite.system_newdev)
        with suite.stand_in_setupapi():
            for deliverable in suite.builds:
                suite.check_deliverable(deliverable)
                for case in CASES:
                    suite.run_case(deliverable, case)
                suite.run_combinations(deliverable)
        suite.run_report_cases()
        suite.run_hardening_cases()
        for deliverable, build in suite.builds.items():
            if build["stage"]:
                suite.run_staging_cases(deliverable)
        for deliverable, build in suite.builds.items():
            for device_case in DEVICE_INSTALLER_CASES:
                suite.run_device_installer_case(deliverable, device_case)
            if len(build["hardware_ids"]) > 1:
                suite.run_several_devices_case(deliverable)
    finally:
        ended = wine.end()
        wine_loader_script(options.source_dir, "--release", options.arch)
    print(f"{suite.passed} passed, {suite.failed} failed, "
          f"{suite.skipped} skipped")
    if not ended:
        print(f"FAIL processes of {wine.prefix} still run")
    return 1 if suite.failed or not ended else 0


if __name__ == "__main__":
    sys.exit(main())
