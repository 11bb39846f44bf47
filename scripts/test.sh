#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Builds both deliverables of every architecture and the test programs, runs
# the suite, which runs the real install.exe files under Wine, signs the
# packages and checks them, and then runs the static analysers. Any failure
# or finding fails the command.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

readonly BUILD_DIR=build/windows-x86
readonly ARCHITECTURES=(x86 x64 arm64)
# Every C++ program of the tree: the product, the test programs, the demo's.
readonly CPP_SOURCES=(installer/*.cpp runtime/*.cpp tests/*.cpp demo/device-tool/*.cpp)

# Signs every architecture's package and the vendor example's with
# release/sign-package.sh: a key on a SoftHSM2 token in the build tree,
# time stamps from a local authority, then each other signer and each way
# signing must fail, and the worked example of docs/releasing.md, which
# signs the vendor example's package (tests/signing_check.py). The signed packages
# land in build/signing/signed/, for check_bills.
check_signing() {
  echo "== Signing packages"
  local arch packages=()
  for arch in "${ARCHITECTURES[@]}"; do
    packages+=("build/windows-$arch/$(package_in "build/windows-$arch")")
  done
  packages+=("$VENDOR_BUILD/$(package_in "$VENDOR_BUILD")")
  "$DEBIAN_PYTHON" tests/signing_check.py build/signing "${packages[@]}"
}

# Runs the vendor example of docs/building.md, then the suite on its build folder
# under Wine, where the default x64 programs must leave its devices without
# a driver, and the package check; the version information must read back
# as the vendor file has it.
check_vendor_build() {
  echo "== A build for a vendor's device, as docs/building.md shows"
  local example
  example=$("$DEBIAN_PYTHON" -c "$DOCUMENT_BLOCK" docs/building.md \
    "$VENDOR_EXAMPLE_MARKER")
  rm -rf build/zorq "$VENDOR_BUILD"
  bash -euo pipefail -c "$example" >/dev/null
  check_vendor_programs build/zorq/vendor.json "$VENDOR_BUILD"
}
readonly VENDOR_BUILD=build/zorq-x64
readonly VENDOR_EXAMPLE_MARKER="<!-- vendor example: the test command runs this block -->"

# The test command's own vendor file, a product line whose names, folders
# and IDs hold backslashes, quotes, brackets and punctuation: configured from a
# copy, built, then the copy edited (a hardware ID and the version) and
# built again with no configure of its own, which must follow the edit;
# then checked as the vendor example is.
check_product_line() {
  echo "== A vendor's product line, from tests/product-line.json"
  local work=build/product-line vendor=build/product-line/vendor.json output
  rm -rf "$work" "$PRODUCT_LINE_BUILD"
  mkdir -p "$work"
  cp tests/product-line.json "$vendor"
  cmake --preset windows-x64 -B "$PRODUCT_LINE_BUILD" \
    "-DINSTALLER_VENDOR_FILE=$PWD/$vendor" >/dev/null
  cmake --build "$PRODUCT_LINE_BUILD" >/dev/null
  sed -i 's/LINE&PID_0001/LINE\&PID_0011/; s/"2\.7\.13"/"2.7.14"/' "$vendor"
  output=$(cmake --build "$PRODUCT_LINE_BUILD" 2>&1)
  # deliverables.json writes each backslash as two.
  if ! grep -qF 'ACME\\LINE&PID_0011' "$PRODUCT_LINE_BUILD/deliverables.json" ||
    ! grep -qF '"2.7.14"' "$PRODUCT_LINE_BUILD/deliverables.json"; then
    echo "$output" | tail -n 5
    echo "an edited vendor file did not reach the build"
    return 1
  fi
  echo "an edited vendor file re-configured and rebuilt the folder"
  check_vendor_programs "$vendor" "$PRODUCT_LINE_BUILD"
}
readonly PRODUCT_LINE_BUILD=build/product-line-x64

# A vendor build folder's programs: the version information as the vendor
# file declares it, the suite under Wine with the default x64 programs run
# against its devices, and the package.
check_vendor_programs() {
  local vendor=$1 folder=$2 status=0
  "$DEBIAN_PYTHON" tests/vendor_read_back.py "$vendor" "$folder"
  "$DEBIAN_PYTHON" tests/wine_suite.py --build-dir "$folder" \
    --source-dir . --arch x64 --other-build-dir build/windows-x64 || status=$?
  check_wine_ended "$folder"
  [ "$status" -eq 0 ] || return "$status"
  (cd "$folder" && cpack >/dev/null)
  "$DEBIAN_PYTHON" tests/package_check.py --build-dir "$folder" \
    --source-dir .
}
# A document's indented block after a marker line, as the signing check
# reads its own example.
readonly DOCUMENT_BLOCK='import sys
sys.path.insert(0, "tests")
from signing_check import document_block
print(document_block(sys.argv[1], sys.argv[2]))'

# Builds the x64 package in a throwaway clone, then changes a tracked file,
# then commits the change, building and packaging again after each without
# re-configuring: each package's BUILDINFO.txt and time stamps must be those
# of the tree at that moment.
check_build_info_follows_tree() {
  echo "== BUILDINFO.txt follows the tree"
  local clone=$PWD/build/build-info-clone
  rm -rf "$clone"
  git clone -q . "$clone"
  (cd "$clone" && cmake --preset windows-x64 -DBUILD_TESTING=OFF >/dev/null)
  package_build_info "$clone" "as cloned"
  echo "a change" >>"$clone/README.md"
  package_build_info "$clone" "with a change not committed"
  GIT_COMMITTER_DATE=@1800000000 git -C "$clone" -c user.name=test \
    -c user.email=test@example.invalid commit -q -a -m "A change"
  package_build_info "$clone" "after committing it"
  rm -rf "$clone"
}

# A checkout that another user owns, as in a container's root build of a
# mounted one, with a change not committed: BUILDINFO.txt gives its commit
# and says so; with its .git gone, it says that it is no checkout.
check_build_info_provenance() {
  echo "== BUILDINFO.txt of a checkout that another user owns"
  local clone=$PWD/build/provenance-clone build=$PWD/build/provenance
  local commit expected
  as_root rm -rf "$clone" "$build"
  git clone -q . "$clone"
  commit=$(git -C "$clone" rev-parse HEAD)
  echo "a change" >>"$clone/README.md"
  as_root chown -R "$OTHER_OWNER" "$clone"
  cmake -S "$clone" -B "$build" --preset windows-x64 -DBUILD_TESTING=OFF \
    >/dev/null
  for expected in "$commit with uncommitted changes" \
    "unknown: not built from a git checkout"; do
    cmake --build "$build" --target build_info >/dev/null
    if ! grep -qxF "source commit: $expected" "$build/BUILDINFO.txt"; then
      sed -n 2p "$build/BUILDINFO.txt"
      echo "BUILDINFO.txt does not give: source commit: $expected"
      return 1
    fi
    echo "source commit: $expected"
    as_root rm -rf "$clone/.git"
  done
  as_root rm -rf "$clone" "$build"
}
readonly OTHER_OWNER=65534:65534

# Builds and packages the clone, and checks its package against the tree.
package_build_info() {
  local clone=$1 state=$2 build_info commit epoch package
  cmake --build "$clone/build/windows-x64" >/dev/null
  (cd "$clone/build/windows-x64" && cpack >/dev/null)
  package=$clone/build/windows-x64/$(package_in "$clone/build/windows-x64")
  build_info=$("$DEBIAN_PYTHON" -c "$READ_ENTRY" "$package" BUILDINFO.txt)
  commit=$(git -C "$clone" rev-parse HEAD)
  if [ -n "$(git -C "$clone" status --porcelain --untracked-files=no)" ]; then
    commit="$commit with uncommitted changes"
  fi
  epoch=$(git -C "$clone" log -1 --format=%ct)
  echo "BUILDINFO.txt $state:"
  sed -n '2,4p' <<<"$build_info" | sed 's/^/  /'
  if ! grep -qx "source commit: $commit" <<<"$build_info" ||
    ! grep -qx "SOURCE_DATE_EPOCH: $epoch" <<<"$build_info" ||
    [ "$("$DEBIAN_PYTHON" -c "$ENTRY_TIMES" "$package")" \
      != $((epoch / 2 * 2)) ]; then
    echo "the package $state does not give commit $commit and time $epoch" \
      "in BUILDINFO.txt and its entries"
    return 1
  fi
}
# Where cpack writes the package in a build folder, which the build names.
package_in() {
  "$DEBIAN_PYTHON" -c 'import json, sys
print(json.load(open(sys.argv[1] + "/deliverables.json"))["package"])' "$1"
}
# The programs of a build folder, one path a line.
programs_in() {
  "$DEBIAN_PYTHON" -c 'import json, sys
made = json.load(open(sys.argv[1] + "/deliverables.json"))
print("\n".join(b["folder"] + "/install.exe" for b in made["builds"]))' "$1"
}
readonly READ_ENTRY='import sys, zipfile
sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))'
# Prints the time of a package's entries, if they all have the same one: a
# ZIP entry's time counts in steps of two seconds.
readonly ENTRY_TIMES='import calendar, sys, zipfile
times = {calendar.timegm(entry.date_time + (0, 0, 0))
         for entry in zipfile.ZipFile(sys.argv[1]).infolist()}
print(*times)'

# Builds the deliverables and packages of every architecture a second time,
# in a folder at another path, and checks that they are byte-identical to the
# first build's.
check_reproducible() {
  echo "== Reproducible builds"
  local arch first second file programs
  for arch in "${ARCHITECTURES[@]}"; do
    first="build/windows-$arch"
    second="build/rebuilt/elsewhere/windows-$arch"
    rm -rf "$second"
    cmake --preset "windows-$arch" -B "$second" -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$second" >/dev/null
    (cd "$second" && cpack >/dev/null)
    mapfile -t programs < <(programs_in "$first")
    for file in "${programs[@]}" "$(package_in "$first")"; do
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

# Nothing that a suite started outlives it, passed or failed: no process
# of its Wine prefix, and no folder of the prefix's server socket.
check_wine_ended() {
  local prefix left folder
  prefix=$(cd "$1" && pwd -P)/wine-prefix
  left=$(wine_prefix_processes "$prefix")
  folder=$(wine_server_folder "$prefix")
  if [ -n "$left" ] || { [ -n "$folder" ] && [ -e "$folder" ]; }; then
    echo "FAIL: the suite of $1 left behind processes:" ${left:-none} \
      "and the folder ${folder:-(none named)}"
    return 1
  fi
  echo "The suite of $1 left no process of its Wine prefix running, and" \
    "removed ${folder:-the folder of its server}"
}

# The README and docs/ link to what is there, write no release number, and
# agree with the packaged README.txt.
check_docs() {
  echo "== Documentation"
  "$DEBIAN_PYTHON" tests/docs_check.py .
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
# without: the x64 programs linked with a stack reserve given on the
# command line carry it (read from the first).
check_user_linker_flags() {
  echo "== A user's linker flags"
  local work=build/user-linker-flags reserve output
  rm -rf "$work"
  cmake --preset windows-x64 -B "$work" -DBUILD_TESTING=OFF \
    "-DCMAKE_EXE_LINKER_FLAGS=-Wl,--stack,$USER_STACK_RESERVE" >/dev/null
  if ! output=$(cmake --build "$work" 2>&1); then
    echo "$output" | tail -n 5
    echo "the program does not link with a user's CMAKE_EXE_LINKER_FLAGS"
    return 1
  fi
  reserve=$("$DEBIAN_PYTHON" -c 'import sys, pefile
print(pefile.PE(sys.argv[1]).OPTIONAL_HEADER.SizeOfStackReserve)' \
    "$work/$(programs_in "$work" | head -n 1)")
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
  local validator=build/bill-validator arch package packages=()
  mkdir -p "$validator"
  cp tests/package.json tests/package-lock.json "$validator/"
  if ! (cd "$validator" && npm ci --omit=optional --ignore-scripts \
    --no-audit --no-fund >npm.log 2>&1); then
    tail -n 20 "$validator/npm.log"
    echo "npm ci failed; its output is in $validator/npm.log"
    return 1
  fi
  for arch in "${ARCHITECTURES[@]}"; do
    packages+=("build/windows-$arch/$(package_in "build/windows-$arch")")
  done
  for package in "${packages[@]}" build/signing/signed/*.zip; do
    "$DEBIAN_PYTHON" -c "$READ_ENTRY" "$package" sbom.cdx.json |
      (cd "$validator" && node -e "$VALIDATE_BILL")
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

# Scripts refuse bad arguments, with their usage and status 2, before they
# do anything: each row is a script and its arguments, the last of them
# separated by |.
check_bad_arguments() {
  echo "== Scripts refuse bad arguments"
  local row output status arguments failed=0
  for row in "${BAD_ARGUMENTS[@]}"; do
    # The | added keeps a last, empty argument.
    IFS='|' read -r -a arguments <<<"$row|"
    status=0
    output=$("${arguments[@]}" 2>&1 </dev/null) || status=$?
    if [ "$status" -ne 2 ] || [ "${output%%:*}" != usage ]; then
      echo "FAIL: ${arguments[*]@Q}: status $status, output: $output"
      failed=1
    else
      echo "refused: ${arguments[*]@Q}"
    fi
  done
  if [ -n "$(git ls-files --deleted)" ]; then
    echo "FAIL: files of the tree are gone: $(git ls-files --deleted | head -n 5)"
    failed=1
  fi
  return "$failed"
}
readonly BAD_ARGUMENTS=(
  "scripts/fresh-root-check.sh|../../installer"
  "scripts/fresh-root-check.sh|"
  "scripts/fresh-root-check.sh|.."
  "scripts/fresh-root-check.sh|stable x"
  "scripts/fresh-root-check.sh|-rf"
  "scripts/fresh-root-check.sh|stable|testing"
  "scripts/wine-loader.sh|x87"
  "scripts/wine-loader.sh|--release"
  "scripts/wine-loader.sh|x64|build"
)

# A vendor file's bad declarations stop configure, each with a line that
# names the value and the rule it breaks, and nothing is generated. Each
# row is a fragment of the expected line and the file's builds, or with a
# leading { the whole file.
check_bad_vendor_files() {
  echo "== Bad vendor files"
  local work=build/vendor-files row expected builds output failed=0
  rm -rf "$work"
  mkdir -p "$work"
  for row in "${BAD_VENDOR_FILES[@]}"; do
    expected=${row%%|*}
    builds=${row#*|}
    if [ "${builds:0:1}" = "{" ]; then
      printf '%s\n' "$builds" >"$work/vendor.json"
    else
      printf '{"builds": %s}\n' "$builds" >"$work/vendor.json"
    fi
    if output=$(cmake --preset windows-x64 -B "$work/build" \
      "-DINSTALLER_VENDOR_FILE=$PWD/$work/vendor.json" 2>&1) ||
      ! grep -qF -- "$expected" <<<"$output" ||
      { [ "$expected" != "written singly" ] &&
        grep -qF "written singly" <<<"$output"; } ||
      [ -e "$work/build/build.ninja" ]; then
      echo "FAIL: $builds: $output"
      failed=1
    else
      echo "refused: $(grep -F -- "$expected" <<<"$output" | sed 's/^ *//')"
    fi
  done
  [ "$failed" -eq 0 ] && rm -rf "$work"
  return "$failed"
}
readonly GOOD_ID='"hardware_id": "ACME\\WIDGET"'
readonly GOOD_DESCRIPTION='"description": "Widget"'
readonly BAD_VENDOR_FILES=(
  "declares no build|[]"
  "a hardware ID is empty|[{\"folder\": \"w\", \"hardware_id\": \"\", $GOOD_DESCRIPTION}]"
  "more than the 200|[{\"folder\": \"w\", \"hardware_id\": \"$(printf 'A%.0s' {1..201})\", $GOOD_DESCRIPTION}]"
  "holds a space, a comma|[{\"folder\": \"w\", \"hardware_id\": \"ACME WIDGET\", $GOOD_DESCRIPTION}]"
  "holds a space, a comma|[{\"folder\": \"w\", \"hardware_id\": \"ACME,WIDGET\", $GOOD_DESCRIPTION}]"
  "outside printable ASCII|[{\"folder\": \"w\", \"hardware_id\": \"ACME\\\\WIDGÉT\", $GOOD_DESCRIPTION}]"
  "reserves for a device|[{\"folder\": \"con\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "reserves for a device|[{\"folder\": \"LPT1.txt\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "which Windows does not take in a name|[{\"folder\": \"a/b\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "which Windows does not take in a name|[{\"folder\": \"a\\\\b\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "ends in a dot or a space|[{\"folder\": \"widget.\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "ends in a dot or a space|[{\"folder\": \"widget \", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "is another build's too|[{\"folder\": \"Widget\", $GOOD_ID, $GOOD_DESCRIPTION}, {\"folder\": \"widget\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "has an empty description|[{\"folder\": \"w\", $GOOD_ID, \"description\": \"\"}]"
  "holds a control character|{\"company\": \"Zorq\\u0007\"}"
  "holds a control character|[{\"folder\": \"w\\tx\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "written singly|[{\"folder\": \"w\", \"hardware_id\": \"ACME\\WIDGET\", $GOOD_DESCRIPTION}]"
  "Missing ',' or '}'|[{\"folder\": \"w\" $GOOD_ID, $GOOD_DESCRIPTION}]"
  "both \"hardware_id\" and \"hardware_ids\"|[{\"folder\": \"w\", $GOOD_ID, \"hardware_ids\": [\"ACME\\\\A\"], $GOOD_DESCRIPTION}]"
  "\"hardware_ids\" is empty|[{\"folder\": \"w\", \"hardware_ids\": [], $GOOD_DESCRIPTION}]"
  "declares 33 hardware IDs, more than 32|[{\"folder\": \"w\", \"hardware_ids\": [$(printf '"ACME\\\\W%s",' {1..32}) \"ACME\\\\W33\"], $GOOD_DESCRIPTION}]"
  "twice: Windows does not tell hardware IDs apart by case|[{\"folder\": \"w\", \"hardware_ids\": [\"ACME\\\\W\", \"ACME\\\\X\", \"acme\\\\w\"], $GOOD_DESCRIPTION}]"
  "a hardware ID is a NUMBER, not a string|[{\"folder\": \"w\", \"hardware_ids\": [1], $GOOD_DESCRIPTION}]"
  "\"stage\" is a STRING, not true or false|[{\"folder\": \"w\", $GOOD_ID, \"stage\": \"yes\", $GOOD_DESCRIPTION}]"
  "holds a double quote or a semicolon|[{\"folder\": \"w\", \"hardware_id\": \"ACME\\\\W\\\"X\", $GOOD_DESCRIPTION}]"
  "holds a double quote or a semicolon|[{\"folder\": \"w\", \"hardware_id\": \"ACME\\\\W;X\", $GOOD_DESCRIPTION}]"
  "holds a semicolon or a comma|[{\"folder\": \"a;b\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "holds a semicolon or a comma|[{\"folder\": \"a,b\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "\"folder\" is a ARRAY, not a string|[{\"folder\": [\"w\"], $GOOD_ID, $GOOD_DESCRIPTION}]"
  "has the key \"stgae\"|[{\"folder\": \"w\", $GOOD_ID, \"stgae\": true, $GOOD_DESCRIPTION}]"
  "has the key \"versoin\"|{\"versoin\": \"1.2.3\"}"
  "is not MAJOR.MINOR.PATCH|{\"version\": \"1.2\"}"
  "is not MAJOR.MINOR.PATCH|{\"version\": \"1.2.65536\"}"
  "is not MAJOR.MINOR.PATCH|{\"version\": \"1.02.3\"}"
)

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
  local thoroughness=() help
  help=$(cppcheck --help) || true
  if grep -q -- --check-level <<<"$help"; then
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
check_docs
check_bad_arguments
check_bad_vendor_files
echo "== The scripts' apt: damaged indexes, sudo, the private roots' suites"
tests/apt_check.sh
for arch in "${ARCHITECTURES[@]}"; do
  status=0
  cmake --workflow --preset "windows-$arch" --fresh || status=$?
  check_wine_ended "build/windows-$arch"
  [ "$status" -eq 0 ] || exit "$status"
done
check_vendor_build
check_product_line
check_runtime_notice
check_signing
check_bills
check_reproducible
check_build_info_follows_tree
check_build_info_provenance
check_reconfigure
check_user_linker_flags
run_clang_tidy
run_cppcheck
