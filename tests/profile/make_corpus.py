#!/usr/bin/env python3
"""Writes a corpus of awkward profile files and a query list for profdump.

    make_corpus.py UNIX_DIR WINDOWS_DIR [--seed N] [--random N]

UNIX_DIR receives the files and queries.txt; WINDOWS_DIR is the same folder
as the Windows programs see it (for example C:\\qlprof). Each query line is
    <ini windows path>\t<section>\t<key>\t<default>
with "<null>" for a null pointer. The hand-made files come first, then the
seeded random ones, so a given seed always gives the same corpus.

A UTF-16 file of odd length makes the real reader take its last character
from the byte after the file's end, which is whatever its heap holds there:
lookups whose answer can depend on that character are left out (and
counted), the file's other lookups are kept.
"""

import argparse
import os
import random
import re

NULL = "<null>"

# Defaults tried on every file: trailing blanks, quotes and the null pointer
# are all handled by the reader, not passed through unchanged.
DEFAULTS = ["dflt", "", " ", "   ", "d  ", "  d", "d d", '"qd"', "'qd'", '"qd', '""', NULL]

# Bytes that Windows code page 1252 leaves undefined; the reader maps them to
# the code points of the same number.
CP1252_HOLES = (0x81, 0x8D, 0x8F, 0x90, 0x9D)


def cp1252_text(data):
    """Decodes cp1252 bytes, the undefined ones as the same code point."""
    return "".join(chr(b) if b in CP1252_HOLES else bytes([b]).decode("cp1252") for b in data)


def utf16(data, big_endian=False, bom=True):
    text = cp1252_text(data)
    enc = "utf-16-be" if big_endian else "utf-16-le"
    mark = (b"\xfe\xff" if big_endian else b"\xff\xfe") if bom else b""
    return mark + text.encode(enc)


def utf8(data, bom=True):
    return (b"\xef\xbb\xbf" if bom else b"") + cp1252_text(data).encode("utf-8")


# Characters either reader may trim around names: the widest set, so that a
# lookup near the unknown character is left out rather than kept.
WIDE_BLANKS = "".join(chr(c) for c in range(0x21)) + "\x1a\x7f"


def wide_strip(text):
    return text.strip().strip(WIDE_BLANKS).strip().lower()


def odd_utf16_tail(data):
    """For a UTF-16 file of odd length, the possible last lines (the text
    after the last LF, and after the last CR or LF) without the character
    that reads past the end; None for any other file."""
    if len(data) % 2 == 0 or data[:3] == b"\xef\xbb\xbf":
        return None
    if data[:2] == b"\xff\xfe":
        text = data[2:-1].decode("utf-16-le", "replace")
    elif data[:2] == b"\xfe\xff":
        text = data[2:-1].decode("utf-16-be", "replace")
    else:
        return None
    return [text[text.rfind("\n") + 1:], re.split("[\r\n]", text)[-1]]


def reads_past_end(tail, key):
    """Whether the last line, with any character added, can be the line of
    this key: its name then holds or is held in the line's start."""
    k = wide_strip(cp1252_text(key.encode("latin-1")))
    for line in tail:
        name = wide_strip(line.split("=", 1)[0])
        if name.startswith(k) or k.startswith(name):
            return True
    return False


def crlf(text):
    """Latin-1 text with CR LF line ends, as bytes."""
    return text.replace("\n", "\r\n").encode("latin-1")


class Corpus:
    def __init__(self, unix_dir, win_dir):
        self.unix_dir = unix_dir
        self.win_dir = win_dir.rstrip("\\")
        self.queries = []
        self.left_out = []      # (query, reason)

    def win(self, name):
        return self.win_dir + "\\" + name

    def add(self, name, data, lookups, defaults=True):
        """Writes the file (None: leave it missing) and its lookups, each a
        (section, key) or (section, key, default) tuple."""
        tail = None
        if data is not None:
            with open(os.path.join(self.unix_dir, name), "wb") as f:
                f.write(data)
            tail = odd_utf16_tail(data)
        for q in lookups:
            section, key = q[0], q[1]
            default = q[2] if len(q) > 2 else "dflt"
            self.query(name, section, key, default, tail)
        if defaults:
            for d in DEFAULTS:
                self.query(name, "NoSuchSection", "k", d, tail)
                self.query(name, lookups[0][0] if lookups else "S", "NoSuchKey", d, tail)

    def query(self, name, section, key, default, tail=None):
        for field in (section, key, default):
            if any(c in field for c in "\t\r\n\0"):
                raise ValueError("a query field cannot hold tab, CR, LF or NUL: %r" % field)
        line = "\t".join((self.win(name), section, key, default))
        if tail is not None and reads_past_end(tail, key):
            self.left_out.append((line, "odd-length UTF-16 file: its last line reads past the end"))
        else:
            self.queries.append(line)

    def write_queries(self):
        self.query_path = os.path.join(self.unix_dir, "queries.txt")
        with open(self.query_path, "wb") as f:
            f.write(("\r\n".join(self.queries) + "\r\n").encode("latin-1"))
        return self.query_path


def hand_made(c):
    c.add("comments.ini", crlf(
        "[S]\n;k=commented\n; x = y\n#h=hash\nk=real\n;;\n  ;indented=1\n"
        "after=1 ; not a comment\n"),
        [("S", "k"), ("S", ";k"), ("S", "; x"), ("S", ";"), ("S", ";;"), ("S", "#h"),
         ("S", ";indented"), ("S", "after"), ("S", "x")])

    c.add("blank_lines.ini", crlf("\n\n[S]\n\n   \n\t\n\x0b\nk=v\n\n\n[T]\n\nt=1\n\n"),
          [("S", "k"), ("T", "t"), ("S", "t"), ("", "k")])

    c.add("quotes.ini", crlf(
        '[Q]\ndq="double"\nsq=\'single\'\nmix="mixed\'\nopen="only\nclose=only"\n'
        'empty2=""\nempty1="\nsingle1=\'\nspaced= "  in blanks  " \nmiddle="a"b"\n'
        'three="""\nquoted_q=\'"\'\nsq_trail=\'a\' \nlead=x"y"\nnested="\'a\'"\n'
        'twoq=""x""\n'),
        [("Q", k) for k in ("dq", "sq", "mix", "open", "close", "empty2", "empty1", "single1",
                            "spaced", "middle", "three", "quoted_q", "sq_trail", "lead",
                            "nested", "twoq")])

    c.add("blanks.ini", crlf(
        "[B]\n  k1  =  v1  \n\tk2\t=\tv2\t\nk 3 = v 3\nk4=\t\n\x0bk5\x0c=\x0cv5\x0b\n"
        "k6=v6   \n   k7=v7\n"),
        [("B", "k1"), ("B", " k1 "), ("B", "k2"), ("B", "k 3"), ("B", "k3"), ("B", "k4"),
         ("B", "k5"), ("B", "k6"), ("B", " k7"), (" B ", "k1"), ("B  ", "k2")])

    c.add("top_keys.ini", crlf("top=1\nother = 2\n[S]\nk=v\n"),
          [("", "top"), (" ", "top"), ("", "other"), ("S", "top"), ("", "k"), ("S", "k"),
           ("[]", "top")])

    c.add("empty_header.ini", crlf("top=1\n[]\ne=2\n[ ]\nb=3\n"),
          [("", "top"), ("", "e"), (" ", "b"), ("", "b")])

    c.add("repeats.ini", crlf("[S]\na=1\na=2\n[T]\nx=1\n[s]\na=3\nb=4\n[T]\ny=2\n"),
          [("S", "a"), ("S", "b"), ("T", "x"), ("T", "y"), ("s", "A")])

    c.add("no_equals.ini", crlf("[N]\nnovalue\nnovalue=later\nplain\nafter=1\n"),
          [("N", "novalue"), ("N", "plain"), ("N", "after")])

    c.add("equals_first.ini", crlf("[E]\n=value\n = spaced\n==double\na==b\nk=\n"),
          [("E", ""), ("E", " "), ("E", "  "), ("E", "="), ("E", "a"), ("E", "k")],
          defaults=False)

    c.add("empty_values.ini", crlf("[V]\nkey = \nkey2=\nkey3 =  \t\nkey4=\t \t\n"),
          [("V", "key"), ("V", "key2"), ("V", "key3"), ("V", "key4")])

    body = "[L]\nk=v\nnext=n\n[M]\nm=1\n"
    for label, ending in (("lf", "\n"), ("crlf", "\r\n"), ("cr", "\r"), ("lfcr", "\n\r"),
                          ("crcrlf", "\r\r\n")):
        c.add("ends_%s.ini" % label, body.replace("\n", ending).encode("latin-1"),
              [("L", "k"), ("L", "next"), ("M", "m"), ("L", "m")])
    # A lone CR in a file that also has LF line ends.
    c.add("ends_mixed.ini", b"[L]\r\nk=v\rnext=n\r\nm=1\rlast=2\n[M]\rm=1\n",
          [("L", "k"), ("L", "next"), ("L", "m"), ("L", "last"), ("M", "m")])
    c.add("ends_cr_then_lf.ini", b"[L]\rk=v\ra=1\n[M]\rm=1",
          [("L", "k"), ("L", "a"), ("M", "m")])

    c.add("no_final_end.ini", b"[S]\r\nfirst=1\r\nk=last", [("S", "k"), ("S", "first")])
    c.add("no_final_end_cr.ini", b"[S]\r\nk=last\r", [("S", "k")])
    c.add("header_only.ini", b"[S]", [("S", "k"), ("S", "")])
    c.add("key_only_line.ini", b"k=v", [("", "k"), ("S", "k")])

    long_lines = "[Long]\n"
    lookups = []
    for n in (498, 499, 500, 501, 600, 1200):
        long_lines += "v%d=%s\n" % (n, "".join(chr(ord("a") + i % 26) for i in range(n)))
        long_lines += "q%d=\"%s\"\n" % (n, "x" * (n - 1) + "Y")
        long_lines += "b%d=  %s  \n" % (n, "z" * n)
        lookups += [("Long", "v%d" % n), ("Long", "q%d" % n), ("Long", "b%d" % n)]
    long_lines += "%s=longkey\n" % ("K" * 600)
    long_lines += "[%s]\nin=longsection\n" % ("S" * 600)
    lookups += [("Long", "K" * 300)]
    c.add("long_values.ini", crlf(long_lines), lookups)
    c.query("long_values.ini", "Long", "d", "D" * 600)
    c.query("long_values.ini", "Long", "d", '"' + "E" * 498 + '"')
    c.query("long_values.ini", "Long", "d", '"' + "E" * 499 + '"')
    c.query("nonexistent.ini", "Long", "d", "F" * 600)

    c.add("case.ini", crlf("[SeTtInGs]\nAppNAME=x\nservicename=Mixed Case Value\n"),
          [("settings", "appname"), ("SETTINGS", "APPNAME"), ("Settings", "ServiceName"),
           ("sEtTiNgS", "SERVICENAME"), ("Settings", "App Name")])

    c.add("bracket_blanks.ini", crlf(
        "[ sp ]\na=1\n[\tsp2\t]\nb=2\n[sp3 ]\nc=3\n[ sp4]\nd=4\n  [lead]  \ne=5\n"
        "[ two words ]\nf=6\n"),
        [("sp", "a"), (" sp ", "a"), ("sp2", "b"), ("sp3", "c"), ("sp4", "d"), ("lead", "e"),
         ("two words", "f"), (" two words ", "f"), ("two  words", "f")])

    c.add("bracket_trailing.ini", crlf(
        "[tt] comment\na=1\n[tt2]]\nb=2\n[a]b]\nc=3\n[x]  ;c\nd=4\n[noclose\ne=5\n"
        "[noclose2=1\n[[dbl]]\nf=6\n[y] [z]\ng=7\n"),
        [("tt", "a"), ("tt] comment", "a"), ("tt2", "b"), ("tt2]", "b"), ("a]b", "c"),
         ("a", "c"), ("x", "d"), ("x]  ;c", "d"), ("noclose", "e"), ("x", "e"),
         ("x", "[noclose"), ("x", "[noclose2"), ("[dbl]", "f"), ("dbl", "f"),
         ("y] [z", "g"), ("y", "g")])

    c.add("nul_bytes.ini",
          b"[N]\r\nk\0x=1\r\nv=a\0b\r\nq=\"a\0\"\r\n\0z=2\r\ntail=t \0 \r\n[s\0ec]\r\nin=1\r\n"
          b"[w]\0junk\r\nw=1\r\nafter\0=3\r\n",
          [("N", "k"), ("N", "k\x01x"), ("N", "v"), ("N", "q"), ("N", " "), ("N", "z"),
           ("N", "tail"), ("s", "in"), ("N", "in"), ("w", "w"), ("s", "w"), ("s", "after"),
           ("w", "after")])

    high = bytes(range(0x80, 0x100)).decode("latin-1")
    c.add("high_bytes.ini", crlf(
        "[\xc4bc]\n\xc9key=\xffvalue\n\x8aS=caron\n\x9fY=1\n\xdf=sharp\n\xb5=micro\n"
        "all=%s\n[\xe9t\xe9]\nx=1\n[\xd7]\nt=1\n" % high),
        [("\xe4BC", "\xe9KEY"), ("\xc4BC", "\xc9key"), ("\xc4bc", "\x9as"), ("\xc4bc", "\xffy"),
         ("\xc4bc", "\xdf"), ("\xc4bc", "SS"), ("\xc4bc", "\xb5"), ("\xc4bc", "all"),
         ("\xc9T\xc9", "x"), ("\xf7", "t"), ("\xd7", "t")])

    # Which bytes count as blanks around names and values.
    probe = "[P]\n"
    lookups = []
    for b in list(range(0x01, 0x20)) + [0x20, 0x7f] + list(range(0x80, 0x100)):
        if b in (0x0a, 0x0d):
            continue
        ch = chr(b)
        probe += "%sn%02x%s=%sv%s\n" % (ch, b, ch, ch, ch)
        lookups.append(("P", "n%02x" % b))
    c.add("blank_probe.ini", crlf(probe), lookups, defaults=False)

    c.add("ctrl_z.ini", b"[Z]\r\nk=v\x1a\r\n\x1a\r\nz=1\r\n\x1a", [("Z", "k"), ("Z", "z")])

    unicode_body = (b"[U]\r\nk=unicode value\r\n\xc9t\xe9=accent\r\nq=\"quoted\"\r\n"
                    b"[Second]\r\nx= y \r\n")
    uq = [("U", "k"), ("U", "\xe9t\xe9"), ("U", "\xc9t\xe9"), ("U", "q"), ("Second", "x"),
          ("U", "x")]
    c.add("utf16le_bom.ini", utf16(unicode_body), uq)
    c.add("utf16be_bom.ini", utf16(unicode_body, big_endian=True), uq)
    c.add("utf16le_nobom.ini", utf16(unicode_body, bom=False), uq + [("", "k")])
    c.add("utf16le_odd.ini", utf16(b"[U]\r\nk=v\r\nlast=z") + b"A", [("U", "k"), ("U", "last")])
    c.add("utf8_bom.ini", utf8(unicode_body), uq)
    c.add("utf8_nobom.ini", utf8(unicode_body, bom=False), uq + [("U", "\xc3\x89t\xc3\xa9")])
    c.add("utf8_broken.ini", b"\xef\xbb\xbf[U]\r\nbad=a\xffb\r\ncut=a\xc3\r\nlone=a\x80b\r\n"
          b"long=a\xc0\xafb\r\nfour=a\xf0\x9f\x98\x80b\r\nsur=a\xed\xa0\x80b\r\n"
          b"e0=a\xe0\x80\x80b\r\nf4=a\xf4\x90\x80\x80b\r\nbreak=a\xe2\x82b\xe9x\r\n"
          b"ok=\xc3\xa9\xe2\x82\xac\xc5\xb8\r\nf0=a\xf0\x8f\xbf\xbfb\r\ne0ok=\xe0\xa0\x80b\r\n"
          b"c2=a\xc2b\r\nend=\xe2\x82",
          [("U", k) for k in ("bad", "cut", "lone", "long", "four", "sur", "e0", "f4", "break",
                              "ok", "f0", "e0ok", "c2", "end")])
    c.add("bom_only.ini", b"\xff\xfe", [("U", "k")])

    c.add("nul_blanks.ini", b"[ s \0]\r\n k \0= v \0 \r\n[t\0 ]\r\nx=1\r\n",
          [("s", "k"), ("s ", "k"), ("s", "k "), ("t", "x")])
    c.add("unnamed_first.ini", crlf("[]\nk=1\n[S]\ns=2\n[]\nlate=3\n"),
          [("", "k"), (" ", "k"), ("", "late"), ("S", "s")])
    # Outside code page 1252 only characters that have no look-alike there:
    # the real reader maps others to the nearest byte ("\u0100" to "A") and
    # compares names before the mapping, which the simulated reader does not do.
    wide = "[W]\r\ncjk=a\u4e2db\r\nboth=\u4e2d\u20ac\u0178\r\n"
    c.add("utf16le_wide.ini", b"\xff\xfe" + wide.encode("utf-16-le"),
          [("W", "cjk"), ("W", "both")])
    c.add("utf16be_odd.ini", utf16(b"[U]\r\nk=v\r\nlast=z", big_endian=True) + b"A",
          [("U", "k"), ("U", "last")])
    c.add("empty.ini", b"", [("S", "k"), ("", "k")])
    c.add("missing.ini", None, [("S", "k"), ("", "")])

    # A small configuration as the service reads it.
    c.add("config.ini", crlf(
        "[Settings]\nServiceName=(Quarn) Server Loader   ; the service's name\n"
        "UserInterface = Yes\nRestartInterval=  250ms\n\n[Process_0]\n"
        "AppName=C:\\Servers\\game\\srv.exe\nCommandLine=-port 27015\nStartDir=\n"
        "Priority=HIGH\nWindow=Minimize\n[process_1]\nAppName=\"C:\\Program Files\\x.exe\"\n"),
        [("Settings", "ServiceName", "(Quarn) Server Loader"), ("Settings", "UserInterface", "yes"),
         ("Settings", "RestartInterval", "1000"), ("Process_0", "AppName", ""),
         ("Process_0", "CommandLine", ""), ("Process_0", "StartDir", ""),
         ("Process_0", "Priority", "normal"), ("Process_0", "Window", "showna"),
         ("Process_0", "AutoRestart", "yes"), ("Process_1", "AppName", ""),
         ("Process_2", "AppName", "")])

    # Query names are trimmed; an empty key gives the default.
    c.add("query_names.ini", crlf("[S]\nk=v\n=nameless\n"),
          [(" S", "k"), ("S ", " k "), ("\x0bS", "k"), ("S", ""), ("S", " "), ("", ""),
           ("S", "k", "   "), ("S", "", '"q"'), ("S", "", NULL)])


# -- random files ------------------------------------------------------------

SECTIONS = ["Settings", "Process_0", "Process_1", "S", "\xc4rger", "a b", "x"]
KEYS = ["AppName", "k", "Key", "ServiceName", "v", "\xe9t\xe9", "a b", ";c", "#h", "[x"]


def random_case(rng, name):
    return "".join(ch.upper() if rng.random() < 0.5 else ch.lower() for ch in name)


def random_blanks(rng):
    return rng.choice(["", "", "", " ", "  ", "\t", " \t ", "\x0b"])


def random_value(rng):
    kind = rng.random()
    if kind < 0.05:
        return ""
    if kind < 0.12:
        n = rng.choice([497, 498, 499, 500, 501, 600])
        return "".join(rng.choice("abcXYZ019 ") for _ in range(n)).strip() + "e"
    chars = "abcdefXYZ0123456789 .,\\:-_\"'=;#[]" + "\xe9\xff\x80\xa0\x9d"
    text = "".join(rng.choice(chars) for _ in range(rng.randint(1, 24)))
    if rng.random() < 0.2:
        q = rng.choice("\"'")
        text = q + text + (q if rng.random() < 0.7 else "")
    if rng.random() < 0.03:
        text = text[:3] + "\0" + text[3:]
    return text


def random_line(rng, sections, keys):
    kind = rng.random()
    if kind < 0.15:
        name = random_case(rng, rng.choice(sections))
        line = random_blanks(rng) + "[" + random_blanks(rng) + name + random_blanks(rng) + "]"
        if rng.random() < 0.1:
            line += rng.choice([" ;x", "]", " trailing"])
        return line
    if kind < 0.22:
        return rng.choice([";", "#", "; "]) + random_value(rng)
    if kind < 0.28:
        return random_blanks(rng)
    if kind < 0.32:
        return random_case(rng, rng.choice(keys))       # no equals sign
    if kind < 0.34:
        return "=" + random_value(rng)
    key = random_case(rng, rng.choice(keys))
    return (random_blanks(rng) + key + random_blanks(rng) + "=" + random_blanks(rng) +
            random_value(rng) + random_blanks(rng))


def random_file(rng):
    sections = rng.sample(SECTIONS, rng.randint(1, 4))
    keys = rng.sample(KEYS, rng.randint(2, 6))
    lines = [random_line(rng, sections, keys) for _ in range(rng.randint(0, 30))]
    style = rng.random()
    ends = ["\r\n"] if style < 0.5 else ["\n"] if style < 0.7 else ["\r"] if style < 0.8 \
        else ["\r\n", "\n", "\r"]
    body = ""
    for line in lines:
        body += line + rng.choice(ends)
    if body and rng.random() < 0.2:
        body = body.rstrip("\r\n")
    data = body.encode("latin-1")
    enc = rng.random()
    if enc < 0.06:
        data = utf16(data)
    elif enc < 0.08:
        data = utf8(data)
        if rng.random() < 0.5:      # broken sequences too
            junk = bytes(rng.choice([0x80, 0xBF, 0xC0, 0xC3, 0xE2, 0xED, 0xF0, 0xF4, 0xFF])
                         for _ in range(rng.randint(1, 6)))
            cut = rng.randint(3, len(data))
            data = data[:cut] + junk + data[cut:]
    return data, sections, keys


SOUP = b"[]=;#\r\n \t\x0b\x1a\0\"'aAbB\x80\xa0\xc3\xe9\xef\xbb\xbf\xfe\xff"


def byte_soup(rng):
    """Bytes that are not a profile file at all, but from the alphabet that
    matters to the reader, sometimes behind a byte-order mark."""
    data = bytes(rng.choice(SOUP) for _ in range(rng.randint(0, 300)))
    mark = rng.choice([b"", b"", b"", b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff"])
    return mark + data, ["a", "A", "b", "ab", "", "[a"], ["a", "b", "ab", "B", "", ";a", "]"]


def random_files(c, rng, count):
    for i in range(count):
        data, sections, keys = byte_soup(rng) if i % 10 == 9 else random_file(rng)
        name = "random_%03d.ini" % i
        lookups = []
        for _ in range(rng.randint(6, 12)):
            section = rng.choice(sections + ["Missing", ""]) if rng.random() < 0.9 else \
                rng.choice(SECTIONS)
            key = rng.choice(keys + ["missing"]) if rng.random() < 0.9 else rng.choice(KEYS)
            if rng.random() < 0.3:
                section = random_case(rng, section)
            if rng.random() < 0.3:
                key = random_case(rng, key)
            if rng.random() < 0.1:
                key = " " + key + " "
            lookups.append((section, key, rng.choice(DEFAULTS)))
        c.add(name, data, lookups, defaults=False)


def write_corpus(unix_dir, win_dir, seed=20070305, random_count=200):
    """Writes the corpus; returns the Corpus (its query_path, queries and
    left_out)."""
    os.makedirs(unix_dir, exist_ok=True)
    c = Corpus(unix_dir, win_dir)
    hand_made(c)
    random_files(c, random.Random(seed), random_count)
    c.write_queries()
    return c


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("unix_dir")
    ap.add_argument("windows_dir")
    ap.add_argument("--seed", type=int, default=20070305)
    ap.add_argument("--random", type=int, default=200)
    args = ap.parse_args()
    c = write_corpus(args.unix_dir, args.windows_dir, args.seed, args.random)
    print("%s: %d lookups, %d left out" % (c.query_path, len(c.queries), len(c.left_out)))


if __name__ == "__main__":
    main()
