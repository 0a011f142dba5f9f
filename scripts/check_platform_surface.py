#!/usr/bin/env python3
"""Fails when the POSIX platform layer offers more than the program uses.

Every function and every constant that src/platform/posix/win32_api.h
declares must be named by the program itself: a source under src/ outside
src/platform/ that is not a test (*_test.cpp). Error codes (ERROR_*, E_*) are
part of what the layer reports, so they pass when one of the layer's own
sources names them. Anything else needs a line in
scripts/platform_surface_allow.txt, which says why a test cannot do without
it; a line there that is no longer needed fails the check as well.

It also fails when the layer reaches into the program: a layer source may
include only system headers and the layer's own, and every name the layer
adds of its own lives in the namespace holwerk::posix (Windows' names stay
global), so no name of the program's namespace can be in reach.
"""

import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER = ROOT / "src/platform/posix/win32_api.h"
LAYER = ROOT / "src/platform/posix"
ALLOW_LIST = ROOT / "scripts/platform_surface_allow.txt"

FUNCTION = re.compile(r"^[A-Za-z_][\w \t*]*?\b([A-Za-z_]\w*)\s*\(", re.MULTILINE)
CONSTANT = re.compile(r"^\s*constexpr\s+\w+\s+([A-Za-z_]\w*)\s*=", re.MULTILINE)
MACRO = re.compile(r"^\s*#\s*define\s+([A-Za-z_]\w*)", re.MULTILINE)
ENUM_BODY = re.compile(r"\benum\b[^{;]*\{([^}]*)\}", re.DOTALL)
ENUMERATOR = re.compile(r"([A-Za-z_]\w*)\s*(?:=[^,]*)?(?:,|$)")
WORD = re.compile(r"[A-Za-z_]\w*")
# Comments and literals: a name in a comment or a message is not a use.
NOISE = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'',
                   re.DOTALL)
# Words of the header that are not declarations of its own.
KEYWORDS = {"using", "struct", "enum", "return", "if", "defined", "sizeof",
            "reinterpret_cast", "static_cast"}


def code_of(path):
    return NOISE.sub(" ", path.read_text(encoding="utf-8"))


def declared_names(header_code):
    names = set(FUNCTION.findall(header_code))
    names |= set(CONSTANT.findall(header_code))
    names |= set(MACRO.findall(header_code))
    for body in ENUM_BODY.findall(header_code):
        names |= {name for name in ENUMERATOR.findall(body) if name}
    # Guards such as "#ifndef TRUE / #define TRUE" and the WINAPI marker stay
    # in; only words that are not names of the interface are dropped.
    return {name for name in names if name not in KEYWORDS}


def words_in(paths):
    words = set()
    for path in paths:
        words |= set(WORD.findall(code_of(path)))
    return words


def read_allow_list():
    allowed = {}
    problems = []
    for number, line in enumerate(ALLOW_LIST.read_text(encoding="utf-8").splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        name, _, reason = line.partition(" ")
        if not reason.strip():
            problems.append(f"{ALLOW_LIST.name}:{number}: {name} has no reason")
        allowed[name] = reason.strip()
    return allowed, problems


INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
NAMESPACE = re.compile(r"\bnamespace\s+([\w:]+)\s*\{")
QUALIFIED = re.compile(r"\bholwerk::(?!posix\b)\w+")


def layer_problems(layer):
    problems = []
    for path in sorted(layer):
        code = code_of(path)
        name = path.relative_to(ROOT)
        for include in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if not include.startswith("platform/posix/"):
                problems.append(f"{name} includes {include}, which is not the layer's own")
        for namespace in NAMESPACE.findall(code):
            if namespace != "holwerk::posix":
                problems.append(f"{name} opens namespace {namespace}, not holwerk::posix")
        for qualified in QUALIFIED.findall(code):
            problems.append(f"{name} names {qualified} of the program")
    return problems


def main():
    declared = declared_names(code_of(HEADER))
    sources = [p for p in (ROOT / "src").rglob("*") if p.suffix in (".cpp", ".h")]
    program = [p for p in sources
               if LAYER.parent not in p.parents and not p.name.endswith("_test.cpp")]
    layer = [p for p in LAYER.iterdir() if p.suffix in (".cpp", ".h") and p != HEADER]
    used = words_in(program)
    reported = words_in(layer)
    allowed, problems = read_allow_list()
    problems += layer_problems(layer + [HEADER])

    for name in sorted(declared):
        if name in used:
            continue
        if re.match(r"E(RROR)?_", name) and name in reported:
            continue
        if name not in allowed:
            problems.append(f"win32_api.h offers {name}, which the program never names")
    for name in sorted(allowed):
        if name not in declared:
            problems.append(f"{ALLOW_LIST.name} names {name}, which win32_api.h no longer offers")
        elif name in used:
            problems.append(f"{ALLOW_LIST.name} names {name}, which the program now uses itself")

    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"{len(problems)} problem(s): the platform layer offers what the program calls, "
              "and no more", file=sys.stderr)
        return 1
    print(f"platform surface: {len(declared)} names, each used by the program or listed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
