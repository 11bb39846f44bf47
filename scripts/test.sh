#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Builds both deliverables of every architecture and the test programs, runs
# the suite, which runs the real install.exe files under Wine, checks the
# signed builds, and then runs the static analysers. Any failure or finding
# fails the command.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

readonly BUILD_DIR=build/windows-x86
readonly ARCHITECTURES=(x86 x64 arm64)
# Every C++ program of the tree: the product, the test programs, the demo's.
readonly CPP_SOURCES=(installer/*.cpp runtime/*.cpp tests/*.cpp demo/device-tool/*.cpp)

# Builds every architecture signed with a throwaway self-signed certificate
# and checks that each deliverable carries a valid signature over its digest,
# that its bill of materials has the signed program's hash, that without its
# signature it is the unsigned build byte for byte, and that
# the certificate's password appears nowhere in the build trees.
check_signing() {
  echo "== Authenticode signing"
  local work=build/signing arch program report unsigned
  rm -rf "$work" build/signed-windows-*
  mkdir -p "$work"
  INSTALLER_SIGNING_PASSWORD=$(openssl rand -hex 16)
  export INSTALLER_SIGNING_PASSWORD
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 \
    -subj "/CN=install.exe test signer" \
    -keyout "$work/key.pem" -out "$work/certificate.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/certificate.pem" \
    -out "$work/signer.p12" -passout env:INSTALLER_SIGNING_PASSWORD

  for arch in "${ARCHITECTURES[@]}"; do
    cmake --preset "windows-$arch" -B "build/signed-windows-$arch" \
      -DBUILD_TESTING=OFF \
      -DINSTALLER_SIGNING_CERTIFICATE="$PWD/$work/signer.p12" >/dev/null
    cmake --build "build/signed-windows-$arch" >/dev/null
    for program in "build/signed-windows-$arch"/{port-function,bus-device}/install.exe; do
      if ! report=$(osslsigncode verify -CAfile "$work/certificate.pem" \
        -in "$program" 2>&1) ||
        ! grep -q "^Signature verification: ok" <<<"$report" ||
        grep -q "MISMATCH" <<<"$report"; then
        echo "$report"
        echo "$program: signature not valid"
        return 1
      fi
      unsigned="build/windows-$arch/${program#build/signed-windows-"$arch"/}"
      osslsigncode remove-signature -in "$program" -out "$work/stripped.exe" \
        >/dev/null
      if ! cmp "$work/stripped.exe" "$unsigned"; then
        echo "$program: without its signature, not the same as $unsigned"
        return 1
      fi
      rm "$work/stripped.exe"
      if ! grep -q "\"$(sha256sum "$program" | cut -d' ' -f1)\"" \
        "build/signed-windows-$arch/sbom.cdx.json"; then
        echo "$program: the bill of materials lacks the signed program's hash"
        return 1
      fi
      echo "$program: signed, digest matches, billed; unsigned, it is $unsigned"
    done
  done
  if grep -rqF "$INSTALLER_SIGNING_PASSWORD" build/signed-windows-*; then
    echo "the signing password was written into a build tree"
    return 1
  fi
  unset INSTALLER_SIGNING_PASSWORD
}

# Builds the deliverables and packages of every architecture a second time,
# in a folder at another path, and checks that they are byte-identical to the
# first build's.
check_reproducible() {
  echo "== Reproducible builds"
  local arch first second file
  for arch in "${ARCHITECTURES[@]}"; do
    first="build/windows-$arch"
    second="build/rebuilt/elsewhere/windows-$arch"
    rm -rf "$second"
    cmake --preset "windows-$arch" -B "$second" -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$second" >/dev/null
    (cd "$second" && cpack >/dev/null)
    for file in {port-function,bus-device}/install.exe \
      "packages/$(basename "$first"/packages/*.zip)"; do
      if ! cmp "$first/$file" "$second/$file"; then
        echo "$second/$file differs from $first/$file"
        return 1
      fi
      echo "$(sha256sum "$first/$file" | cut -c1-16)...  $file: identical in $first and $second"
    done
  done
}

# Builds an arm64 folder, then moves the arm64 runtime elsewhere, as a new
# key does (a recipe edit, or a cleared cache), and re-configures and
# rebuilds the same folder: nothing of the old runtime's path may linger.
check_reconfigure() {
  echo "== Re-configuring after the arm64 runtime moves"
  local work=$PWD/build/reconfigure runtime output
  rm -rf "$work"
  mkdir -p "$work/before" "$work/after"
  runtime=$(sh cmake/arm64-runtime.sh)
  cp -a "$runtime" "$work/before/"
  INSTALLER_RUNTIME_CACHE="$work/before" cmake --preset windows-arm64 \
    -B "$work/build" -DBUILD_TESTING=OFF >/dev/null
  INSTALLER_RUNTIME_CACHE="$work/before" cmake --build "$work/build" >/dev/null
  mv "$work/before/$(basename "$runtime")" "$work/after/"
  INSTALLER_RUNTIME_CACHE="$work/after" cmake --preset windows-arm64 \
    -B "$work/build" >/dev/null
  if ! output=$(INSTALLER_RUNTIME_CACHE="$work/after" \
    cmake --build "$work/build" --clean-first 2>&1); then
    echo "$output" | tail -n 20
    echo "the re-configured arm64 folder does not build"
    return 1
  fi
  echo "re-configured and rebuilt after the runtime moved"
  rm -rf "$work"
}

# Every file of the repository states its licence and copyright.
run_reuse_lint() {
  echo "== REUSE"
  local output
  if ! output=$(reuse lint 2>&1); then
    echo "$output"
    return 1
  fi
  echo "reuse lint: every file states its licence and copyright"
}

# The runtime's notice that the packages carry is the file of the source
# of the runtime version linked, which the arm64 runtime's build keeps, and
# cmake/runtime-notices.txt, which the x86 and x64 builds go by, records
# that source's notice.
check_runtime_notice() {
  echo "== The MinGW-w64 runtime's notice"
  local notice=packaging/COPYING.MinGW-w64-runtime.txt runtime version recorded
  runtime=$(sh cmake/arm64-runtime.sh)
  version=$(dpkg-query -W -f='${Version}' mingw-w64-common)
  cmp "$notice" "$runtime/COPYING.MinGW-w64-runtime.txt"
  recorded=$(awk -v version="$version" '$1 == version { print $2 }' \
    cmake/runtime-notices.txt)
  if [ "$recorded" != "$(sha256sum <"$notice" | cut -d' ' -f1)" ]; then
    echo "cmake/runtime-notices.txt records ${recorded:-nothing} for" \
      "mingw-w64 $version, not the SHA-256 of its notice"
    return 1
  fi
  echo "$notice is the notice of $(tr '\n' ' ' <"$runtime/origin.txt" |
    sed 's/ *$//'), as cmake/runtime-notices.txt records"
}

# A user's linker flags add to the toolchain's, which the link cannot do
# without: an x64 program linked with a stack reserve given on the command
# line carries it.
check_user_linker_flags() {
  echo "== A user's linker flags"
  local work=build/user-linker-flags reserve output
  rm -rf "$work"
  cmake --preset windows-x64 -B "$work" -DBUILD_TESTING=OFF \
    "-DCMAKE_EXE_LINKER_FLAGS=-Wl,--stack,$USER_STACK_RESERVE" >/dev/null
  if ! output=$(cmake --build "$work" --target install_port_function 2>&1); then
    echo "$output" | tail -n 5
    echo "the program does not link with a user's CMAKE_EXE_LINKER_FLAGS"
    return 1
  fi
  reserve=$("$DEBIAN_PYTHON" -c 'import sys, pefile
print(pefile.PE(sys.argv[1]).OPTIONAL_HEADER.SizeOfStackReserve)' \
    "$work/port-function/install.exe")
  if [ "$reserve" -ne "$USER_STACK_RESERVE" ]; then
    echo "linked with a stack reserve of $reserve, not the" \
      "$USER_STACK_RESERVE that CMAKE_EXE_LINKER_FLAGS asked for"
    return 1
  fi
  echo "-DCMAKE_EXE_LINKER_FLAGS=-Wl,--stack,$USER_STACK_RESERVE: linked," \
    "with the toolchain's own flags and that stack reserve"
  rm -rf "$work"
}
readonly USER_STACK_RESERVE=3145728
# The interpreter the build uses too, with Debian's python3-pefile.
readonly DEBIAN_PYTHON=/usr/bin/python3

# Checks each package's bill of materials against the CycloneDX 1.6 JSON
# schema with CycloneDX's own library, installed as the lock file pins it.
check_bills() {
  echo "== Bills of materials"
  local validator=build/bill-validator arch package
  mkdir -p "$validator"
  cp tests/package.json tests/package-lock.json "$validator/"
  if ! (cd "$validator" && npm ci --omit=optional --ignore-scripts \
    --no-audit --no-fund >npm.log 2>&1); then
    tail -n 20 "$validator/npm.log"
    echo "npm ci failed; its output is in $validator/npm.log"
    return 1
  fi
  for arch in "${ARCHITECTURES[@]}"; do
    package=$(echo "build/windows-$arch"/packages/*.zip)
    python3 -c 'import sys, zipfile
sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read("sbom.cdx.json"))' \
      "$package" | (cd "$validator" && node -e "$VALIDATE_BILL")
    echo "$package: sbom.cdx.json is valid CycloneDX 1.6"
  done
}
# Reads a bill on standard input; prints what is wrong with it and fails.
readonly VALIDATE_BILL='
const { Validation, Spec } = require("@cyclonedx/cyclonedx-library");
const bill = require("fs").readFileSync(0, "utf8");
new Validation.JsonStrictValidator(Spec.Version.v1dot6).validate(bill)
  .then((errors) => {
    if (errors !== null) {
      console.log(JSON.stringify(errors, null, 2));
      process.exit(1);
    }
  });'

run_clang_tidy() {
  echo "== clang-tidy"
  local output
  # The analyser of the LLVM that builds the programs, on the x86 build's
  # compile commands, which name the target and its sysroot.
  if ! output=$(clang-tidy-19 -p "$BUILD_DIR" --quiet \
    "${CPP_SOURCES[@]}" 2>&1); then
    echo "$output" | grep -v "warnings generated\.$"
    return 1
  fi
  echo "clang-tidy: no findings"
}

run_cppcheck() {
  echo "== cppcheck"
  # Later cppcheck versions follow only some branches unless told to follow
  # all, and report that as a finding.
  local thoroughness=()
  if cppcheck --help | grep -q -- --check-level; then
    thoroughness=(--check-level=exhaustive)
  fi
  cppcheck --platform=win32A --library=windows "${thoroughness[@]}" \
    --enable=warning,portability,performance --inline-suppr \
    --error-exitcode=1 --quiet \
    --project="$BUILD_DIR/compile_commands.json"
  echo "cppcheck: no findings"
}

install_prerequisites
run_reuse_lint
for arch in "${ARCHITECTURES[@]}"; do
  cmake --workflow --preset "windows-$arch" --fresh
done
check_runtime_notice
check_bills
check_reproducible
check_reconfigure
check_user_linker_flags
check_signing
run_clang_tidy
run_cppcheck
