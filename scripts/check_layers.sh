#!/usr/bin/env bash
# Checks that every #include of a project header points down the layers
# (docs/architecture.md):
#   base/                      base/
#   ondisk/                    base/ ondisk/
#   platform/ (the seam)       base/ and the seam's own headers
#   platform/image/            base/ ondisk/ the seam, platform/image/
#   platform/win32/            base/ the seam, platform/win32/
#   engine/                    base/ ondisk/ the seam, engine/
#   front ends and models      anything above the seam, but a backend or the
#                              recording doubles only in the two places that
#                              choose the backend a program runs on
# Tests, fuzzers, benchmarks and tools may include anything.
# Prints one line per wrong include and exits 1 when there is any.
set -euo pipefail
cd "$(dirname "$0")/.."

git ls-files -co --exclude-standard '*.cpp' '*.h' '*.c' '*.rc' |
  grep -v -E '^(tests|fuzz|bench|tools|build)/' |
  xargs grep -n -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' |
  python3 -c '
import os, re, sys

SEAM = r"platform/[^/]+\.h"
RULES = [  # first match wins: (files, headers they may include)
    ("base/", r"base/"),
    ("ondisk/", r"(base|ondisk)/"),
    ("platform/image/", r"(base/|ondisk/|platform/image/|%s$)" % SEAM),
    ("platform/win32/", r"(base/|platform/win32/|%s$)" % SEAM),
    ("platform/recording.", r"(base/|%s$)" % SEAM),
    ("platform/", r"(base/|%s$)" % SEAM),
    ("engine/", r"(base/|ondisk/|engine/|%s$)" % SEAM),
]
BACKEND = re.compile(r"platform/(image|win32)/|platform/recording\.h$")
ROOTS = {"cli/session.cpp", "app/win32/pellworth_app.cpp"}

bad = 0
for row in sys.stdin:
    path, line, text = row.split(":", 2)
    header = re.search(r"\"([^\"]*)\"", text).group(1)
    if not os.path.exists(header):
        continue  # a system header spelt with quotes
    for prefix, allowed in RULES:
        if path.startswith(prefix):
            seam_double = header == "platform/recording.h" and prefix != "platform/recording."
            if not re.match(allowed, header) or seam_double:
                print("%s:%s: %s may not include \"%s\"" % (path, line, prefix, header))
                bad = 1
            break
    else:
        if BACKEND.search(header) and path not in ROOTS:
            print("%s:%s: only the places that choose a backend may include \"%s\"" % (path, line, header))
            bad = 1
if bad:
    print("include directions: FAILED (the layers are in docs/architecture.md)")
    sys.exit(1)
print("include directions: every include points down the layers")
'
