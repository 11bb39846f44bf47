// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
#ifndef INSTALLER_FAILURE_REPORT_H
#define INSTALLER_FAILURE_REPORT_H

// Prints "<operation> FAILURE: <system text>" for the calling thread's
// last-error code, or "<operation> FAILURE: (0x%08x)" when the system has no
// text for it, and leaves the last-error code as it found it. Returns 0.
// A console gets the line in UTF-16, so that it shows the text in any
// script; a pipe or a file gets it in the ANSI code page.
int report_failure(const char *operation);

#endif
