#!/usr/bin/env python3
"""The report lines docs/installers.md's walkthrough quotes are lines the
tool writes in that walkthrough: its two commands (register, then
unregister, with --strict and --log, the framework on D: through
OPEN_NI_INSTALL_PATH, the product in C:\\Acme Depth) run by the POSIX build
in a prefix made of plain folders. Every line of the walkthrough's text
blocks, and every inline quote, that begins like a report line (check:,
result:, added:, ...) must be one of the lines the two runs logged.

  walkthrough_lines.py --exe build/native/modreg --modules DIR --work DIR
                       [--doc docs/installers.md]

Prints each quoted line the tool did not write; exit status 1 when any."""
import argparse
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DOC = os.path.join(HERE, '..', '..', 'docs', 'installers.md')
SECTION = '## Walkthrough:'
REPORT = re.compile(r'(?:check|result|added|removed|module|backup|status|'
                    r'skipped|undo): ')
PRODUCT = 'Acme Depth'
COMMANDS = (
    ['--strict', '--log', 'C:\\Acme Depth\\modreg.log', '--openni-env',
     '--product-dir=C:\\Acme Depth', 'x86', '5'],
    ['--strict', '--log', 'C:\\Acme Depth\\uninstall.log', '--unregister',
     '--openni-env', '--product-dir=C:\\Acme Depth', 'x86', '5'])
# The framework's registry before: its own module, and one of an older
# version of the product.
REGISTRY = ('<Modules>\r\n'
            '\t<Module path="D:\\OpenNI\\Bin\\nimMockNodes.dll"/>\r\n'
            '\t<Module path="C:\\Acme Depth\\SensorModule_QA4.dll"/>\r\n'
            '</Modules>\r\n')


def quoted(doc):
    """The report lines the walkthrough quotes: its text blocks' lines and
    its inline quotes that begin like one."""
    with open(doc, encoding='utf-8') as f:
        text = f.read()
    at = text.find(SECTION)
    if at < 0:
        sys.exit('%s: no section "%s"' % (doc, SECTION))
    end = text.find('\n## ', at + 1)
    section = text[at:end if end > 0 else len(text)]
    lines = []
    for block in re.findall(r'^```(\w*)\n(.*?)^```', section, re.M | re.S):
        if block[0] in ('', 'text'):
            lines += [l for l in block[1].splitlines() if REPORT.match(l)]
    prose = re.sub(r'^```.*?^```', '', section, flags=re.M | re.S)
    for span in re.findall(r'`([^`]+)`', prose):
        span = ' '.join(span.split())       # reflowed over lines
        if REPORT.match(span):
            lines.append(span)
    return lines


def written(exe, modules, work):
    """The lines the walkthrough's two commands log."""
    shutil.rmtree(work, ignore_errors=True)
    c = os.path.join(work, 'drive_c')
    product = os.path.join(c, PRODUCT)
    os.makedirs(os.path.join(product, 'data'))
    os.makedirs(os.path.join(c, 'windows', 'syswow64'))
    os.makedirs(os.path.join(c, 'DriveD', 'OpenNI', 'Data'))
    devices = os.path.join(work, 'dosdevices')
    os.makedirs(devices)
    os.symlink(os.path.join('..', 'drive_c'), os.path.join(devices, 'c:'))
    os.symlink(os.path.join('..', 'drive_c', 'DriveD'),
               os.path.join(devices, 'd:'))
    for name in ('SensorModule.dll', 'libskelvia_ni.dll'):
        shutil.copyfile(os.path.join(modules, 'x86.dll'),
                        os.path.join(product, name))
    with open(os.path.join(product, 'data', 'skelvia.ini'), 'wb') as f:
        f.write(b'[skelvia]\r\n')
    with open(os.path.join(c, 'DriveD', 'OpenNI', 'Data', 'modules.xml'),
              'w', newline='') as f:
        f.write(REGISTRY)
    env = dict(os.environ, WINEPREFIX=work, OPEN_NI_INSTALL_PATH='D:\\OpenNI')
    env.pop('OPEN_NI_INSTALL_PATH64', None)
    lines = set()
    for args in COMMANDS:
        done = subprocess.run([exe] + args, env=env, capture_output=True,
                              timeout=60)
        if done.returncode != 0:
            sys.exit('%s %s: status %d: %s' % (exe, ' '.join(args),
                                               done.returncode, done.stderr))
        log = os.path.join(product, args[2].split('\\')[-1])
        with open(log, encoding='utf-8') as f:
            lines |= {l.rstrip('\r\n') for l in f}
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--exe', required=True)
    parser.add_argument('--modules', required=True,
                        help='the built test modules (x86.dll)')
    parser.add_argument('--work', required=True)
    parser.add_argument('--doc', default=DOC)
    args = parser.parse_args()
    lines = quoted(args.doc)
    if not lines:
        sys.exit('%s: the walkthrough quotes no report line' % args.doc)
    said = written(os.path.abspath(args.exe), os.path.abspath(args.modules),
                   os.path.abspath(args.work))
    missing = [l for l in lines if l not in said]
    for line in missing:
        print('walkthrough: the tool never writes %r here' % line)
    print('%d passed, %d failed' % (len(lines) - len(missing), len(missing)))
    return 1 if missing else 0


if __name__ == '__main__':
    sys.exit(main())
