"""Reading the signature lines pybind11 writes at the head of a docstring:
`name(arg: type = default, ...) -> result`, one per overload (numbered
"1. ", "2. " ...). The stub generator and the tests of the package's call
interface and docstrings read signatures through these."""
import re


def split_top_level(text, separator=","):
    """The parts of `text` between separators outside brackets and quotes."""
    parts, depth, quote, escaped, start = [], 0, None, False, 0
    for i, ch in enumerate(text):
        if quote:
            escaped = not escaped and ch == "\\"
            if ch == quote and not escaped:
                quote = None
        elif ch in "'\"":
            quote = ch
        elif ch in "([{":
            depth += 1
        elif ch in ")]}":
            depth -= 1
        elif ch == separator and depth == 0:
            parts.append(text[start:i].strip())
            start = i + 1
    if text[start:].strip():
        parts.append(text[start:].strip())
    return parts


def signature_lines(doc, name, with_result=True):
    """(arguments text, result text) of each signature line of `name` in
    `doc`; with `with_result` false, lines without "-> result" count too
    (their result is None)."""
    result = r" -> (.+)" if with_result else r"(?: -> (.+))?"
    pattern = re.compile(rf"^(?:\d+\. )?{re.escape(name)}\((.*)\){result}$")
    return [m.groups() for m in map(pattern.match, (doc or "").splitlines()) if m]


def parameters(arguments):
    """(name, type text or None, default text or None) of each argument;
    a leading `self` is left out, `*args` and `**kwargs` keep their stars."""
    out = []
    for part in split_top_level(arguments):
        head, *default = split_top_level(part, "=")
        name, _, kind = head.partition(":")
        out.append((name.strip(), kind.strip() or None, "=".join(default) or None))
    return out[1:] if out and out[0][0] == "self" else out
