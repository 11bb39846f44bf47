# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by the C++ analysers' checks: what they analyse, from the
# project's root.

# The build whose compile commands they read, which the test command makes
# before it runs them.
# shellcheck disable=SC2034 # read by the checks that source this
readonly ANALYSED_BUILD=build/windows-x86
# Every C++ program of the tree: the product, the test programs, the demo's.
# shellcheck disable=SC2034 # read by the checks that source this
readonly CPP_SOURCES=(installer/*.cpp runtime/*.cpp tests/*.cpp demo/device-tool/*.cpp)
