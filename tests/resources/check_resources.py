#!/usr/bin/env python3
"""The Windows executable's resources, read back from the file.

  check_resources.py --exe build/windows/modreg.exe --wine WINE

Checks that the version resource says what `modreg.exe --version` prints
under WINE (a command that runs a Windows program, with its prefix in the
environment): the fixed and the string FileVersion and ProductVersion, and
the program's names; that the manifest keeps the program at its caller's
rights, declares Windows Vista to 10/11 and nothing else; that the
program stays large-address-aware; and that it asks, once, at its start,
for the redirection trust policy (Wine's relay trace shows the call to
SetProcessMitigationPolicy, its policy and size; not the flags it
passes). The installer test takes the readers and with_version from
here."""
import argparse
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

try:
    import pefile
except ImportError:
    # Debian's python3-pefile, when another Python comes first on PATH.
    sys.path.append('/usr/lib/python3/dist-packages')
    import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                '..', 'reliability'))
from common import Results  # noqa: E402

RT_VERSION = 16
RT_MANIFEST = 24
FIXED_SIGNATURE = struct.pack('<I', 0xFEEF04BD)
NAMES = {'OriginalFilename': 'modreg.exe', 'InternalName': 'modreg',
         'ProductName': 'modreg'}
ASM = '{urn:schemas-microsoft-com:asm.v1}'
ASM3 = '{urn:schemas-microsoft-com:asm.v3}'
COMPAT = '{urn:schemas-microsoft-com:compatibility.v1}'
SUPPORTED_OS = {  # Vista, 7, 8, 8.1, 10 and 11
    '{e2011457-1546-43c5-a5fe-008deee3d3f0}',
    '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}',
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}',
    '{1f676c76-80e1-4239-95bb-83d0f6d0da78}',
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}',
}
# Every element a manifest that changes nothing else may hold.
MANIFEST_ELEMENTS = {
    ASM + 'assembly', ASM3 + 'trustInfo', ASM3 + 'security',
    ASM3 + 'requestedPrivileges', ASM3 + 'requestedExecutionLevel',
    COMPAT + 'compatibility', COMPAT + 'application', COMPAT + 'supportedOS',
}


def numbers(version):
    """The (MS, LS) words of a dotted version, missing parts 0."""
    parts = [int(p) for p in version.split('.')] + [0, 0, 0]
    return parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]


def resources(pe, kind):
    """(file offset, bytes) of every resource of |kind|."""
    tree = getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None)
    leaves = [language.data.struct
              for type_entry in (tree.entries if tree else [])
              if type_entry.id == kind
              for name in type_entry.directory.entries
              for language in name.directory.entries]
    offsets = [pe.get_offset_from_rva(leaf.OffsetToData) for leaf in leaves]
    return [(offset, pe.__data__[offset:offset + leaf.Size])
            for offset, leaf in zip(offsets, leaves)]


def version_info(path):
    """(the strings of the version resource, its fixed FileVersion and
    ProductVersion words)."""
    pe = pefile.PE(path)
    strings = {}
    for info in getattr(pe, 'FileInfo', [[]])[0]:
        for table in getattr(info, 'StringTable', []):
            strings.update({k.decode(): v.decode()
                            for k, v in table.entries.items()})
    fixed = None
    if getattr(pe, 'VS_FIXEDFILEINFO', None):
        f = pe.VS_FIXEDFILEINFO[0]
        fixed = ((f.FileVersionMS, f.FileVersionLS),
                 (f.ProductVersionMS, f.ProductVersionLS))
    return strings, fixed


def with_version(path, out, version):
    """Writes to |out| a copy of the executable at |path| whose version
    resource says |version|, a string as long as its own: the build of
    another version, as far as an installer can tell."""
    pe = pefile.PE(path)
    data = bytearray(pe.__data__)
    (offset, block), = resources(pe, RT_VERSION)
    block = bytearray(block)
    old = version_info(path)[0]['FileVersion']
    if len(old) != len(version):
        raise ValueError('%s is not as long as %s' % (version, old))
    fixed = block.index(FIXED_SIGNATURE)
    struct.pack_into('<4I', block, fixed + 8, *numbers(version),
                     *numbers(version))
    old16, new16 = ((v + '\0').encode('utf-16-le') for v in (old, version))
    if block.count(old16) != 2:   # FileVersion and ProductVersion
        raise ValueError('%s: %d version strings' % (path,
                                                     block.count(old16)))
    data[offset:offset + len(block)] = block.replace(old16, new16)
    with open(out, 'wb') as f:
        f.write(data)


def version_problems(exe, printed):
    strings, fixed = version_info(exe)
    printed = re.fullmatch(r'modreg ([0-9]+(\.[0-9]+){0,3})\s*', printed)
    if not printed:
        return ['--version prints no version']
    version, problems = printed.group(1), []
    for key in ('FileVersion', 'ProductVersion'):
        if strings.get(key) != version:
            problems.append('%s %r, --version prints %r' % (
                key, strings.get(key), version))
    if fixed != (numbers(version),) * 2:
        problems.append('fixed versions %r, not %r' % (fixed,
                                                       numbers(version)))
    problems += ['%s %r, not %r' % (key, strings.get(key), value)
                 for key, value in NAMES.items() if strings.get(key) != value]
    if not strings.get('FileDescription'):
        problems.append('no FileDescription')
    return problems


def manifest_problems(exe):
    found = [data for _, data in resources(pefile.PE(exe), RT_MANIFEST)]
    if len(found) != 1:
        return ['%d manifests' % len(found)]
    root = ET.fromstring(found[0])
    problems = ['element %s' % e.tag for e in root.iter()
                if e.tag not in MANIFEST_ELEMENTS]
    levels = [(e.get('level'), e.get('uiAccess'))
              for e in root.iter(ASM3 + 'requestedExecutionLevel')]
    if levels != [('asInvoker', 'false')]:
        problems.append('execution levels %r' % levels)
    systems = [e.get('Id') for e in root.iter(COMPAT + 'supportedOS')]
    if sorted(systems) != sorted(SUPPORTED_OS):
        problems.append('supportedOS %r' % systems)
    return problems


# A call as Wine's relay trace shows it: the policy, where its flags are,
# their size. ProcessRedirectionTrustPolicy is 16.
MITIGATION_CALL = re.compile(
    r'Call KERNEL32\.SetProcessMitigationPolicy\(([0-9a-f]+),[0-9a-f]+,'
    r'([0-9a-f]+)\)')


def mitigation_problems(wine, exe):
    """What is wrong with the mitigations `modreg.exe --version` asks for,
    as Wine's relay trace (tens of megabytes, read as it comes) shows
    them."""
    env = dict(os.environ, WINEDEBUG='-all,+relay')
    run = subprocess.Popen([wine, exe, '--version'], env=env,
                           stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    calls = []
    for line in run.stderr:
        found = MITIGATION_CALL.search(line.decode('latin-1'))
        if found:
            calls.append((int(found.group(1), 16), int(found.group(2), 16)))
    problems = [] if run.wait(timeout=300) == 0 else [
        '--version exits with %d' % run.returncode]
    if calls != [(16, 4)]:
        problems.append('SetProcessMitigationPolicy calls (policy, size) %r, '
                        'expected [(16, 4)]' % calls)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--exe', required=True)
    parser.add_argument('--wine', required=True)
    args = parser.parse_args()
    results = Results('resources')
    run = subprocess.run([args.wine, args.exe, '--version'],
                         stdin=subprocess.DEVNULL, capture_output=True,
                         text=True, timeout=300)
    problems = [] if run.returncode == 0 else [
        '--version exits with %d' % run.returncode]
    results.check('version resource as --version prints it (%s)'
                  % run.stdout.strip(),
                  problems + version_problems(args.exe, run.stdout))
    results.check('manifest: asInvoker, Windows Vista to 10/11',
                  manifest_problems(args.exe))
    large = pefile.PE(args.exe).FILE_HEADER.Characteristics & \
        pefile.IMAGE_CHARACTERISTICS['IMAGE_FILE_LARGE_ADDRESS_AWARE']
    results.check('large-address-aware',
                  [] if large else ['no IMAGE_FILE_LARGE_ADDRESS_AWARE'])
    results.check('the redirection trust policy asked for at the start',
                  mitigation_problems(args.wine, args.exe))
    results.exit()


if __name__ == '__main__':
    main()
