#!/usr/bin/env bash
# Fails when a product source file differs from what clang-format makes of it
# with the project's .clang-format; lists those files. Fix them with
#   scripts/check_format.sh --fix
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "clang-format is not installed (scripts/setup.sh)"; exit 2; }

mapfile -t files < <(git ls-files -co --exclude-standard '*.cpp' '*.h' '*.c' |
                       grep -v -E '^(tests|fuzz|bench|build)/')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
# One clang-format run over every file; it names each file that differs.
mapfile -t bad < <(clang-format --dry-run "${files[@]}" 2>&1 |
                     sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning: code should be clang-formatted.*/\1/p' |
                     sort -u)
if [ ${#bad[@]} -ne 0 ]; then
  printf '%s\n' "${bad[@]}"
  echo "format: ${#bad[@]} product file(s) differ from .clang-format (scripts/check_format.sh --fix)"
  exit 1
fi
echo "format: every product file matches .clang-format"
