#!/usr/bin/env python3
"""Checks that IniConfig reads INI texts as Python's configparser does.

Usage: ini_vs_configparser.py INI_DUMP

configparser.ConfigParser() with its default settings is the reference. Each
text is written to a file and read both by INI_DUMP (IniConfig, printing one
JSON line a file) and by configparser; they must agree: both refuse the file,
or both read the same sections in the same order, each with the same keys in
the order of items(section), and each value is the same text or refused by
both. The texts are hand-written tricky cases, one case per character below
U+0530 (next to a capital sigma too), the other letters that str.lower()
changes, and random texts from a fixed seed. A text starting with a byte-order mark is
read by configparser as "utf-8-sig": IniConfig skips the mark by itself.

Values that IniConfig refuses for its substitution limits (more than 10,000
references or 1 MiB of work), which configparser does not have, are counted
apart, not compared.
"""
import configparser
import json
import os
import random
import subprocess
import sys
import tempfile

BOM = "\ufeff"
BLANKS = [" ", "\t", "\u3000", "\u00a0", "\u2003", "\x0b", "\x0c", "\x1c", "\x85", "\u2028", "\u202f"]
# Characters that look blank but that str.strip() keeps.
NOT_BLANKS = ["\u200b", "\ufeff"]
LINE_ENDS = ["\n", "\r\n", "\r"]
LETTERS = "abxyzABXYZ" "éÉüÜßÿŸ" "łŁİıſ" "ΣσςΑάΆΟΔ" "ЖжЁёЯ" "中_0.'\u0301"
SECTION_NAMES = ["db", "DB", "Db1", "DEFAULT", "default", "ünï", "ÜNÏ", "Σ", " spaced ", "a]b", "x;y"]
# How IniConfig words its substitution limits.
LIMIT_MESSAGES = ("follows more than 10000 references", "expands beyond 1048576 characters")


def chain(length, leaf):
    """Keys k0 .. k<length>, each referring to the next, the last being `leaf`."""
    lines = [f"k{i} = %(k{i + 1})s" for i in range(length)]
    return "[s]\n" + "\n".join(lines) + f"\nk{length} = {leaf}\n"


HAND_WRITTEN = [
    ("continuation", "[s]\nhost = a\n  port = 1521\nnext = b\n"),
    ("continuation looks like a section", "[s]\nhost = a\n  [t]\n"),
    ("blank lines inside and after a value", "[s]\nk = a\n\n  b\n\n\n"),
    ("blank lines then a section", "[s]\nk = a\n\n[t]\nj = 1\n"),
    ("comment inside a value", "[s]\nk = a\n  # c\n\t; d\n  b\n"),
    ("empty first line of a value", "[s]\nk =\n  a\n  b\n"),
    ("blank line of unicode blanks in a value", "[s]\nk = a\n  \u3000\u00a0\n  b\n"),
    ("indented entries after a header", "[s]\n  a = 1\n b = 2\n  c = 3\n"),
    ("indentation counted in characters", "[s]\n\u3000k = v\n  more\n"),
    ("indentation counted in characters 2", "[s]\n  k = v\n\u3000more\n"),
    ("indented header after an entry", "[s]\nk = v\n  [t]\nj = 1\n"),
    ("header after indented entry", "[s]\n  k = v\n[t]\n  j = 1\n"),
    ("continuation with a reference", "[s]\na = x\n  y\nb = %(a)s!\n"),
    ("reference across lines", "[s]\na = %(x\n  y)s\n"),
    ("unicode blanks around", "[s]\n\u3000K\u3000=\u3000v\u2003\u00a0\n"),
    ("line of unicode blanks", "\u3000\u00a0\u2003\n[s]\n\u3000\nk = v\n"),
    ("zero-width space is no blank", "\u200b\n[s]\n"),
    ("form feed and vertical tab", "[s]\x0c\nk\x0b=\x0bv\x0c\n"),
    ("non-ascii case", "[s]\nÜSER = x\n[t]\nüser = y\nr = %(ÜSER)s\nq = %(üSeR)s\n"),
    ("non-ascii duplicate", "[s]\nÜSER = x\nüser = y\n"),
    ("greek final sigma", "[s]\nΟΔΟΣ = 1\nr = %(ΟΔΟΣ)s\n"),
    ("greek final sigma missed", "[s]\nΟΔΟΣ = 1\nr = %(οδοσ)s\n"),
    ("dotted capital i", "[s]\nİ = 1\nr = %(i\u0307)s\n"),
    ("cyrillic", "[Ж]\nЖЁЯ = 1\nr = %(жёя)s\n"),
    ("lone CR", "[s]\rk = v\rj = w\r\n"),
    ("CR then continuation", "[s]\rk = v\r  more\r\n"),
    ("CRLF", "[s]\r\nk = v\r\n  more\r\n"),
    ("comment after header", "[db] ; primary\nk = v\n"),
    ("text after header", "[a] x ]\nk = v\n"),
    ("header of a bracket", "[]]\nk = v\n"),
    ("empty header", "[]\nk = v\n"),
    ("unclosed header", "[a\nk = v\n"),
    ("bracket key", "[s]\n[=x\n"),
    ("header with delimiter", "[a=b]\nk = v\n"),
    ("header then delimiter", "[a] = b\nk = v\n"),
    ("spaces in header", "[ a ]\nk = v\n[a]\nk = w\n"),
    ("repeated DEFAULT", "[DEFAULT]\na = 1\n[s]\nb = %(c)s\n[DEFAULT]\nc = 3\n"),
    ("repeated DEFAULT key", "[DEFAULT]\na = 1\n[DEFAULT]\nA = 2\n"),
    ("DEFAULT is case-sensitive", "[default]\na = 1\n[s]\nb = 2\n"),
    ("DEFAULT and section order", "[s]\nz = 1\nb = 2\n[DEFAULT]\nb = 0\na = %(z)s\n"),
    ("duplicate section", "[s]\n[t]\n[s]\n"),
    ("duplicate key", "[s]\nk=1\nK=2\n"),
    ("same key in two sections", "[s]\nk=1\n[t]\nk=2\n"),
    ("chain of 9", chain(9, "end")),
    ("chain of 10", chain(10, "end")),
    ("chain of 11", chain(11, "end")),
    ("chain of 9 to a percent", chain(9, "100%%")),
    ("chain of 10 to a percent", chain(10, "100%%")),
    ("loop", "[s]\na = %(b)s\nb = %(a)s\n"),
    ("self", "[s]\na = x%(a)s\n"),
    ("through DEFAULT", "[DEFAULT]\nd = %(s)s\n[s]\ns = own\nr = %(d)s\n[t]\nr = %(d)s\n"),
    ("reference syntax", "[s]\na = 1\nb = %(a)x)s\nc = %()s\nd = %( a )s\ne = 100%\nf = %%(a)s\ng = %%%(a)s\n"),
    ("parenthesis in a reference", "[s]\na(b = 1\nr = %(a(b)s\n"),
    ("reference ends at the first parenthesis", "[s]\na)x = 1\nr = %(a)x)s\n"),
    ("percent at the end", "[s]\na = 5%\nb = %\nc = %%\n"),
    ("delimiters", "[s]\na:b=c\nd=e:f\ng :h\n"),
    ("no inline comments", "[s]\nk = v ; not a comment\nj = w # nor this\n"),
    ("entry before a section", "k = v\n[s]\n"),
    ("comments before a section", "\n  \n# c\n; d\n[s]\nk = v\n"),
    ("no delimiter", "[s]\njust words\n"),
    ("empty key", "[s]\n= v\n"),
    ("empty", ""),
    ("only comments", "# a\n; b\n"),
    ("no final line break", "[s]\nk = v"),
    ("byte-order mark", BOM + "[s]\nk = v\n"),
    ("byte-order mark before an entry", BOM + "k = v\n"),
    ("byte-order mark inside", "[s]\n" + BOM + "k = v\n"),
]


def per_character_cases():
    """One case per character below U+0530, the characters by which the
    final sigma is judged: in a key, in a reference, next to a capital sigma."""
    for code in range(0x21, 0x530):
        c = chr(code)
        keys = [f"x{c}y", f"0{c}Σ", f"0Σ{c}", f"0AΣ{c}", f"0A{c}Σ", f"0AΣ{c}B"]
        lines = [f"{key} = {i}" for i, key in enumerate(keys)]
        lines.append(f"ref = %(X{c.upper()}Y)s")
        yield f"U+{code:04X}", "[s]\n" + "\n".join(lines) + "\n"


def upper_case_cases():
    """The letters from U+0530 on that str.lower() changes, 40 to a case, as
    keys and in references."""
    letters = [chr(c) for c in range(0x530, 0x110000) if not 0xD800 <= c <= 0xDFFF and chr(c).lower() != chr(c)]
    for start in range(0, len(letters), 40):
        lines = []
        for i, c in enumerate(letters[start : start + 40]):
            lines += [f"x{c}y = {i}", f"r{i} = %(X{c}Y)s"]
        yield f"letters from U+{ord(letters[start]):04X}", "[s]\n" + "\n".join(lines) + "\n"


class RandomText:
    """A random INI text: sections, DEFAULT, entries with mixed-case keys,
    continuation lines, comments, blanks, references, errors now and then."""

    def __init__(self, rng):
        self.rng = rng
        self.lines = []
        keys = {}  # by their lower case, so that only repeats made on purpose repeat
        while len(keys) < 5:
            key = self.word(LETTERS, 1, 3)
            keys[key.lower()] = key
        self.keys = list(keys.values())

    def word(self, alphabet, shortest, longest):
        return "".join(self.rng.choice(alphabet) for _ in range(self.rng.randint(shortest, longest)))

    def blanks(self, most=2):
        return "".join(self.rng.choice(BLANKS) for _ in range(self.rng.randint(0, most)))

    def any_case(self, text):
        return "".join(self.rng.choice([c, c.upper(), c.lower()]) for c in text)

    def value_piece(self):
        r = self.rng.random()
        if r < 0.3:
            return "%(" + self.any_case(self.rng.choice(self.keys)) + ")s"
        if r < 0.35:
            return "%(missing)s"
        if r < 0.45:
            return "%%"
        if r < 0.47:
            return self.rng.choice(["%", "%(", "%(a)", "%()s", ")s", "%(a b)s"])
        if r < 0.5:
            return self.rng.choice(["#not", ";semi", "=", ":", "[x]", "[DEFAULT]"] + NOT_BLANKS)
        return self.word("abc xyz 019_-/Üж", 1, 6)

    def value(self):
        return "".join(self.value_piece() for _ in range(self.rng.randint(0, 3)))

    def indent(self):
        return self.rng.choice(["", "", "", " ", "  ", "\t", "\u3000", "\u00a0 "])

    def entry(self, key):
        separator = self.rng.choice(["=", ":", " = ", ": ", "\u3000=\u3000", "=:"])
        self.lines.append(self.indent() + self.any_case(key) + self.blanks() + separator + self.value() + self.blanks())
        for _ in range(self.rng.choice([0, 0, 0, 1, 2, 3])):
            self.continuation()

    def continuation(self):
        r = self.rng.random()
        if r < 0.2:
            self.lines.append(self.blanks())
        elif r < 0.3:
            self.lines.append(self.indent() + self.rng.choice("#;") + self.word("abc ", 0, 5))
        else:
            deeper = self.rng.choice(["  ", "\t", "\u3000", "    ", " "])
            body = self.rng.choice([self.value(), self.rng.choice(self.keys) + " = 1", "[t]"])
            self.lines.append(deeper + body + self.blanks())

    def header(self, name):
        suffix = self.rng.choice(["", "", "", " ; comment", " x ]", "]", " = 1", " #c"])
        self.lines.append((" " if self.rng.random() < 0.1 else "") + "[" + name + "]" + suffix)

    def stray_line(self):
        self.lines.append(
            self.rng.choice(
                ["just words", "[broken", "[]", "= v", "#" + self.word("abc", 0, 4), ";", "", self.blanks(3)]
            )
        )

    def section(self, name, used_keys):
        self.header(name)
        for _ in range(self.rng.randint(0, 5)):
            fresh = [k for k in self.keys if (name, k.lower()) not in used_keys]
            if self.rng.random() < 0.03 or not fresh:
                key = self.rng.choice(self.keys)
            else:
                key = self.rng.choice(fresh)
            used_keys.add((name, key.lower()))
            self.entry(key)
            if self.rng.random() < 0.02:
                self.stray_line()
            elif self.rng.random() < 0.13:
                self.lines.append(self.blanks())

    def text(self):
        if self.rng.random() < 0.03:
            self.entry(self.keys[0])
        names, used_keys = [], set()
        for _ in range(self.rng.randint(1, 4)):
            fresh = [n for n in SECTION_NAMES if n not in names or n == "DEFAULT"]
            name = self.rng.choice(SECTION_NAMES if self.rng.random() < 0.03 else fresh)
            names.append(name)
            self.section(name, used_keys)
        ends = [self.rng.choice(LINE_ENDS) for _ in self.lines]
        if self.rng.random() < 0.2:
            ends[-1] = ""
        text = "".join(line + end for line, end in zip(self.lines, ends))
        return (BOM + text) if self.rng.random() < 0.03 else text


def random_cases(count, seed=20240611):
    rng = random.Random(seed)
    for i in range(count):
        yield f"random #{i}", RandomText(rng).text()


def configparser_reads(path, text):
    parser = configparser.ConfigParser()
    encoding = "utf-8-sig" if text.startswith(BOM) else "utf-8"
    try:
        with open(path, encoding=encoding) as f:
            parser.read_file(f)
    except configparser.Error as e:
        return {"error": type(e).__name__}
    sections = {}
    for name in parser.sections():
        entries = {}
        for key, _ in parser.items(name, raw=True):
            try:
                entries[key] = parser.get(name, key)
            except configparser.Error as e:
                entries[key] = {"error": type(e).__name__}
        sections[name] = entries
    return {"sections": sections}


def ours_read(ini_dump, paths):
    results = []
    for start in range(0, len(paths), 500):
        out = subprocess.run([ini_dump] + paths[start : start + 500], capture_output=True, check=True).stdout
        results += [json.loads(line) for line in out.decode("utf-8").split("\n") if line]
    assert len(results) == len(paths), "ini_dump printed %d results for %d files" % (len(results), len(paths))
    return results


def difference(ours, theirs, counts):
    """How the two readings differ, or None when they agree."""
    if "error" in ours or "error" in theirs:
        if ("error" in ours) != ("error" in theirs):
            return "one refuses the text, the other does not"
        counts["refused by both"] += 1
        return None
    ours, theirs = ours["sections"], theirs["sections"]
    if list(ours) != list(theirs):
        return "sections differ"
    for name in theirs:
        if list(ours[name]) != list(theirs[name]):
            return f"keys of section {name!r} differ"
        for key, expected in theirs[name].items():
            got = ours[name][key]
            if isinstance(got, dict) and isinstance(expected, str) and any(m in got["message"] for m in LIMIT_MESSAGES):
                counts["values beyond our substitution limits"] += 1
            elif isinstance(got, dict) != isinstance(expected, dict) or (isinstance(got, str) and got != expected):
                return f"value of {key!r} in section {name!r} differs"
            else:
                counts["values refused by both" if isinstance(got, dict) else "values equal"] += 1
    counts["read alike"] += 1
    return None


def main():
    ini_dump = sys.argv[1]
    cases = HAND_WRITTEN + list(per_character_cases()) + list(upper_case_cases()) + list(random_cases(3000))
    counts = {k: 0 for k in ["read alike", "refused by both", "values equal", "values refused by both"]}
    counts["values beyond our substitution limits"] = 0
    with tempfile.TemporaryDirectory() as folder:
        paths = []
        for i, (_, text) in enumerate(cases):
            paths.append(os.path.join(folder, f"{i}.ini"))
            with open(paths[-1], "w", encoding="utf-8", newline="") as f:
                f.write(text)
        ours = ours_read(ini_dump, paths)
        theirs = [configparser_reads(path, text) for path, (_, text) in zip(paths, cases)]
    failures = []
    for (name, text), our, their in zip(cases, ours, theirs):
        why = difference(our, their, counts)
        if why:
            failures.append(f"{name}: {why}\n  text: {text!r}\n  ours: {our}\n  configparser: {their}")
    print(f"{len(cases)} texts: " + ", ".join(f"{n} {k}" for k, n in counts.items()))
    if failures:
        print(f"{len(failures)} differ from configparser; the first ones:")
        print("\n".join(failures[:10]))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
