// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// Sets the thread's last-error code, calls report_failure, and checks that the
// code is unchanged afterwards. The suite compares what it printed.
//   usage: report_failure_check <code> <operation>
#include "failure_report.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char *argv[]) {
  if (argc != 3) {
    fprintf(stderr, "usage: report_failure_check <code> <operation>\n");
    return 2;
  }
  const DWORD code = strtoul(argv[1], nullptr, 0);
  SetLastError(code);
  report_failure(argv[2]);
  const DWORD after = GetLastError();
  if (after != code) {
    fprintf(stderr, "last-error code changed from 0x%08lx to 0x%08lx\n", code,
            after);
    return 1;
  }
  return 0;
}
