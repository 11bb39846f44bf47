#!/usr/bin/env bash
# Builds both deliverables and the test programs, then runs the suite, which
# runs the real install.exe files under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

install_prerequisites
cmake --workflow --preset windows-x86 --fresh
