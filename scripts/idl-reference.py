#!/usr/bin/env python3
"""Writes the member reference of the type library (docs/MEMBERS.md) from its IDL.

    idl-reference.py IDL OUT          write OUT
    idl-reference.py --check IDL OUT  exit 1 (with a diff) when OUT is not what IDL gives

The reference is generated so that it cannot drift from the interface; the check runs as
a test.
"""
import difflib
import re
import sys

BASIC_TYPES = {
    "BSTR": "String",
    "long": "Long",
    "short": "Integer",
    "VARIANT_BOOL": "Boolean",
    "VARIANT": "Variant",
    "IDispatch": "Object",
}
# Members whose Long or Object stands for a richer type of the runtime or of the drawing
# library (the IDL says why in its header comment).
RICHER_TYPES = {
    ("RBDEBUGMESSAGE", "vButtons"): "Long (message-box style)",
    ("RBDEBUGMESSAGE", None): "Long (message-box result)",
    ("RBDEBUGMATRIX", "Xform"): "Object (the drawing library's matrix)",
}


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    return re.sub(r"//[^\n]*", "", text)


def split_top(text, sep=","):
    """Splits at sep outside brackets and parentheses."""
    parts, depth, start = [], 0, 0
    for i, c in enumerate(text):
        if c in "([":
            depth += 1
        elif c in ")]":
            depth -= 1
        elif c == sep and depth == 0:
            parts.append(text[start:i])
            start = i + 1
    parts.append(text[start:])
    return [p.strip() for p in parts if p.strip()]


def parse_attrs(text):
    attrs = {}
    for item in split_top(text):
        m = re.match(r"(\w+)\s*(?:\((.*)\))?$", item, re.S)
        if m:
            attrs[m.group(1)] = (m.group(2) or "").strip()
    return attrs


def parse_param(text):
    m = re.match(r"\[(.*?)\]\s*(.+?)\s*(\**)\s*(\w+)$", text, re.S)
    if not m:
        raise SystemExit("cannot read parameter: " + text)
    attrs, base, stars, name = parse_attrs(m.group(1)), m.group(2), len(m.group(3)), m.group(4)
    return {"attrs": attrs, "base": base, "stars": stars, "name": name, "c": text[m.end(1) + 1:].strip()}


def parse_interfaces(idl):
    interfaces = []
    for m in re.finditer(r"\[([^\[\]]*)\]\s*interface\s+(\w+)\s*:\s*\w+\s*\{(.*?)\};", idl, re.S):
        members = []
        for mm in re.finditer(r"\[([^\]]*)\]\s*HRESULT\s+(\w+)\s*\((.*?)\)\s*;", m.group(3), re.S):
            params = [parse_param(p) for p in split_top(mm.group(3))]
            members.append({"attrs": parse_attrs(mm.group(1)), "name": mm.group(2), "params": params})
        interfaces.append({"name": m.group(2), "attrs": parse_attrs(m.group(1)), "members": members})
    return interfaces


def parse_enums(idl):
    enums = []
    for m in re.finditer(r"enum\s+(\w+)\s*\{(.*?)\}", idl, re.S):
        values = [re.sub(r"\s+", " ", v) for v in split_top(m.group(2))]
        enums.append((m.group(1), values))
    return enums


def basic_type(member, param, retval=False, rich=True):
    key = (member, None if retval else param["name"])
    if rich and key in RICHER_TYPES:
        return RICHER_TYPES[key]
    return BASIC_TYPES.get(param["base"], param["base"])


def default_text(param):
    value = param["attrs"].get("defaultvalue")
    if value is None:
        return ""
    if param["base"] == "VARIANT_BOOL":
        return "False" if value in ("0", "FALSE", "VARIANT_FALSE") else "True"
    return value


def describe(member, param):
    """(passing, optional, default) as a Basic client sees the parameter."""
    attrs = param["attrs"]
    by_ref = "out" in attrs and param["stars"] >= 1
    optional = "optional" in attrs or "defaultvalue" in attrs
    default = default_text(param)
    if optional and not default:
        default = {"BSTR": '""', "VARIANT_BOOL": "False", "VARIANT": "missing"}.get(param["base"], "0")
    return ("ByRef" if by_ref else "ByVal"), optional, default


def kind_of(member):
    if "propget" in member["attrs"]:
        return "Property Get"
    if "propput" in member["attrs"]:
        return "Property Let"
    return "Function" if any("retval" in p["attrs"] for p in member["params"]) else "Sub"


def signature(member):
    pieces, result = [], None
    for p in member["params"]:
        if "retval" in p["attrs"]:
            result = basic_type(member["name"], p, retval=True, rich=False)
            continue
        passing, optional, default = describe(member["name"], p)
        name = p["name"]
        text = f"{'Optional ' if optional else ''}{passing} {name} As {basic_type(member['name'], p, rich=False)}"
        if default_text(p):
            text += f" = {default_text(p)}"
        pieces.append(text)
    sig = f"{kind_of(member)} {member['name']}({', '.join(pieces)})"
    return sig + (f" As {result}" if result else "")


def member_section(index, member):
    attrs = member["attrs"]
    lines = [f"### {index}. {member['name']} ({kind_of(member).lower()})", ""]
    lines.append(f"`{signature(member)}`")
    lines.append("")
    result = [p for p in member["params"] if "retval" in p["attrs"]]
    facts = [f"dispatch id `{attrs['id']}`"]
    if result:
        facts.append("result " + basic_type(member["name"], result[0], retval=True))
    if "hidden" in attrs:
        facts.append("hidden (object browsers do not show it; callable as any other)")
    if "helpstring" in attrs:
        facts.append("help string " + attrs["helpstring"].replace("\\\\", "\\"))
    lines.append("; ".join(facts) + ".")
    params = [p for p in member["params"] if "retval" not in p["attrs"]]
    if params:
        lines += ["", "| Parameter | Type | Passing | Optional | Default when omitted | C++ (vtable) |",
                  "|---|---|---|---|---|---|"]
        for p in params:
            passing, optional, default = describe(member["name"], p)
            name = p["name"]
            lines.append(f"| `{name}` | {basic_type(member['name'], p)} | {passing} | "
                         f"{'yes' if optional else 'no'} | {default if optional else ''} | `{p['c']}` |")
    lines.append("")
    return lines


def render(idl_path):
    with open(idl_path, encoding="utf-8") as f:
        idl = strip_comments(f.read())
    out = ["# Members of the VX380ErrorLogging type library", "",
           "<!-- Generated by scripts/idl-reference.py from src/com/VX380ErrorLogging.idl; do not edit."
           " A test fails when this file and the IDL disagree. -->", "",
           "Every member is listed in interface order with its parameters as a Basic client declares them.",
           "ByVal parameters are copies; ByRef parameters are the caller's variables (from C++: a pointer,",
           "where a null pointer for an optional one means omitted). An omitted optional parameter takes",
           "the default shown. Members return their value as the result of the call; failures arrive",
           "as the error of the call (an HRESULT with error info).", ""]
    for itf in parse_interfaces(idl):
        out += [f"## {itf['name']} (interface `{{{itf['attrs'].get('uuid', '').upper()}}}`)", ""]
        for i, member in enumerate(itf["members"], 1):
            out += member_section(i, member)
    out += ["## Enumerations", ""]
    for name, values in parse_enums(idl):
        out.append(f"- `{name}`: " + ", ".join(f"`{v}`" for v in values))
    out.append("")
    return "\n".join(out)


def main(argv):
    check = len(argv) > 1 and argv[1] == "--check"
    args = argv[2:] if check else argv[1:]
    if len(args) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    idl_path, out_path = args
    text = render(idl_path)
    if not check:
        with open(out_path, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
        return 0
    try:
        with open(out_path, encoding="utf-8") as f:
            current = f.read()
    except OSError as e:
        print(f"{out_path}: {e}", file=sys.stderr)
        return 1
    if current == text:
        return 0
    sys.stdout.writelines(difflib.unified_diff(current.splitlines(True), text.splitlines(True),
                                               out_path, "generated from " + idl_path))
    print(f"\n{out_path} is out of date: run scripts/idl-reference.py {idl_path} {out_path}")
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
