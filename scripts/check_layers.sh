#!/usr/bin/env bash
# Checks the layers of docs/architecture.md over every product file (tests,
# fuzzers, benchmarks and tools may include anything):
#
# 1. Every #include of a project header points down the layers:
#      base/                      base/
#      ondisk/                    base/ ondisk/
#      platform/ (the seam)       base/ and the seam's own headers
#      platform/image/            base/ ondisk/ the seam, platform/image/
#      platform/win32/            base/ the seam, platform/win32/
#      engine/                    base/ ondisk/ the seam, engine/
#      front ends and models      anything above the seam, but a volume
#                                 backend or the recording doubles only in
#                                 the places that choose the backend a
#                                 program runs on
# 2. Portable files (every folder but the win32/ subfolders, widgets/,
#    resources/ and the Windows-only deliverables shellext/ and tasklib/)
#    include no win32/ file and no header of the Windows SDK, and do not
#    test _WIN32 (or another compiler's Windows macro): the system is
#    chosen by CMake, which builds name_posix.cpp or win32/name_win32.cpp.
#    base/winshapes.h takes <windows.h> from base/win32/ or its own
#    definitions from base/posix/, whichever CMake puts on the path.
# 3. The models (engine/, ondisk/, base/, schedule/ and the portable parts
#    of map/ and report/) include no page, window or front end.
# 4. Every private window message (WM_APP + N) is defined in
#    platform/ui_sink.h and named from there, and no window reads the
#    clock itself (GetTickCount): operations keep their time in pages/.
#
# Prints one line per fault, naming the file and line, and exits 1 when
# there is any. VT_LAYERS_ROOT checks another tree (a copy without git).
set -euo pipefail
if [ -n "${VT_LAYERS_ROOT:-}" ]; then
  cd "$VT_LAYERS_ROOT"
  list_files() {
    find . -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.rc' \) | sed 's|^\./||'
  }
else
  cd "$(dirname "$0")/.."
  list_files() { git ls-files -co --exclude-standard '*.cpp' '*.h' '*.c' '*.rc'; }
fi

messages=$(list_files | grep -v -E '^(tests|fuzz|bench|tools|build)/' | sort |
  grep -v -x -E 'platform/ui_sink\.h|base/winshapes\.h|base/(posix|win32)/winshapes_host\.h' |
  xargs grep -n -H -E '\bWM_APP\b' | grep -v -E '^[^:]*:[0-9]+:[[:space:]]*//' || true)
clock=$(list_files | grep -E '(^|/)win32/|^widgets/' | grep -v -E '^(platform|base)/' | sort |
  xargs grep -n -H -E '\bGetTickCount(64)?[[:space:]]*\(' || true)
status=0
if [ -n "$messages" ]; then
  sed -E 's|^([^:]*:[0-9]+):.*|\1: private window messages are defined and named in platform/ui_sink.h|' <<<"$messages"
  status=1
fi
if [ -n "$clock" ]; then
  sed -E 's|^([^:]*:[0-9]+):.*|\1: a window does not read the clock; the operation scope in pages/ keeps the time|' <<<"$clock"
  status=1
fi

list_files | grep -v -E '^(tests|fuzz|bench|tools|build)/' | sort |
  xargs grep -n -H -E '^[[:space:]]*#' |
  VT_LAYERS_FAULTS=$status python3 -c '
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
BACKEND = re.compile(r"platform/image/|platform/recording\.h$|platform/win32/win32_volume_ops\.h$")
ROOTS = {"cli/session.cpp", "app/win32/pellworth_app.cpp"}

# Windows by nature: the windows, the dialogs resources, the Explorer
# extension and the task library.
WINDOWS_ONLY = re.compile(r"(^|.*/)win32/|^(widgets|resources|shellext|tasklib)/")
# Headers of the Windows SDK and of its C runtime.
WINDOWS_HEADER = re.compile(
    r"(win[a-z0-9_]*|ole[a-z0-9_]*|shl[a-z0-9_]*|shell[a-z0-9_]*|shobj[a-z0-9_]*|comm[a-z0-9_]*"
    r"|wbem[a-z0-9_]*|rpc[a-z0-9_]*|obj[a-z0-9_]*|oc[a-z0-9_]*|prop[a-z0-9_]*|nt[a-z0-9_]*"
    r"|io|direct|process|conio|richedit|prsht|mstask|taskschd|tlhelp32|unknwn|psapi|dbghelp"
    r"|uxtheme|dwmapi|htmlhelp|lm[a-z0-9_]*|sddl|aclapi|userenv|setupapi|cfgmgr32|dbt"
    r"|knownfolders|mmsystem|mshtml|exdisp|servprov|guiddef|basetyps|intrin)\.h", re.I)
WINDOWS_TEST = re.compile(
    r"^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b(_WIN32|_WIN64|WIN32|__MINGW32__|__MINGW64__|_MSC_VER"
    r"|__CYGWIN__)\b")
# The models: everything under them but their win32/ subfolders.
MODELS = re.compile(r"^(engine|ondisk|base|schedule|map|report)/(?!.*win32/)")
FRONT = re.compile(r"^(pages|app|cli|widgets|resources|shellext)/|(^|/)win32/(?!.*platform/)")

bad = 0
def fault(path, line, text):
    global bad
    print("%s:%s: %s" % (path, line, text))
    bad = 1

for row in sys.stdin:
    path, line, text = row.rstrip("\n").split(":", 2)
    portable = not WINDOWS_ONLY.match(path)
    if portable and WINDOWS_TEST.match(text):
        fault(path, line, "a portable file may not test for Windows (build name_posix.cpp and win32/name_win32.cpp instead)")
    system = re.match(r"\s*#\s*include\s*<([^>]*)>", text)
    if system:
        if portable and WINDOWS_HEADER.fullmatch(os.path.basename(system.group(1))):
            fault(path, line, "a portable file may not include <%s>" % system.group(1))
        continue
    quoted = re.match(r"\s*#\s*include\s*\"([^\"]*)\"", text)
    if not quoted:
        continue
    header = quoted.group(1)
    if not os.path.exists(header):
        continue  # a system header spelt with quotes
    if portable and "win32/" in header:
        fault(path, line, "a portable file may not include \"%s\"" % header)
        continue
    if MODELS.match(path) and (FRONT.search(header) and not header.startswith("platform/")):
        fault(path, line, "a model may not include the page or window \"%s\"" % header)
        continue
    for prefix, allowed in RULES:
        if path.startswith(prefix):
            seam_double = header == "platform/recording.h" and prefix != "platform/recording."
            if not re.match(allowed, header) or seam_double:
                fault(path, line, "%s may not include \"%s\"" % (prefix, header))
            break
    else:
        if BACKEND.search(header) and path not in ROOTS:
            fault(path, line, "only the places that choose a backend may include \"%s\"" % header)
if bad or os.environ.get("VT_LAYERS_FAULTS") == "1":
    print("layers: FAILED (the layers are in docs/architecture.md)")
    sys.exit(1)
print("layers: every include points down the layers and the portable files hold no Windows code")
'
