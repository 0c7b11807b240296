#!/usr/bin/env python3
"""The installer examples, run by real installers under Wine.

Builds examples/nsis with makensis and examples/wix with its build.sh around
modreg.exe and stand-in module files (the test module of tests/modules as
SensorModule.dll and libskelvia_ni.dll), then, in one fresh 64-bit Wine
prefix whose framework registry is
C:\\Program Files (x86)\\OpenNI\\Data\\modules.xml, runs each installer
through the steps of the table below: silent install, repair, uninstall,
uninstall after the framework was removed, install over a malformed
registry, which must fail and roll back, and install where an earlier
entry shadows the product's, which --strict fails with status 8. After each step it compares the
registry byte for byte, checks the product's folder, and checks that the
log the step's run of modreg.exe was given (--log) gained that run, with
its lines and its status. The registry under
C:\\Program Files belongs to the 64-bit framework, which the products' "x86"
must leave alone: it keeps its bytes throughout. Last, with the release
zip's try folder (a sample registry and the stand-in modules per width):
the NSIS installer built with the signing hook set (the kit's throwaway
signing setup), the modreg.exe and uninstaller it installs signed too, and
the WiX package and the NSIS installer built for the 64-bit framework. Then the WiX
package's rollbacks, upgrades and undo records, in this prefix and in a
32-bit one (msi_rollback.py), and the NSIS installer's, a later step of the
product's failing (nsis_rollback.py)."""
import argparse
import getpass
import os
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, '..', '..')
sys.path.insert(0, os.path.join(HERE, '..', 'e2e'))
sys.path.insert(0, os.path.join(HERE, '..', 'reliability'))
from cases import crlf, mod  # noqa: E402
from common import Results  # noqa: E402
from wine import WinePrefix, quiet  # noqa: E402
sys.path.insert(0, os.path.join(HERE, '..', 'resources'))
from check_resources import version_info, with_version  # noqa: E402
import msi_rollback  # noqa: E402
from msi_rollback import ENVIRONMENT, set_framework_variable  # noqa: E402
import nsis_rollback  # noqa: E402
from detect_scripts import lost_folder_problems, script_problems  # noqa: E402

PF86 = 'C:\\Program Files (x86)'
PRODUCT = PF86 + '\\HALDEToF'

FRAMEWORK = [mod(PF86 + '\\OpenNI\\Bin\\' + name) for name in
             ('nimMockNodes.dll', 'nimCodecs.dll', 'nimRecorder.dll')]
# As the framework's own tool leaves it, with an entry of an older version
# of the product that a registration replaces.
BEFORE = crlf('<?xml version="1.0" encoding="UTF-8" standalone="no" ?>',
              '<!-- OpenNI module registry -->', '<Modules>',
              *[line[:-2] + ' />' for line in FRAMEWORK],
              mod(PRODUCT + '\\SensorModule_QA4.dll')[:-2] + ' />',
              '</Modules>')
REGISTERED = crlf('<Modules>', *FRAMEWORK,
                  mod(PRODUCT + '\\SensorModule.dll'),
                  mod(PRODUCT + '\\libskelvia_ni.dll', PRODUCT + '\\data\\'),
                  '</Modules>', '')
UNREGISTERED = crlf('<Modules>', *FRAMEWORK, '</Modules>', '')
MALFORMED = crlf('<Modules>', mod(PRODUCT + '\\SensorModule.dll')[:-2] + '>',
                 '</Modules>')
MISSING = None        # no OpenNI folder at all
OTHER = BEFORE.replace(b' (x86)', b'')   # the 64-bit framework's registry
# An entry of another product with the same file name comes first: the
# framework would refuse the product's, and --strict fails the install.
SHADOW = mod(PF86 + '\\TOLVARToF\\SensorModule.dll')
SHADOWING = crlf('<Modules>', *FRAMEWORK, SHADOW, '</Modules>')


@dataclass
class Step:
    name: str
    action: str           # install, repair or uninstall
    registry: object      # laid out before the step, or MISSING
    after: object         # the registry expected after it
    failed: bool = False  # the installer must fail and roll back
    installed: bool = True  # the product's files are there afterwards
    # The check of the added entries fails (--strict: status 8): |after|
    # maps each installer to the registry it leaves.
    check_fails: bool = False


STEPS = [
    Step('install', 'install', BEFORE, REGISTERED),
    # The entries lost meanwhile: a repair registers again.
    Step('repair', 'repair', UNREGISTERED, REGISTERED),
    Step('uninstall', 'uninstall', REGISTERED, UNREGISTERED,
         installed=False),
    Step('install again', 'install', UNREGISTERED, REGISTERED),
    Step('uninstall, framework removed first', 'uninstall', MISSING, MISSING,
         installed=False),
    Step('install over a malformed registry', 'install', MALFORMED, MALFORMED,
         failed=True, installed=False),
    # --strict checks the entries before writing them: the registry keeps
    # its bytes, with nothing for a rollback to take out.
    Step('install where an earlier entry shadows the product', 'install',
         SHADOWING, SHADOWING, failed=True, installed=False, check_fails=True),
]

# The product's module files, as the examples take them (MODULES): the
# test module, which exports what the framework looks up.
PRODUCT_FILES = ('SensorModule.dll', 'libskelvia_ni.dll', 'data/skelvia.ini')
MODULES_DIR = None    # laid out under --work
DETECT_EXE = None     # the modreg.exe the detection rule runs (--exe)


def lay_out_modules(test_modules, folder):
    os.makedirs(os.path.join(folder, 'data'), exist_ok=True)
    for name in PRODUCT_FILES[:2]:
        shutil.copyfile(os.path.join(test_modules, 'x86.dll'),
                        os.path.join(folder, name))
    with open(os.path.join(folder, 'data', 'skelvia.ini'), 'wb') as f:
        f.write(b'[skelvia]\r\n')


# makensis's environment without the signing hook: the installers are
# unsigned unless a case sets it (run_signed).
UNSIGNED = {name: value for name, value in os.environ.items()
            if not name.startswith('MODREG_SIGN_')}


class Nsis:
    name = 'nsis'
    # Abort after a failed modreg.exe: setup.exe exits with its status.
    failures = (4,)
    check_failures = (8,)

    def build(self, exe, out, version='1.0.0', modules=None):
        self.out = out
        target = os.path.join(out, 'haldetof-%s.exe' % version)
        subprocess.run(['makensis', '-V2', '-WX', '-DMODREG_SOURCE=' + exe,
                        '-DMODULES=' + (modules or MODULES_DIR),
                        '-DOUTFILE=' + target, '-DVERSION=' + version,
                        os.path.join(ROOT, 'examples', 'nsis', 'setup.nsi')],
                       env=UNSIGNED, check=True)
        self.setup = 'C:\\installers\\haldetof-%s.exe' % version

    def command(self, action):
        if action == 'uninstall':
            # _?= runs the uninstaller for that folder and waits for it,
            # instead of a copy in the temporary folder that returns at
            # once. Run from a copy, as that one is, it removes the whole
            # product folder, uninstall.exe included. NSIS takes the rest
            # of the command line, unquoted, as the folder; Wine quotes an
            # argument with blanks, but joins arguments with one blank: so
            # the folder goes word by word.
            installed = host_path(os.path.dirname(self.out),
                                  PRODUCT + '\\uninstall.exe')
            if os.path.exists(installed):
                shutil.copy(installed, self.out)
            return ['C:\\installers\\uninstall.exe', '/S'] + \
                ('_?=' + PRODUCT).split(' ')
        return [self.setup, '/S']

    def log(self, step):
        """The log the step's run of modreg.exe appends to."""
        if step.action == 'uninstall':
            return TEMP + '\\haldetof-x86-uninstall.log'
        if step.failed:    # a first install's: out of the product folder
            return TEMP + '\\haldetof-x86-install.log'
        return PRODUCT + '\\modreg.log'

    def log_replaced(self, step):
        """A failed install's log replaces the one a failure before left."""
        return step.failed


class Wix:
    name = 'wix'
    # ERROR_INSTALL_FAILURE (1603) on Windows; Wine's msiexec exits with
    # 1627, which a POSIX parent sees modulo 256.
    failures = (1603 % 256, 1627 % 256)
    check_failures = failures

    def build(self, exe, out, version='1.0.0', name='product.msi'):
        build_msi('x86', exe, version, MODULES_DIR, os.path.join(out, name))

    def command(self, action):
        # A repair by properties: Wine's msiexec answers "/fa product.msi"
        # with 1605 (unknown product).
        option, properties = {'install': ('/i', []), 'uninstall': ('/x', []),
                              'repair': ('/i', ['REINSTALL=ALL',
                                                'REINSTALLMODE=omus'])}[action]
        return ['msiexec', option, 'C:\\installers\\product.msi'] + \
            properties + ['/qn']

    def log(self, step):
        return TEMP + '\\haldetof-x86-%s.log' % (
            'uninstall' if step.action == 'uninstall' else 'install')

    def log_replaced(self, step):
        return False


def build_msi(arch, exe, version, modules, out):
    """product.wxs built by examples/wix/build.sh around |exe|."""
    subprocess.run(['bash', os.path.join(ROOT, 'examples', 'wix', 'build.sh'),
                    arch, version, modules, out],
                   env=dict(os.environ, MODREG_EXE=exe), check=True,
                   stdout=subprocess.DEVNULL)
    problems = msi_rollback.table_problems(out)
    if problems:
        raise RuntimeError('%s: %s' % (out, '; '.join(problems)))


def read(path):
    try:
        with open(path, 'rb') as f:
            return f.read()
    except FileNotFoundError:
        return MISSING


def put(data_dir, registry):
    shutil.rmtree(os.path.dirname(data_dir), ignore_errors=True)
    if registry is not MISSING:
        os.makedirs(data_dir)
        with open(os.path.join(data_dir, 'modules.xml'), 'wb') as f:
            f.write(registry)


def detected(wine):
    """Whether modreg.exe --detect, as a deployment tool's detection rule
    runs it, finds the product registered: one line on standard output
    and status 0 for yes, nothing at all and status 0 for no; anything
    else is a failed detection, None."""
    done = subprocess.run(
        ['wine', DETECT_EXE, '--detect', '--openni-env',
         '--product-dir=' + PRODUCT, 'x86', '5'], env=wine.env,
        stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    if done.returncode != 0 or done.stderr:
        return None
    return {b'': False}.get(done.stdout, done.stdout.count(b'\n') == 1 or None)


def detection_problems(wine, when, want):
    found = detected(wine)
    if found == want:
        return []
    return ['--detect %s: %s, expected %s' % (
        when, 'failed' if found is None else
        'registered' if found else 'not registered',
        'registered' if want else 'not registered')]


def run_step(installer, step, wine, drive_c):
    data_dir = os.path.join(drive_c, 'Program Files (x86)', 'OpenNI', 'Data')
    other = os.path.join(drive_c, 'Program Files', 'OpenNI', 'Data')
    put(data_dir, step.registry)
    put(other, OTHER)
    # The earlier entry shadows the product's only where the framework
    # loads it: its module file is there.
    shadow = os.path.join(drive_c, 'Program Files (x86)', 'TOLVARToF')
    shutil.rmtree(shadow, ignore_errors=True)
    if step.registry is SHADOWING:
        os.makedirs(shadow)
        shutil.copyfile(os.path.join(MODULES_DIR, 'SensorModule.dll'),
                        os.path.join(shadow, 'SensorModule.dll'))
    runs = log_runs(installer, step, drive_c)
    before = []
    if step.action == 'install' and step.registry is not MALFORMED:
        before = detection_problems(wine, 'before',
                                    step.registry == REGISTERED)
    began = time.monotonic()
    status = quiet(['wine'] + installer.command(step.action),
                   wine.env).returncode
    seconds = time.monotonic() - began
    problems = before + log_problems(
        installer, step, drive_c,
        0 if installer.log_replaced(step) else len(runs))
    failures = installer.check_failures if step.check_fails \
        else installer.failures
    if step.failed and status not in failures:
        problems.append('status %d, not one of %s' % (status, failures))
    if not step.failed and status != 0:
        problems.append('status %d' % status)
    after = read(os.path.join(data_dir, 'modules.xml'))
    if after != step.after:
        problems.append('registry %r, expected %r' % (after, step.after))
    backup = read(os.path.join(data_dir, 'modules.xml.old'))
    if step.registry is not MISSING and backup not in (MISSING, step.registry):
        problems.append('backup %r' % backup)
    if step.registry is MISSING and os.path.exists(os.path.dirname(data_dir)):
        problems.append('created the OpenNI folder')
    exe = os.path.join(drive_c, 'Program Files (x86)', 'HALDEToF', 'modreg.exe')
    if os.path.exists(exe) != step.installed:
        problems.append('modreg.exe %s' % ('missing' if step.installed
                                           else 'left behind'))
    if not step.installed and os.path.exists(os.path.dirname(exe)):
        problems.append('product folder left behind')
    if read(os.path.join(other, 'modules.xml')) != OTHER:
        problems.append('the 64-bit registry changed')
    if step.after is not MALFORMED:
        problems += detection_problems(wine, 'after',
                                       step.installed and not step.failed)
        problems += script_problems(wine, installer.name, 'after ' + step.name,
                                    step.installed and not step.failed)
    shutil.rmtree(shadow, ignore_errors=True)
    return status, seconds, problems


PRODUCT_NAME = 'HALDE ToF camera modules'
UNINSTALL = 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall'


def uninstall_entries(wine):
    """The DisplayVersion of each uninstall entry of the product, in the
    32-bit and the 64-bit view of the Windows registry."""
    versions = []
    for view in ('/reg:32', '/reg:64'):
        text = subprocess.run(['wine', 'reg', 'query', UNINSTALL, '/s', view],
                              env=wine.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True,
                              timeout=120).stdout
        for key in text.split('HKEY_')[1:]:
            values = {name: value.strip() for name, value in
                      (line.strip().split('    REG_SZ', 1)
                       for line in key.splitlines() if '    REG_SZ' in line)}
            if values.get('DisplayName') == PRODUCT_NAME:
                versions.append(values.get('DisplayVersion'))
    return versions


def installed_problems(wine, drive_c, version):
    """What differs from the product installed once at |version| (None:
    not installed), by its modreg.exe's version resource and its uninstall
    entries."""
    problems = []
    exe = os.path.join(drive_c, 'Program Files (x86)', 'HALDEToF', 'modreg.exe')
    if version and os.path.exists(exe):
        found = version_info(exe)[0].get('FileVersion')
        if found != version:
            problems.append('modreg.exe of version %s installed' % found)
    entries = uninstall_entries(wine)
    if entries != ([version] if version else []):
        problems.append('uninstall entries of versions %s' % entries)
    return problems


def run_upgrade(installer, exe, out, wine, drive_c, results):
    """An older version, then a newer one installed over it, then the
    uninstall. The newer package holds a copy of |exe| whose version
    resource says a higher version, as many characters long (its last digit
    below 9 one higher): a newer modreg.exe, as far as an installer can
    tell. It must replace the older one, the product be installed once with
    its entries in modules.xml once, and the uninstall leave the
    framework's entries only."""
    older = version_info(exe)[0]['FileVersion']
    at = max(i for i, c in enumerate(older) if c in '012345678')
    higher = older[:at] + str(int(older[at]) + 1) + older[at + 1:]
    newer = os.path.join(out, higher, 'modreg.exe')
    os.makedirs(os.path.dirname(newer), exist_ok=True)
    with_version(exe, newer, higher)
    for package, version, step in (
            (exe, older, Step('install ' + older, 'install', BEFORE,
                              REGISTERED)),
            (newer, higher, Step('install %s over it' % higher, 'install',
                                 REGISTERED, REGISTERED)),
            (None, None, Step('uninstall', 'uninstall', REGISTERED,
                              UNREGISTERED, installed=False))):
        if package:
            installer.build(package, out, version)
        status, seconds, problems = run_step(installer, step, wine, drive_c)
        problems += installed_problems(wine, drive_c, version)
        results.check('%s: upgrade: %s (status %d, %.1f s)' % (
            installer.name, step.name, status, seconds), problems)


# ---- modreg.exe's log ----------------------------------------------------

TEMP = 'C:\\users\\%s\\Temp' % getpass.getuser()   # Wine's %TEMP%
HEADER = r'^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ modreg '


def host_path(drive_c, path):
    return os.path.join(drive_c, *path[3:].split('\\'))


def log_runs(installer, step, drive_c):
    """The runs in the step's log: lists of lines, each from a header on."""
    text = read(host_path(drive_c, installer.log(step)))
    runs = []
    for line in (text or b'').decode('latin-1').split('\r\n')[:-1]:
        if re.match(HEADER, line) or not runs:
            runs.append([])
        runs[-1].append(line)
    return runs


def log_problems(installer, step, drive_c, before):
    """The step's log must have gained one run (two when an installer takes
    back the entries a failed check left), with the lines that show what
    it did, in order, and its status."""
    runs = log_runs(installer, step, drive_c)
    if len(runs) != before + 1:
        return ['%s holds %d runs of modreg.exe, expected %d' % (
            installer.log(step), len(runs), before + 1)]
    registry = r'^registry: %s$' % re.escape(
        PF86 + '\\OpenNI\\Data\\modules.xml')
    unregister = '--unregister .*' if step.action == 'uninstall' else ''
    want = [HEADER + r'(?=.* --strict ).*modreg\.exe"? .*--log .* %sx86 5$'
            % unregister, registry,
            r'^modreg: --strict: the check of the entries to add to '
            if step.check_fails else r'^modreg: cannot update '
            if step.failed else r'^result: no registry, nothing to remove$'
            if step.registry is MISSING else r'^result: rewritten$',
            r'^status: %d$' % (8 if step.check_fails else 4 if step.failed
                               else 0)]
    want, runs = [want], runs[-1:]
    for run, patterns in zip(runs, want):
        lines = iter(run)
        missing = [w for w in patterns
                   if not any(re.search(w, l) for l in lines)]
        if missing:
            return ['the log\'s run %r lacks /%s/' % (run, missing[0])]
    return []


def not_started(exe, out, wine, drive_c):
    """An installer whose modreg.exe is not where the macro runs it must
    fail with its own status, not one of modreg's, say why in the log of
    its first run (the drop of a record left before the registration) and
    leave nothing behind."""
    subprocess.run(['makensis', '-V2', '-WX', '-DMODREG_SOURCE=' + exe,
                    '-DMODULES=' + MODULES_DIR,
                    '-DMODREG_EXE=$INSTDIR\\absent.exe',
                    '-DOUTFILE=' + os.path.join(out, 'broken.exe'),
                    os.path.join(ROOT, 'examples', 'nsis', 'setup.nsi')],
                   env=UNSIGNED, check=True)
    data_dir = os.path.join(drive_c, 'Program Files (x86)', 'OpenNI', 'Data')
    put(data_dir, BEFORE)
    log = host_path(drive_c, TEMP + '\\haldetof-x86-undo.log')
    status = quiet(['wine', 'C:\\installers\\broken.exe', '/S'],
                   wine.env).returncode
    lines = (read(log) or b'').decode('latin-1').split('\r\n')
    return [('status %d, not 127' % status) * (status != 127),
            'registry changed' * (read(os.path.join(data_dir, 'modules.xml'))
                                  != BEFORE),
            'product folder left behind' * os.path.exists(host_path(
                drive_c, PRODUCT)),
            'log ends %r' % lines[-2:] * (lines[-2:] != [
                'modreg.exe could not be started: %s\\absent.exe --openni-env '
                '--commit x86 HALDEToF-install' % PRODUCT, ''])]


# ---- NSIS: a failure over the installed product ---------------------------

def hold_open(wine, out, path):
    """Starts a program that keeps |path| open for some seconds, as cmd's
    input, with deletes not shared (it can be neither renamed nor
    deleted); returns it once it does."""
    ready = os.path.join(out, 'held')
    if os.path.exists(ready):
        os.remove(ready)
    for name, text in (('hold.bat', 'cmd /c C:\\installers\\held.bat <"%s"'
                        % path),
                       ('held.bat', '@echo off\r\necho.>C:\\installers\\held'
                        '\r\nping -n 11 127.0.0.1 >nul')):
        with open(os.path.join(out, name), 'wb') as f:
            f.write(text.encode() + b'\r\n')
    holder = subprocess.Popen(['wine', 'cmd', '/c', 'C:\\installers\\hold.bat'],
                              env=wine.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    while not os.path.exists(ready):
        if time.monotonic() > deadline or holder.poll() is not None:
            raise RuntimeError('could not keep %s open' % path)
        time.sleep(0.1)
    return holder


def run_nsis_kept(exe, out, wine, drive_c, results):
    """Version 1.0.0 installed, then failures over it, each of which must
    leave it working: its files byte for byte (modreg.exe, the modules,
    uninstall.exe), its entries as it left them, modreg.exe --check clean,
    its uninstall entry, no kept copies left. An upgrade whose module file
    is not a DLL (--strict: 8), the same into another folder (the
    remembered one's entries come back, by the rollback), a repair over a malformed
    registry (4: the log stays in the product folder, with that run).
    Then the uninstall."""
    nsis = Nsis()
    broken = os.path.join(os.path.dirname(MODULES_DIR), 'modules-broken')
    shutil.rmtree(broken, ignore_errors=True)
    shutil.copytree(MODULES_DIR, broken)
    with open(os.path.join(broken, 'libskelvia_ni.dll'), 'wb') as f:
        f.write(b'not a module\r\n')
    older = version_info(exe)[0]['FileVersion']
    at = max(i for i, c in enumerate(older) if c in '012345678')
    higher = older[:at] + str(int(older[at]) + 1) + older[at + 1:]
    newer = os.path.join(out, 'kept', 'modreg.exe')
    os.makedirs(os.path.dirname(newer), exist_ok=True)
    with_version(exe, newer, higher)
    nsis.build(exe, out, older)
    nsis.build(newer, out, higher, broken)
    data_dir = host_path(drive_c, PF86 + '\\OpenNI\\Data')
    moved_to = MOVED['nsis']

    def lay_out(registry):
        # With the framework's own modules there, --check has nothing to
        # say of a registry whose entries all load.
        put(data_dir, registry)
        bin_dir = host_path(drive_c, PF86 + '\\OpenNI\\Bin')
        os.makedirs(bin_dir)
        for line in FRAMEWORK:
            shutil.copyfile(os.path.join(MODULES_DIR, 'SensorModule.dll'),
                            os.path.join(bin_dir, re.search(
                                r'Bin\\(\w+\.dll)', line).group(1)))

    def files(folder):
        return {name: read(host_path(drive_c, folder + '\\' + name))
                for name in ('modreg.exe', 'uninstall.exe') + PRODUCT_FILES}

    def install(*args):
        began = time.monotonic()
        status = quiet(['wine', 'C:\\installers\\haldetof-%s.exe' % args[0],
                        '/S'] + list(args[1:]), wine.env).returncode
        return status, time.monotonic() - began

    def log_ends(folder, status):
        lines = (read(host_path(drive_c, folder + '\\modreg.log')) or
                 b'').decode('latin-1').split('\r\n')
        return [] if lines[-2:] == ['status: %d' % status, ''] else [
            '%s\\modreg.log ends %r, not with status %d' % (
                folder, lines[-2:], status)]

    def kept_problems(want_files, registry):
        problems = []
        found = files(PRODUCT)
        for name, data in want_files.items():
            if found[name] != data:
                problems.append('%s is not 1.0.0\'s' % name)
        for folder in (PRODUCT + '\\.previous', moved_to):
            if os.path.exists(host_path(drive_c, folder)):
                problems.append('%s left behind' % folder)
        after = read(os.path.join(data_dir, 'modules.xml'))
        if after != registry:
            problems.append('registry %r, expected %r' % (after, registry))
        if registry is not MALFORMED:
            done = subprocess.run(
                ['wine', DETECT_EXE, '--check', '--openni-env', 'x86'],
                env=wine.env, stdin=subprocess.DEVNULL, capture_output=True,
                timeout=120)
            if done.returncode != 0 or done.stdout or done.stderr:
                problems.append('--check: status %d, %r' % (
                    done.returncode, done.stdout + done.stderr))
        return problems + installed_problems(wine, drive_c, older)

    shutil.rmtree(host_path(drive_c, PRODUCT), ignore_errors=True)
    lay_out(BEFORE)
    status, seconds = install(older)
    problems = [] if status == 0 else ['status %d' % status]
    want = dict(files(PRODUCT), **{'modreg.exe': read(exe)}, **{
        name: read(os.path.join(MODULES_DIR, *name.split('/')))
        for name in PRODUCT_FILES})
    problems += kept_problems(want, REGISTERED)
    results.check('nsis: kept: install %s (status %d, %.1f s)' % (
        older, status, seconds), problems)
    # Each with the status its last run in the product folder's log ends
    # with (the failed run; for a move, whose runs log in the new folder,
    # the run before it: the failed upgrade's; None: no run), and the
    # product's file another program keeps open, if any.
    for name, args, registry, fails, logged, held in (
            ('upgrade to %s whose libskelvia_ni.dll is not a DLL' % higher,
             [higher], REGISTERED, 8, 8, None),
            ('the same into another folder, %s' % moved_to,
             [higher] + ('/D=' + moved_to).split(' '), REGISTERED, 8, 8,
             None),
            ('repair over a malformed registry', [older], MALFORMED, 4, 4,
             None),
            # It cannot be kept: NSIS's abort before any file is replaced.
            ('repair while SensorModule.dll is in use', [older], REGISTERED,
             2, None, 'SensorModule.dll')):
        lay_out(registry)
        holder = held and hold_open(wine, out, PRODUCT + '\\' + held)
        status, seconds = install(*args)
        if holder:
            holder.wait(timeout=120)
        problems = [] if status == fails else [
            'status %d, not %d' % (status, fails)]
        problems += kept_problems(want, registry)
        if logged is not None:
            problems += log_ends(PRODUCT, logged)
        results.check('nsis: kept: %s (status %d, %.1f s)' % (
            name, status, seconds), problems)
    lay_out(REGISTERED)
    nsis.out = out
    status = quiet(['wine'] + nsis.command('uninstall'), wine.env).returncode
    problems = [] if status == 0 else ['status %d' % status]
    if read(os.path.join(data_dir, 'modules.xml')) != UNREGISTERED:
        problems.append('registry %r' % read(os.path.join(data_dir,
                                                          'modules.xml')))
    if os.path.exists(host_path(drive_c, PRODUCT)):
        problems.append('product folder left behind')
    results.check('nsis: kept: uninstall (status %d)' % status, problems)
    put(data_dir, MISSING)


# ---- Installed elsewhere ----------------------------------------------------
# The framework in C:\Frameworks\OpenNI, as its installer's variable says,
# and the product in a folder the user chose.

FW_DEFAULT = PF86 + '\\OpenNI'
FW_ELSEWHERE = 'C:\\Frameworks\\OpenNI'
# Folders whose names do not hold the product folder's, HALDEToF: only
# --product-dir and the remembered folder find their entries.
CHOSEN = {'nsis': 'C:\\Sensors\\HALDE ToF', 'wix': 'C:\\Sensors\\AcmeDepth'}
MOVED = {'nsis': 'C:\\Acme Two', 'wix': 'C:\\AcmeTwo'}


def elsewhere_command(installer, action, folder):
    """The command line of |action| on the product in |folder|: only the
    install names it. A repair and an uninstall find it remembered; the
    move installs a higher version of the MSI, which takes the older out
    first."""
    if installer.name == 'nsis':
        if action in ('install', 'move'):   # /D= comes last, word by word
            return [installer.setup, '/S'] + ('/D=' + folder).split(' ')
        if action == 'repair':
            return [installer.setup, '/S']
        return [folder + '\\uninstall.exe', '/S'] + ('_?=' + folder).split(' ')
    package = 'C:\\installers\\' + ('product-moved.msi' if action in (
        'move', 'uninstall') else 'product.msi')
    return ['msiexec', {'install': '/i', 'move': '/i', 'repair': '/i',
                        'uninstall': '/x'}[action], package] + {
        'install': ['INSTALLDIR=' + folder + '\\'],
        'move': ['INSTALLDIR=' + folder + '\\'],
        'repair': ['REINSTALL=ALL', 'REINSTALLMODE=omus'],
        'uninstall': []}[action] + ['/qn']


def run_elsewhere(installer, exe, out, wine, drive_c, results):
    """Install into a chosen folder with the framework elsewhere, repair
    without naming the folder, install again into another folder, then
    uninstall without naming it: the framework's registry byte for byte
    after each (the old folder's entries gone after the move), the product
    in its folder only (the old folder gone after the move), the
    registries under Program Files untouched."""
    if installer.name == 'wix':
        installer.build(exe, out, '1.0.0')
        installer.build(exe, out, '1.0.1', 'product-moved.msi')
    chosen, moved_to = CHOSEN[installer.name], MOVED[installer.name]
    host = lambda folder: os.path.join(drive_c, *folder[3:].split('\\'))
    data_dir = os.path.join(drive_c, 'Frameworks', 'OpenNI', 'Data')
    pf86 = os.path.join(drive_c, 'Program Files (x86)', 'OpenNI', 'Data')
    pf = os.path.join(drive_c, 'Program Files', 'OpenNI', 'Data')
    moved = lambda data: data.replace(FW_DEFAULT.encode(),
                                      FW_ELSEWHERE.encode())
    registered = lambda folder: crlf(
        '<Modules>', *[moved(l.encode()) for l in FRAMEWORK],
        mod(folder + '\\SensorModule.dll'),
        mod(folder + '\\libskelvia_ni.dll', folder + '\\data\\'),
        '</Modules>', '')
    put(data_dir, moved(BEFORE))
    put(pf86, UNREGISTERED)
    put(pf, OTHER)
    set_framework_variable(wine, FW_ELSEWHERE + '\\')
    try:
        for action, folder, want, installed in (
                ('install', chosen, registered(chosen), chosen),
                ('repair', chosen, registered(chosen), chosen),
                ('move', moved_to, registered(moved_to), moved_to),
                ('uninstall', moved_to, moved(UNREGISTERED), None)):
            began = time.monotonic()
            status = quiet(['wine'] + elsewhere_command(installer, action,
                                                        folder),
                           wine.env).returncode
            seconds = time.monotonic() - began
            if installer.name == 'nsis' and os.path.isdir(host(folder)) and \
                    os.listdir(host(folder)) == ['uninstall.exe']:
                shutil.rmtree(host(folder))   # as Nsis.settle
            problems = [] if status == 0 else ['status %d' % status]
            after = read(os.path.join(data_dir, 'modules.xml'))
            if after != want:
                problems.append('registry %r, expected %r' % (after, want))
            if read(os.path.join(pf86, 'modules.xml')) != UNREGISTERED or \
                    read(os.path.join(pf, 'modules.xml')) != OTHER:
                problems.append('a registry under Program Files changed')
            for place in (chosen, moved_to, PRODUCT):
                there = os.path.exists(host(place))
                if there != (place == installed):
                    problems.append('%s %s' % (place, 'there' if there
                                               else 'missing'))
            if installed and os.path.isdir(host(installed)) and \
                    sorted(os.listdir(host(installed))) != [
                    'SensorModule.dll', 'data', 'libskelvia_ni.dll',
                    'modreg.exe'] + (['modreg.log', 'uninstall.exe']
                                     if installer.name == 'nsis' else []):
                problems.append('%s holds %s' % (
                    installed, sorted(os.listdir(host(installed)))))
            problems += script_problems(wine, installer.name, 'after ' +
                                        action, installed is not None)
            results.check('%s: %s, %s, framework in %s (status %d, %.1f s)'
                          % (installer.name, action, ' '.join(
                              elsewhere_command(installer, action, folder)[1:]),
                             FW_ELSEWHERE, status, seconds), problems)
    finally:
        shutil.rmtree(os.path.dirname(data_dir), ignore_errors=True)
        set_framework_variable(wine, FW_DEFAULT)


# ---- The kit: a 64-bit package, a signed installer ---------------------------
# What the release zip holds to try the examples with (try/): per width of
# the framework a sample registry and the stand-in modules, as the build
# lays them out in build/windows/try.

PF = 'C:\\Program Files'
FRAMEWORK64 = [line.replace(' (x86)', '') for line in FRAMEWORK]


def run_x64(exe, kit, out, wine, drive_c, results):
    """product.wxs built as the 64-bit package (-D Arch=x64, wixl -a x64)
    around the kit's 64-bit modules, against the kit's sample registry of
    the 64-bit framework, found through OPEN_NI_INSTALL_PATH64: installed,
    the product is under C:\\Program Files and registered there; removed,
    its entries are gone. The 32-bit framework's registry keeps its
    bytes."""
    build_msi('x64', exe, '1.0.0', os.path.join(kit, 'x64', 'modules'),
              os.path.join(out, 'product64.msi'))
    data_dir = host_path(drive_c, PF + '\\OpenNI\\Data')
    pf86 = host_path(drive_c, PF86 + '\\OpenNI\\Data')
    product = host_path(drive_c, PF + '\\HALDEToF')
    with open(os.path.join(kit, 'x64', 'modules.xml'), 'rb') as f:
        put(data_dir, f.read())
    put(pf86, UNREGISTERED)
    set_framework_variable(wine, PF + '\\OpenNI', 'OPEN_NI_INSTALL_PATH64')
    log = host_path(drive_c, TEMP + '\\haldetof-x64-install.log')
    logged = len(read(log) or b'')
    try:
        for action, want, files in (
                ('/i', crlf('<Modules>', *FRAMEWORK64,
                            mod(PF + '\\HALDEToF\\SensorModule.dll'),
                            mod(PF + '\\HALDEToF\\libskelvia_ni.dll',
                                PF + '\\HALDEToF\\data\\'),
                            '</Modules>', ''),
                 ['SensorModule.dll', 'data', 'libskelvia_ni.dll',
                  'modreg.exe']),
                ('/x', crlf('<Modules>', *FRAMEWORK64, '</Modules>', ''),
                 None)):
            began = time.monotonic()
            status = quiet(['wine', 'msiexec', action,
                            'C:\\installers\\product64.msi', '/qn'],
                           wine.env).returncode
            seconds = time.monotonic() - began
            problems = [] if status == 0 else ['status %d' % status]
            after = read(os.path.join(data_dir, 'modules.xml'))
            if after != want:
                problems.append('registry %r, expected %r' % (after, want))
            there = sorted(os.listdir(product)) if os.path.isdir(product) \
                else None
            if there != files:
                problems.append('C:\\Program Files\\HALDEToF holds %s' % there)
            if os.path.exists(host_path(drive_c, PRODUCT)):
                problems.append(PRODUCT + ' there')
            if read(os.path.join(pf86, 'modules.xml')) != UNREGISTERED:
                problems.append('the 32-bit registry changed')
            problems += script_problems(wine, 'wix', 'after msiexec ' + action,
                                        action == '/i', 'x64')
            if action == '/i':
                # One run, for the 64-bit framework through its variable.
                run = (read(log) or b'')[logged:].decode('latin-1')
                if not re.fullmatch(
                        HEADER[1:] + r'[^\r]* x64 5\r\nregistry: C:\\Program '
                        r'Files\\OpenNI\\Data\\modules\.xml\r\nframework '
                        r'folder: OPEN_NI_INSTALL_PATH64, .*\r\nstatus: 0\r\n',
                        run, re.S):
                    problems.append('the install logged %r' % run)
            results.check('wix: 64-bit package (-D Arch=x64): msiexec %s '
                          '(status %d, %.1f s)' % (action, status, seconds),
                          problems)
    finally:
        quiet(['wine', 'reg', 'delete', ENVIRONMENT, '/v',
               'OPEN_NI_INSTALL_PATH64', '/f'], wine.env)
        shutil.rmtree(os.path.dirname(data_dir), ignore_errors=True)
        shutil.rmtree(product, ignore_errors=True)


PRODUCT64 = PF + '\\HALDEToF'
UNINSTALL64 = UNINSTALL + '\\HALDEToF64'


def detected_x64(wine):
    """modreg.exe --detect for the 64-bit product, as its rule runs it:
    True, False, or None for a failed detection."""
    done = subprocess.run(
        ['wine', DETECT_EXE, '--detect', '--openni-env',
         '--product-dir=' + PRODUCT64, 'x64', '5'], env=wine.env,
        stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    if done.returncode != 0 or done.stderr:
        return None
    return {b'': False}.get(done.stdout, done.stdout.count(b'\n') == 1 or None)


def uninstall_entry64(wine, view):
    """The InstallLocation of the 64-bit product's uninstall entry in the
    registry's |view| (/reg:32 or /reg:64), or None."""
    said = subprocess.run(['wine', 'reg', 'query', UNINSTALL64, '/v',
                           'InstallLocation', view], env=wine.env,
                          stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=120)
    found = re.search(r'InstallLocation\s+REG_SZ\s+(.*\S)', said.stdout)
    return found and found.group(1)


def run_nsis_x64(exe, kit, out, wine, drive_c, results):
    """setup.nsi built with -DARCH=x64 around the kit's 64-bit modules,
    against the kit's sample registry of the 64-bit framework, found
    through OPEN_NI_INSTALL_PATH64: installed, the product is under
    C:\\Program Files, registered there, detected (--detect x64), its
    uninstall entry HALDEToF64 in the 64-bit view only; uninstalled, its
    entries, folder and uninstall entry are gone. The 32-bit framework's
    registry keeps its bytes."""
    subprocess.run(['makensis', '-V2', '-WX', '-DARCH=x64',
                    '-DMODREG_SOURCE=' + exe,
                    '-DMODULES=' + os.path.join(kit, 'x64', 'modules'),
                    '-DOUTFILE=' + os.path.join(out, 'haldetof64.exe'),
                    os.path.join(ROOT, 'examples', 'nsis', 'setup.nsi')],
                   env=UNSIGNED, check=True)
    data_dir = host_path(drive_c, PF + '\\OpenNI\\Data')
    pf86 = host_path(drive_c, PF86 + '\\OpenNI\\Data')
    product = host_path(drive_c, PRODUCT64)
    with open(os.path.join(kit, 'x64', 'modules.xml'), 'rb') as f:
        put(data_dir, f.read())
    put(pf86, UNREGISTERED)
    set_framework_variable(wine, PF + '\\OpenNI', 'OPEN_NI_INSTALL_PATH64')
    uninstall = ['C:\\installers\\uninstall64.exe', '/S'] + \
        ('_?=' + PRODUCT64).split(' ')
    try:
        for action, want, files, entry in (
                ('install', crlf('<Modules>', *FRAMEWORK64,
                                 mod(PRODUCT64 + '\\SensorModule.dll'),
                                 mod(PRODUCT64 + '\\libskelvia_ni.dll',
                                     PRODUCT64 + '\\data\\'),
                                 '</Modules>', ''),
                 ['SensorModule.dll', 'data', 'libskelvia_ni.dll',
                  'modreg.exe', 'modreg.log', 'uninstall.exe'], PRODUCT64),
                ('uninstall', crlf('<Modules>', *FRAMEWORK64, '</Modules>',
                                   ''), None, None)):
            if action == 'uninstall' and os.path.isdir(product):
                shutil.copy(os.path.join(product, 'uninstall.exe'),
                            os.path.join(out, 'uninstall64.exe'))
            began = time.monotonic()
            status = quiet(['wine'] + (uninstall if action == 'uninstall'
                                       else ['C:\\installers\\haldetof64.exe',
                                             '/S']), wine.env).returncode
            seconds = time.monotonic() - began
            problems = [] if status == 0 else ['status %d' % status]
            after = read(os.path.join(data_dir, 'modules.xml'))
            if after != want:
                problems.append('registry %r, expected %r' % (after, want))
            there = sorted(os.listdir(product)) if os.path.isdir(product) \
                else None
            if there != files:
                problems.append(PRODUCT64 + ' holds %s' % there)
            if read(os.path.join(pf86, 'modules.xml')) != UNREGISTERED:
                problems.append('the 32-bit registry changed')
            problems += script_problems(wine, 'nsis', 'after the 64-bit '
                                        'installer\'s ' + action,
                                        bool(entry), 'x64')
            found = detected_x64(wine)
            if found != bool(entry):
                problems.append('--detect x64: %s' % {
                    None: 'failed', True: 'registered',
                    False: 'not registered'}[found])
            for view, expected in (('/reg:64', entry), ('/reg:32', None)):
                located = uninstall_entry64(wine, view)
                if located != expected:
                    problems.append('uninstall entry %s: %s, expected %s' % (
                        view, located, expected))
            results.check('nsis: 64-bit installer (-DARCH=x64): %s '
                          '(status %d, %.1f s)' % (action, status, seconds),
                          problems)
    finally:
        quiet(['wine', 'reg', 'delete', ENVIRONMENT, '/v',
               'OPEN_NI_INSTALL_PATH64', '/f'], wine.env)
        shutil.rmtree(os.path.dirname(data_dir), ignore_errors=True)
        shutil.rmtree(product, ignore_errors=True)


def throwaway_signing(folder):
    """The kit's throwaway signing setup (try/signing/throwaway.sh) made in
    |folder|, its timestamp server started: the MODREG_SIGN_* settings it
    prints, as a dict, and its CA."""
    shutil.rmtree(folder, ignore_errors=True)
    said = subprocess.run(['bash', os.path.join(ROOT, 'scripts',
                                                'throwaway-signing.sh'),
                           folder], check=True, capture_output=True,
                          text=True, timeout=120).stdout
    settings = dict(re.findall(r'^export (MODREG_SIGN_\w+)=(\S+)$', said,
                               re.M))
    if len(settings) != 3:
        raise RuntimeError('throwaway-signing.sh printed %r' % said)
    return settings, os.path.join(folder, 'ca.pem')


def stop_throwaway_signing(folder):
    subprocess.run(['bash', os.path.join(ROOT, 'scripts',
                                         'throwaway-signing.sh'),
                    '--stop', folder], check=True, timeout=60)


def signature_problems(path, ca):
    """Why |path| does not carry a signature that verifies against |ca|,
    with a timestamp."""
    said = subprocess.run(['osslsigncode', 'verify', '-CAfile', ca,
                           '-TSA-CAfile', ca, '-in', path],
                          capture_output=True, text=True)
    if said.returncode != 0:
        return ['%s does not verify: %s' % (os.path.basename(path),
                                            said.stdout[-300:])]
    if not re.search(r'^Timestamp Server Signature verification: ok',
                     said.stdout, re.M):
        return ['%s has no verified timestamp' % os.path.basename(path)]
    return []


def run_signed(exe, kit, out, work, wine, drive_c, results):
    """With the signing hook set (MODREG_SIGN_*, by the kit's throwaway
    signing setup), makensis signs, through scripts/sign.sh, the modreg.exe
    it packs, the uninstaller it embeds and the installer it writes: the
    installer verifies, and so do the modreg.exe and uninstall.exe it
    installs, which then uninstalls. Built around the kit's 32-bit modules
    and installed over its sample registry. The installers built without
    the hook carry no signature."""
    folder = os.path.join(work, 'signing')
    settings, ca = throwaway_signing(folder)
    env = dict(os.environ, MODREG_SIGN_REQUIRED='1', **settings)
    try:
        subprocess.run(['makensis', '-V2', '-WX', '-DMODREG_SOURCE=' + exe,
                        '-DMODULES=' + os.path.join(kit, 'x86', 'modules'),
                        '-DOUTFILE=' + os.path.join(out, 'haldetof-signed.exe'),
                        os.path.join(ROOT, 'examples', 'nsis', 'setup.nsi')],
                       env=env, check=True)
    finally:
        stop_throwaway_signing(folder)
    problems = signature_problems(os.path.join(out, 'haldetof-signed.exe'),
                                  ca)
    unsigned = os.path.join(out, 'haldetof-1.0.0.exe')
    if subprocess.run(['osslsigncode', 'extract-signature', '-in', unsigned,
                       '-out', os.path.join(folder, 'unsigned.sig')],
                      capture_output=True).returncode == 0:
        problems.append('haldetof-1.0.0.exe, built without the hook, '
                        'carries a signature')
    data_dir = host_path(drive_c, PF86 + '\\OpenNI\\Data')
    with open(os.path.join(kit, 'x86', 'modules.xml'), 'rb') as f:
        put(data_dir, f.read())
    status = quiet(['wine', 'C:\\installers\\haldetof-signed.exe', '/S'],
                   wine.env).returncode
    if status != 0:
        problems.append('install: status %d' % status)
    if read(os.path.join(data_dir, 'modules.xml')) != REGISTERED:
        problems.append('installed: registry %r' % read(
            os.path.join(data_dir, 'modules.xml')))
    # Every program it installs is signed: modreg.exe runs elevated.
    for name in ('modreg.exe', 'uninstall.exe'):
        path = host_path(drive_c, PRODUCT + '\\' + name)
        problems += signature_problems(path, ca) if os.path.exists(path) \
            else ['no %s installed' % name]
    installed = host_path(drive_c, PRODUCT + '\\uninstall.exe')
    nsis = Nsis()
    nsis.out = out
    status = quiet(['wine'] + nsis.command('uninstall'),
                   wine.env).returncode if os.path.exists(installed) else -1
    if status != 0:
        problems.append('uninstall: status %d' % status)
    if read(os.path.join(data_dir, 'modules.xml')) != UNREGISTERED:
        problems.append('uninstalled: registry %r' % read(
            os.path.join(data_dir, 'modules.xml')))
    if os.path.exists(host_path(drive_c, PRODUCT)):
        problems.append('product folder left behind')
    results.check('nsis: signing hook set: installer, uninstaller and '
                  'modreg.exe signed and timestamped, installed and '
                  'uninstalled', problems)


def sign_required_problems(exe, kit, out, work):
    """The kit's steps with the signing switch set and a signing setup
    that was lost (throwaway-signing.sh refuses a folder that is there:
    the eval sets nothing): makensis and build.sh fail, naming the switch,
    and write nothing."""
    folder = os.path.join(work, 'signing-lost')
    os.makedirs(folder, exist_ok=True)
    problems = []
    for name, build in (
            ('haldetof-lost.exe', 'makensis -V2 -DMODREG_SOURCE="$3" '
             '-DMODULES="$4/x86/modules" -DOUTFILE="$5/haldetof-lost.exe" '
             '"$6/examples/nsis/setup.nsi"'),
            ('product-lost.msi', 'MODREG_EXE="$3" bash '
             '"$6/examples/wix/build.sh" x86 1.0.0 "$4/x86/modules" '
             '"$5/product-lost.msi"')):
        done = subprocess.run(
            ['bash', '-c', 'export MODREG_SIGN_REQUIRED=1; eval "$(bash "$1" '
             '"$2")"; ' + build, 'steps',
             os.path.join(ROOT, 'scripts', 'throwaway-signing.sh'), folder,
             exe, kit, out, ROOT], env=UNSIGNED, capture_output=True,
            text=True, timeout=300)
        said = done.stdout + done.stderr
        if done.returncode == 0 or 'MODREG_SIGN_REQUIRED' not in said:
            problems.append('%s: status %d, %r' % (name, done.returncode,
                                                   said[-300:]))
        if os.path.exists(os.path.join(out, name)):
            problems.append('%s written' % name)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--exe', required=True, help='modreg.exe')
    parser.add_argument('--work', required=True, help='a folder of its own')
    parser.add_argument('--modules', required=True,
                        help='the built test modules (x86.dll)')
    parser.add_argument('--kit', required=True,
                        help='the release zip\'s try folder, as built')
    args = parser.parse_args()
    exe = os.path.abspath(args.exe)
    global MODULES_DIR, DETECT_EXE
    DETECT_EXE = exe
    MODULES_DIR = os.path.join(os.path.abspath(args.work), 'modules')
    lay_out_modules(os.path.abspath(args.modules), MODULES_DIR)
    results = Results('installers')
    began = time.monotonic()

    wine = WinePrefix(os.path.join(args.work, 'prefix'))
    shutil.rmtree(wine.prefix, ignore_errors=True)   # always a fresh one
    made = wine.start()
    drive_c = os.path.join(wine.prefix, 'drive_c')
    out = os.path.join(drive_c, 'installers')
    os.makedirs(out)
    try:
        # The examples find the framework through its installer's variable.
        set_framework_variable(wine, FW_DEFAULT)
        for installer in (Nsis(), Wix()):
            installer.build(exe, out)
            # What the installer before may have left after a failure.
            shutil.rmtree(os.path.join(drive_c, 'Program Files (x86)',
                                       'HALDEToF'), ignore_errors=True)
            for step in STEPS:
                status, seconds, problems = run_step(installer, step, wine,
                                                     drive_c)
                results.check('%s: %s (status %d, %.1f s)' % (
                    installer.name, step.name, status, seconds), problems)
            run_upgrade(installer, exe, out, wine, drive_c, results)
            run_elsewhere(installer, exe, out, wine, drive_c, results)
            if installer.name == 'nsis':
                run_nsis_kept(exe, out, wine, drive_c, results)
        results.check('nsis: modreg.exe cannot be started',
                      not_started(exe, out, wine, drive_c))
        results.check('detect.cmd: a remembered folder without modreg.exe',
                      lost_folder_problems(wine))
        kit = os.path.abspath(args.kit)
        run_signed(exe, kit, out, os.path.abspath(args.work), wine, drive_c,
                   results)
        results.check('signing switch set, the signing setup lost: the '
                      'NSIS and WiX builds fail',
                      sign_required_problems(exe, kit, out,
                                             os.path.abspath(args.work)))
        run_x64(exe, kit, out, wine, drive_c, results)
        run_nsis_x64(exe, kit, out, wine, drive_c, results)
        msi_rollback.run(exe, MODULES_DIR, os.path.abspath(args.work), out,
                         results, wine)
        nsis_rollback.run(exe, MODULES_DIR, os.path.abspath(args.work), out,
                          results, wine)
    finally:
        wine.stop()
    results.figure('installers', 'prefix made in %.1f s, all in %.1f s' % (
        made, time.monotonic() - began))
    print('%d passed, %d failed' % (results.passed, results.failed))
    results.exit()


if __name__ == '__main__':
    main()
