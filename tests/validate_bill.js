// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// Reads a bill of materials on standard input and checks it against the
// CycloneDX 1.6 JSON schema with CycloneDX's own library; prints what is
// wrong with it and fails.
const { Validation, Spec } = require("@cyclonedx/cyclonedx-library");

const bill = require("fs").readFileSync(0, "utf8");
new Validation.JsonStrictValidator(Spec.Version.v1dot6)
  .validate(bill)
  .then((errors) => {
    if (errors !== null) {
      console.log(JSON.stringify(errors, null, 2));
      process.exit(1);
    }
  });
