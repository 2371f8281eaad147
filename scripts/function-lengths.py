#!/usr/bin/env python3
"""Lists the C++ functions whose body runs over a number of lines.

    function-lengths.py [--max N] [--allow FILE] [--root DIR] PATH...

PATH is a file or a folder (searched for .cpp .cc .h .hpp, but not in folders named
"tests"). A function's length is the
lines from its opening brace to its closing one, both counted. Lambdas and local classes
count toward the function they are written in; a lambda or a function written at namespace
or class scope counts on its own. Namespaces, classes and data initialisers are not
functions. Exits 1 when a function is too long and not on the allow list (lines
"path:name", path relative to --root, "#" starts a comment), 0 otherwise.
"""
import os
import re
import sys

SOURCE_ENDINGS = (".cpp", ".cc", ".h", ".hpp")
TRAILING_SPECIFIERS = re.compile(
    r"(\s*(const|noexcept(\s*\([^()]*\))?|override|final|mutable|constexpr|volatile|&&|&"
    r"|->\s*[\w:<>,\s*&]+|requires\s+[^{]*))*\s*$")


def in_number(text, i):
    """Whether the quote at `i` separates digits (1'000) rather than opening a character."""
    k = i
    while k > 0 and (text[k - 1].isalnum() or text[k - 1] in "'."):
        k -= 1
    return k < i and text[k].isdigit()


def strip_code(text):
    """The text with comments, literals and preprocessor lines blanked; line breaks kept."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c in " \t":
            out.append(c)
            i += 1
            continue
        if line_start and c == "#":
            # A directive, with its continuation lines.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out.append("\n")
                    i += 2
                    continue
                i += 1
            continue
        line_start = c == "\n"
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append("\n" * text.count("\n", i, end))
            i = end
            continue
        raw = re.match(r'(?:u8|u|U|L)?R"([^()\\\s]{0,16})\(', text[i:i + 40])
        if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            close = ")" + raw.group(1) + '"'
            end = text.find(close, i + raw.end())
            end = n if end < 0 else end + len(close)
            out.append('""' + "\n" * text.count("\n", i, end))
            i = end
            continue
        if c in "\"'":
            if c == "'" and in_number(text, i):
                out.append(c)
                i += 1  # a digit separator
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out)


def matching_paren_start(segment):
    """Where the parenthesised group that ends `segment` opens, or -1."""
    depth = 0
    for k in range(len(segment) - 1, -1, -1):
        if segment[k] == ")":
            depth += 1
        elif segment[k] == "(":
            depth -= 1
            if depth == 0:
                return k
    return -1


def function_name(segment):
    """The name in front of the first top-level parameter list of a function header."""
    depth = 0
    for k, c in enumerate(segment):
        if c in "<[":
            depth += 1
        elif c in ">]":
            depth -= 1
            if c == "]" and depth == 0 and segment[k + 1:].lstrip().startswith("("):
                return "lambda"
        elif c == "(" and depth <= 0:
            names = re.findall(r"[~\w:]+(?:\s*operator\s*[^\s(]+)?", segment[:k])
            return names[-1].split()[-1] if names else "lambda"
    return "?"


def classify(segment, in_function):
    """What a "{" after `segment` opens: namespace, class, function, init or block."""
    s = " ".join(segment.split())
    if in_function:
        return "block"
    if re.search(r"(^|\s)namespace(\s[\w:]*)?\s*$", s) or re.search(r'extern\s*""\s*$', s):
        return "namespace"
    if re.search(r"(^|[\s>])(class|struct|union)\b", s) and not s.endswith(")"):
        if not re.search(r"=\s*$", s):
            return "class"
    head = TRAILING_SPECIFIERS.sub("", s)
    head = re.sub(r"\s*->\s*[\w:<>,\s*&]+$", "", head)
    if head.endswith(")") and matching_paren_start(head) > 0:
        return "function"
    if head.endswith("}") and re.search(r"\)\s*:", s):
        return "function"  # a constructor whose initialiser list ends in braces
    return "init"


def scan(text):
    """(name, first line, length) for each function in `text`."""
    code = strip_code(text)
    results = []
    # Each scope: kind, line of its "{", name.
    stack = []
    segment_start = 0
    line = 1
    for i, c in enumerate(code):
        if c == "\n":
            line += 1
        elif c == ";":
            if not any(kind in ("function", "init") for kind, _, _ in stack):
                segment_start = i + 1
        elif c == "{":
            in_function = any(kind in ("function", "init") for kind, _, _ in stack)
            segment = code[segment_start:i]
            kind = classify(segment, in_function)
            name = function_name(segment) if kind == "function" else ""
            stack.append((kind, line, name))
            if not in_function and kind != "init":
                segment_start = i + 1
        elif c == "}":
            if not stack:
                continue
            kind, first, name = stack.pop()
            if kind == "function":
                results.append((name, first, line - first + 1))
            if not any(k in ("function", "init") for k, _, _ in stack) and kind != "init":
                segment_start = i + 1
    return results


def source_files(paths):
    for path in paths:
        if os.path.isfile(path):
            yield path
            continue
        for folder, dirs, files in os.walk(path):
            dirs[:] = sorted(d for d in dirs if d != "tests")  # tests are not product code
            for name in sorted(files):
                if name.endswith(SOURCE_ENDINGS):
                    yield os.path.join(folder, name)


def read_allow_list(path):
    allowed = set()
    if path:
        with open(path, encoding="utf-8") as f:
            for entry in f:
                entry = entry.split("#", 1)[0].strip()
                if entry:
                    allowed.add(entry)
    return allowed


def main(argv):
    args = argv[1:]
    limit, allow_file, root = 60, None, os.getcwd()
    paths = []
    while args:
        arg = args.pop(0)
        if arg == "--max" and args:
            limit = int(args.pop(0))
        elif arg == "--allow" and args:
            allow_file = args.pop(0)
        elif arg == "--root" and args:
            root = args.pop(0)
        elif arg.startswith("-"):
            print(__doc__, file=sys.stderr)
            return 2
        else:
            paths.append(arg)
    if not paths:
        print(__doc__, file=sys.stderr)
        return 2
    allowed = read_allow_list(allow_file)
    too_long = allowed_seen = files = 0
    for path in source_files(paths):
        files += 1
        with open(path, encoding="utf-8", errors="replace") as f:
            functions = scan(f.read())
        shown = os.path.relpath(path, root)
        for name, first, length in functions:
            if length <= limit:
                continue
            if f"{shown}:{name}" in allowed:
                allowed_seen += 1
                print(f"{shown}:{first}: {name} is {length} lines (allowed for now)")
                continue
            too_long += 1
            print(f"{shown}:{first}: {name} is {length} lines, over {limit}")
    print(f"{files} files, {too_long} functions over {limit} lines, {allowed_seen} allowed")
    return 1 if too_long else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
