"""The end-to-end case table of modreg.

Each case lays out files in the registry folders of a Wine prefix, runs
the tool once or more, and states everything that must hold afterwards:
the exit status, standard output, standard error, and the complete set of
files left in those folders, byte for byte.

File keys name a path below one of the registry folders:
  "pf/..."    C:\\Program Files\\OpenNI\\Data\\...
  "pf86/..."  C:\\Program Files (x86)\\OpenNI\\Data\\...
  "prod/..."  C:\\Program Files\\HALDEToF\\..., made only when a case puts
              files there
  "tprod/..." C:\\Program Files\\TOLVARToF\\..., likewise
  "fw/..."    C:\\Frameworks\\OpenNI\\Data\\...
  "d/..."     D:\\OpenNI\\Data\\... (D: is drive_c\\DriveD)
  "sys/...", "wow/..."  C:\\windows\\system32\\modreg-test\\... and
              C:\\windows\\syswow64\\modreg-test\\..., likewise
A value is the file's bytes, DIR for a directory, FIFO for a FIFO, a Link,
a HardLink, or a Built test module.

Expected registries are written out here line by line; the tool writes
CR LF line ends and one empty line after the last element.
"""

import os
import re
import struct
from dataclasses import dataclass, field

esc = re.escape  # text as a pattern matching it literally


class _Dir:
    def __repr__(self):
        return "<directory>"


DIR = _Dir()          # a directory in a file layout


class _Fifo:
    def __repr__(self):
        return "<FIFO>"


FIFO = _Fifo()        # a FIFO (named pipe) in a file layout


@dataclass(frozen=True)
class Link:
    """A symbolic link in a file layout, to |target| (which may not exist)."""
    target: str


@dataclass(frozen=True)
class HardLink:
    """A second name for the file |target| (a key of the same layout, laid
    out before it) in a file layout."""
    target: str


@dataclass(frozen=True)
class Built:
    """A file of the test build in a file layout: a test module
    (tests/modules) by its name."""
    name: str


@dataclass(frozen=True)
class Record:
    """An undo record in a file layout: the tool's format, of the run of
    |id| and |action|, holding the registry's bytes |before|."""
    id: str
    action: str
    before: bytes


@dataclass(frozen=True)
class Moded:
    """A file in a file layout with its POSIX mode's permission bits: laid
    out with |mode|; expected with |content| and, of its mode, no bits
    outside |mode|."""
    content: bytes
    mode: int


SHORT = object()      # the short-command-line message, in the build's line end
HOST = "{host}"       # after a C: path in Out: " (its host path)" natively


@dataclass(frozen=True)
class Out:
    """Standard output as lines of text, each ended in the build's line end
    (CR LF for the Windows build)."""
    lines: tuple
UNCHANGED = None      # every file as it was before the step


@dataclass(frozen=True)
class Lines:
    """A text file in a file layout (a log), checked as standard error is:
    one tuple of patterns per line; each line ends in the build's line
    end."""
    lines: tuple

BOTH = ("64", "32")   # prefix kinds: with and without WOW64
ALL_MODES = ("native", "win64", "win32")


@dataclass
class Step:
    args: list
    put: dict = field(default_factory=dict)   # files laid out before the run
    status: int = 0
    stdout: object = b""
    # Standard error, line by line: one tuple of regular expressions per
    # line, each found in that line; exactly that many lines. () means
    # standard error must be empty.
    stderr: tuple = ()
    after: dict = UNCHANGED                   # complete expected file set
    env: dict = field(default_factory=dict)   # added to the environment
    # Under Wine, the machine's framework variables, name: (type, data);
    # the others deleted. None leaves them as they are.
    machine: dict = None
    # Folders of drive C: ("Frameworks") that anyone may write (mode 777)
    # during the run; 755 again afterwards.
    writable: tuple = ()
    # Natively, a file size limit in bytes for the run (RLIMIT_FSIZE).
    file_limit: int = None


@dataclass
class Case:
    name: str
    steps: list
    arches: tuple = BOTH
    modes: tuple = ALL_MODES
    absent: tuple = ()        # registry folders ("pf", "pf86") left out
    # Set while the tool is known to get this case wrong in these modes;
    # the case still counts as failed there, and the note is printed.
    defect: str = ""
    defect_modes: tuple = ()


# --------------------------------------------------------------------------
# Byte helpers.

def _b(line):
    return line if isinstance(line, bytes) else line.encode("utf-8")


def crlf(*lines):
    """Lines as a Windows editor saves them: each ends in CR LF."""
    return b"".join(_b(line) + b"\r\n" for line in lines)


def lf(*lines):
    return b"".join(_b(line) + b"\n" for line in lines)


def written(*lines):
    """A registry as the tool writes it: CR LF after every line, then the
    document's own line end."""
    return crlf(*lines) + b"\r\n"


def mod(path, config=None, tabs=1):
    cfg = ' configDir="%s"' % config if config is not None else ""
    return "\t" * tabs + '<Module path="%s"%s/>' % (path, cfg)


REG = r"C:\Program Files\OpenNI\Data\modules.xml"
REG86 = r"C:\Program Files (x86)\OpenNI\Data\modules.xml"

FW = r"C:\Program Files\OpenNI\Bin\FrameworkModule.dll"
FW2 = r"C:\Program Files\OpenNI\Bin\FrameworkRecorder.dll"

# The module entries the tool writes, spelt out.
H1 = r"C:\Program Files\HALDEToF\SensorModule.dll"
H2 = r"C:\Program Files\HALDEToF\SensorModule_QA4.dll"
H3 = r"C:\Program Files\HALDEToF\libskelvia_ni.dll"
H3C = "C:\\Program Files\\HALDEToF\\data\\"
H5 = r"C:\Program Files\HALDEToF\SensorModule_QB7.dll"
T1 = r"C:\Program Files\TOLVARToF\SensorModule.dll"
T2 = r"C:\Program Files\TOLVARToF\SensorModule_QA4.dll"
T3 = r"C:\Program Files\TOLVARToF\libskelvia_ni.dll"
T3C = "C:\\Program Files\\TOLVARToF\\data\\"
T5 = r"C:\Program Files\TOLVARToF\SensorModule_QB7.dll"
T6 = r"C:\Program Files\TOLVARToF\SensorModule_QC9.dll"
V6 = r"C:\Program Files\HALDEVMR\SensorModule_QC9.dll"
X1 = r"C:\Program Files (x86)\HALDEToF\SensorModule.dll"
X3 = r"C:\Program Files (x86)\HALDEToF\libskelvia_ni.dll"
X3C = "C:\\Program Files (x86)\\HALDEToF\\data\\"

# A framework registry with one module of its own.
BASE = crlf("<Modules>", mod(FW), "</Modules>")
# Another one, told apart from BASE, for the folder that must stay as it is.
OTHER = crlf("<Modules>", mod(FW2), "</Modules>")


def base_with(*new_lines):
    return written("<Modules>", mod(FW), *new_lines, "</Modules>")


# Patterns for standard error.
def reason_after(name):
    """|name| followed by its reason: a colon, a blank and a word. The
    native build names a registry's host path between them, in
    parentheses."""
    return esc(name) + r"(?: \(/.*?\))?: \w"


CANNOT_READ = ((r"^modreg: cannot read ", reason_after(REG)),)
MALFORMED = (r"^modreg: cannot update ", reason_after(REG))  # one line


# --------------------------------------------------------------------------
# Case builders.

def edit(name, registry, mask, new, word="x64", extra=(), **kw):
    """One run over a registry in Program Files that rewrites it: the
    backup holds the old bytes."""
    return Case(name, [Step(
        args=[word, mask, *extra],
        put={"pf/modules.xml": registry},
        after={"pf/modules.xml": new, "pf/modules.xml.old": registry})], **kw)


def keep(name, registry, mask, word="x64", **kw):
    """One run that makes the backup but leaves the registry as it was."""
    return Case(name, [Step(
        args=[word, mask],
        put={"pf/modules.xml": registry},
        after={"pf/modules.xml": registry, "pf/modules.xml.old": registry})],
        **kw)


def refuse(name, registry, status, line, mask="1", **kw):
    """One run that refuses the registry: nothing written but the backup
    made in the same pass; one line on standard error matching all the
    patterns of |line|."""
    return Case(name, [Step(
        args=["x64", mask],
        put={"pf/modules.xml": registry},
        status=status, stderr=(line,),
        after={"pf/modules.xml": registry, "pf/modules.xml.old": registry})],
        **kw)


def untouched(name, args, status, stdout=b"", stderr=(), **kw):
    """A run that must neither create nor change a file: registries in
    both folders, one with a backup beside it."""
    put = {"pf/modules.xml": BASE, "pf86/modules.xml": OTHER,
           "pf86/modules.xml.old": BASE}
    return Case(name, [Step(args=args, put=put, status=status, stdout=stdout,
                            stderr=stderr, after=UNCHANGED)], **kw)


def deep(levels):
    """Modules and elements nested inside it, |levels| deep in all."""
    inner = levels - 1
    return ("<Modules>" + "<d>" * inner + "</d>" * inner + "</Modules>").encode()


def deep_written(levels, *new_lines):
    inner = levels - 1
    lines = ["<Modules>"]
    lines += ["\t" * i + "<d>" for i in range(1, inner)]
    lines.append("\t" * inner + "<d/>")
    lines += ["\t" * i + "</d>" for i in range(inner - 1, 0, -1)]
    return written(*lines, *new_lines, "</Modules>")


# --------------------------------------------------------------------------
# The table.

CASES = []
add = CASES.append
extend = CASES.extend

# ---- Command line -------------------------------------------------------

extend([
    untouched("no argument", [], 255, stdout=SHORT),
    untouched("one argument", ["x86"], 255, stdout=SHORT),
    untouched("one argument, a mask", ["5"], 255, stdout=SHORT),
])
add(edit("a third argument is ignored", BASE, "1", base_with(mod(H1)),
         extra=["x86"]))

for bad in ["abc", "", "-", "+", " ", "2147483648", "-2147483649",
            "99999999999999999999", "x1"]:
    add(untouched("refused mask %r" % bad, ["x86", bad], 2,
                  stderr=((r"^modreg: invalid device mask ",
                           reason_after('"%s"' % bad)),)))

# ---- Device mask and product folder ------------------------------------

extend([
    edit("mask 1: the four-line example", BASE, "1", written(
        "<Modules>",
        "\t" + r'<Module path="C:\Program Files\OpenNI\Bin\FrameworkModule.dll"/>',
        "\t" + r'<Module path="C:\Program Files\HALDEToF\SensorModule.dll"/>',
        "</Modules>")),
    edit("mask 2", BASE, "2", base_with(mod(H2))),
    edit("mask 4: a config directory", BASE, "4", base_with(mod(H3, H3C))),
    edit("mask 5: two entries in bit order", BASE, "5",
         base_with(mod(H1), mod(H3, H3C))),
    edit("mask 8: folder of bit 3", BASE, "8", base_with(mod(T1))),
    edit("mask 9: two identical entries", BASE, "9",
         base_with(mod(T1), mod(T1))),
    edit("mask 16", BASE, "16", base_with(mod(H5))),
    edit("mask 32: folder of bit 5", BASE, "32", base_with(mod(V6))),
    edit("mask 40: bit 3 wins over bit 5", BASE, "40",
         base_with(mod(T1), mod(T6))),
    edit("mask ' -1': all six types", BASE, " -1", base_with(
        mod(T1), mod(T2), mod(T3, T3C), mod(T1), mod(T5), mod(T6))),
    edit("mask 2147483647: all six types", BASE, "2147483647", base_with(
        mod(T1), mod(T2), mod(T3, T3C), mod(T1), mod(T5), mod(T6))),
    edit("mask 12abc reads as 12", BASE, "12abc",
         base_with(mod(T3, T3C), mod(T1))),
    edit("mask +5 reads as 5", BASE, "+5", base_with(mod(H1), mod(H3, H3C))),
    edit("mask 65: bit 6 is ignored", BASE, "65", base_with(mod(H1))),
    keep("mask 0: backup made, registry unchanged", BASE, "0"),
    keep("mask 0x20 reads as 0", BASE, "0x20"),
    keep("mask 64: no type, nothing written", BASE, "64"),
    keep("mask -2147483648: no type", BASE, "-2147483648"),
])

# ---- Architecture --------------------------------------------------------

TRACED_IN = crlf(
    "<Modules>",
    mod(r"C:\Program Files (x86)\OpenNI\Bin\FrameworkModule.dll"),
    mod(r"C:\Program Files (x86)\HALDEToF\SensorModule.dll"),
    "</Modules>")

extend([
    Case("traced run: x86 5 on a 64-bit system", [Step(
        args=["x86", "5"],
        put={"pf/modules.xml": BASE, "pf86/modules.xml": TRACED_IN},
        after={"pf/modules.xml": BASE,
               "pf86/modules.xml": written(
                   "<Modules>",
                   "\t" + r'<Module path="C:\Program Files (x86)\OpenNI\Bin\FrameworkModule.dll"/>',
                   "\t" + r'<Module path="C:\Program Files (x86)\HALDEToF\SensorModule.dll"/>',
                   "\t" + r'<Module path="C:\Program Files (x86)\HALDEToF\libskelvia_ni.dll" configDir="C:\Program Files (x86)\HALDEToF\data\"/>',
                   "</Modules>"),
               "pf86/modules.xml.old": TRACED_IN})],
        arches=("64",)),
    Case("x86 5 on a 32-bit system uses Program Files", [Step(
        args=["x86", "5"],
        put={"pf/modules.xml": BASE, "pf86/modules.xml": TRACED_IN},
        after={"pf/modules.xml": base_with(mod(H1), mod(H3, H3C)),
               "pf/modules.xml.old": BASE,
               "pf86/modules.xml": TRACED_IN})],
        arches=("32",)),
    Case("x86 16 on a 64-bit system", [Step(
        args=["x86", "16"],
        put={"pf86/modules.xml": BASE},
        after={"pf86/modules.xml": base_with(
                   mod(r"C:\Program Files (x86)\HALDEToF\SensorModule_QB7.dll")),
               "pf86/modules.xml.old": BASE})],
        arches=("64",)),
])
for word in ["X86", "x86 ", " x86", "x64", "x86_64", ""]:
    add(Case("architecture word %r never adds (x86)" % word, [Step(
        args=[word, "1"],
        put={"pf/modules.xml": BASE, "pf86/modules.xml": OTHER},
        after={"pf/modules.xml": base_with(mod(H1)),
               "pf/modules.xml.old": BASE,
               "pf86/modules.xml": OTHER})]))

# ---- Removal walk (mask 1: folder HALDEToF) ----------------------------

extend([
    edit("walk: the first child matches", crlf(
        "<Modules>", mod(H1), mod(FW), "</Modules>"), "1",
        written("<Modules>", mod(FW), mod(H1), "</Modules>")),
    edit("walk: every Module matches", crlf(
        "<Modules>",
        '\t<Setting name="log" value="1"/>',
        mod(H1), mod(H3, H3C), mod(r"C:\Program Files\HALDEToF\Old.dll"),
        "</Modules>"), "1",
        written("<Modules>", '\t<Setting name="log" value="1"/>', mod(H1),
                "</Modules>")),
    edit("walk: the folder name in another case stays", crlf(
        "<Modules>",
        mod(r"c:\program files\haldetof\sensormodule.dll"),
        mod(r"C:\Program Files\HaldeToF\SensorModule.dll"),
        mod(r"C:\Program Files\HALDETOF\SensorModule.dll"),
        "</Modules>"), "1",
        written("<Modules>",
                mod(r"c:\program files\haldetof\sensormodule.dll"),
                mod(r"C:\Program Files\HaldeToF\SensorModule.dll"),
                mod(r"C:\Program Files\HALDETOF\SensorModule.dll"),
                mod(H1), "</Modules>")),
    edit("walk: a longer folder name on another drive is removed", crlf(
        "<Modules>",
        mod(r"D:\Drivers\HALDEToF2\SensorModule.dll"),
        mod(FW),
        mod(r"E:\xHALDEToFx.dll"),
        "</Modules>"), "1",
        base_with(mod(H1))),
    edit("walk: another element before the first Module stays, after it goes",
         crlf("<Modules>",
              r'	<Extra path="C:\Program Files\HALDEToF\before.dll"/>',
              mod(FW),
              r'	<Extra path="C:\Program Files\HALDEToF\after.dll"/>',
              r'	<Extra path="C:\Other\after.dll"/>',
              "</Modules>"), "1",
         written("<Modules>",
                 r'	<Extra path="C:\Program Files\HALDEToF\before.dll"/>',
                 mod(FW),
                 r'	<Extra path="C:\Other\after.dll"/>',
                 mod(H1), "</Modules>")),
    edit("walk: entries under the other root are removed too", crlf(
        "<Modules>",
        mod(r"C:\Program Files (x86)\HALDEToF\SensorModule.dll"),
        mod(FW),
        mod(r"C:\Program Files\HALDEToF\libskelvia_ni.dll", H3C),
        "</Modules>"), "1",
        base_with(mod(H1))),
    edit("walk: other products' folders stay (mask 1)", crlf(
        "<Modules>", mod(T1), mod(H1), mod(V6), "</Modules>"), "1",
        written("<Modules>", mod(T1), mod(V6), mod(H1), "</Modules>")),
    edit("walk: other products' folders stay (mask 8)", crlf(
        "<Modules>", mod(H1), mod(T1), mod(V6), mod(T3, T3C), "</Modules>"),
        "8",
        written("<Modules>", mod(H1), mod(V6), mod(T1), "</Modules>")),
    edit("walk: other products' folders stay (mask 32)", crlf(
        "<Modules>", mod(V6), mod(H1), mod(T6), "</Modules>"), "32",
        written("<Modules>", mod(H1), mod(T6), mod(V6), "</Modules>")),
    edit("walk: a Module without path stays and the walk goes on", crlf(
        "<Modules>",
        '\t<Module name="nopath"/>',
        mod(H1),
        r'	<Module configDir="C:\Program Files\HALDEToF\data\"/>',
        r'	<Module Path="C:\Program Files\HALDEToF\Upper.dll"/>',
        mod(r"C:\Program Files\HALDEToF\Last.dll"),
        "</Modules>"), "1",
        written("<Modules>",
                '\t<Module name="nopath"/>',
                r'	<Module configDir="C:\Program Files\HALDEToF\data\"/>',
                r'	<Module Path="C:\Program Files\HALDEToF\Upper.dll"/>',
                mod(H1), "</Modules>")),
    refuse("walk: an attribute twice, which the framework refuses", crlf(
        "<Modules>",
        r'	<Module path="C:\Keep\a.dll" path="C:\Program Files\HALDEToF\b.dll"/>',
        r'	<Module configDir="C:\Keep\" path="C:\Program Files\HALDEToF\c.dll"/>',
        "</Modules>"), 4, MALFORMED + (
            r'reader refuses it: attribute "path" given twice in one element '
            r"at line 2, column 31$",)),
    edit("walk: text and CDATA after the first Module stay",
         crlf("<Modules>" + mod(FW, tabs=0) + "note HALDEToF"
              + "<![CDATA[C:\\HALDEToF\\]]>" + mod(H1, tabs=0)
              + "</Modules>"), "1",
         written("<Modules>", mod(FW), "\tnote HALDEToF",
                 "\t<![CDATA[C:\\HALDEToF\\]]>", mod(H1), "</Modules>")),
    edit("walk: grandchildren are not examined", crlf(
        "<Modules>",
        "\t<Group>",
        mod(r"C:\Program Files\HALDEToF\Nested.dll", tabs=2),
        "\t</Group>",
        mod(H1),
        "</Modules>"), "1",
        written("<Modules>", "\t<Group>",
                mod(r"C:\Program Files\HALDEToF\Nested.dll", tabs=2),
                "\t</Group>", mod(H1), "</Modules>")),
    edit("walk: no Module child, nothing examined", crlf(
        "<Modules>",
        r'	<Extra path="C:\Program Files\HALDEToF\x.dll"/>',
        "</Modules>"), "1",
        written("<Modules>",
                r'	<Extra path="C:\Program Files\HALDEToF\x.dll"/>',
                mod(H1), "</Modules>")),
    edit("walk: empty Modules element", crlf("<Modules/>"), "1",
         written("<Modules>", mod(H1), "</Modules>")),
    keep("walk: removals are not saved when the mask names no type", crlf(
        "<Modules>", mod(H1), mod(FW), "</Modules>"), "0"),
])
add(edit("walk: only the first Modules is edited", crlf(
    "<Modules>", mod(FW), "</Modules>",
    "<Modules>", mod(H3, H3C), "</Modules>"), "1",
    written("<Modules>", mod(FW), mod(H1), "</Modules>",
            "<Modules>", mod(H3, H3C), "</Modules>")))

# ---- Written format (mask 1) --------------------------------------------

NEW = mod(H1)

extend([
    edit("format: declaration, DOCTYPE, comments, PI and BOM dropped",
         b"\xef\xbb\xbf" + crlf(
             '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
             "<!DOCTYPE Modules [ <!ELEMENT Modules ANY> <!ATTLIST Module path CDATA #REQUIRED> ]>",
             "<!-- framework modules -->",
             '<Modules version="2">',
             "\t<!-- the mock module -->",
             mod(FW),
             "\t<?refresh now?>",
             "</Modules>",
             "<!-- end -->"), "1",
         written('<Modules version="2">', mod(FW), NEW, "</Modules>")),
    edit("format: entity references in attribute values",
         crlf("<Modules>",
              '\t<A v="a&amp;b&lt;c&gt;d&apos;e"/>',
              '\t<B v="say &quot;hi&quot; &amp; it&apos;s &lt;ok&gt;"/>',
              "\t<C v='&quot;'/>",
              '\t<D v="a>b"/>',
              "</Modules>"), "1",
         written("<Modules>",
                 "\t<A v=\"a&amp;b&lt;c&gt;d'e\"/>",
                 "\t<B v='say \"hi\" &amp; it&apos;s &lt;ok&gt;'/>",
                 "\t<C v='\"'/>",
                 '\t<D v="a&gt;b"/>',
                 NEW, "</Modules>")),
    edit("format: entity references in text",
         crlf("<Modules>",
              "\t<T>a &amp; b &lt;c&gt; &quot;q&quot; &apos;s&apos;</T>",
              "\t<R>it's \"raw\" > here</R>",
              "</Modules>"), "1",
         written("<Modules>",
                 "\t<T>a &amp; b &lt;c&gt; &quot;q&quot; &apos;s&apos;</T>",
                 "\t<R>it&apos;s &quot;raw&quot; &gt; here</R>",
                 NEW, "</Modules>")),
    edit("format: numeric references become UTF-8 bytes",
         crlf("<Modules>",
              '\t<A v="caf&#233;|&#xE9;|&#x20AC;|&#128512;|&#65;&#x42;"/>',
              "\t<T>&#233;&#x20ac;&#38;&#60;&#x3E;&#34;&#39;</T>",
              "</Modules>"), "1",
         written("<Modules>",
                 b'\t<A v="caf\xc3\xa9|\xc3\xa9|\xe2\x82\xac|\xf0\x9f\x98\x80|AB"/>',
                 b"\t<T>\xc3\xa9\xe2\x82\xac&amp;&lt;&gt;&quot;&apos;</T>",
                 NEW, "</Modules>")),
    edit("format: an unknown named reference keeps its text",
         crlf("<Modules>",
              "\t<T>&foo; &nbsp;</T>",
              '\t<A v="&foo;"/>',
              "</Modules>"), "1",
         written("<Modules>",
                 "\t<T>&amp;foo; &amp;nbsp;</T>",
                 '\t<A v="&amp;foo;"/>',
                 NEW, "</Modules>")),
    edit("format: single quotes, empty values, spacing inside tags",
         crlf("<Modules>",
              r"	<Module path='C:\Program Files\OpenNI\Bin\Single.dll'/>",
              "\t<E a=\"\" b='' c = \"x\"   />",
              "\t<Q v='it\"s'/>",
              "</Modules  >"), "1",
         written("<Modules>",
                 r'	<Module path="C:\Program Files\OpenNI\Bin\Single.dll"/>',
                 '\t<E a="" b="" c="x"/>',
                 "\t<Q v='it\"s'/>",
                 NEW, "</Modules>")),
    edit("format: text-only elements on one line, white space kept",
         crlf("<Modules>",
              "\t<Name>  two  spaces\tand a tab  </Name>",
              "\t<Multi>",
              "first",
              "  second</Multi>",
              "</Modules>"), "1",
         written("<Modules>",
                 "\t<Name>  two  spaces\tand a tab  </Name>",
                 "\t<Multi>",
                 "first",
                 "  second</Multi>",
                 NEW, "</Modules>")),
    edit("format: blank and empty elements are closed",
         crlf("<Modules>",
              "\t<x>  </x>",
              "\t<y></y>",
              '\t<z a="1">',
              "\t</z>",
              "</Modules>"), "1",
         written("<Modules>", "\t<x/>", "\t<y/>", '\t<z a="1"/>', NEW,
                 "</Modules>")),
    edit("format: CDATA on its own line, content unchanged",
         crlf("<Modules>",
              '\t<Script><![CDATA[a < b && "c" \'d\' &#0; &amp;]]></Script>',
              "\t<![CDATA[two",
              "lines]]>",
              "</Modules>"), "1",
         written("<Modules>",
                 "\t<Script>",
                 '\t\t<![CDATA[a < b && "c" \'d\' &#0; &amp;]]>',
                 "\t</Script>",
                 "\t<![CDATA[two",
                 "lines]]>",
                 NEW, "</Modules>")),
    edit("format: mixed content goes on indented lines",
         crlf("<Modules>",
              "\t<Desc>before<b>bold</b>after</Desc>",
              "\t<Pad> lead <i/>  </Pad>",
              "</Modules>"), "1",
         written("<Modules>",
                 "\t<Desc>",
                 "\t\tbefore",
                 "\t\t<b>bold</b>",
                 "\t\tafter",
                 "\t</Desc>",
                 "\t<Pad>",
                 "\t\t lead ",
                 "\t\t<i/>",
                 "\t</Pad>",
                 NEW, "</Modules>")),
    edit("format: mismatched end tags are written matching",
         crlf("<Modules>",
              "\t<Group><Item>x</Itm></Grp>",
              "</Mods>"), "1",
         written("<Modules>",
                 "\t<Group>",
                 "\t\t<Item>x</Item>",
                 "\t</Group>",
                 NEW, "</Modules>")),
    edit("format: LF-only input reads the same as CR LF",
         lf("<Modules>", mod(FW), "</Modules>"), "1", base_with(NEW)),
    edit("format: a line end inside a value is written as CR LF",
         crlf("<Modules>",
              '\t<A v="one',
              'two"/>',
              "</Modules>"), "1",
         written("<Modules>", '\t<A v="one', 'two"/>', NEW, "</Modules>")),
    edit("format: a lone CR is kept",
         b'<Modules><A v="a\rb"/><T>c\rd</T></Modules>', "1",
         written("<Modules>", '\t<A v="a\rb"/>', "\t<T>c\rd</T>", NEW,
                 "</Modules>")),
    edit("format: Ctrl-Z ends the input",
         BASE + b"\x1a<broken \x00 &#0; garbage", "1", base_with(NEW)),
    edit("format: names, attributes and their order kept",
         crlf('<Modules xmlns:fw="urn:fw">',
              r'	<Module configDir="C:\cfg\" path="C:\Keep\m.dll" fw:extra="1"/>',
              "\t<fw:Other.Name-2 _a=\"b\"/>",
              "</Modules>"), "1",
         written('<Modules xmlns:fw="urn:fw">',
                 r'	<Module configDir="C:\cfg\" path="C:\Keep\m.dll" fw:extra="1"/>',
                 '\t<fw:Other.Name-2 _a="b"/>',
                 NEW, "</Modules>")),
    edit("format: &#0; inside CDATA, comments and the declaration is no reference",
         crlf('<?xml version="1.0" note="&#0;"?>',
              "<!-- &#0; -->",
              "<Modules>",
              "\t<S><![CDATA[&#0;]]></S>",
              "</Modules>"), "1",
         written("<Modules>", "\t<S>", "\t\t<![CDATA[&#0;]]>", "\t</S>", NEW,
                 "</Modules>")),
    edit("format: 1000 levels of nesting are accepted",
         deep(1000), "1", deep_written(1000, NEW)),
])

# ---- Refusals ------------------------------------------------------------

extend([
    refuse("refused: an attribute without its end",
           crlf("<Modules>", '\t<Module path="a.dll"', "</Modules>"), 4,
           MALFORMED + (r"expected >", r"line 3, column 1\b")),
    refuse("refused: unexpected end of data",
           crlf("<Modules>", mod(FW)), 4,
           MALFORMED + (r"unexpected end of data", r"line 3, column 1\b")),
    refuse("refused: an unquoted value",
           b"<Modules><Module path=a.dll/></Modules>", 4,
           MALFORMED + (r"expected ' or \"", r"line 1, column 23\b")),
    refuse("refused: text at the top level",
           crlf("<Modules/>", "trailing"), 4,
           MALFORMED + (r"expected <", r"line 2, column 1\b")),
    refuse("refused: UTF-16 with a byte order mark",
           b"\xff\xfe" + "<Modules>\r\n\t<Module path=\"a\"/>\r\n</Modules>\r\n"
           .encode("utf-16-le"), 4, MALFORMED + (
               r": the file is UTF-16 text \(it begins with a UTF-16 "
               r"byte-order mark\), which the framework cannot read; save it "
               r"as UTF-8$",)),
    refuse("refused: another element before Modules, as the framework "
           "reads it", crlf("<Other/>", "<Modules>", mod(FW), "</Modules>"), 4,
           MALFORMED + (r": the first element is Other, not Modules: the "
                        r"framework reads only the first element",)),
    refuse("refused: no top-level Modules",
           crlf("<Registry>", "\t<Modules>", mod(FW, tabs=2), "\t</Modules>",
                "</Registry>"), 4, MALFORMED + (r"Modules",)),
    refuse("refused: Modules in another case",
           crlf("<modules>", mod(FW), "</modules>"), 4,
           MALFORMED + (r"Modules",)),
    refuse("refused: only a declaration and a comment",
           crlf('<?xml version="1.0"?>', "<!-- nothing -->"), 4,
           MALFORMED + (r"Modules",)),
    refuse("refused: an empty file", b"", 4, MALFORMED + (r"empty",)),
    refuse("refused: nothing before Ctrl-Z", b"\x1a" + BASE, 4,
           MALFORMED + (r"empty",)),
    refuse("refused: &#0; in an attribute",
           crlf("<Modules>", '\t<Module path="a&#0;b"/>', "</Modules>"), 4,
           MALFORMED + (r"&#0\b", r"line 2, column 17\b")),
    refuse("refused: &#x0; in an attribute",
           crlf("<Modules>", '\t<Module path="a&#x0;b"/>', "</Modules>"), 4,
           MALFORMED + (r"&#x0\b", r"line 2, column 17\b")),
    refuse("refused: &#000; in text",
           crlf("<Modules>", "\t<T>x&#000;</T>", "</Modules>"), 4,
           MALFORMED + (r"&#000\b", r"line 2, column 6\b")),
    refuse("refused: &#26; (Ctrl-Z) in text",
           crlf("<Modules>", "\t<T>&#26;</T>", "</Modules>"), 4,
           MALFORMED + (r"&#26\b", r"line 2, column 5\b")),
    refuse("refused: a NUL byte",
           crlf("<Modules>", b"\t<Module path=\"a\x00b\"/>", "</Modules>"), 4,
           MALFORMED + (r"NUL",)),
    refuse("refused: 1001 levels of nesting", deep(1001), 4,
           MALFORMED + (r"1000",)),
    refuse("refused: 1001 levels of nesting, the innermost closed",
           deep(1001).replace(b"<d></d>", b"<d/>"), 4,
           MALFORMED + (r"1000",)),
    refuse("refused: 200000 levels of nesting, no crash", deep(200000), 4,
           MALFORMED + (r"1000",)),
])

# References the parser would turn into a NUL, a Ctrl-Z or nothing at all
# (a 32-bit build's arithmetic wraps 2^32 round to 0).
for ref in ["&#x110000;", "&#x100000000;", "&#4294967296;", "&#x;", "&#;",
            "&#x1A;", "&#x00000;"]:
    add(refuse("refused: %s in an attribute" % ref,
               crlf("<Modules>", '\t<A v="%s"/>' % ref, "</Modules>"), 4,
               MALFORMED + (esc(ref[:-1]), r"line 2, column 8\b")))

add(Case("refused: the registry is missing", [Step(
    args=["x64", "1"], put={}, status=3, stderr=CANNOT_READ, after={})]))
add(Case("refused: the registry folder is missing", [Step(
    args=["x64", "1"], put={"pf86/modules.xml": BASE}, status=3,
    stderr=CANNOT_READ, after={"pf86/modules.xml": BASE})],
    absent=("pf",)))
add(Case("refused: the registry under Program Files (x86) is missing", [Step(
    args=["x86", "1"], put={"pf/modules.xml": BASE}, status=3,
    stderr=((r"^modreg: cannot read ", reason_after(REG86)),),
    after={"pf/modules.xml": BASE})],
    arches=("64",)))
add(Case("refused: a directory in place of the registry", [Step(
    args=["x64", "1"], put={"pf/modules.xml": DIR}, status=3,
    stderr=CANNOT_READ, after={"pf/modules.xml": DIR})]))

# ---- Backup ----------------------------------------------------------------

CHANGED = crlf("<Modules>", mod(FW2), mod(H1), "</Modules>")

extend([
    Case("backup: a second run keeps the first backup", [
        Step(args=["x64", "1"], put={"pf/modules.xml": BASE},
             after={"pf/modules.xml": base_with(NEW),
                    "pf/modules.xml.old": BASE}),
        Step(args=["x64", "2"], put={"pf/modules.xml": CHANGED},
             after={"pf/modules.xml": written("<Modules>", mod(FW2), mod(H2),
                                              "</Modules>"),
                    "pf/modules.xml.old": BASE}),
    ]),
    Case("backup: an existing backup is never replaced", [Step(
        args=["x64", "1"],
        put={"pf/modules.xml": BASE, "pf/modules.xml.old": b"old bytes\x1a\r"},
        after={"pf/modules.xml": base_with(NEW),
               "pf/modules.xml.old": b"old bytes\x1a\r"})]),
    Case("backup: an empty backup is never replaced", [Step(
        args=["x64", "0"],
        put={"pf/modules.xml": BASE, "pf/modules.xml.old": b""},
        after={"pf/modules.xml": BASE, "pf/modules.xml.old": b""})]),
    Case("backup: a failed pass keeps the backup it made", [
        Step(args=["x64", "1"], put={"pf/modules.xml": b"<Modules>"},
             status=4, stderr=(MALFORMED,),
             after={"pf/modules.xml": b"<Modules>",
                    "pf/modules.xml.old": b"<Modules>"}),
        Step(args=["x64", "1"], put={"pf/modules.xml": BASE},
             after={"pf/modules.xml": base_with(NEW),
                    "pf/modules.xml.old": b"<Modules>"}),
    ]),
    Case("backup: copied byte for byte, Ctrl-Z and all", [Step(
        args=["x64", "1"],
        put={"pf/modules.xml": BASE + b"\x1a\x00\xff tail"},
        after={"pf/modules.xml": base_with(NEW),
               "pf/modules.xml.old": BASE + b"\x1a\x00\xff tail"})]),
    Case("backup: a directory in its place is kept, the update goes on", [Step(
        args=["x64", "1"],
        put={"pf/modules.xml": BASE, "pf/modules.xml.old": DIR},
        after={"pf/modules.xml": base_with(NEW),
               "pf/modules.xml.old": DIR})]),
    Case("backup: cannot be made, a warning and the update goes on", [Step(
        args=["x64", "1"],
        put={"pf/modules.xml": BASE, "pf/modules.xml.old.tmp": DIR},
        stderr=((r"^modreg: warning: cannot back up ", reason_after(REG),
                 reason_after(REG + ".old.tmp")),),
        after={"pf/modules.xml": base_with(NEW),
               "pf/modules.xml.old.tmp": DIR})]),
    Case("backup: a dangling link in its place is never replaced", [Step(
        args=["x64", "1"],
        put={"pf/modules.xml": BASE,
             "pf/modules.xml.old": Link("modules.xml.gone")},
        stderr=((r"^modreg: warning: cannot back up ", reason_after(REG),
                 esc(REG + ".old") + r": File exists$"),),
        after={"pf/modules.xml": base_with(NEW),
               "pf/modules.xml.old": Link("modules.xml.gone")})],
        modes=("native",)),  # symbolic links are the POSIX build's concern
    Case("backup: leftovers are cleared when nothing is written", [Step(
        args=["x64", "0"],
        put={"pf/modules.xml": BASE,
             "pf/modules.xml.tmp": b"<Modules><half",
             "pf/modules.xml.old.tmp": b"<Mod"},
        after={"pf/modules.xml": BASE, "pf/modules.xml.old": BASE})]),
    Case("backup: leftovers of a killed run are cleared", [Step(
        args=["x64", "1"],
        put={"pf/modules.xml": BASE,
             "pf/modules.xml.tmp": b"<Modules><half",
             "pf/modules.xml.old.tmp": b"<Mod"},
        after={"pf/modules.xml": base_with(NEW),
               "pf/modules.xml.old": BASE})]),
])

# ---- Write failure -----------------------------------------------------------

add(Case("write: the temporary file cannot be created", [Step(
    args=["x64", "1"],
    put={"pf/modules.xml": BASE, "pf/modules.xml.tmp": DIR},
    status=5, stderr=((r"^modreg: cannot write ", reason_after(REG),
                       reason_after(REG + ".tmp"), r"; the registry is unchanged$"),),
    after={"pf/modules.xml": BASE, "pf/modules.xml.old": BASE,
           "pf/modules.xml.tmp": DIR})]))

# ---- Idempotence ---------------------------------------------------------------

STABLE = crlf(
    '<?xml version="1.0"?>',
    "<!-- comment -->",
    "<Modules>",
    mod(FW),
    mod(H1),
    "\t<Name>  framework  </Name>",
    "\t<Empty></Empty>",
    '\t<Q v=\'say "x"\' w="a&amp;b"/>',
    "\t<S><![CDATA[raw & <stuff>]]></S>",
    "\t<G>",
    "\t\t<Inner>&#233;</Inner>",
    "\t</G>",
    "</Modules>")
STABLE_ONCE = written(
    "<Modules>",
    mod(FW),
    "\t<Name>  framework  </Name>",
    "\t<Empty/>",
    "\t<Q v='say \"x\"' w=\"a&amp;b\"/>",
    "\t<S>",
    "\t\t<![CDATA[raw & <stuff>]]>",
    "\t</S>",
    "\t<G>",
    b"\t\t<Inner>\xc3\xa9</Inner>",
    "\t</G>",
    mod(H1), mod(H3, H3C),
    "</Modules>")

add(Case("idempotence: a second run leaves the same bytes", [
    Step(args=["x64", "5"], put={"pf/modules.xml": STABLE},
         after={"pf/modules.xml": STABLE_ONCE, "pf/modules.xml.old": STABLE}),
    Step(args=["x64", "5"],
         after={"pf/modules.xml": STABLE_ONCE, "pf/modules.xml.old": STABLE}),
]))
add(Case("idempotence: the traced run twice", [
    Step(args=["x86", "5"], put={"pf86/modules.xml": BASE},
         after={"pf86/modules.xml": base_with(mod(X1), mod(X3, X3C)),
                "pf86/modules.xml.old": BASE}),
    Step(args=["x86", "5"],
         after={"pf86/modules.xml": base_with(mod(X1), mod(X3, X3C)),
                "pf86/modules.xml.old": BASE}),
], arches=("64",)))

MIXED = crlf("<Modules>", "\t<D>x<b/>y</D>", "</Modules>")
add(Case("idempotence: text beside elements grows on each rewrite", [
    Step(args=["x64", "1"], put={"pf/modules.xml": MIXED},
         after={"pf/modules.xml": written(
                    "<Modules>", "\t<D>", "\t\tx", "\t\t<b/>", "\t\ty",
                    "\t</D>", NEW, "</Modules>"),
                "pf/modules.xml.old": MIXED}),
    Step(args=["x64", "1"],
         after={"pf/modules.xml": written(
                    "<Modules>", "\t<D>", "\t\t", "\t\tx", "\t\t",
                    "\t\t<b/>", "\t\t", "\t\ty", "\t", "\t</D>", NEW,
                    "</Modules>"),
                "pf/modules.xml.old": MIXED}),
]))

# ---- Options and modes -----------------------------------------------------

_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(
    __file__))))
with open(os.path.join(_ROOT, "CMakeLists.txt")) as _f:
    VERSION = re.search(r"project\(modreg VERSION (\S+)", _f.read()).group(1)
# The help as the reference shows it.
with open(os.path.join(_ROOT, "docs", "reference.md")) as _f:
    _README = _f.read()
HELP = re.search(r"```\n(usage: modreg .*?)```", _README, re.S).group(1)


def run(name, args, put, after, status=0, stdout=b"", stderr=(), **kw):
    return Case(name, [Step(args=args, put=put, status=status, stdout=stdout,
                            stderr=stderr, after=after)], **kw)


def cfg(path, config):
    return path + " configDir: " + config


OLD = "pf/modules.xml.old"
PRODUCT = crlf("<Modules>", mod(H1), mod(FW), mod(T1), mod(H3, H3C),
               "</Modules>")
REGISTERED = crlf("<Modules>", mod(FW), mod(H1), mod(H3, H3C), "</Modules>")
STALE = crlf("<Modules>", mod(H1), mod(FW), "</Modules>")
CANON = written("<Modules>", mod(FW), mod(H1), mod(H3, H3C), "</Modules>")
LEFTOVER = {"pf/modules.xml.tmp": b"<Modules><half"}
SAID = ("registry: " + REG + HOST,)
# What a verbose registration of mask 1 ends with when SensorModule.dll is
# not installed.
ADDED_H1_MISSING = ("missing: %s (no such file)" % H1,
                    "check: 1 problem(s) with the added entries")
SAID_V = SAID + ("framework folder: the default",)  # with --verbose

for args, wrong in [  # the messages are the option table's (options_test)
        (["--bogus", "x64", "1"], r'unknown option "--bogus"'),
        (["--unregister", "x64"], r"--unregister needs MASK"),
        (["--dry-run", "--list", "x64"], r"--dry-run does not go with --list"),
        (["x64", "5", "--unregister"], r'options come before ARCH: "--unregister"'),
        (["--list", "x64", "--verbose"], r'options come before ARCH: "--verbose"')]:
    add(untouched("usage: %s" % " ".join(args), args, 2,
                  stderr=((r"^modreg: " + wrong, r"; usage: modreg \["),)))
extend([
    untouched("options come first: where MASK belongs, too",
              ["x86", "--verbose", "5"], 2,
              stderr=((r'^modreg: options come before ARCH: "--verbose"; usage: ',),)),
    untouched("a lone -- and one argument", ["--", "x86"], 255, stdout=SHORT),
    untouched("--help", ["--verbose", "--help", "x64", "1"], 0,
              stdout=Out(tuple(HELP.splitlines()))),
    untouched("--version", ["--version"], 0, stdout=Out(("modreg " + VERSION,))),
    run("after a lone --, a word beginning with -- is ARCH",
        ["--verbose", "--", "--x86", "1"], {"pf/modules.xml": BASE},
        {"pf/modules.xml": base_with(mod(H1)), OLD: BASE},
        stdout=Out(('ARCH "--x86" is not "x86": root C:\\Program Files',) +
                   SAID_V + ("backup: made", "added: " + H1, "result: rewritten")
                   + ADDED_H1_MISSING)),
])

# Unregistration.
extend([
    run("unregister: the product's entries go, others stay",
        ["--unregister", "x64", "5"], {"pf/modules.xml": PRODUCT},
        {"pf/modules.xml": written("<Modules>", mod(FW), mod(T1), "</Modules>"),
         OLD: PRODUCT}),
    run("unregister: nothing to remove, the registry keeps its bytes",
        ["--unregister", "x64", "1"], {"pf/modules.xml": BASE, **LEFTOVER},
        {"pf/modules.xml": BASE, OLD: BASE}),
    run("unregister: no registry is no error, nothing created",
        ["--unregister", "x64", "1"], {}, {}),
    run("unregister: no registry folder is no error",
        ["--unregister", "x64", "1"], {}, {}, absent=("pf",)),
    run("unregister: a malformed registry", ["--unregister", "x64", "1"],
        {"pf/modules.xml": b"<Modules>" + STALE}, {
            "pf/modules.xml": b"<Modules>" + STALE, OLD: b"<Modules>" + STALE},
        status=4, stderr=(MALFORMED,)),
    run("unregister: a directory in place of the registry",
        ["--unregister", "x64", "1"], {"pf/modules.xml": DIR},
        {"pf/modules.xml": DIR}, status=3, stderr=CANNOT_READ),
])

# Listing.
PRESENT = r"C:\Program Files\OpenNI\Data\present.dll"
extend([
    run("list: each child with a path, missing module files marked",
        ["--list", "x64"], {"pf/present.dll": Built("x64.dll"), **LEFTOVER,
                            "pf/modules.xml": crlf(
            "<Modules>", '\t<Setting name="log"/>', mod(FW), "\tnote",
            mod(PRESENT), mod(H3, H3C), "\t<Module/>",
            r'	<Extra configDir="C:\x\" path="%s"/>' % PRESENT,
            "</Modules>")}, UNCHANGED,
        stdout=Out(SAID + ("missing: " + FW, "module: " + PRESENT,
                           "missing: " + cfg(H3, H3C),
                           "breaks-startup: line 7 (Module without path)",
                           "may-hang: " + cfg(PRESENT, "C:\\x\\")))),
    run("list: x86 on a 64-bit system", ["--list", "x86"],
        {"pf/modules.xml": BASE, "pf86/modules.xml": OTHER}, UNCHANGED,
        stdout=Out(("registry: " + REG86 + HOST, "missing: " + FW2)),
        arches=("64",)),
    run("list: no registry", ["--list", "x64"], {}, {}, status=3,
        stderr=CANNOT_READ),
])

# Dry runs: nothing written, leftovers of a killed run included.
def dry(name, registry, args, status, lines, after=UNCHANGED, **kw):
    return run(name, ["--dry-run"] + args,
               {"pf/modules.xml": registry, **LEFTOVER}, after, status=status,
               stdout=Out(lines), **kw)


extend([
    dry("dry run: Modules would change", STALE, ["x64", "5"], 1,
        ("remove: " + H1, "add: " + H1, "add: " + cfg(H3, H3C))),
    dry("dry run: registered exactly so already", CANON, ["x64", "5"], 0,
        ("remove: " + H1, "remove: " + cfg(H3, H3C), "add: " + H1,
         "add: " + cfg(H3, H3C))),
    dry("dry run: the same entries in another order", crlf(
        "<Modules>", mod(FW), mod(H3, H3C), mod(H1), "</Modules>"),
        ["x64", "5"], 1, ("remove: " + cfg(H3, H3C), "remove: " + H1,
                          "add: " + H1, "add: " + cfg(H3, H3C))),
    dry("dry run: an entry with another configDir", crlf(
        "<Modules>", mod(FW), mod(H1), mod(H3, "C:\\d\\"), "</Modules>"),
        ["x64", "5"], 1, ("remove: " + H1, "remove: " + cfg(H3, "C:\\d\\"),
                          "add: " + H1, "add: " + cfg(H3, H3C))),
    dry("dry run: an entry with content", crlf(
        "<Modules>", mod(FW), '\t<Module path="%s"><c/></Module>' % H1,
        "</Modules>"), ["x64", "1"], 1, ("remove: " + H1, "add: " + H1)),
    dry("dry run: no device type, nothing would change", STALE, ["x64", "0"],
        0, ()),
    dry("dry run: an unregistration", PRODUCT, ["--unregister", "x64", "5"],
        1, ("remove: " + H1, "remove: " + cfg(H3, H3C))),
    Case("dry run: no registry, as the run would be", [
        Step(args=["--dry-run", "x64", "1"], status=3, stderr=CANNOT_READ,
             after={}),
        Step(args=["--dry-run", "--unregister", "x64", "1"], after={})]),
])

# Verbose reports.
extend([
    Case("verbose: a registration twice", [
        Step(args=["--verbose", "x64", "1"], put={"pf/modules.xml": STALE},
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE},
             stdout=Out(SAID_V + ("backup: made", "removed: " + H1,
                                "added: " + H1, "result: rewritten")
                       + ADDED_H1_MISSING)),
        Step(args=["--verbose", "x64", "1"],
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE},
             stdout=Out(SAID_V + ("backup: already there", "removed: " + H1,
                                "added: " + H1, "result: rewritten")
                       + ADDED_H1_MISSING))]),
    run("verbose: no device type", ["--verbose", "x64", "0"],
        {"pf/modules.xml": STALE}, {"pf/modules.xml": STALE, OLD: STALE},
        stdout=Out(SAID_V + ("backup: made", "result: left as it was"))),
    run("verbose: an unregistration without registry",
        ["--unregister", "--verbose", "x64", "1"], {}, {},
        stdout=Out(SAID_V + ("result: no registry, nothing to remove",))),
    run("verbose: a dry run", ["--verbose", "--dry-run", "x64", "1"],
        {"pf/modules.xml": REGISTERED}, UNCHANGED, stdout=Out(SAID_V + (
            "remove: " + H1, "remove: " + cfg(H3, H3C), "add: " + H1,
            "result: would be rewritten, Modules changed")), status=1),
    run("messages about the registry name its host path", ["x64", "1"], {}, {},
        status=3, stderr=((r"^modreg: cannot read " + esc(REG + " (") +
                           r"/\S.*/drive_c/Program Files/"
                           r"OpenNI/Data/modules\.xml\): \w",),),
        modes=("native",)),
])

# Dry runs answer for the registry's bytes: 1 when a real run would write
# others, whatever it does to the entries of Modules.
SWAP5 = ("remove: " + H1, "remove: " + cfg(H3, H3C), "add: " + H1,
         "add: " + cfg(H3, H3C))
FORM = SAID_V + SWAP5 + ("result: would be rewritten, form changed",)
extend([
    dry("dry run: an XML declaration would go", b'<?xml version="1.0"?>\r\n'
        + CANON, ["--verbose", "x64", "5"], 1, FORM),
    dry("dry run: a comment would go", crlf("<!-- framework -->") + CANON,
        ["x64", "5"], 1, SWAP5),
    dry("dry run: two-space indents", crlf(
        "<Modules>", "  " + mod(FW, tabs=0), "  " + mod(H1, tabs=0),
        "  " + mod(H3, H3C, tabs=0), "</Modules>", ""), ["x64", "5"], 1, SWAP5),
    dry("dry run: LF line ends", CANON.replace(b"\r\n", b"\n"),
        ["--verbose", "x64", "5"], 1, FORM),
    dry("dry run: no last line end", REGISTERED, ["x64", "5"], 1, SWAP5),
    dry("dry run: bytes after a Ctrl-Z would go", CANON + b"\x1aend",
        ["x64", "5"], 1, SWAP5),
    dry("dry run: text beside the entries is indented anew", written(
        "<Modules>", mod(FW), "\tnote", mod(H1), mod(H3, H3C), "</Modules>"),
        ["--verbose", "x64", "5"], 1, FORM),
    dry("dry run: the same bytes, verbose", CANON, ["--verbose", "x64", "5"], 0,
        SAID_V + SWAP5 + ("result: would be rewritten, same bytes",)),
    dry("dry run: an unregistration with nothing to remove", BASE,
        ["--unregister", "x64", "5"], 0, ()),
])

# The read-only modes say what they failed to do.
extend([
    run("list: a malformed registry cannot be listed", ["--list", "x64"],
        {"pf/modules.xml": b"<Modules>" + STALE}, UNCHANGED, status=4,
        stderr=((r"^modreg: cannot list ", reason_after(REG),
                 r"line 5, column 1\b"),)),
    dry("dry run: an empty registry cannot be read", b"", ["x64", "1"], 4, (),
        stderr=((r"^modreg: cannot read ", reason_after(REG), r"empty"),)),
])

# ---- The health check ------------------------------------------------------
# Module files in the registry folder ("pf/NAME"), the built test modules
# among them, and in the product folder ("prod/NAME").
def data(name):
    return "C:\\Program Files\\OpenNI\\Data\\" + name


def said(kind, path, what):
    return "%s: %s (%s)" % (kind, path, what)


GOOD, GONE, TEXT, X86, NOVER, FOLDER = (data(n) for n in (
    "good.dll", "gone.dll", "text.dll", "x86.dll", "noversion.dll",
    "folder.dll"))
DUP = "c:/program files/openni/DATA/Good.DLL"
SHADOW = r"C:\Program Files\HALDEToF\good.dll"
CFG, NODIR = data("cfg.dll"), data("nodir") + "\\"
KINDS = crlf(
    "<Modules>", mod(GOOD), "\t<Module/>", mod(GONE), mod(TEXT), mod(X86),
    mod(NOVER), mod(DUP), mod(SHADOW), mod(CFG, NODIR), mod("SensorModule.dll"),
    mod(FOLDER), mod(GOOD, data("")), '\t<Setting path="elsewhere.dll"/>',
    "\t<Module/>", "</Modules>")
KIND_FILES = {
    "pf/modules.xml": KINDS, "pf/good.dll": Built("x64.dll"),
    "pf/text.dll": b"MZ is not enough\r\n", "pf/x86.dll": Built("x86.dll"),
    "pf/noversion.dll": Built("x64-noversion.dll"), "pf/folder.dll": DIR,
    "pf/cfg.dll": Built("x64.dll"), "prod/good.dll": Built("x64.dll")}
KIND_LINES = (
    said("breaks-startup", "line 3", "Module without path"),
    said("missing", GONE, "no such file"),
    said("skipped", TEXT, "not a DLL: no MZ header"),
    said("skipped", X86, "32-bit module, 64-bit framework"),
    said("breaks-startup", NOVER, "no xnModuleGetOpenNIVersion"),
    said("repeated", DUP, "repeats the entry at line 2"),
    said("refused", SHADOW,
         "the same file name as %s, registered earlier at line 2" % GOOD),
    said("may-hang", CFG, "configDir %s does not exist" % NODIR),
    said("relative", "SensorModule.dll",
         "not an absolute path: the system loader searches for it"),
    said("missing", FOLDER, "a folder, not a file"),
    said("refused", GOOD, "the same module as an earlier entry at line 2"),
    said("breaks-startup", "line 15", "Module without path"))
X86_REGISTRY = crlf("<Modules>", mod(GOOD), mod(X86), mod(data("noload.dll")),
                    "</Modules>")
extend([
    run("check: every kind of problem", ["--check", "x64"], KIND_FILES,
        UNCHANGED, status=1, stdout=Out(KIND_LINES)),
    run("check: --verbose names the registry and the modules that are fine",
        ["--verbose", "--check", "x64"], KIND_FILES, UNCHANGED, status=1,
        stdout=Out(SAID_V + ("module: " + GOOD,) + KIND_LINES)),
    run("check: x86 expects 32-bit modules", ["--verbose", "--check", "x86"], {
        "pf/modules.xml": X86_REGISTRY, "pf/good.dll": Built("x64.dll"),
        "pf/x86.dll": Built("x86.dll"), "pf/noload.dll": Built("x86-noload.dll")},
        UNCHANGED, status=1, arches=("32",), stdout=Out(SAID_V + (
            said("skipped", GOOD, "64-bit module, 32-bit framework"),
            "module: " + X86,
            said("breaks-startup", data("noload.dll"), "no xnModuleLoad")))),
    run("check: CR alone ends a line too", ["--check", "x64"], {
        "pf/modules.xml": b"<Modules>\r\t<Module/>\r\n\t<Module/>\r</Modules>"},
        UNCHANGED, status=1, stdout=Out((
            said("breaks-startup", "line 2", "Module without path"),
            said("breaks-startup", "line 3", "Module without path")))),
    run("check: nothing wrong, nothing said", ["--check", "x64"], {
        "pf/modules.xml": crlf("<Modules>", mod(GOOD), "</Modules>"),
        "pf/good.dll": Built("x64.dll")}, UNCHANGED),
    run("check: no registry", ["--check", "x64"], {}, {}, status=3,
        stderr=CANNOT_READ),
    run("check: a malformed registry", ["--check", "x64"],
        {"pf/modules.xml": b"<Modules>" + STALE}, UNCHANGED, status=4,
        stderr=((r"^modreg: cannot check ", reason_after(REG)),)),
    run("list: marks as --check, paths found as Windows finds them",
        ["--list", "x64"], {**KIND_FILES, "pf/modules.xml": crlf(
            "<Modules>", mod(DUP), mod(TEXT), mod(FOLDER), mod(GOOD),
            mod("SensorModule.dll"), "</Modules>")}, UNCHANGED,
        stdout=Out(SAID + ("module: " + DUP, "skipped: " + TEXT,
                           "missing: " + FOLDER, "repeated: " + GOOD,
                           "relative: SensorModule.dll"))),
    run("a verbose registration checks the entries it added",
        ["--verbose", "x64", "5"], {
            "pf/modules.xml": BASE, "prod/SensorModule.dll": Built("x64.dll"),
            "prod/data": DIR},
        {"pf/modules.xml": base_with(mod(H1), mod(H3, H3C)), OLD: BASE,
         "prod": DIR, "prod/SensorModule.dll": Built("x64.dll"),
         "prod/data": DIR},
        stdout=Out(SAID_V + ("backup: made", "added: " + H1,
                           "added: " + cfg(H3, H3C), "result: rewritten",
                           "module: " + H1, said("missing", H3, "no such file"),
                           "check: 1 problem(s) with the added entries"))),
])
# A file that cannot be looked up: a symbolic link to itself. The reason is
# the system's.
for modes, reason in [(("native",), "Too many levels of symbolic links"),
                      (("win64", "win32"), "The filename cannot be resolved")]:
    add(run("check: a module file that cannot be read", ["--check", "x64"], {
        "pf/modules.xml": crlf("<Modules>", mod(data("loop.dll")), "</Modules>"),
        "pf/loop.dll": Link("loop.dll")}, UNCHANGED, status=1, modes=modes,
        stdout=Out((said("unreadable", data("loop.dll"),
                         "cannot look it up: " + reason),))))



def shared_names_dll(count=64, length=0x1000):
    """A 64-bit DLL whose |count| export names all point at one string of
    |length| bytes: together far longer than the file."""
    f = bytearray(0x200 + 0x2000)
    put16 = lambda at, v: struct.pack_into("<H", f, at, v)
    put32 = lambda at, v: struct.pack_into("<I", f, at, v)
    f[0:2] = b"MZ"
    put32(0x3c, 0x40)
    f[0x40:0x44] = b"PE\0\0"
    put16(0x44, 0x8664)              # machine
    put16(0x46, 1)                   # sections
    put16(0x54, 240)                 # optional header
    put16(0x56, 0x2002)              # a DLL
    put16(0x58, 0x20b)               # PE32+
    put32(0x58 + 60, 0x200)          # headers
    put32(0x58 + 108, 16)            # directories
    put32(0x58 + 112, 0x1000)        # exports
    put32(0x58 + 116, 40)
    for at, v in ((8, 0x2000), (12, 0x1000), (16, 0x2000), (20, 0x200)):
        put32(0x148 + at, v)         # the section
    for at, v in ((20, 1), (24, count), (32, 0x1100), (36, 0x1200)):
        put32(0x200 + at, v)         # the export directory
    for i in range(count):
        put32(0x300 + 4 * i, 0x1300)
    f[0x500:0x500 + length] = b"x" * length
    return bytes(f)


# A module whose export names pass the reader's bounds: not read further,
# but a module of the other width is skipped anyway.
for word, arches, line in [
        ("x64", BOTH, said("unreadable", data("shared.dll"),
                           "past the check's bounds: more bytes of export "
                           "names than the file holds")),
        ("x86", ("32",), said("skipped", data("shared.dll"),
                              "64-bit module, 32-bit framework"))]:
    add(run("check: export names past the bounds are not read, " + word,
            ["--check", word], {
                "pf/modules.xml": crlf("<Modules>", mod(data("shared.dll")),
                                       "</Modules>"),
                "pf/shared.dll": shared_names_dll()}, UNCHANGED, status=1,
            arches=arches, stdout=Out((line,))))

# A reserved device name: a good module natively, a device under Windows;
# reported, never opened (reading CON would wait on the console).
DEVICE = " is a reserved device name: the system opens the device, not a file"
add(run("check: a device's name is never opened", ["--check", "x64"], {
    "pf/modules.xml": crlf("<Modules>", mod(data("nul.dll")), mod(data("Con")),
                           "</Modules>"),
    "pf/nul.dll": Built("x64.dll"), "pf/Con": Built("x64.dll")}, UNCHANGED,
    status=1, stdout=Out((said("device", data("nul.dll"), "NUL" + DEVICE),
                          said("device", data("Con"), "CON" + DEVICE)))))

# ---- The log and how the arguments were read ---------------------------------

LOG = r"C:\Program Files\OpenNI\Data\run.log"   # "pf/run.log"
NOTE_X86 = 'ARCH "X86" is not "x86": root C:\\Program Files'


def quoted(arg):
    return '"%s"' % arg if " " in arg or not arg else arg


def logged(args, lines, status=0):
    """The patterns of what one run appends to a log: the header (time,
    version, command line), |lines| (Out lines, literally), the status."""
    header = (r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ modreg %s: \S*modreg\S* %s$"
              % (esc(VERSION), esc(" ".join(quoted(a) for a in args))),)
    said = tuple(("^" + esc(l.replace(HOST, "")) +
                  (r"(?: \(/.*\))?$" if HOST in l else "$"),) for l in lines)
    return (header,) + said + (("^status: %d$" % status,),)


QUIET = ["--log", LOG, "x64", "1"]
NEVER = r"^modreg: warning: cannot write log "
# A link at the log's name: natively a symbolic link, under Wine one that
# the handle's final name shows, or one that leads nowhere.
LINKED = r": it (is a symbolic link|is a link or reparse point|cannot be " \
    r"opened as a file \(a link that leads nowhere\?\)): not followed$"
VICTIM = b"another user's file: no run may write here\n"
EARLIER_LOG = b"a line of an earlier run\r\n"
FULL_LOG = b"x" * 4096
LOUD = ["--verbose", "--log=" + LOG, "--unregister", "x64", "5"]
FAILED = ["--log", LOG, "X86", "0x5"]
REPORT = SAID_V + ("backup: made", "removed: " + H1, "added: " + H1,
                 "result: rewritten") + ADDED_H1_MISSING
UNREPORT = SAID_V + ("backup: already there", "removed: " + H1,
                   "result: rewritten")
extend([
    # Without --verbose its report goes to the log only; with it, to both.
    Case("log: appended run by run, the standard streams as without it", [
        Step(args=QUIET, put={"pf/modules.xml": STALE},
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
                    "pf/run.log": Lines(logged(QUIET, REPORT))}),
        Step(args=LOUD, stdout=Out(UNREPORT),
             after={"pf/modules.xml": BASE + b"\r\n", OLD: STALE,
                    "pf/run.log": Lines(logged(QUIET, REPORT) +
                                        logged(LOUD, UNREPORT))}),
        Step(args=FAILED, put={"pf/modules.xml": b"<Modules>"}, status=4,
             stderr=(MALFORMED,),
             after={"pf/modules.xml": b"<Modules>", OLD: STALE,
                    "pf/run.log": Lines(
                        logged(QUIET, REPORT) + logged(LOUD, UNREPORT) +
                        logged(FAILED, (NOTE_X86, 'mask "0x5" read as 0: '
                                        'reading stopped at "x5"') + SAID_V +
                               ("backup: already there",))[:-1] +
                        ((r"^modreg: cannot update ",), ("^status: 4$",)))}),
    ]),
    Case("log: one that cannot be opened only warns", [
        Step(args=["--log", LOG[:-7] + r"\none\run.log", "x64", "1"],
             put={"pf/modules.xml": STALE},
             stderr=((r"^modreg: warning: cannot write log ",
                      reason_after(LOG[:-7] + r"\none\run.log")),),
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE}),
        Step(args=["--log", LOG, "--list", "x64"], put={"pf/run.log": DIR},
             stdout=Out(SAID + ("missing: " + FW, "missing: " + H1)),
             stderr=((r"^modreg: warning: cannot write log ",
                      reason_after(LOG)),),
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
                    "pf/run.log": DIR})]),
    # A log that fails after it was opened (its writes pass the file size
    # limit, the registry's do not): one warning, not one a line.
    Case("log: one that cannot be written only warns once", [Step(
        args=QUIET, put={"pf/modules.xml": STALE, "pf/run.log": FULL_LOG},
        file_limit=len(FULL_LOG),
        stderr=((r"^modreg: warning: cannot write log ", reason_after(LOG)),),
        after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
               "pf/run.log": FULL_LOG})], modes=("native",)),
    # Only a regular file of this user's or root's, with no other name, is
    # written; the rest of the run goes on as without --log.
    run("log: a device is not written", ["--log", "/dev/full", "x64", "1"],
        {"pf/modules.xml": STALE},
        {"pf/modules.xml": base_with(mod(H1)), OLD: STALE},
        stderr=((r"^modreg: warning: cannot write log /dev/full: it is not "
                 r"a regular file$",),), modes=("native",)),
    run("log: a link is not followed", QUIET,
        {"pf/modules.xml": STALE, "pf/run.log": Link("victim.txt"),
         "pf/victim.txt": VICTIM},
        {"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
         "pf/run.log": Link("victim.txt"), "pf/victim.txt": VICTIM},
        stderr=((NEVER, reason_after(LOG), LINKED),)),
    run("log: a file with another hard link is not written", QUIET,
        {"pf/modules.xml": STALE, "pf/victim.txt": VICTIM,
         "pf/run.log": HardLink("victim.txt")},
        {"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
         "pf/run.log": VICTIM, "pf/victim.txt": VICTIM},
        stderr=((NEVER, reason_after(LOG), r": it has 2 hard links: not "
                 r"written$"),)),
    Case("verbose: how the arguments were read, when not plainly", [
        Step(args=["--verbose", "X86", "0x5"], put={"pf/modules.xml": STALE},
             stdout=Out((NOTE_X86, 'mask "0x5" read as 0: reading stopped '
                         'at "x5"') + SAID_V + ("backup: made",
                                              "result: left as it was")),
             after={"pf/modules.xml": STALE, OLD: STALE}),
        Step(args=["--verbose", "--unregister", "x64", "1|4"],
             stdout=Out(('mask "1|4" read as 1: reading stopped at "|4"',) +
                        UNREPORT),
             after={"pf/modules.xml": BASE + b"\r\n", OLD: STALE}),
        Step(args=["--verbose", "--list", "win32"],
             stdout=Out(('ARCH "win32" is not "x86": root C:\\Program Files',)
                        + SAID_V + ("missing: " + FW,)))]),
])

# ---- The framework's and the product's folders -----------------------------

FWDIR = r"C:\Frameworks\OpenNI"
REGFW = FWDIR + r"\Data\modules.xml"
FWOLD = "fw/modules.xml.old"
V32, V64 = "OPEN_NI_INSTALL_PATH", "OPEN_NI_INSTALL_PATH64"
PROCESS, MACHINE = ", the process's environment", ", the machine's environment"
SAID_FW = ("registry: " + REGFW + HOST,)


def framework(name, args, registry, after, stdout=b"", status=0, env=None,
              machine=None, **kw):
    """One run on the registry in C:\\Frameworks\\OpenNI; the one in
    Program Files must keep its bytes."""
    return Case(name, [Step(
        args=args, put={"pf/modules.xml": OTHER, "fw/modules.xml": registry},
        after={"pf/modules.xml": OTHER, **after}, stdout=stdout,
        status=status, env=env or {}, machine=machine)], **kw)


def untouched_env(name, args, status, line, env, **kw):
    case = untouched(name, args, status, stderr=(line,), **kw)
    case.steps[0].env, case.steps[0].machine = env, {}
    return case


for args in (["--openni", FWDIR], ["--openni=" + FWDIR + "\\"],
             ["--openni", "C:/Frameworks/OpenNI/"]):
    add(framework("--openni: a registration, %s" % args[-1], args + ["x64", "5"],
                  BASE, {"fw/modules.xml": base_with(mod(H1), mod(H3, H3C)),
                         FWOLD: BASE}))
extend([
    framework("--openni: an unregistration",
              ["--openni", FWDIR, "--unregister", "x64", "5"], PRODUCT,
              {"fw/modules.xml": written("<Modules>", mod(FW), mod(T1),
                                         "</Modules>"), FWOLD: PRODUCT}),
    framework("--openni: a dry run", ["--dry-run", "--openni=" + FWDIR, "x64",
                                      "1"], STALE, {"fw/modules.xml": STALE},
              status=1, stdout=Out(("remove: " + H1, "add: " + H1))),
    framework("--openni: --list, --verbose",
              ["--verbose", "--list", "--openni", FWDIR + "\\", "x64"], BASE,
              {"fw/modules.xml": BASE}, stdout=Out(SAID_FW + (
                  "framework folder: --openni", "missing: " + FW))),
    # A parent folder others may change draws the warning too, naming it:
    # they can put another OpenNI folder in its place.
    Case("--openni: a parent folder anyone may change: a warning", [Step(
        args=["--openni", FWDIR, "x64", "1"], writable=("Frameworks",),
        put={"pf/modules.xml": OTHER, "fw/modules.xml": BASE},
        stderr=((r"^modreg: warning: " + esc(FWDIR + r"\Data"),
                 r" can be changed by users who are not administrators, "
                 r"through its parent (C:\\Frameworks|/\S*/drive_c/"
                 r"Frameworks): any of them can choose the modules every "
                 r"OpenNI application loads$"),),
        after={"pf/modules.xml": OTHER, "fw/modules.xml": base_with(mod(H1)),
               FWOLD: BASE})]),
    Case("--openni: a framework on drive D:", [Step(
        args=["--openni", "D:\\OpenNI\\", "x64", "1"], put={"d/modules.xml": BASE},
        after={"d/modules.xml": base_with(mod(H1)), "d/modules.xml.old": BASE})]),
    untouched("--openni and --openni-env", ["--openni", FWDIR, "--openni-env",
                                            "x64", "1"], 2, stderr=((
        r"^modreg: --openni and --openni-env do not go together; usage",),)),
    untouched("--product-dir does not go with --list",
              ["--list", "--product-dir", FWDIR, "x64"], 2, stderr=((
                  r"^modreg: --product-dir does not go with --list; usage",),)),
])
for option, what in (("--openni", r"the framework's folder \(--openni\) "),
                     ("--product-dir", "--product-dir ")):
    for bad in (r"Frameworks\OpenNI", r"\Frameworks", "C:Frameworks",
                r"\\server"):
        add(untouched("%s: a relative DIR %r" % (option, bad),
                      [option, bad, "x64", "1"], 2, stderr=((
                          "^modreg: " + what + esc('"%s"' % bad) +
                          " is not an absolute path$",),)))

# --openni-env: the variable of ARCH's width; under Wine the machine's value
# first.
extend([
    framework("--openni-env: x64 takes OPEN_NI_INSTALL_PATH64",
              ["--verbose", "--openni-env", "x64", "1"], BASE,
              {"fw/modules.xml": base_with(mod(H1)), FWOLD: BASE},
              env={V64: FWDIR + "\\", V32: r"C:\Program Files\OpenNI"},
              machine={}, stdout=Out(SAID_FW + (
                  "framework folder: " + V64 + PROCESS, "backup: made",
                  "added: " + H1, "result: rewritten") + ADDED_H1_MISSING)),
    framework("--openni-env: x86 takes OPEN_NI_INSTALL_PATH, 64-bit system",
              ["--openni-env", "x86", "1"], BASE,
              {"fw/modules.xml": base_with(mod(X1)), FWOLD: BASE},
              env={V32: FWDIR, V64: r"C:\Program Files\OpenNI"}, machine={},
              arches=("64",)),
    framework("--openni-env: x86 takes OPEN_NI_INSTALL_PATH, 32-bit system",
              ["--openni-env", "--unregister", "x86", "1"], STALE,
              {"fw/modules.xml": base_with(), FWOLD: STALE},
              env={V32: FWDIR, V64: r"C:\Program Files\OpenNI"}, machine={},
              arches=("32",)),
    framework("--openni-env: --list", ["--openni-env", "--list", "x64"], BASE,
              {"fw/modules.xml": BASE}, env={V64: FWDIR}, machine={},
              stdout=Out(SAID_FW + ("missing: " + FW,))),
    framework("--openni-env: the machine's value first, expanded",
              ["--verbose", "--openni-env", "--dry-run", "x64", "1"], BASE,
              {"fw/modules.xml": BASE}, env={V64: r"C:\Program Files\OpenNI"},
              machine={V64: ("REG_EXPAND_SZ", "%SystemDrive%\\Frameworks\\OpenNI\\")},
              status=1, stdout=Out(SAID_FW + (
                  "framework folder: " + V64 + MACHINE, "add: " + H1,
                  "result: would be rewritten, Modules changed")),
              modes=("win64", "win32")),
    framework("--openni-env: the machine's value, REG_SZ",
              ["--openni-env", "--list", "x86"], BASE, {"fw/modules.xml": BASE},
              machine={V32: ("REG_SZ", FWDIR)},
              stdout=Out(SAID_FW + ("missing: " + FW,)),
              modes=("win64", "win32")),
    run("--openni-env: the native build reads the process's value only",
        ["--verbose", "--openni-env", "--dry-run", "x64", "1"],
        {"pf/modules.xml": BASE}, UNCHANGED, status=1,
        stdout=Out(SAID + ("framework folder: " + V64 + PROCESS, "add: " + H1,
                           "result: would be rewritten, Modules changed")),
        modes=("native",)),
])
CASES[-1].steps[0].env = {V64: r"C:\Program Files\OpenNI"}
CASES[-1].steps[0].machine = {V64: ("REG_SZ", FWDIR)}
for word, name in (("x86", V32), ("x64", V64)):
    for env in ({}, {name: ""}):
        add(untouched_env("--openni-env: %s %s" % (name, "empty" if env else "unset"),
                          ["--openni-env", word, "1"], 3, (
                              "^modreg: the framework's folder is unknown: "
                              "%s is not set or empty$" % name,), env))
add(untouched_env("--openni-env: a relative value", ["--openni-env", "x64", "1"],
                  3, ("^modreg: the framework's folder " + esc(
                      "(%s%s) \"OpenNI\" is not an absolute path" % (V64, PROCESS)),),
                  {V64: "OpenNI"}))

# --product-dir: the modules there; entries under it replaced, whatever
# the case or slashes, so a second run leaves one set.
PD = r"C:\Apps\Sensor"
P1, P3, P3C = PD + r"\SensorModule.dll", PD + r"\libskelvia_ni.dll", PD + "\\data\\"
BESIDE = r"C:\Apps\SensorOther\x.dll"   # not under PD
PD_STALE = crlf("<Modules>", mod(H1), mod(FW), mod("c:/apps/SENSOR/Old.dll"),
                mod(BESIDE), "</Modules>")
PD_DONE = written("<Modules>", mod(FW), mod(BESIDE), mod(P1), mod(P3, P3C),
                  "</Modules>")
extend([
    Case("--product-dir: a registration twice leaves one set", [
        Step(args=["--product-dir", PD, "x64", "5"],
             put={"pf/modules.xml": PD_STALE},
             after={"pf/modules.xml": PD_DONE, OLD: PD_STALE}),
        Step(args=["--product-dir=C:/Apps/Sensor/", "x64", "5"],
             after={"pf/modules.xml": PD_DONE, OLD: PD_STALE})]),
    run("--product-dir: a dry run of an unregistration",
        ["--dry-run", "--unregister", "--product-dir", PD + "\\", "x64", "5"],
        {"pf/modules.xml": PD_DONE}, UNCHANGED, status=1,
        stdout=Out(("remove: " + P1, "remove: " + cfg(P3, P3C)))),
    run("--product-dir: an unregistration",
        ["--unregister", "--product-dir", PD, "x64", "5"],
        {"pf/modules.xml": PD_DONE},
        {"pf/modules.xml": written("<Modules>", mod(FW), mod(BESIDE),
                                   "</Modules>"), OLD: PD_DONE}),
    framework("--product-dir with --openni, --verbose",
              ["--verbose", "--openni", FWDIR, "--product-dir", PD, "x64", "1"],
              PD_STALE, {"fw/modules.xml": written(
                  "<Modules>", mod(FW), mod(BESIDE), mod(P1), "</Modules>"),
                  FWOLD: PD_STALE},
              stdout=Out(SAID_FW + ("framework folder: --openni", "backup: made",
                                    "removed: " + H1,
                                    "removed: c:/apps/SENSOR/Old.dll",
                                    "added: " + P1, "result: rewritten",
                                    "missing: %s (no such file)" % P1,
                                    "check: 1 problem(s) with the added "
                                    "entries"))),
])
for folder in ("C:\\", r"C:\Program Files"):
    add(untouched("--product-dir %r would take the framework's entries" % folder,
                  ["--product-dir", folder, "x64", "1"], 2, stderr=((
                      "^modreg: --product-dir " + esc('"%s"' % folder) +
                      " would take the framework's own entries",),)))
add(untouched("--product-dir: a folder many products share",
              ["--product-dir", "c:\\program files (x86)\\", "x64", "1"], 2,
              stderr=(("^modreg: --product-dir .* is a folder that many "
                       "products share",),)))
# Module paths go to the registry in the system's ANSI code page (Windows-
# 1252 here): a folder it spells is written in it by both builds; one it
# cannot spell is refused before anything is touched. Files the tool opens
# may have any name: a log in such a folder is written.
POLISH = "C:\\Kamera \u0141\u00f3d\u017a"
LOG_PL = "C:\\Program Files\\OpenNI\\Data\\\u0141\u00f3d\u017a.log"
extend([
    run("--product-dir: a folder the ANSI code page spells",
        ["--product-dir", "C:\\Kamera \u00dc", "x64", "1"],
        {"pf/modules.xml": BASE},
        {"pf/modules.xml": base_with(
            b'\t<Module path="C:\\Kamera \xdc\\SensorModule.dll"/>'),
         OLD: BASE}),
    untouched("--product-dir: a folder the ANSI code page cannot spell",
              ["--product-dir", POLISH, "x64", "1"], 2, stderr=((
                  r'^modreg: the module path "C:\\Kamera .*\\SensorModule'
                  r'\.dll" cannot be written in the system\'s ANSI code page',),)),
    run("log: in a folder the ANSI code page cannot spell",
        ["--log", LOG_PL, "x64", "1"], {"pf/modules.xml": BASE},
        {"pf/modules.xml": base_with(mod(H1)), OLD: BASE,
         "pf/\u0141\u00f3d\u017a.log": Lines(
             ((r"^\d{4}-.* modreg %s: \S*modreg\S* --log \"C:.*\.log\" x64 1$"
               % esc(VERSION),),) + logged([], SAID_V + (
                   "backup: made", "added: " + H1, "result: rewritten") +
                   ADDED_H1_MISSING)[1:])}),
])
# ".." as Windows reads it: never above the drive, so never out of the
# prefix.
add(framework("--openni: .. above the drive's root",
              ["--openni", "C:\\..\\..\\Frameworks\\.\\OpenNI", "x64", "1"],
              BASE, {"fw/modules.xml": base_with(mod(H1)), FWOLD: BASE}))
# Paths of at most 259 characters; a longer one is refused before anything
# is read or written.
LONG = "C:\\" + "a" * (259 - len("C:\\\\SensorModule.dll"))
extend([
    Case("--product-dir: a module path of 259 characters", [Step(
            args=["--product-dir", LONG, "x64", "1"], put={"pf/modules.xml": BASE},
            after={"pf/modules.xml": base_with(mod(LONG + r"\SensorModule.dll")),
                   OLD: BASE})]),
    untouched("--product-dir: a module path of 260 characters",
              ["--product-dir", LONG + "a", "x64", "1"], 2, stderr=((
                  r"^modreg: path too long \(260 bytes in the system's ANSI "
                  r"code page, at most 259\): " +
                  esc(LONG + r"a\SensorModule.dll") + "$",),)),
    untouched("--product-dir: mask 4's module of 260 characters",
              ["--product-dir", LONG, "x64", "4"], 2, stderr=((
                  r"^modreg: path too long \(260 bytes in the system's ANSI "
                  r"code page, at most 259\): " +
                  esc(LONG + r"\libskelvia_ni.dll") + "$",),)),
    untouched("--openni: the backup's temporary file would be too long",
              ["--openni", "C:\\" + "b" * 240, "x64", "1"], 2, stderr=((
                  r"^modreg: path too long \(268 characters, at most 259\): ",),)),
])
# An unregistration whose variable is set nowhere: the framework is gone,
# as without a registry.
add(untouched_env("--openni-env: an unregistration, the variable unset",
                  ["--verbose", "--unregister", "--openni-env", "x64", "1"], 0,
                  (), {}))
CASES[-1].steps[0].stderr = ()
CASES[-1].steps[0].stdout = Out((
    "result: the framework's folder is unknown: %s is not set or empty, "
    "nothing to remove" % V64,))

# A usage error reaches the log wherever --log stands among the options;
# a log never goes into the registry's own files, made by the run or not.
BOGUS = ["--bogus", "--log", LOG, "x64", "1"]
extend([
    run("log: a usage error before --log", BOGUS, {"pf/modules.xml": STALE},
        {"pf/modules.xml": STALE, "pf/run.log": Lines(logged(BOGUS, ())[:-1] + (
            (r'^modreg: unknown option "--bogus"; usage: ',), ("^status: 2$",)))},
        status=2, stderr=((r'^modreg: unknown option "--bogus"; usage: ',),)),
    Case("log: never the registry or its backup", [
        Step(args=["--log", REG + ".old", "x64", "1"],
             put={"pf/modules.xml": STALE},
             stderr=((NEVER, reason_after(REG + ".old"),
                      r"it is the framework's registry file "),),
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE}),
        Step(args=["--log", REG, "--list", "x64"],
             stdout=Out(SAID + ("missing: " + FW, "missing: " + H1)),
             stderr=((NEVER, r"it is the framework's registry file "),)),
        # Another spelling: told from the open log, never by opening the
        # registry before the lock.
        Step(args=["--log", "C:/Program Files/OpenNI/./Data/modules.xml",
                   "x64", "1"],
             stderr=((NEVER, r"it is the framework's registry file "),))]),
    framework("log: never the registry --openni names",
              ["--log", REGFW, "--openni", FWDIR, "--list", "x64"], BASE,
              {"fw/modules.xml": BASE}, stdout=Out(SAID_FW + ("missing: " + FW,))),
    # Never followed, so it makes no empty backup either.
    run("log: a link that leads to where the backup goes", ["--log", LOG,
        "x64", "1"], {"pf/modules.xml": STALE, "pf/run.log":
                      Link("modules.xml.old")},
        {"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
         "pf/run.log": Link("modules.xml.old")},
        stderr=((NEVER, LINKED),)),
])
CASES[-2].steps[0].stderr = ((NEVER, r"it is the framework's registry file "),)
# The log's folder reached through a link (under Wine a POSIX link, which
# the file's final name shows): not written, and a log the run made there
# goes again.
VIA = r"C:\Program Files\OpenNI\Data\via\run.log"
THROUGH_LINK = r": it is reached through a link or junction: not followed$"
extend([
    run("log: reached through a linked folder, made and removed",
        ["--log", VIA, "x64", "1"],
        {"pf/modules.xml": STALE, "pf/real": DIR, "pf/via": Link("real")},
        {"pf/modules.xml": base_with(mod(H1)), OLD: STALE, "pf/real": DIR,
         "pf/via": Link("real")},
        stderr=((NEVER, reason_after(VIA), THROUGH_LINK),),
        modes=("win64", "win32")),
    run("log: reached through a linked folder, an existing one untouched",
        ["--log", VIA, "x64", "1"],
        {"pf/modules.xml": STALE, "pf/real/run.log": EARLIER_LOG,
         "pf/via": Link("real")},
        {"pf/modules.xml": base_with(mod(H1)), OLD: STALE, "pf/real": DIR,
         "pf/real/run.log": EARLIER_LOG, "pf/via": Link("real")},
        stderr=((NEVER, reason_after(VIA), THROUGH_LINK),),
        modes=("win64", "win32")),
])
# The registry's lock is a file in its folder, which on Windows lasts from
# run to run (the harness takes an empty one there as the lock, not a
# leftover): one a lost run left is taken over, and stays as it is. A link at
# its name is never followed; Wine cannot remove a POSIX link as itself.
LOCK_FILE = "pf/modules.xml.lock"
LOST_RUNS_LOCK = b"left by a run the machine lost\r\n"
extend([
    run("lock: a file a lost run left is taken over, and lasts",
        ["x64", "1"], {"pf/modules.xml": STALE, LOCK_FILE: LOST_RUNS_LOCK},
        {"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
         LOCK_FILE: LOST_RUNS_LOCK},
        modes=("win64", "win32")),
    # An administrator's run (Wine's token is one) gives a lock file that
    # grants anyone else the list of SYSTEM and Administrators only: under
    # Wine, which maps Administrators (a group of its token) to the group's
    # bits, its POSIX mode keeps none of the others'.
    run("lock: one that lets others in gets the administrators' list",
        ["x64", "1"], {"pf/modules.xml": STALE,
                       LOCK_FILE: Moded(LOST_RUNS_LOCK, 0o666)},
        {"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
         LOCK_FILE: Moded(LOST_RUNS_LOCK, 0o770)},
        modes=("win64", "win32")),
    run("lock: a link at its name is not followed", ["x64", "1"],
        {"pf/modules.xml": STALE, "pf/victim.txt": VICTIM,
         LOCK_FILE: Link("victim.txt")},
        {"pf/modules.xml": STALE, "pf/victim.txt": VICTIM,
         LOCK_FILE: Link("victim.txt")}, status=6,
        stderr=((r"^modreg: cannot lock C:\\Program Files\\OpenNI\\Data: "
                 r"C:\\Program Files\\OpenNI\\Data\\modules\.xml\.lock is not "
                 r"a file, and cannot be removed as itself$",),),
        modes=("win64", "win32")),
])
# The usage error the reference shows, where it shows one, as the tool
# prints it.
USAGE_SHOWN = re.search(r"```\n(modreg: --unregister needs MASK; .*)\n```",
                        _README)
if USAGE_SHOWN:
    add(untouched("usage: the line the reference shows", ["--unregister", "x64"], 2,
                  stderr=(("^%s$" % esc(USAGE_SHOWN.group(1)),),)))

# On a 64-bit system each framework finds its own copy of a file of the
# system folder: the 64-bit one in System32, the 32-bit one in SysWOW64.
SYS = r"C:\Windows\System32\modreg-test\m.dll"
add(Case("check: a module in the system folder, as each framework finds it", [
    Step(args=["--check", bits], put={
        folder + "/modules.xml": crlf("<Modules>", mod(SYS), "</Modules>"),
        "sys/m.dll": Built("x64.dll"), "wow/m.dll": Built("x86.dll")})
    for bits, folder in (("x64", "pf"), ("x86", "pf86"))],
    arches=("64",)))

# Line ends in an argument (a mask read from a file, say) are written as
# escapes: each line printed or logged stays one line.
CRLF_MASK = ["--log", LOG, "x64", "1\r\n"]
add(run("log: a line end in an argument is written as an escape", CRLF_MASK,
        {"pf/modules.xml": STALE}, {
            "pf/modules.xml": base_with(mod(H1)), OLD: STALE,
            "pf/run.log": Lines(logged(CRLF_MASK[:3] + [r"1\r\n"], (
                r'mask "1\r\n" read as 1: reading stopped at "\r\n"',)
                + REPORT))}))

# ---- For installers: --strict ----------------------------------------------
# Words an installer did not mean are refused before anything is touched;
# a problem with the entries to add is status 8, and nothing is written. The modules' files: the built test module.
HERE_H1 = {"prod/SensorModule.dll": Built("x64.dll")}
HERE_H1_AFTER = {"prod": DIR, **HERE_H1}
OLD_H1 = r"C:\Old\SensorModule.dll"
SHADOWED = crlf("<Modules>", mod(OLD_H1), "</Modules>")
# The earlier entry's file, which the framework loads: it shadows H1.
HERE_OLD = {"old/SensorModule.dll": Built("x64.dll")}
HERE_OLD_AFTER = {"old": DIR, **HERE_OLD}
STRICT_SAID = r"^modreg: --strict: the check of the entries to add to " + \
    reason_after(REG)[:-len(r": \w")] + " found "
STRICT_SHADOW = ("refused: %s (the same file name as %s, registered earlier "
                 "at line 2)" % (H1, OLD_H1))
STRICT_LOGGED = ["--strict", "--log", LOG, "x64", "1"]
for args, why in [  # the rules' table is workplace_test's
        (["--unregister", "X86", "5"], r'ARCH "X86" is neither "x86" nor "x64"$'),
        (["x86", "0x5"],
         r'mask "0x5" is not a plain decimal number: read as 0$'),
        (["--dry-run", "x64", "64"],
         r'mask "64" names bits above 5, which name no device type$')]:
    add(untouched("strict: refuses %s" % " ".join(args), ["--strict"] + args,
                  2, stderr=((r"^modreg: --strict: " + why,),)))
extend([
    run("strict: a registration whose entries are fine is silent",
        ["--strict", "x64", "1"], {"pf/modules.xml": BASE, **HERE_H1},
        {"pf/modules.xml": base_with(mod(H1)), OLD: BASE, **HERE_H1_AFTER}),
    run("strict: a module missing is status 8, nothing written",
        ["--strict", "x64", "5"], {"pf/modules.xml": BASE, **HERE_H1},
        {"pf/modules.xml": BASE, **HERE_H1_AFTER}, status=8,
        stderr=((STRICT_SAID + esc("2 problem(s), the first: missing: %s "
                                   "(no such file); the registry is "
                                   "unchanged" % H3) + "$",),)),
    run("strict: an earlier entry shadowing it, the report and the log",
        ["--verbose"] + STRICT_LOGGED,
        {"pf/modules.xml": SHADOWED, **HERE_H1, **HERE_OLD},
        {"pf/modules.xml": SHADOWED, **HERE_H1_AFTER, **HERE_OLD_AFTER,
         "pf/run.log": Lines(
            logged(["--verbose"] + STRICT_LOGGED, SAID_V + (
                STRICT_SHADOW, "check: 1 problem(s) with the entries to add"),
                status=8)[:-1] + ((STRICT_SAID + "1 problem",),
                                  ("^status: 8$",)))},
        status=8, stdout=Out(SAID_V + (
            STRICT_SHADOW, "check: 1 problem(s) with the entries to add")),
        stderr=((STRICT_SAID + esc("1 problem(s), the first: " + STRICT_SHADOW),),)),
    # Without --strict the same run is done: status 0.
    run("strict: without it the shadowed entry is only reported",
        ["x64", "1"], {"pf/modules.xml": SHADOWED, **HERE_H1, **HERE_OLD},
        {"pf/modules.xml": written("<Modules>", mod(OLD_H1), mod(H1),
                                   "</Modules>"),
         OLD: SHADOWED, **HERE_H1_AFTER, **HERE_OLD_AFTER}),
    # An earlier entry whose file is gone loads nothing: no rival.
    run("strict: an earlier entry whose file is gone is no rival",
        ["--strict", "x64", "1"], {"pf/modules.xml": SHADOWED, **HERE_H1},
        {"pf/modules.xml": written("<Modules>", mod(OLD_H1), mod(H1),
                                   "</Modules>"),
         OLD: SHADOWED, **HERE_H1_AFTER}),
    # Nothing added, nothing checked.
    run("strict: an unregistration", ["--strict", "--unregister", "x64", "5"],
        {"pf/modules.xml": PRODUCT},
        {"pf/modules.xml": written("<Modules>", mod(FW), mod(T1), "</Modules>"),
         OLD: PRODUCT}),
    dry("strict: a dry run checks the words only", BASE,
        ["--strict", "x64", "1"], 1, ("add: " + H1,)),
])

# A registration's own repeat (types 1 and 4 name one file) is no problem.
EMPTY = crlf("<Modules>", "</Modules>")
REPEAT = ["--strict", "--product-dir", r"C:\Program Files\HALDEToF", "x64", "9"]
add(Case("strict: a registration's own repeat is fine, --check marks it", [
    Step(args=REPEAT, put={"pf/modules.xml": EMPTY, **HERE_H1},
         after={"pf/modules.xml": written("<Modules>", mod(H1), mod(H1),
                                          "</Modules>"),
                OLD: EMPTY, **HERE_H1_AFTER}),
    Step(args=["--check", "x64"], stdout=Out((
        said("repeated", H1, "repeats the entry at line 2"),)))]))

# A folder spelled with a trailing dot is the folder Windows reads: one set
# of entries.
add(Case("product-dir: a trailing dot is the same folder", [
    Step(args=["--product-dir", r"C:\Program Files\HALDEToF.", "x64", "1"],
         put={"pf/modules.xml": BASE},
         after={"pf/modules.xml": base_with(mod(H1)), OLD: BASE}),
    Step(args=["--product-dir", "C:\\Program Files\\HALDEToF\\", "x64", "1"]),
    Step(args=["--product-dir", "C:/Program Files/HALDEToF /", "--unregister",
               "x64", "1"], after={"pf/modules.xml": base_with(), OLD: BASE})]))

# ---- For deployment tools: --detect ----------------------------------------
# Registered: one line, status 0. Not registered: nothing at all, status
# 0, the reason only in the verbose report.
DETECT = ["--detect", "x64", "1"]
REGISTERED = Out(("registered: " + REG + HOST,))
add(Case("detect: before, after and without the registration", [
    Step(args=DETECT, put={"pf/modules.xml": BASE, **HERE_H1}),
    Step(args=["x64", "1"], after={"pf/modules.xml": base_with(mod(H1)),
                                   OLD: BASE, **HERE_H1_AFTER}),
    Step(args=DETECT, stdout=REGISTERED),
    Step(args=["--unregister", "x64", "1"], after={
        "pf/modules.xml": base_with(), OLD: BASE, **HERE_H1_AFTER}),
    Step(args=["--verbose"] + DETECT,
         stdout=Out(SAID_V + ("not registered: no entry " + H1,)))]))
extend([
    run("detect: an entry whose file is gone is not registered",
        ["--verbose"] + DETECT, {"pf/modules.xml": base_with(mod(H1))},
        UNCHANGED, stdout=Out(SAID_V + (
            "not registered: " + said("missing", H1, "no such file"),))),
    run("detect: no registry, not registered", DETECT, {}, {}),
    # A detection of no device type would answer "registered" anywhere.
    untouched("detect: a mask that names no device type is a usage error",
              ["--detect", "x64", "64"], 2, stderr=((
                  r'^modreg: --detect: the device mask "64" names no device '
                  r"type \(read as 64; bits 0 to 5 name device types 1 to "
                  r"6\)$",),)),
    run("detect: a malformed registry is its usual failure", DETECT,
        {"pf/modules.xml": b"<Modules>" + STALE}, UNCHANGED, status=4,
        stderr=((r"^modreg: cannot read ", reason_after(REG)),)),
])

# ---- For support: --repair -------------------------------------------------
# Only what stops every application from starting goes.
BROKEN = crlf("<Modules>", mod(FW), "\t<Module/>", mod(H1), "</Modules>")
BREAKER = ("line 3 stops every application from starting: breaks-startup: "
           "line 3 (Module without path); modreg --repair takes it out")
extend([
    # Registered only where applications start.
    run("detect: not registered where no application starts",
        ["--verbose"] + DETECT, {"pf/modules.xml": BROKEN, **HERE_H1},
        {"pf/modules.xml": BROKEN, **HERE_H1_AFTER},
        stdout=Out(SAID_V + ("not registered: " + BREAKER,))),
    run("strict: a registration over what stops every application",
        ["--strict", "x64", "1"], {"pf/modules.xml": BROKEN, **HERE_H1},
        {"pf/modules.xml": BROKEN, **HERE_H1_AFTER}, status=8,
        stderr=((r"^modreg: --strict: in " + reason_after(REG)[:-len(r": \w")]
                 + ", " + esc(BREAKER) + "; the registry is unchanged$",),)),
    run("registration: the report says what stops every application",
        ["--verbose", "x64", "1"], {"pf/modules.xml": BROKEN, **HERE_H1},
        {"pf/modules.xml": written("<Modules>", mod(FW), "\t<Module/>",
                                   mod(H1), "</Modules>"),
         OLD: BROKEN, **HERE_H1_AFTER},
        stdout=Out(SAID_V + ("backup: made", "removed: " + H1, "added: " + H1,
                             "result: rewritten", "module: " + H1,
                             "check: the added entries are fine",
                             "check: " + BREAKER))),
])
add(Case("repair: takes out what stops every application, nothing else", [
    Step(args=["--repair", "--dry-run", "x64"], put={"pf/modules.xml": BROKEN},
         status=1, stdout=Out(("remove: line 3: <Module/>",))),
    Step(args=["--repair", "x64"],
         stdout=Out(("removed: line 3: <Module/>",)),
         after={"pf/modules.xml": base_with(mod(H1)), OLD: BROKEN}),
    Step(args=["--repair", "x64"])]))
# What it removes is said whole, as the registry held it, so that support
# can put it back by hand.
WHOLE = '<Module configDir="C:\\x\\"><Note a="1&amp;2">t</Note></Module>'
add(run("repair: says the element it removes, attributes and children",
        ["--repair", "x64"], {"pf/modules.xml": crlf(
            "<Modules>", mod(FW), "\t" + WHOLE, "</Modules>")},
        {"pf/modules.xml": written("<Modules>", mod(FW), "</Modules>"),
         OLD: crlf("<Modules>", mod(FW), "\t" + WHOLE, "</Modules>")},
        stdout=Out(("removed: line 3: " + WHOLE,))))

# --product-dir in the framework's folder would take its modules.
add(untouched("--product-dir: in the framework's folder is refused",
              ["--product-dir", r"C:\Program Files\OpenNI\Bin", "x64", "1"],
              2, stderr=((r"^modreg: --product-dir .* it lies in " +
                          esc(r"C:\Program Files\OpenNI") + "$",),)))

# The log never goes into the registry --openni names, whatever the run
# refuses before deciding where it works.
add(Case("log: never the registry --openni names, a refusal first", [
    Step(args=args, put={"pf/modules.xml": OTHER, "fw/modules.xml": BASE},
         status=2, stderr=((NEVER, r"it is the framework's registry file "),
                           (r"^modreg: " + why,)))
    for args, why in [
        (["--openni", FWDIR, "--log", REGFW, "x86", "abc"],
         r'invalid device mask "abc"'),
        (["--bogus", "--openni", FWDIR, "--log", REGFW, "x86", "5"],
         r'unknown option "--bogus"')]]))

# ---- Option slips ----------------------------------------------------------
SLIP = ["--openni=C:\\a", "--openni", "C:\\b", "--log", LOG, "x64", "1"]
extend([
    untouched("usage: a value option never takes an option for its value",
              ["--log", "--openni", FWDIR, "x86", "3"], 2, stderr=((
                  r'^modreg: --log needs FILE, not the option "--openni"; '
                  r"usage: ",),)),
    run("log: a usage error in a value option, --log after it", SLIP,
        {"pf/modules.xml": STALE},
        {"pf/modules.xml": STALE, "pf/run.log": Lines(logged(SLIP, ())[:-1] + (
            (r"^modreg: --openni is given twice; usage: ",), ("^status: 2$",)))},
        status=2, stderr=((r"^modreg: --openni is given twice; usage: ",),)),
])
for ask in ("-h", "-?", "/?"):
    add(untouched("%s alone: the short message, and where help is" % ask,
                  [ask], 255, stdout=SHORT,
                  stderr=((r"^modreg: for help, run modreg --help$",),)))

# ---- Support: a framework found elsewhere ------------------------------------
# A read-only mode that misses the registry at the default place names the
# framework's variable when it is set elsewhere.
HINT = (r"; the framework's variable %s names " + esc('"%s"' % FWDIR) +
        r": add --openni-env to read the registry there$")
extend([
    framework("check: no registry by default, the variable set elsewhere",
              ["--check", "x64"], BASE, {"fw/modules.xml": BASE},
              env={V64: FWDIR}, machine={}, status=3),
    framework("list: no registry by default, the machine's variable set",
              ["--list", "x86"], BASE, {"fw/modules.xml": BASE}, machine={
                  V32: ("REG_SZ", FWDIR)}, status=3, modes=("win64", "win32")),
])
CASES[-2].steps[0].put = {"fw/modules.xml": BASE}
CASES[-2].steps[0].after = {"fw/modules.xml": BASE}
CASES[-2].steps[0].stderr = ((r"^modreg: cannot read ", reason_after(REG),
                              HINT % V64),)
CASES[-1].steps[0].put = {"fw/modules.xml": BASE}
CASES[-1].steps[0].after = {"fw/modules.xml": BASE}
CASES[-1].steps[0].stderr = ((r"^modreg: cannot read ", HINT % V32),)
CASES[-1].absent = ("pf", "pf86")

# ---- The log, the registry's kind and the command line, as installers slip --
# --detect's answer is its status and standard output: a log it cannot
# write is said nowhere.
add(run("detect: a log it cannot write is said nowhere",
        ["--detect", "--log", LOG[:-8] + r"\none\d.log", "x64", "1"],
        {"pf/modules.xml": base_with(mod(H1)), **HERE_H1},
        {"pf/modules.xml": base_with(mod(H1)), **HERE_H1_AFTER},
        stdout=REGISTERED))
# A log is never any registry: not one an --openni names after ARCH (the
# run refused), nor a file that begins as an XML document, whatever its
# name (a log begun with text stays one: log_test's table).
XML_COPY = r"C:\Program Files\OpenNI\Data\copy.xml"
add(Case("log: never a registry, whatever names it or it is named", [
    Step(args=["--log", REGFW, "x86", "5", "--openni", FWDIR],
         put={"pf/modules.xml": BASE, "fw/modules.xml": BASE}, status=2,
         stderr=((NEVER, r"it is the framework's registry file "),
                 (r'^modreg: options come before ARCH: "--openni"; usage: ',)),
         after={"pf/modules.xml": BASE, "fw/modules.xml": BASE}),
    Step(args=["--log", XML_COPY, "--list", "x64"],
         put={"pf/copy.xml": b"\xef\xbb\xbf\r\n" + BASE},
         stdout=Out(SAID + ("missing: " + FW,)),
         stderr=((NEVER, reason_after(XML_COPY),
                  r": it begins as an XML document \(a registry\?\): not "
                  r"written$"),),
         after={"pf/modules.xml": BASE, "fw/modules.xml": BASE,
                "pf/copy.xml": b"\xef\xbb\xbf\r\n" + BASE})]))
# A FIFO at the registry's name is refused at once in every mode, never
# waited on; nothing is left beside it. Under Wine an unregistration, which
# looks the registry up first, is told "Invalid parameter" by that look-up.
def fifo_said(reason):
    return ((r"^modreg: cannot read ", reason_after(REG), reason),)


add(Case("registry: a FIFO at its name is refused at once", [
    Step(args=args, put={"pf/modules.xml": FIFO}, status=3,
         stderr=fifo_said(reason), after={"pf/modules.xml": FIFO})
    for args, reason in (
        (DETECT, r": it is not a regular file$"),
        (["x64", "1"], r": it is not a regular file$"),
        (["--unregister", "x64", "1"],
         r": (it is not a regular file|Invalid parameter)$"),
        (["--list", "x64"], r": it is not a regular file$"))]))
# Windows Installer's [INSTALLDIR] ends in a backslash, which escapes the
# closing quote of "--product-dir=[INSTALLDIR]": the usage error says so.
add(untouched("usage: a quote a backslash escaped",
              ["--detect", "--product-dir=C:\\Program Files\\HALDEToF\" x64 1"],
              2, stderr=((r"^modreg: --detect needs ARCH and MASK; an "
                          r"argument holds a quote \(\"\): a backslash before "
                          r"a closing quote escapes it, .*; usage: ",),)))

# ---- Undo records ---------------------------------------------------------
# --undo ID keeps what a registration changes beside the registry;
# --rollback puts it back, --commit drops it. The record's rules are
# undo_test's; here, once each, what a run says and leaves.
UNDO_ID = "{6C1C5D0E-8F54}-install"
RECORD = "pf/modules.xml.undo-" + UNDO_ID
RECORD_NAME = r"C:\Program Files\OpenNI\Data\modules.xml.undo-" + UNDO_ID
RECORDED = ["--undo", UNDO_ID, "x64", "1"]
ROLLBACK = ["--rollback", "x64", UNDO_ID]


def undo_field(name, value):
    value = _b(value)
    return b"%s %d\n%s\n" % (name.encode(), len(value), value)


def undo_record(before, boot, removed=(), added=()):
    """A record as the tool writes one, of the machine's start |boot|
    (seconds since 1970): |removed| (index, text) and |added| paths."""
    import hashlib
    out = b"modreg undo record\n" + b"".join(undo_field(*f) for f in (
        ("format", "1"), ("id", UNDO_ID), ("arch", "x64"),
        ("action", "registration"), ("boot", str(boot)), ("registry", REG),
        ("written-size", "0"), ("written-sha256", "0"),
        ("before-sha256", hashlib.sha256(before).hexdigest()),
        ("removed", str(len(removed)))))
    for index, text in removed:
        out += undo_field("index", str(index)) + undo_field("element", text)
    out += undo_field("added", str(len(added)))
    for path in added:
        out += undo_field("path", path) + undo_field("has-config", "0") + \
            undo_field("config", "")
    return out + b"before %d\n%s\n" % (len(before), before)


RECORD_OF_STALE = Record(UNDO_ID, "registration", STALE)
# Both products' modules, of one file name.
HERE_BOTH = {**HERE_H1, "tprod/SensorModule.dll": Built("x64.dll")}
HERE_BOTH_AFTER = {**HERE_H1_AFTER, "tprod": DIR, **HERE_BOTH}
# An element with a line end in a value and mixed text, and how the
# printer writes it once put back: the record keeps it printed on its own
# (x and z on lines of their own, a tab in), which reads back as the text
# nodes "\n\tx\n\t" and "\n\tz\n", each line end CR LF again, no CR more.
NOTED = crlf("<Modules>", '\t<Module path="%s" note="a&#10;b">x<y/>z</Module>'
             % H1, mod(FW), "</Modules>")
NOTED_PUT_BACK = crlf(
    "<Modules>",
    '\t<Module path="%s" note="a' % H1, 'b">',
    "\t\t", "\tx", "\t",
    "\t\t<y/>",
    "\t\t", "\tz", "",
    "\t</Module>",
    mod(FW), mod(T2), "</Modules>") + b"\r\n"
extend([
    Case("undo: a recorded registration rolled back: the bytes before", [
        Step(args=RECORDED, put={"pf/modules.xml": STALE},
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
                    RECORD: RECORD_OF_STALE}),
        Step(args=ROLLBACK, after={"pf/modules.xml": STALE, OLD: STALE})]),
    # Another run changed the registry since: the rollback takes out what
    # it added and puts back what it removed, where it stood, and says so.
    Case("undo: changed after the run: only its own change undone", [
        Step(args=RECORDED, put={"pf/modules.xml": STALE},
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
                    RECORD: RECORD_OF_STALE}),
        Step(args=ROLLBACK, put={"pf/modules.xml": written(
                 "<Modules>", mod(FW), mod(H1), mod(T2), "</Modules>")},
             stderr=((r"^modreg: warning: " + reason_after(REG)[:-len(r": \w")]
                      + esc(" was changed after the registration of %s: only "
                            "its own change undone (1 of 1 added entries "
                            "taken out, 1 of 1 removed put back)" % UNDO_ID)
                      + "$",),),
             after={"pf/modules.xml": written(
                 "<Modules>", mod(H1), mod(FW), mod(T2), "</Modules>"),
                 OLD: STALE})]),
    # A product registered since, of the same module file name, keeps
    # loading: the entry put back goes after it, and the rolled-back
    # product is not registered, which it is not.
    Case("undo: put back after an entry it would shadow", [
        Step(args=["x64", "1"], put={"pf/modules.xml": BASE, **HERE_BOTH},
             after={"pf/modules.xml": base_with(mod(H1)), OLD: BASE,
                    **HERE_BOTH_AFTER}),
        Step(args=["--strict", "--undo", UNDO_ID, "--unregister", "x64", "1"],
             after={"pf/modules.xml": base_with(), OLD: BASE,
                    RECORD: Record(UNDO_ID, "unregistration",
                                   base_with(mod(H1))),
                    **HERE_BOTH_AFTER}),
        Step(args=["--strict", "x64", "8"],
             after={"pf/modules.xml": base_with(mod(T1)), OLD: BASE,
                    RECORD: Record(UNDO_ID, "unregistration",
                                   base_with(mod(H1))),
                    **HERE_BOTH_AFTER}),
        Step(args=["--detect", "x64", "8"], stdout=REGISTERED),
        Step(args=ROLLBACK,
             stderr=((r"^modreg: warning: " + reason_after(REG)[:-len(r": \w")]
                      + esc(" was changed after the unregistration of %s: "
                            "only its own change undone (0 of 0 added "
                            "entries taken out, 1 of 1 removed put back, 1 "
                            "of them after an entry of the same file name "
                            "they would have shadowed)" % UNDO_ID) + "$",),),
             after={"pf/modules.xml": base_with(mod(T1), mod(H1)),
                    OLD: BASE, **HERE_BOTH_AFTER}),
        Step(args=["--detect", "x64", "8"], stdout=REGISTERED),
        Step(args=["--detect", "x64", "1"])]),
    # An element put back keeps its bytes as the printer writes them: the
    # line end in a value, and those around mixed text, as CR LF.
    Case("undo: an element put back prints as the registry's own", [
        Step(args=RECORDED, put={"pf/modules.xml": NOTED},
             after={"pf/modules.xml": base_with(mod(H1)), OLD: NOTED,
                    RECORD: Record(UNDO_ID, "registration", NOTED)}),
        Step(args=ROLLBACK, put={"pf/modules.xml": written(
                 "<Modules>", mod(FW), mod(H1), mod(T2), "</Modules>")},
             stderr=((r"^modreg: warning: .* \(1 of 1 added entries taken "
                      r"out, 1 of 1 removed put back\)$",),),
             after={"pf/modules.xml": NOTED_PUT_BACK, OLD: NOTED})]),
    # --check lists what an installer left; --commit drops it.
    Case("undo: --check lists a record left, --commit drops it", [
        Step(args=RECORDED, put={"pf/modules.xml": STALE},
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
                    RECORD: RECORD_OF_STALE}),
        Step(args=["--check", "x64"], status=1, stdout=Out((
            "missing: %s (no such file)" % FW,
            "missing: %s (no such file)" % H1,
            "undo record left: %s%s (registration of %s)"
            % (RECORD_NAME, HOST, UNDO_ID)))),
        Step(args=["--commit", "x64", UNDO_ID],
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE})]),
    run("undo: --strict refusing writes no record, and drops one of its ID",
        ["--strict"] + RECORDED,
        {"pf/modules.xml": STALE, RECORD: b"an earlier run's record"},
        {"pf/modules.xml": STALE}, status=8,
        stderr=((STRICT_SAID + esc("1 problem(s), the first: missing: %s "
                                   "(no such file); the registry is "
                                   "unchanged" % H1) + "$",),)),
    run("rollback: no record: nothing changed", ROLLBACK,
        {"pf/modules.xml": STALE}, UNCHANGED),
    # Written before the machine last started: never applied.
    run("rollback: a record of an earlier start of the machine",
        ROLLBACK, {"pf/modules.xml": BASE,
                   RECORD: undo_record(STALE, 1, [(0, mod(H1))], [H1])},
        {"pf/modules.xml": BASE},
        stderr=((r"^modreg: warning: the undo record " + esc(RECORD_NAME) +
                 r"( \(/.*\))? is of an earlier start of the machine: not "
                 r"applied$",),)),
    run("rollback: a record that is a link is refused, status 9", ROLLBACK,
        {"pf/modules.xml": BASE, "pf/mine": undo_record(STALE, 1),
         RECORD: Link("mine")},
        UNCHANGED, status=9,
        stderr=((r"^modreg: cannot use the undo record " + esc(RECORD_NAME) +
                 r"( \(/.*\))?: it is a link; the registry is unchanged$",),),
        modes=("native",)),  # symbolic links are the POSIX build's concern
])

# A log never goes into an undo record, of any ID, by its name in a
# registry folder or, whatever its name, by its first line: the record
# stays whole and its rollback works.
OTHER_RECORD = "pf/modules.xml.undo-Y"
KEPT_RECORD = undo_record(STALE, 1)
extend([
    Case("log: never an undo record, of any ID: its rollback still works", [
        Step(args=RECORDED, put={"pf/modules.xml": STALE},
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
                    RECORD: RECORD_OF_STALE}),
        Step(args=["--log", RECORD_NAME, "--undo", "Y", "x64", "1"],
             stderr=((NEVER, reason_after(RECORD_NAME),
                      r"it has the name of an undo record in the registry's "
                      r"folder "),),
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
                    RECORD: RECORD_OF_STALE,
                    OTHER_RECORD: Record("Y", "registration",
                                         base_with(mod(H1)))}),
        Step(args=["--log", LOG, "--rollback", "x64", "Q"],
             put={"pf/run.log": KEPT_RECORD},
             stderr=((NEVER, reason_after(LOG),
                      r": it begins as an undo record does: not written$"),),
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
                    RECORD: RECORD_OF_STALE, "pf/run.log": KEPT_RECORD,
                    OTHER_RECORD: Record("Y", "registration",
                                         base_with(mod(H1)))}),
        Step(args=ROLLBACK,
             after={"pf/modules.xml": STALE, OLD: STALE,
                    "pf/run.log": KEPT_RECORD,
                    OTHER_RECORD: Record("Y", "registration",
                                         base_with(mod(H1)))})]),
    # --commit --verbose says whether it dropped a record or found none.
    Case("commit: --verbose says the record was dropped", [
        Step(args=RECORDED, put={"pf/modules.xml": STALE},
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE,
                    RECORD: RECORD_OF_STALE}),
        Step(args=["--verbose", "--commit", "x64", UNDO_ID],
             stdout=Out(SAID_V + ("result: undo record %s%s dropped"
                                  % (RECORD_NAME, HOST),)),
             after={"pf/modules.xml": base_with(mod(H1)), OLD: STALE})]),
    run("commit: --verbose says when there was none to drop",
        ["--verbose", "--commit", "x64", UNDO_ID], {"pf/modules.xml": STALE},
        UNCHANGED, stdout=Out(SAID_V + ("result: no undo record %s%s, nothing "
                                        "to drop" % (RECORD_NAME, HOST),))),
])

# ---- 32-bit Windows --------------------------------------------------------
# No 64-bit framework runs there: --check and --list of another ARCH than
# x86 say so once, status 2, rather than skipping every module. The cases
# above that check or list for the 64-bit framework run on 64-bit prefixes.
def _checks_64(case):
    for step in case.steps:
        for mode in ("--check", "--list"):
            if mode in step.args:
                rest = step.args[step.args.index(mode) + 1:]
                if rest and rest[0] != "x86":
                    return True
    return False


for _case in CASES:
    if _checks_64(_case):
        _case.arches = tuple(a for a in _case.arches if a != "32")
NO_64 = (r"^modreg: ARCH \"%s\" names the 64-bit framework, and no 64-bit "
         r"framework runs on 32-bit Windows: ARCH x86 names the one there$")
extend([
    untouched("32-bit Windows: --check x64 is refused once", ["--check", "x64"],
              2, stderr=((NO_64 % "x64",),),
              arches=("32",)),
    untouched("32-bit Windows: --list of another word than x86 too",
              ["--list", "X86"], 2, stderr=((NO_64 % "X86",),),
              arches=("32",)),
])
